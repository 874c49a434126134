#include "desktopentryindex.h"

#include "runtimeprogram.h"
#include "varlolog.h"
#include "workerthread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// Real entries are a few kilobytes; anything far larger is not one.
constexpr qint64 kMaxEntrySize = 1024 * 1024;

// A package upgrade writes files for seconds; read them once it is over, but
// never leave the index stale for long under a steady trickle of changes.
constexpr int kQuietMs = 1500;
constexpr int kLongestMs = 10000;

// Folders only: an entry written in place closes after writing, one replaced
// by a rename moves in, and no watch per file counts against the user's limit.
constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

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

// What one build made: the entries and the lookups into them. Never changed
// once built, so lookups may keep pointers into it while a newer one is made.
struct Snapshot
{
    QList<DesktopEntryIndex::Entry> entries;
    QHash<QString, int> byPath;     // real path of the program -> entry
    QHash<QString, int> byFileName; // program file name or desktop id without suffix -> entry
};

// What a watched folder is for: its entries and subfolders, or only the
// appearance of the named children on the way to a missing applications
// folder (the rest of ~/.local/share is other programs' business).
struct Watch
{
    bool contents = false;
    QStringList awaited;

    void merge(const Watch &other)
    {
        contents = contents || other.contents;
        for (const QString &name : other.awaited)
            if (!awaited.contains(name))
                awaited.append(name);
    }
};

// One inotify instance per index. The worker adds watches while it reads the
// folders, each before listing it, so nothing written meanwhile goes unheard;
// the index's thread reads the events and drops the watches a build no longer needs.
struct FolderWatch
{
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QMutex mutex;
    QHash<int, Watch> watches; // by watch descriptor

    FolderWatch()
    {
        if (fd < 0) {
            const int error = errno;
            vWarning() << "Desktop entry folders are not watched:" << qt_error_string(error);
        }
    }
    ~FolderWatch()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;
};

// One build, shared by the index's thread and the worker. The worker touches
// nothing else of the index.
struct Build
{
    int number = 0;
    QStringList directories;
    std::shared_ptr<FolderWatch> folders;
    std::atomic<bool> cancel{false};

    // Written by the worker, read after it finished.
    std::shared_ptr<const Snapshot> result;
    QHash<int, Watch> watches;
    // A folder appeared between looking and watching: read once more.
    bool missedChange = false;
    bool watchFailed = false;
};

void watchFolder(Build &build, const QString &folder, const QString &awaited = QString())
{
    if (build.folders->fd < 0)
        return;
    const int wd =
        inotify_add_watch(build.folders->fd, QFile::encodeName(folder).constData(), kFolderEvents);
    if (wd < 0) {
        const int error = errno;
        // Once per build: past the user's watch limit every folder fails.
        if (!build.watchFailed)
            vWarning() << "Cannot watch" << folder
                       << "for desktop entries:" << qt_error_string(error);
        build.watchFailed = true;
        return;
    }
    Watch watch;
    if (awaited.isEmpty())
        watch.contents = true;
    else
        watch.awaited.append(awaited);
    build.watches[wd].merge(watch);
    const QMutexLocker lock(&build.folders->mutex);
    build.folders->watches[wd].merge(watch);
}

// A missing folder is awaited in the nearest folder above it that exists.
void awaitFolder(Build &build, const QString &directory)
{
    QString child = QDir::cleanPath(QFileInfo(directory).absoluteFilePath());
    QString parent = QFileInfo(child).path();
    while (parent != child && !QFileInfo(parent).isDir()) {
        child = parent;
        parent = QFileInfo(parent).path();
    }
    if (parent == child)
        return;
    watchFolder(build, parent, QFileInfo(child).fileName());
    if (QFileInfo(child).isDir())
        build.missedChange = true;
}

