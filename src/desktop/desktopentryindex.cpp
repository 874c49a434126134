#include "desktopentryindex.h"

#include "runtimeprogram.h"
#include "varlolog.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>

namespace {

// Real entries are a few kilobytes; anything far larger is not one.
constexpr qint64 kMaxEntrySize = 1024 * 1024;

QString unescapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        const QChar n = value.at(++i);
        switch (n.unicode()) {
        case 's':
            out.append(QLatin1Char(' '));
            break;
        case 'n':
            out.append(QLatin1Char('\n'));
            break;
        case 't':
            out.append(QLatin1Char('\t'));
            break;
        case 'r':
            out.append(QLatin1Char('\r'));
            break;
        default:
            out.append(n);
            break;
        }
    }
    return out;
}

// Splits an Exec value into arguments by the desktop entry quoting rules and
// drops the field codes. False when the quoting is broken.
bool splitExec(const QString &exec, QStringList *arguments)
{
    QString current;
    bool inQuotes = false;
    bool haveArg = false;
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                inQuotes = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size() &&
                       QStringLiteral("\"`$\\").contains(exec.at(i + 1))) {
                current.append(exec.at(++i));
            } else {
                current.append(c);
            }
        } else if (c == QLatin1Char('"')) {
            inQuotes = true;
            haveArg = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (haveArg)
                arguments->append(current);
            current.clear();
            haveArg = false;
        } else if (c == QLatin1Char('%') && i + 1 < exec.size()) {
            const QChar code = exec.at(++i);
            if (code == QLatin1Char('%')) {
                current.append(code);
                haveArg = true;
            }
            // Other field codes stand for files and URLs given at start.
        } else {
            current.append(c);
            haveArg = true;
        }
    }
    if (inQuotes)
        return false;
    if (haveArg)
        arguments->append(current);
    return true;
}

QString resolveProgram(const QString &program)
{
    if (program.isEmpty())
        return QString();
    if (program.contains(QLatin1Char('/')))
        return QDir::isAbsolutePath(program) ? QDir::cleanPath(program) : QString();
    const QString found = QStandardPaths::findExecutable(program);
    return found.isEmpty() ? program : found;
}

QString realPath(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

struct Parsed
{
    DesktopEntryIndex::Entry entry;
    bool hidden = false;
};

enum class ParseResult
{
    Usable,
    NotAnApplication,
    Malformed
};

// Reads one entry. Links, folders and programs that are not installed are not
// for us; broken files are worth a log line.
ParseResult parseEntry(const QString &fileName, Parsed *parsed)
{
    QFile file(fileName);
    if (file.size() > kMaxEntrySize || !file.open(QIODevice::ReadOnly))
        return ParseResult::Malformed;
    const QByteArray data = file.read(kMaxEntrySize + 1);
    if (data.size() > kMaxEntrySize || data.contains('\0'))
        return ParseResult::Malformed;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(data);
    if (decoder.hasError())
        return ParseResult::Malformed;

    QHash<QString, QString> keys;
    bool inMain = false;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMain)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed().toString();
        if (!keys.contains(key)) // the first of duplicate keys counts
            keys.insert(key, unescapeValue(line.mid(eq + 1).trimmed().toString()));
    }

    Parsed result;
    result.hidden = keys.value(QStringLiteral("Hidden")) == QLatin1String("true");
    if (result.hidden) {
        *parsed = result;
        return ParseResult::Usable;
    }
    if (keys.value(QStringLiteral("Type")) != QLatin1String("Application"))
        return ParseResult::NotAnApplication;
    DesktopEntryIndex::Entry &e = result.entry;
    e.fileName = fileName;
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        if (it.key() == QLatin1String("Name"))
            e.names.insert(QString(), it.value());
        else if (it.key().startsWith(QLatin1String("Name[")) && it.key().endsWith(QLatin1Char(']')))
            e.names.insert(it.key().mid(5, it.key().size() - 6), it.value());
    }
    if (e.names.value(QString()).isEmpty())
        return ParseResult::Malformed;
    e.icon = keys.value(QStringLiteral("Icon"));
    e.noDisplay = keys.value(QStringLiteral("NoDisplay")) == QLatin1String("true");

    const QString tryExec = keys.value(QStringLiteral("TryExec"));
    if (!tryExec.isEmpty()) {
        const QString resolved = resolveProgram(tryExec);
        // The menu leaves out entries whose program is not installed.
        if (!QFileInfo(resolved).isExecutable())
            return ParseResult::NotAnApplication;
    }
    QStringList arguments;
    if (!splitExec(keys.value(QStringLiteral("Exec")), &arguments))
        return ParseResult::Malformed;
    // "env VAR=value program ..." starts program.
    if (!arguments.isEmpty() && QFileInfo(arguments.first()).fileName() == QLatin1String("env")) {
        arguments.removeFirst();
        while (!arguments.isEmpty() && (arguments.first().contains(QLatin1Char('=')) ||
                                        arguments.first().startsWith(QLatin1Char('-'))))
            arguments.removeFirst();
    }
    if (!arguments.isEmpty()) {
        arguments.first() = resolveProgram(arguments.first());
        if (RuntimeProgram::isRuntime(arguments.first()))
            e.program =
                RuntimeProgram::programFromArguments(arguments, keys.value(QStringLiteral("Path")));
        else
            e.program = arguments.first();
    }
    if (e.program.isEmpty() && !tryExec.isEmpty() && !RuntimeProgram::isRuntime(tryExec))
        e.program = resolveProgram(tryExec);
    *parsed = result;
    return ParseResult::Usable;
}

