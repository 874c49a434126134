#include "crashhandler.h"

#include "eventlog.h"
#include "varlolog.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kSignalCount = int(sizeof(kSignals) / sizeof(kSignals[0]));
constexpr int kPathMax = 4096;
constexpr int kMaxCandidates = 64;
constexpr int kMaxFrames = 64;
// Ample for writing the report and starting the reporter on a busy machine,
// and short enough that a hung handler soon lets go of the single-instance lock.
constexpr unsigned kAlarmSeconds = 5;

// Everything the handler needs, prepared while it is safe to allocate. The
// buffers live here rather than on the stack: the faulting thread may have
// little of it left, and only one thread reports at a time.
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
    void *frames[kMaxFrames] = {};
    char logLine[512] = {};
};

CrashState g_state;
// The kernel id of the thread writing a report, 0 while there is none.
std::atomic<pid_t> g_reportingThread{0};
static_assert(std::atomic<pid_t>::is_always_lock_free, "read and written in signal context");

// The alternate stack of one thread, given back when the thread ends.
struct ThreadAltStack
{
    char *mapping = nullptr;
    size_t mappingSize = 0;
    char *stack = nullptr;

    ~ThreadAltStack()
    {
        if (!mapping)
            return;
        stack_t current = {};
        if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == stack) {
            stack_t off = {};
            off.ss_flags = SS_DISABLE;
            ::sigaltstack(&off, nullptr);
        }
        ::munmap(mapping, mappingSize);
    }
};

thread_local ThreadAltStack t_altStack;

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
    char *buf = g_state.logLine;
    const size_t size = sizeof(g_state.logLine);
    size_t pos = 0;
    auto put = [&](const char *s) {
        while (*s && pos < size - 2)
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
    // The log's own lines carry the number with a space either side.
    char num[24];
    const char *digits = formatNumber(num, unsigned(line), 10);
    for (size_t len = strlen(digits) + 2; len < 5; ++len)
        put(" ");
    put(" ");
    put(digits);
    put(" ] ");
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
    const int depth = ::backtrace(g_state.frames, kMaxFrames);
    ::backtrace_symbols_fd(g_state.frames, depth, fd);
    ::close(fd);
    return true;
}

void setDefaultAction(int sig)
{
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
}

// A copy of this process made with the bare system call: glibc's fork() first
// takes the heap's locks, which a crash inside malloc holds for good. Without
// a new stack the child runs on its copy of ours, as after fork().
pid_t rawFork()
{
    return pid_t(::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
}

void sendError(int fd, int error)
{
    writeAll(fd, reinterpret_cast<const char *>(&error), sizeof(error));
}

// The reporter is started from a grandchild so that it outlives us and is
// never our zombie. A close-on-exec pipe tells whether exec succeeded.
bool spawnReporter()
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    const pid_t child = rawFork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        // A fault here must not wait for the report that the parent is writing.
        for (int sig : kSignals)
            setDefaultAction(sig);
        const pid_t grandchild = rawFork();
        if (grandchild != 0) {
            if (grandchild < 0)
                sendError(pipeFds[1], errno);
            ::_exit(0);
        }
        ::setsid();
        // exec keeps the mask, and the faulting signal is blocked in here.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        char *const argv[] = {const_cast<char *>("CrashReporter"), g_state.dumpPath,
                              g_state.minidumpId, nullptr};
        for (int i = 0; i < g_state.candidateCount; ++i)
            ::execv(g_state.candidates[i], argv);
        sendError(pipeFds[1], errno);
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

// Whatever the handler waits for (a lock in the unwinder, a slow exec), the
// process ends within kAlarmSeconds and lets go of the single-instance lock.
void armAlarm()
{
    setDefaultAction(SIGALRM);
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    ::pthread_sigmask(SIG_UNBLOCK, &alarmOnly, nullptr);
    ::alarm(kAlarmSeconds);
}

void signalHandler(int sig, siginfo_t *info, void *)
{
    const pid_t self = pid_t(::syscall(SYS_gettid));
    pid_t reporting = 0;
    if (!g_reportingThread.compare_exchange_strong(reporting, self)) {
        if (reporting == self) {
            // A fault while reporting one: end the process with it.
            setDefaultAction(sig);
            ::raise(sig);
            return;
        }
        // Another thread writes the report and then ends the process.
        for (;;)
            ::pause();
    }
    armAlarm();
    if (CrashHandler::crashFilter(nullptr)) {
        const bool written = writeReport(sig, info);
        CrashHandler::crashDumped(g_state.dumpPath, g_state.minidumpId, nullptr, written);
    }
    // The default action ends the process once the handler returns (the signal
    // stays blocked until then), with a core dump where the system allows one.
    setDefaultAction(sig);
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
    ::backtrace(g_state.frames, 4);

    prepareThread();

    struct sigaction sa = {};
    sa.sa_sigaction = signalHandler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &sa, &g_state.previous[i]);
    g_state.installed = true;
    g_reportingThread = 0;
}

CrashHandler::~CrashHandler()
{
    if (!g_state.installed)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &g_state.previous[i], nullptr);
    g_state.installed = false;
}

bool CrashHandler::prepareThread()
{
    if (t_altStack.mapping)
        return true;
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t wanted = size_t(std::max<long>(long(SIGSTKSZ), 64 * 1024));
    const size_t stackSize = (wanted + page - 1) / page * page;
    // One page below the stack stays unmapped, so that overrunning it faults
    // instead of writing over whatever lies there.
    void *mapping = ::mmap(nullptr, stackSize + page, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED)
        return false;
    char *stack = static_cast<char *>(mapping) + page;
    stack_t ss = {};
    ss.ss_sp = stack;
    ss.ss_size = stackSize;
    if (::mprotect(mapping, page, PROT_NONE) != 0 || ::sigaltstack(&ss, nullptr) != 0) {
        ::munmap(mapping, stackSize + page);
        return false;
    }
    t_altStack.mapping = static_cast<char *>(mapping);
    t_altStack.mappingSize = stackSize + page;
    t_altStack.stack = stack;
    return true;
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
