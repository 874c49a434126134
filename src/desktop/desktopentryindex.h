#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// The applications' desktop entries, indexed by the program each one starts:
// the names and icons a user sees in the application menu. The folders are
// read once and again only after they change, so a lookup is a hash lookup.
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

    /** The index over the XDG application folders, built on first lookup. */
    static DesktopEntryIndex *instance();

    /** An index over the given "applications" folders, earlier ones taking precedence. */
    explicit DesktopEntryIndex(const QStringList &directories, QObject *parent = nullptr);
    ~DesktopEntryIndex() override;

    /** $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS' applications folders. */
    static QStringList standardDirectories();

    /**
     * The entry for an executable or script: by its real path first, then by
     * its file name against an entry's program or id. nullptr when none fits.
     * The pointer is valid until the next lookup.
     */
    const Entry *find(const QString &executable);

    /** The entry's Name for the locale: Name[ll_CC], Name[ll], then Name. */
    static QString localizedName(const Entry &entry, const QString &localeName);

    /** The locale names are chosen for: LC_ALL, LC_MESSAGES or LANG, without encoding. */
    QString localeName() const;
    void setLocaleName(const QString &localeName);

    /** Entries indexed (after bringing the index up to date). */
    int entryCount();
    /** How often the folders were read so far. */
    int buildCount() const;

Q_SIGNALS:
    /** The folders changed; cached answers derived from the index are stale. */
    void changed();

private:
    void rebuild();
    void markChanged();

    struct Private;
    std::unique_ptr<Private> d;
};
