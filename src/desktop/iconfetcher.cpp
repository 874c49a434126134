#include "iconfetcher.h"

#include "desktopentryindex.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMap>
#include <QStandardPaths>

namespace {

QIcon entryIcon(const QString &icon)
{
    if (icon.isEmpty())
        return QIcon();
    if (QDir::isAbsolutePath(icon))
        return QFileInfo(icon).isFile() ? QIcon(icon) : QIcon();
    // Some entries name their icon with a suffix, which themes never use.
    QString name = icon;
    for (const char *suffix : {".png", ".svg", ".xpm"}) {
        if (name.endsWith(QLatin1String(suffix))) {
            name.chop(4);
            break;
        }
    }
    const QIcon themed = QIcon::fromTheme(name);
    if (!themed.isNull())
        return themed;
    // The old place for icons outside any theme.
    for (const QString &dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        for (const char *suffix : {".png", ".svg", ".xpm"}) {
            const QString file = dir + QStringLiteral("/pixmaps/") + name + QLatin1String(suffix);
            if (QFileInfo(file).isFile())
                return QIcon(file);
        }
    }
    return QIcon();
}

} // namespace

struct IconFetcher::Private
{
    DesktopEntryIndex *index = nullptr;
    QSize size{32, 32};
    QMap<QString, QIcon> cache;
    int lookups = 0;
};

IconFetcher::IconFetcher(QObject *parent) : IconFetcher(DesktopEntryIndex::instance(), parent) {}

IconFetcher::IconFetcher(DesktopEntryIndex *index, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->index = index;
    // A newly installed or changed entry brings its own icon.
    connect(index, &DesktopEntryIndex::changed, this, [this] { d->cache.clear(); });
}

IconFetcher::~IconFetcher() = default;

IconFetcher *IconFetcher::instance()
{
    static IconFetcher *fetcher = new IconFetcher;
    return fetcher;
}

QSize IconFetcher::size() const
{
    return d->size;
}

int IconFetcher::lookups() const
{
    return d->lookups;
}

QIcon IconFetcher::getIcon(const QString &path)
{
    const auto cached = d->cache.constFind(path);
    if (cached != d->cache.constEnd())
        return *cached;
    ++d->lookups;

    QFileIconProvider provider;
    QIcon icon;
    if (path == QLatin1String("Desktop")) {
        icon = provider.icon(QFileIconProvider::Desktop);
    } else {
        if (const DesktopEntryIndex::Entry *entry = d->index->find(path))
            icon = entryIcon(entry->icon);
        if (icon.isNull() && !path.isEmpty())
            icon = provider.icon(QFileInfo(path));
    }
    if (icon.isNull())
        icon = provider.icon(QFileIconProvider::File);
    d->cache.insert(path, icon);
    return icon;
}
