#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// The applications' desktop entries, indexed by the program each one starts:
// the names and icons a user sees in the application menu. The folders are
// read on a worker thread, at start and again once changes to them have
// settled; a lookup is a hash lookup in the index last read, never a wait.
class DesktopEntryIndex : public QObject
{
    Q_OBJECT

public:
    struct Entry
    {
        /** The desktop file id, e.g. "org.example.Editor.desktop". */
        QString id;
        QString fileName;
        /** Name by locale key ("" for the plain Name, "de", "de_AT", ...). */
        QHash<QString, QString> names;
        QString icon;
        /** The program the entry starts, resolved to a path when it could be. */
        QString program;
        bool noDisplay = false;
    };

    /**
     * The index over the XDG application folders. Its first build starts on
     * the first call; it is destroyed with the application object.
     */
    static DesktopEntryIndex *instance();

    /**
     * An index over the given "applications" folders, earlier ones taking
     * precedence. The first build starts at once in the background.
     */
    explicit DesktopEntryIndex(const QStringList &directories, QObject *parent = nullptr);
    /** Stops a build under way and waits for its thread. */
    ~DesktopEntryIndex() override;

    /** $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS' applications folders. */
    static QStringList standardDirectories();

    /**
     * The entry for an executable or script: by its real path first, then by
     * its file name against an entry's program or id. nullptr when none fits.
     * Only the very first lookup may wait, for the first build. The pointer
     * stays valid until control returns to the event loop, where a newer
     * index replaces this one.
     */
    const Entry *find(const QString &executable);

    /** The entry's Name for the locale: Name[ll_CC], Name[ll], then Name. */
    static QString localizedName(const Entry &entry, const QString &localeName);

    /** The locale names are chosen for: LC_ALL, LC_MESSAGES or LANG, without encoding. */
    QString localeName() const;
    void setLocaleName(const QString &localeName);

    /** Entries in the index that answers lookups (waiting for the first build, like find()). */
    int entryCount();
    /** How often the folders were read so far, a build under way included. */
    int buildCount() const;
    /** A newer index is on its way: the first, or one for changes still settling or being read. */
    bool building() const;

    /**
     * Changes are read once the folders were quiet for quietMs, but no later
     * than longestMs after the first of them, however many follow.
     */
    void setSettleTime(int quietMs, int longestMs);

Q_SIGNALS:
    /** A newer index is in place; cached answers derived from the old one are stale. */
    void changed();

private:
    void noticeChange();
    void readFolderEvents();
    void startBuild();
    void finishBuild(int build);
    void waitForFirstBuild();

    struct Private;
    std::unique_ptr<Private> d;
};