void readFolder(Build &build, const QDir &base, const QString &folder, QSet<QString> *seenIds,
                QList<DesktopEntryIndex::Entry> *entries)
{
    if (build.cancel)
        return;
    watchFolder(build, folder);
    const QFileInfoList list = QDir(folder).entryInfoList(
        QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::DirsLast);
    for (const QFileInfo &info : list) {
        if (build.cancel)
            return;
        const QString path = info.filePath();
        if (info.isDir()) {
            if (!info.isSymLink())
                readFolder(build, base, path, seenIds, entries);
            continue;
        }
        if (!path.endsWith(QLatin1String(".desktop")))
            continue;
        const QString id = base.relativeFilePath(path).replace(QLatin1Char('/'), QLatin1Char('-'));
        if (seenIds->contains(id))
            continue;
        Parsed parsed;
        const ParseResult parse = parseEntry(path, &parsed);
        if (parse == ParseResult::Malformed)
            vDebug() << "Skipping broken desktop entry" << path;
        if (parse != ParseResult::Usable)
            continue;
        // A hidden entry of a user's folder removes the system's entry of that id.
        seenIds->insert(id);
        if (parsed.hidden)
            continue;
        parsed.entry.id = id;
        entries->append(parsed.entry);
    }
}

// Runs on the worker thread.
void runBuild(Build &build)
{
    auto snapshot = std::make_shared<Snapshot>();
    QSet<QString> seenIds;
    for (const QString &directory : build.directories) {
        if (QFileInfo(directory).isDir())
            readFolder(build, QDir(directory), directory, &seenIds, &snapshot->entries);
        else
            awaitFolder(build, directory);
    }
    if (build.cancel)
        return;

    // Entries shown in the menu win over hidden helpers for the same program;
    // within each kind the folder order decides, so the first key taken stays.
    for (const bool pass : {false, true}) {
        for (int i = 0; i < snapshot->entries.size(); ++i) {
            const DesktopEntryIndex::Entry &e = snapshot->entries.at(i);
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
                if (!snapshot->byPath.contains(p))
                    snapshot->byPath.insert(p, i);
            for (const QString &n : names)
                if (!snapshot->byFileName.contains(n))
                    snapshot->byFileName.insert(n, i);
        }
    }
    build.result = std::move(snapshot);
}

bool matters(const inotify_event &event, const QHash<int, Watch> &watches)
{
    if (event.mask & IN_Q_OVERFLOW)
        return true; // events were lost
    const auto watch = watches.constFind(event.wd);
    if (watch == watches.constEnd())
        return false; // a folder only an earlier build read
    if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF))
        return true;
    if (event.len == 0)
        return false;
    const QString name = QFile::decodeName(event.name);
    if (watch->awaited.contains(name))
        return true;
    return watch->contents && ((event.mask & IN_ISDIR) || name.endsWith(QLatin1String(".desktop")));
}

DesktopEntryIndex *g_instance = nullptr;

void destroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

} // namespace

struct DesktopEntryIndex::Private
{
    QStringList directories;
    QString localeName = localeFromEnvironment();
    std::shared_ptr<const Snapshot> current;
    int builds = 0;

    std::shared_ptr<FolderWatch> folders = std::make_shared<FolderWatch>();
    std::unique_ptr<QSocketNotifier> notifier;

    QTimer settle;
    QElapsedTimer firstChange;
    int quietMs = kQuietMs;
    int longestMs = kLongestMs;

    std::shared_ptr<Build> build; // the one under way
    std::unique_ptr<QThread> worker;
    bool again = false; // changes settled while a build ran
};

DesktopEntryIndex *DesktopEntryIndex::instance()
{
    if (!g_instance) {
        g_instance = new DesktopEntryIndex(standardDirectories());
        // Gone before the application object: a build under way at exit is
        // stopped while Qt's globals and the log still work.
        qAddPostRoutine(destroyInstance);
    }
    return g_instance;
}

DesktopEntryIndex::DesktopEntryIndex(const QStringList &directories, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->directories = directories;
    if (d->folders->fd >= 0) {
        d->notifier = std::make_unique<QSocketNotifier>(d->folders->fd, QSocketNotifier::Read);
        connect(d->notifier.get(), &QSocketNotifier::activated, this,
                &DesktopEntryIndex::readFolderEvents);
    }
    d->settle.setSingleShot(true);
    connect(&d->settle, &QTimer::timeout, this, [this] {
        d->firstChange.invalidate();
        if (d->build)
            d->again = true; // never two at once; the next starts when this one is in
        else
            startBuild();
    });
    startBuild();
}