QString localeFromEnvironment()
{
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        QString value = QString::fromLocal8Bit(qgetenv(variable));
        if (value.isEmpty())
            continue;
        for (QChar cut : {QLatin1Char('.'), QLatin1Char('@')}) {
            const qsizetype at = value.indexOf(cut);
            if (at >= 0)
                value.truncate(at);
        }
        return value;
    }
    return QString();
}

} // namespace

struct DesktopEntryIndex::Private
{
    QStringList directories;
    QFileSystemWatcher watcher;
    QList<Entry> entries;
    QHash<QString, int> byPath;     // real path of the program -> entry
    QHash<QString, int> byFileName; // program file name or desktop id without suffix -> entry
    QString localeName = localeFromEnvironment();
    // Parents watched only to see a missing applications folder appear; their
    // other changes (any program's files under ~/.local/share) do not matter.
    QHash<QString, QStringList> missingByParent;
    bool dirty = true;
    int builds = 0;
};

DesktopEntryIndex *DesktopEntryIndex::instance()
{
    static DesktopEntryIndex *index = new DesktopEntryIndex(standardDirectories());
    return index;
}

DesktopEntryIndex::DesktopEntryIndex(const QStringList &directories, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->directories = directories;
    // Package managers write many files at once; the next lookup reads them all.
    connect(&d->watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString &path) {
        const auto missing = d->missingByParent.constFind(path);
        if (missing != d->missingByParent.constEnd() &&
            std::none_of(missing->cbegin(), missing->cend(),
                         [](const QString &dir) { return QFileInfo(dir).isDir(); }))
            return;
        markChanged();
    });
    // A folder hears of files that come and go; an entry edited in place only tells itself.
    connect(&d->watcher, &QFileSystemWatcher::fileChanged, this, &DesktopEntryIndex::markChanged);
}

void DesktopEntryIndex::markChanged()
{
    if (!d->dirty) {
        d->dirty = true;
        Q_EMIT changed();
    }
}

DesktopEntryIndex::~DesktopEntryIndex() = default;

QStringList DesktopEntryIndex::standardDirectories()
{
    QString home = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    QString dirs = QString::fromLocal8Bit(qgetenv("XDG_DATA_DIRS"));
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList result{home + QStringLiteral("/applications")};
    for (const QString &dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString apps = QDir::cleanPath(dir + QStringLiteral("/applications"));
        if (!result.contains(apps))
            result.append(apps);
    }
    return result;
}

