#include "application.h"
#include "crashenvironment.h"
#include "crashhandler.h"
#include "dpimetrics.h"
#include "eventlog.h"
#include "paths.h"
#include "singleinstance.h"

#include <QLocalServer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void backgroundArgument_data();
    void backgroundArgument();
    void informationOptions_data();
    void informationOptions();
    void mulDivRounding_data();
    void mulDivRounding();
    void displayScope_data();
    void displayScope();
    void privateTempDirRefusesSharedFolders();
    void secondLockIsRefused();
    void lockOfAKilledProcessIsTakenOver();
    void wakeUpReachesTheListener();
    void crashLeavesAReportAndStartsTheReporter_data();
    void crashLeavesAReportAndStartsTheReporter();
};

void TestStartup::backgroundArgument_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("background");
    QTest::newRow("none") << QStringList{"Varlo"} << false;
    QTest::newRow("first") << QStringList{"Varlo", "-background"} << true;
    QTest::newRow("anywhere") << QStringList{"Varlo", "-x", "-background", "y"} << true;
    QTest::newRow("other case") << QStringList{"Varlo", "-Background"} << false;
    QTest::newRow("double dash") << QStringList{"Varlo", "--background"} << false;
    QTest::newRow("part of a word") << QStringList{"Varlo", "-backgrounds"} << false;
}

void TestStartup::backgroundArgument()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, background);
    QCOMPARE(Application::startsInBackground(arguments), background);
}

void TestStartup::informationOptions_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("--version") << "--version" << "Varlo 1.4.4 (293)";
    QTest::newRow("--help") << "--help" << "Usage: Varlo [-background]";
}

// Answered from a package's scratch root or a text console: no display, and
// nothing left behind (no lock, no log).
void TestStartup::informationOptions()
{
    QFETCH(QString, option);
    QFETCH(QString, firstLine);
    QTemporaryDir runtime;
    QProcess varlo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    varlo.setProcessEnvironment(env);
    varlo.start(qEnvironmentVariable("VARLO_BIN_DIR") + QStringLiteral("/Varlo"), {option});
    QVERIFY(varlo.waitForFinished(10000));
    QCOMPARE(varlo.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(varlo.readAllStandardOutput()).section('\n', 0, 0), firstLine);
    QCOMPARE(QDir(runtime.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

void TestStartup::mulDivRounding_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("expected");
    QTest::newRow("identity") << 330 << 96 << 330;
    QTest::newRow("120") << 330 << 120 << 413; // 412.5 rounds up
    QTest::newRow("144") << 289 << 144 << 434; // 433.5
    QTest::newRow("negative rounds away from zero") << -1 << 144 << -2;
    QTest::newRow("zero") << 0 << 192 << 0;
}

void TestStartup::mulDivRounding()
{
    QFETCH(int, n);
    QFETCH(int, dpi);
    QFETCH(int, expected);
    QCOMPARE(DpiMetrics::mulDiv(n, dpi, 96), expected);
    QCOMPARE(DpiMetrics::mulDiv(n, dpi, 0), -1);
}

void TestStartup::displayScope_data()
{
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<QString>("scope");
    QTest::newRow("local") << QByteArray(":0") << "0";
    QTest::newRow("screen number") << QByteArray(":0.0") << "0";
    QTest::newRow("remote") << QByteArray("localhost:10.0") << "localhost_10";
    QTest::newRow("path-like") << QByteArray("/tmp/../x:3") << "_tmp____x_3";
    QTest::newRow("unset") << QByteArray() << "none";
}

void TestStartup::displayScope()
{
    QFETCH(QByteArray, display);
    QFETCH(QString, scope);
    const QByteArray saved = qgetenv("DISPLAY");
    qputenv("DISPLAY", display);
    const QString result = Paths::displayScope();
    qputenv("DISPLAY", saved);
    QCOMPARE(result, scope);
}

void TestStartup::privateTempDirRefusesSharedFolders()
{
    QTemporaryDir base;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    const QString shared = base.filePath("shared");
    QVERIFY(QDir().mkpath(shared));
    ::chmod(QFile::encodeName(shared).constData(), 0777);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(shared));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(base.filePath("cache")));

    const QString dir = Paths::privateTempDir();
    QCOMPARE(dir, base.filePath("cache/varlo"));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(dir).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0700);

    // A private runtime folder is used as it is.
    ::chmod(QFile::encodeName(shared).constData(), 0700);
    QCOMPARE(Paths::privateTempDir(), shared);

    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    qputenv("XDG_CACHE_HOME", savedCache);
}

