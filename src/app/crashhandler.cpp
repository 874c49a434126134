#include "crashhandler.h"

#include "eventlog.h"
#include "varlolog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUuid>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kSignalCount = int(sizeof(kSignals) / sizeof(kSignals[0]));
constexpr int kPathMax = 4096;
constexpr int kMaxCandidates = 64;

// Everything the handler needs, prepared while it is safe to allocate.
struct CrashState
{
    bool installed = false;
    char dumpPath[kPathMax] = {};
    char minidumpId[64] = {};
    char reportPath[kPathMax] = {};
    char candidates[kMaxCandidates][kPathMax] = {};
    int candidateCount = 0;
    long utcOffset = 0;
    struct sigaction previous[kSignalCount];
    void *altStack = nullptr;
};

CrashState g_state;
std::atomic<bool> g_handling{false};

void copyString(char *dst, size_t size, const QByteArray &src)
{
    const size_t n = qMin(size - 1, size_t(src.size()));
    memcpy(dst, src.constData(), n);
    dst[n] = '\0';
}

// --- async-signal-safe helpers -------------------------------------------

void writeAll(int fd, const char *data, size_t len)
{
    while (len > 0) {
        const ssize_t n = ::write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        len -= size_t(n);
    }
}

void writeStr(int fd, const char *s)
{
    writeAll(fd, s, strlen(s));
}

// Formats value in base 10 or 16 into buf (at least 24 bytes).
const char *formatNumber(char *buf, unsigned long long value, int base, int minDigits = 1)
{
    char tmp[24];
    int n = 0;
    do {
        const int digit = int(value % unsigned(base));
        tmp[n++] = char(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= unsigned(base);
    } while (value && n < 23);
    while (n < minDigits && n < 23)
        tmp[n++] = '0';
    for (int i = 0; i < n; ++i)
        buf[i] = tmp[n - 1 - i];
    buf[n] = '\0';
    return buf;
}

const char *signalName(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "signal";
    }
}

// One line in the event log's layout, written straight to its descriptor:
// the Qt message handler is not safe to enter from a signal.
void logFromSignal(int line, const char *message)
{
    const int fd = logFileDescriptor();
    if (fd < 0)
        return;
    char buf[512];
    size_t pos = 0;
    auto put = [&](const char *s) {
        while (*s && pos < sizeof(buf) - 2)
            buf[pos++] = *s++;
    };
    auto pad = [&](const char *s, size_t width) {
        for (size_t len = strlen(s); len < width; ++len)
            put(" ");
        put(s);
    };
    put("I");
    pad("crashhandler.cpp", 25);
    put("[");
    char num[24];
    pad(formatNumber(num, unsigned(line), 10), 5);
    put("] ");
    const long t = (long(::time(nullptr)) + g_state.utcOffset) % 86400;
    const long day = t < 0 ? t + 86400 : t;
    put(formatNumber(num, unsigned(day / 3600), 10, 2));
    put(":");
    put(formatNumber(num, unsigned(day / 60 % 60), 10, 2));
    put(":");
    put(formatNumber(num, unsigned(day % 60), 10, 2));
    put(" | ");
    put(message);
    buf[pos++] = '\n';
    writeAll(fd, buf, pos);
}

bool writeReport(int sig, const siginfo_t *info)
{
    const int fd = ::open(g_state.reportPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    char num[24];
    writeStr(fd, "Varlo crash report\nversion: " VARLO_VERSION " (");
    writeStr(fd, formatNumber(num, VARLO_BUILD_NUMBER, 10));
    writeStr(fd, ")\npid: ");
    writeStr(fd, formatNumber(num, unsigned(::getpid()), 10));
    writeStr(fd, "\nsignal: ");
    writeStr(fd, formatNumber(num, unsigned(sig), 10));
    writeStr(fd, " ");
    writeStr(fd, signalName(sig));
    writeStr(fd, "\ncode: ");
    writeStr(fd, formatNumber(num, unsigned(info ? info->si_code : 0), 10));
    writeStr(fd, "\naddress: 0x");
    writeStr(fd, formatNumber(num, info ? reinterpret_cast<uintptr_t>(info->si_addr) : 0, 16));
    writeStr(fd, "\nbacktrace:\n");
    void *frames[64];
    const int depth = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, depth, fd);
    ::close(fd);
    return true;
}

