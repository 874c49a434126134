#pragma once

#include <QIcon>
#include <QObject>
#include <QSize>
#include <QString>

#include <memory>

class DesktopEntryIndex;

// The icon of a program, as the application menu shows it: the Icon of its
// desktop entry (a theme name or a file), else the file icon of the path.
// Icons are kept per path; the cache is emptied when the entries change.
class IconFetcher : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QSize size READ size)

public:
    /** Looks programs up in the process-wide desktop entry index. */
    explicit IconFetcher(QObject *parent = nullptr);
    /** Looks programs up in index (not owned). */
    IconFetcher(DesktopEntryIndex *index, QObject *parent);
    ~IconFetcher() override;

    /** The nominal icon size, 32 x 32. */
    QSize size() const;

    /** The process-wide fetcher. */
    static IconFetcher *instance();

    /** How many icons were looked up rather than taken from the cache. */
    int lookups() const;

public Q_SLOTS:
    /** The icon for path; "Desktop" is the desktop. Never null. */
    QIcon getIcon(const QString &path);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