void TestStartup::secondLockIsRefused()
{
    SingleInstance first;
    QCOMPARE(first.acquire(), SingleInstance::First);
    SingleInstance second;
    QCOMPARE(second.acquire(), SingleInstance::Other);
    first.release();
    QCOMPARE(second.acquire(), SingleInstance::First);
}

void TestStartup::lockOfAKilledProcessIsTakenOver()
{
    // The child takes the lock and dies without a chance to clean up.
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--lock-and-die"});
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    SingleInstance next;
    QVERIFY(QFile::exists(next.lockPath()));
    QCOMPARE(next.acquire(), SingleInstance::First);
}

// A later start runs in its own process; here a thread stands in for it
// while this one keeps the listener's event loop going.
static bool wakeFromAnotherThread(const QString &socketPath, int connectMs, int answerMs)
{
    std::atomic<int> result{-1};
    std::thread later([&] {
        result = SingleInstance::wakeRunningInstance(socketPath, connectMs, answerMs) ? 1 : 0;
    });
    while (result == -1)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    later.join();
    return result == 1;
}

void TestStartup::wakeUpReachesTheListener()
{
    SingleInstance first;
    QCOMPARE(first.acquire(), SingleInstance::First);
    QCOMPARE(first.lockHolder(), QCoreApplication::applicationPid());
    QVERIFY(first.listen());
    QSignalSpy woken(&first, &SingleInstance::wakeUpRequested);
    QVERIFY(wakeFromAnotherThread(first.socketPath(), 2000, 5000));
    QCOMPARE(woken.count(), 1); // answered only after the wake-up was taken
    QVERIFY(wakeFromAnotherThread(first.socketPath(), 2000, 5000));
    QCOMPARE(woken.count(), 2);

    // Nobody listening: the attempt gives up within its time.
    first.release();
    QVERIFY(!wakeFromAnotherThread(first.socketPath(), 200, 200));

    // A hung instance: the kernel takes the connection, nobody answers.
    QLocalServer hung;
    QVERIFY(hung.listen(first.socketPath()));
    QVERIFY(!SingleInstance::wakeRunningInstance(first.socketPath(), 2000, 300));
}

static QString writeReporter(const QString &dir, const QString &record)
{
    const QString path = dir + "/CrashReporter";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    // Also records the signals it started with blocked, read with builtins
    // only: the shell blocks all signals for a moment while it forks.
    f.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" \"$2\" > '%1.tmp'\n"
                           "while read -r name value; do\n"
                           "  [ \"$name\" = SigBlk: ] && echo \"$name $value\"\n"
                           "done < /proc/$$/status >> '%1.tmp'\n"
                           "mv '%1.tmp' '%1'\n")
                .arg(record)
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

void TestStartup::crashLeavesAReportAndStartsTheReporter_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("reporter");
    // The two heap faults abort while glibc holds the arena lock.
    QTest::newRow("double free") << QByteArray("double-free") << SIGABRT << true;
    QTest::newRow("abort inside malloc") << QByteArray("heap-corruption") << SIGABRT << true;
    QTest::newRow("stack overflow, main thread") << QByteArray("stack-overflow") << SIGSEGV << true;
    QTest::newRow("null write, second thread")
        << QByteArray("null-write-thread") << SIGSEGV << true;
    QTest::newRow("stack overflow, prepared thread")
        << QByteArray("thread-stack-overflow") << SIGSEGV << true;
    QTest::newRow("no reporter") << QByteArray("double-free") << SIGABRT << false;
}

