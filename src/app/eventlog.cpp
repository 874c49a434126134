#include "eventlog.h"

#include "paths.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QFile *g_file = nullptr;
QTextStream *g_stream = nullptr;
QString g_lastMessage;
int g_repeatCount = 0;
QtMessageHandler g_previousHandler = nullptr;

// Qt calls the handler from whichever thread logs; this guards everything above.
std::mutex g_mutex;
// The crash handler reads it in signal context, where no lock can be taken.
std::atomic<int> g_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the crash handler reads g_fd from a signal");
// Set while this thread writes: a message raised meanwhile (a stream's own
// warning) would wait for the lock this thread holds.
thread_local bool t_writing = false;

// Holds the lock and marks this thread as writing.
class WriteGuard
{
public:
    WriteGuard() : m_lock(g_mutex) { t_writing = true; }
    ~WriteGuard() { t_writing = false; }
    WriteGuard(const WriteGuard &) = delete;
    WriteGuard &operator=(const WriteGuard &) = delete;

private:
    std::lock_guard<std::mutex> m_lock;
};

const QLatin1String kPrefix("VARLO::");

QChar levelLetter(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QLatin1Char('I');
    case QtWarningMsg:
        return QLatin1Char('E');
    case QtCriticalMsg:
        return QLatin1Char('!');
    case QtFatalMsg:
        return QLatin1Char('X');
    default:
        return QLatin1Char(' ');
    }
}

// Opens the log without following a link that somebody put in its place, and
// empties it only once it is known to be our own regular file.
bool openSafely(QFile *file, const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()
        || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
    }
    if (!file->open(fd, QIODevice::WriteOnly | QIODevice::Text, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

void writeToStderr(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, msg)));
}

bool suppressRepeatLocked(const QString &key)
{
    if (key == g_lastMessage) {
        ++g_repeatCount;
        return true;
    }
    if (g_repeatCount > 0 && g_stream) {
        *g_stream << QString(42, QLatin1Char(' ')) << " | (Repeated " << g_repeatCount
                  << " more time" << (g_repeatCount >= 2 ? "s" : "") << ".)\n";
    }
    g_repeatCount = 0;
    g_lastMessage = key;
    return false;
}
} // namespace

bool openLog(const QString &path)
{
    if (path.isEmpty())
        return false;
    auto *file = new QFile(path);
    if (!openSafely(file, path)) {
        delete file;
        return false;
    }
    WriteGuard guard;
    g_file = file;
    g_stream = new QTextStream(g_file);
    g_lastMessage.clear();
    g_repeatCount = 0;
    g_fd.store(g_file->handle());
    g_previousHandler = qInstallMessageHandler(logMessage);
    return true;
}

void closeLog()
{
    WriteGuard guard;
    if (g_stream) {
        suppressRepeatLocked(QString());
        g_stream->flush();
    }
    g_fd.store(-1);
    qInstallMessageHandler(nullptr);
    g_previousHandler = nullptr;
    delete g_stream;
    g_stream = nullptr;
    if (g_file) {
        g_file->close();
        delete g_file;
        g_file = nullptr;
    }
    g_lastMessage.clear();
    g_repeatCount = 0;
}

bool suppressRepeat(const QString &key)
{
    WriteGuard guard;
    return suppressRepeatLocked(key);
}

void logMessage(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (t_writing) {
        writeToStderr(type, context, msg);
        if (type == QtFatalMsg)
            std::abort();
        return;
    }

    QString key = msg;
    const QChar letter = levelLetter(type);
    const QString time = QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss"));
    QString line;
    if (msg.startsWith(kPrefix)) {
        const QStringList parts = msg.mid(kPrefix.size()).split(QLatin1Char(':'));
        const QString file = parts.value(0);
        const QString lineNo = parts.value(1);
        key = parts.size() > 2 ? parts.mid(2).join(QLatin1Char(':')) : QString();
        // Built by concatenation: arg() would expand a "%1" inside a message.
        line = letter + file.rightJustified(25) + QLatin1Char('[') + lineNo.rightJustified(5)
               + QLatin1String("] ") + time + QLatin1String(" |") + key;
    } else {
        line = letter + QString(33, QLatin1Char(' ')) + time + QLatin1String(" | ") + msg;
    }

    QtMessageHandler fallback = nullptr;
    bool logged = false;
    {
        WriteGuard guard;
        if (g_stream) {
            logged = true;
            if (!suppressRepeatLocked(key))
                *g_stream << line << Qt::endl;
            if (type == QtFatalMsg)
                g_stream->flush();
        } else {
            fallback = g_previousHandler;
        }
    }
    // The log was closed meanwhile (or never opened): the message still goes somewhere.
    if (!logged) {
        if (fallback)
            fallback(type, context, msg);
        else
            writeToStderr(type, context, msg);
    }
    if (type == QtFatalMsg)
        std::abort();
}

int logFileDescriptor()
{
    return g_fd.load();
}

QString logFilePath()
{
    const QString dir = Paths::privateTempDir();
    return dir.isEmpty() ? QString() : dir + QLatin1String("/varlo.log");
}
