#include "fileversioninfo.h"

#include "desktopentryindex.h"

struct FileVersionInfo::Private
{
    QString description;
};

FileVersionInfo::FileVersionInfo(QObject *parent) : QObject(parent), d(std::make_unique<Private>())
{}

FileVersionInfo::FileVersionInfo(const QString &path, QObject *parent) : FileVersionInfo(parent)
{
    load(path);
}

FileVersionInfo::~FileVersionInfo() = default;

bool FileVersionInfo::load(const QString &path)
{
    DesktopEntryIndex *index = DesktopEntryIndex::instance();
    const DesktopEntryIndex::Entry *entry = index->find(path);
    if (!entry)
        return false;
    d->description = DesktopEntryIndex::localizedName(*entry, index->localeName());
    return true;
}

QString FileVersionInfo::fileDescription() const
{
    return d->description;
}