void DesktopEntryIndex::rebuild()
{
    d->dirty = false;
    ++d->builds;
    d->entries.clear();
    d->byPath.clear();
    d->byFileName.clear();
    if (!d->watcher.directories().isEmpty())
        d->watcher.removePaths(d->watcher.directories());
    if (!d->watcher.files().isEmpty())
        d->watcher.removePaths(d->watcher.files());

    QSet<QString> seenIds;
    QStringList watch;
    d->missingByParent.clear();
    for (const QString &directory : d->directories) {
        if (!QFileInfo(directory).isDir()) {
            // A folder that does not exist yet is noticed through its parent.
            const QString parent = QFileInfo(directory).absolutePath();
            if (QFileInfo(parent).isDir()) {
                watch.append(parent);
                d->missingByParent[parent].append(directory);
            }
            continue;
        }
        watch.append(directory);
        const QDir base(directory);
        QDirIterator it(directory, QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QFileInfo info = it.fileInfo();
            if (info.isDir()) {
                watch.append(path);
                continue;
            }
            if (!path.endsWith(QLatin1String(".desktop")))
                continue;
            watch.append(path);
            const QString id =
                base.relativeFilePath(path).replace(QLatin1Char('/'), QLatin1Char('-'));
            if (seenIds.contains(id))
                continue;
            Parsed parsed;
            const ParseResult parse = parseEntry(path, &parsed);
            if (parse == ParseResult::Malformed)
                vDebug() << "Skipping broken desktop entry" << path;
            if (parse != ParseResult::Usable)
                continue;
            // A hidden entry of a user's folder removes the system's entry of that id.
            seenIds.insert(id);
            if (parsed.hidden)
                continue;
            parsed.entry.id = id;
            d->entries.append(parsed.entry);
        }
    }
    watch.removeDuplicates();
    if (!watch.isEmpty())
        d->watcher.addPaths(watch);

    // Entries shown in the menu win over hidden helpers for the same program;
    // within each kind the folder order decides, so the first key taken stays.
    QHash<QString, int> byPath, byFileName;
    for (const bool pass : {false, true}) {
        for (int i = 0; i < d->entries.size(); ++i) {
            const Entry &e = d->entries.at(i);
            if (e.noDisplay != pass)
                continue;
            QStringList paths, names;
            if (!e.program.isEmpty()) {
                if (QDir::isAbsolutePath(e.program))
                    paths << realPath(e.program) << e.program;
                names << QFileInfo(e.program).fileName();
            }
            QString stem = e.id;
            stem.chop(int(qstrlen(".desktop")));
            names << stem;
            for (const QString &p : paths)
                if (!byPath.contains(p))
                    byPath.insert(p, i);
            for (const QString &n : names)
                if (!byFileName.contains(n))
                    byFileName.insert(n, i);
        }
    }
    d->byPath = byPath;
    d->byFileName = byFileName;
}

const DesktopEntryIndex::Entry *DesktopEntryIndex::find(const QString &executable)
{
    if (d->dirty)
        rebuild();
    if (executable.isEmpty())
        return nullptr;
    const int *index = nullptr;
    auto it = d->byPath.constFind(executable);
    if (it == d->byPath.constEnd())
        it = d->byPath.constFind(realPath(executable));
    if (it != d->byPath.constEnd()) {
        index = &*it;
    } else {
        const auto byName = d->byFileName.constFind(QFileInfo(executable).fileName());
        if (byName != d->byFileName.constEnd())
            index = &*byName;
    }
    return index ? &d->entries.at(*index) : nullptr;
}

QString DesktopEntryIndex::localizedName(const Entry &entry, const QString &localeName)
{
    if (!localeName.isEmpty()) {
        auto it = entry.names.constFind(localeName);
        if (it != entry.names.constEnd() && !it->isEmpty())
            return *it;
        const qsizetype underscore = localeName.indexOf(QLatin1Char('_'));
        if (underscore > 0) {
            it = entry.names.constFind(localeName.left(underscore));
            if (it != entry.names.constEnd() && !it->isEmpty())
                return *it;
        }
    }
    return entry.names.value(QString());
}

QString DesktopEntryIndex::localeName() const
{
    return d->localeName;
}

void DesktopEntryIndex::setLocaleName(const QString &localeName)
{
    d->localeName = localeName;
}

int DesktopEntryIndex::entryCount()
{
    if (d->dirty)
        rebuild();
    return int(d->entries.size());
}

int DesktopEntryIndex::buildCount() const
{
    return d->builds;
}