// fork/exec without Qt: the reporter is started from a grandchild so that it
// outlives us and is never our zombie. A close-on-exec pipe tells whether
// exec succeeded.
bool spawnReporter()
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::fork() != 0)
            ::_exit(0);
        ::setsid();
        char *const argv[] = {const_cast<char *>("CrashReporter"), g_state.dumpPath,
                              g_state.minidumpId, nullptr};
        for (int i = 0; i < g_state.candidateCount; ++i)
            ::execv(g_state.candidates[i], argv);
        const int error = errno;
        writeAll(pipeFds[1], reinterpret_cast<const char *>(&error), sizeof(error));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    do {
        n = ::read(pipeFds[0], &error, sizeof(error));
    } while (n < 0 && errno == EINTR);
    ::close(pipeFds[0]);
    return n == 0;
}

void signalHandler(int sig, siginfo_t *info, void *)
{
    if (g_handling.exchange(true)) {
        // A crash while reporting one: give up quietly.
        ::signal(sig, SIG_DFL);
        ::raise(sig);
        return;
    }
    if (CrashHandler::crashFilter(nullptr)) {
        const bool written = writeReport(sig, info);
        CrashHandler::crashDumped(g_state.dumpPath, g_state.minidumpId, nullptr, written);
    }
    // The default action ends the process once the handler returns (the signal
    // stays blocked until then), with a core dump where the system allows one.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void prepareCandidates()
{
    g_state.candidateCount = 0;
    auto add = [](const QString &path) {
        if (g_state.candidateCount < kMaxCandidates)
            copyString(g_state.candidates[g_state.candidateCount++], kPathMax, QFile::encodeName(path));
    };
    if (QCoreApplication::instance())
        add(QCoreApplication::applicationDirPath() + QLatin1String("/CrashReporter"));
    const QStringList dirs = QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &dir : dirs)
        add(dir + QLatin1String("/CrashReporter"));
}

} // namespace

CrashHandler::CrashHandler(const QString &dumpPath)
{
    copyString(g_state.dumpPath, kPathMax, QFile::encodeName(dumpPath));
    copyString(g_state.minidumpId, sizeof(g_state.minidumpId),
               QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1());
    copyString(g_state.reportPath, kPathMax,
               QFile::encodeName(dumpPath + QLatin1Char('/') + minidumpId() + QLatin1String(".dmp")));
    prepareCandidates();

    const time_t now = ::time(nullptr);
    struct tm local;
    ::localtime_r(&now, &local);
    g_state.utcOffset = local.tm_gmtoff;

    // backtrace() loads libgcc on first use, which allocates: do it now.
    void *frames[4];
    ::backtrace(frames, 4);

    const size_t stackSize = size_t(qMax<long>(SIGSTKSZ, 64 * 1024));
    g_state.altStack = ::malloc(stackSize);
    stack_t ss = {};
    ss.ss_sp = g_state.altStack;
    ss.ss_size = stackSize;
    ::sigaltstack(&ss, nullptr);

    struct sigaction sa = {};
    sa.sa_sigaction = signalHandler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &sa, &g_state.previous[i]);
    g_state.installed = true;
    g_handling = false;
}

CrashHandler::~CrashHandler()
{
    if (!g_state.installed)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &g_state.previous[i], nullptr);
    stack_t ss = {};
    ss.ss_flags = SS_DISABLE;
    ::sigaltstack(&ss, nullptr);
    ::free(g_state.altStack);
    g_state.altStack = nullptr;
    g_state.installed = false;
}

QString CrashHandler::dumpPath() const
{
    return QFile::decodeName(g_state.dumpPath);
}

QString CrashHandler::minidumpId() const
{
    return QString::fromLatin1(g_state.minidumpId);
}

bool CrashHandler::crashFilter(void *)
{
    return true;
}

bool CrashHandler::crashDumped(const char *, const char *, void *, bool succeeded)
{
    // The path and id are already in the prepared state; in signal context the
    // reporter is started without Qt.
    if (spawnReporter())
        logFromSignal(__LINE__, "Crash reporter module started.");
    else
        logFromSignal(__LINE__, "Failed to start crash reporter.");
    return succeeded;
}

bool startCrashReporter(const QString &dumpPath, const QString &minidumpId)
{
    QString program = QStringLiteral("CrashReporter");
    const QString local = QCoreApplication::applicationDirPath() + QLatin1String("/CrashReporter");
    if (QFile::exists(local))
        program = local;
    const bool started = QProcess::startDetached(program, {dumpPath, minidumpId});
    if (started)
        vDebug() << "Crash reporter module started.";
    else
        vDebug() << "Failed to start crash reporter.";
    return started;
}