DesktopEntryIndex::~DesktopEntryIndex()
{
    if (d->build) {
        d->build->cancel = true;
        d->worker->wait();
    }
}

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

void DesktopEntryIndex::readFolderEvents()
{
    bool relevant = false;
    alignas(inotify_event) char buffer[16 * 1024];
    {
        const QMutexLocker lock(&d->folders->mutex);
        for (;;) {
            const ssize_t size = ::read(d->folders->fd, buffer, sizeof buffer);
            if (size < 0 && errno == EINTR)
                continue;
            if (size <= 0)
                break;
            for (ssize_t at = 0; at < size;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + event->len);
                if (event->mask & IN_IGNORED)
                    d->folders->watches.remove(event->wd);
                else if (!relevant)
                    relevant = matters(*event, d->folders->watches);
            }
        }
    }
    if (relevant)
        noticeChange();
}

void DesktopEntryIndex::noticeChange()
{
    if (!d->firstChange.isValid())
        d->firstChange.start();
    const qint64 left = d->longestMs - d->firstChange.elapsed();
    d->settle.start(int(qBound(qint64(0), left, qint64(d->quietMs))));
}

void DesktopEntryIndex::startBuild()
{
    auto build = std::make_shared<Build>();
    build->number = ++d->builds;
    build->directories = d->directories;
    build->folders = d->folders;
    d->build = build;
    d->worker.reset(QThread::create([this, build] {
        WorkerThread::prepare();
        runBuild(*build);
        if (!build->cancel)
            QMetaObject::invokeMethod(
                this, [this, number = build->number] { finishBuild(number); },
                Qt::QueuedConnection);
    }));
    d->worker->setObjectName(QStringLiteral("desktop entries"));
    d->worker->start();
}

void DesktopEntryIndex::finishBuild(int build)
{
    // The first lookup may have collected this build already.
    if (!d->build || d->build->number != build)
        return;
    d->worker->wait();
    const std::shared_ptr<Build> done = std::move(d->build);
    d->worker.reset();
    {
        const QMutexLocker lock(&d->folders->mutex);
        for (auto it = d->folders->watches.cbegin(); it != d->folders->watches.cend(); ++it)
            if (!done->watches.contains(it.key()))
                inotify_rm_watch(d->folders->fd, it.key());
        // Each watch now serves exactly what this build read.
        d->folders->watches = done->watches;
    }
    const bool first = !d->current;
    d->current = done->result;
    if (done->missedChange)
        noticeChange();
    if (d->again) {
        d->again = false;
        startBuild();
    }
    if (!first)
        Q_EMIT changed();
}

void DesktopEntryIndex::waitForFirstBuild()
{
    // Start-up only: later lookups answer from the index in place.
    if (!d->current)
        finishBuild(d->build->number);
}

const DesktopEntryIndex::Entry *DesktopEntryIndex::find(const QString &executable)
{
    waitForFirstBuild();
    if (executable.isEmpty())
        return nullptr;
    const Snapshot &s = *d->current;
    const int *index = nullptr;
    auto it = s.byPath.constFind(executable);
    if (it == s.byPath.constEnd())
        it = s.byPath.constFind(realPath(executable));
    if (it != s.byPath.constEnd()) {
        index = &*it;
    } else {
        const auto byName = s.byFileName.constFind(QFileInfo(executable).fileName());
        if (byName != s.byFileName.constEnd())
            index = &*byName;
    }
    return index ? &s.entries.at(*index) : nullptr;
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
    waitForFirstBuild();
    return int(d->current->entries.size());
}

int DesktopEntryIndex::buildCount() const
{
    return d->builds;
}

bool DesktopEntryIndex::building() const
{
    return d->build || d->settle.isActive() || d->again;
}

void DesktopEntryIndex::setSettleTime(int quietMs, int longestMs)
{
    d->quietMs = quietMs;
    d->longestMs = longestMs;
}