void TestStartup::crashLeavesAReportAndStartsTheReporter()
{
    QFETCH(QByteArray, fault);
    QFETCH(int, signal);
    QFETCH(bool, reporter);
    QTemporaryDir dumps;
    QTemporaryDir bin;
    const QString record = bin.filePath("called");
    if (reporter)
        writeReporter(bin.path(), record);

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", reporter ? bin.path() + ":" + env.value("PATH") : bin.path());
    letTheCrashHandlerSeeFaults(env);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--crash-child", fault, dumps.path()});
    // A handler that hangs keeps the process (and its single-instance lock) alive.
    QVERIFY2(child.waitForFinished(20000), child.readAllStandardError().constData());
    // Ended by the fault's own signal, not by the handler's alarm.
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(child.exitCode(), signal);
    const QString id = QString::fromLatin1(child.readAllStandardOutput()).trimmed();
    QVERIFY(!id.isEmpty());

    QFile report(dumps.filePath(id + ".dmp"));
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QByteArray text = report.readAll();
    const QByteArray signalLine = "signal: " + QByteArray::number(signal)
                                  + (signal == SIGABRT ? " SIGABRT\n" : " SIGSEGV\n");
    QVERIFY2(text.contains(signalLine), text.constData());
    QVERIFY(text.contains("version: " VARLO_VERSION " (293)"));
    QVERIFY(text.contains("backtrace:\n"));
    QVERIFY(text.count('\n') > 8);

    QFile log(dumps.filePath("varlo.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logText = QString::fromUtf8(log.readAll());
    const QString message = reporter ? "Crash reporter module started\\."
                                     : "Failed to start crash reporter\\.";
    const QRegularExpression logLine(
        "(^|\n)I {9}crashhandler\\.cpp\\[[ \\d]{4} \\] \\d\\d:\\d\\d:\\d\\d \\| " + message + "\n");
    QVERIFY2(logText.contains(logLine), qPrintable(logText));
    if (!reporter)
        return;

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 10000);
    QFile called(record);
    QVERIFY(called.open(QIODevice::ReadOnly));
    const QList<QByteArray> args = called.readAll().split('\n');
    QCOMPARE(args.value(0), QByteArray("2"));
    QCOMPARE(args.value(1), QFile::encodeName(dumps.path()));
    QCOMPARE(args.value(2), id.toLatin1());
    // The faulting signal was blocked in the handler; exec would have kept it so.
    QCOMPARE(args.value(3), QByteArray("SigBlk: 0000000000000000"));
}

namespace {

// Not a tail call and the frame is used, so every level stays on the stack.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int recurseForever(int depth)
{
    volatile char frame[512];
    frame[0] = char(depth);
    return recurseForever(depth + 1) + frame[0];
}
#pragma GCC diagnostic pop

// The checks of a sanitizer build would stop it before it faults.
__attribute__((no_sanitize("undefined"))) void writeToNull()
{
    volatile int *volatile nowhere = nullptr;
    *nowhere = 1;
}

// Real faults, as the program could commit them; none returns.
void commitFault(const QByteArray &fault)
{
    if (fault == "double-free" || fault == "heap-corruption") {
        // Larger than the per-thread cache holds, so glibc frees and allocates
        // it under the arena lock; the neighbour keeps it out of the top chunk.
        char *volatile block = static_cast<char *>(std::malloc(2000));
        void *volatile neighbour = std::malloc(2000);
        Q_UNUSED(neighbour);
        std::free(block);
        if (fault == "double-free") {
            std::free(block);
        } else {
            // The freed chunk's size field, checked when the unsorted bin is searched.
            reinterpret_cast<volatile size_t *>(block)[-1] = size_t(1) << 40;
            void *volatile more = std::malloc(3000);
            Q_UNUSED(more);
        }
    } else if (fault == "stack-overflow") {
        recurseForever(0);
    } else if (fault == "null-write-thread") {
        std::thread(writeToNull).join();
    } else if (fault == "thread-stack-overflow") {
        std::thread([] {
            CrashHandler::prepareThread();
            recurseForever(0);
        }).join();
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--lock-and-die") == 0) {
        QCoreApplication::setApplicationName(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName());
        SingleInstance instance;
        if (instance.acquire() != SingleInstance::First)
            return 2;
        ::kill(::getpid(), SIGKILL);
    }
    if (argc == 4 && qstrcmp(argv[1], "--crash-child") == 0) {
        const rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        QCoreApplication app(argc, argv);
        const QString dir = QString::fromLocal8Bit(argv[3]);
        openLog(dir + "/varlo.log");
        CrashHandler handler(dir);
        // The program always runs other threads, which makes glibc lock its heap.
        std::thread([] {
            for (;;)
                ::pause();
        }).detach();
        printf("%s\n", qPrintable(handler.minidumpId()));
        fflush(stdout);
        commitFault(argv[2]);
        return 3;
    }
    QApplication app(argc, argv);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
