#include "application.h"
#include "crashhandler.h"
#include "dpimetrics.h"
#include "eventlog.h"
#include "paths.h"
#include "singleinstance.h"

#include <QLocalServer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void backgroundArgument_data();
    void backgroundArgument();
    void mulDivRounding_data();
    void mulDivRounding();
    void displayScope_data();
    void displayScope();
    void privateTempDirRefusesSharedFolders();
    void secondLockIsRefused();
    void lockOfAKilledProcessIsTakenOver();
    void wakeUpReachesTheListener();
    void crashLeavesAReportAndStartsTheReporter();
    void crashWithoutReporterIsLogged();
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
    f.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" \"$2\" > '%1.tmp'\nmv '%1.tmp' '%1'\n")
                .arg(record)
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

void TestStartup::crashLeavesAReportAndStartsTheReporter()
{
    QTemporaryDir dumps;
    QTemporaryDir bin;
    const QString record = bin.filePath("called");
    writeReporter(bin.path(), record);

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", bin.path() + ":" + env.value("PATH"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--crash-child", dumps.path()});
    QVERIFY(child.waitForFinished(20000));
    // The signal still ends the process.
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    const QString id = QString::fromLatin1(child.readAllStandardOutput()).trimmed();
    QVERIFY(!id.isEmpty());

    QFile report(dumps.filePath(id + ".dmp"));
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QByteArray text = report.readAll();
    QVERIFY2(text.contains("signal: 11 SIGSEGV"), text.constData());
    QVERIFY(text.contains("version: " VARLO_VERSION " (293)"));
    QVERIFY(text.contains("backtrace:\n"));
    QVERIFY(text.count('\n') > 8);

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 5000);
    QFile called(record);
    QVERIFY(called.open(QIODevice::ReadOnly));
    const QList<QByteArray> args = called.readAll().split('\n');
    QCOMPARE(args.value(0), QByteArray("2"));
    QCOMPARE(args.value(1), QFile::encodeName(dumps.path()));
    QCOMPARE(args.value(2), id.toLatin1());

    QFile log(dumps.filePath("varlo.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray logText = log.readAll();
    QVERIFY2(logText.contains("crashhandler.cpp[") && logText.contains("| Crash reporter module started.\n"),
             logText.constData());
}

void TestStartup::crashWithoutReporterIsLogged()
{
    QTemporaryDir dumps;
    QTemporaryDir emptyBin;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", emptyBin.path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--crash-child", dumps.path()});
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QFile log(dumps.filePath("varlo.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("| Failed to start crash reporter.\n"));
}

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--lock-and-die") == 0) {
        QCoreApplication::setApplicationName(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName());
        SingleInstance instance;
        if (instance.acquire() != SingleInstance::First)
            return 2;
        ::kill(::getpid(), SIGKILL);
    }
    if (argc == 3 && qstrcmp(argv[1], "--crash-child") == 0) {
        QCoreApplication app(argc, argv);
        const QString dir = QString::fromLocal8Bit(argv[2]);
        openLog(dir + "/varlo.log");
        CrashHandler handler(dir);
        printf("%s\n", qPrintable(handler.minidumpId()));
        fflush(stdout);
        ::raise(SIGSEGV);
        return 3;
    }
    QApplication app(argc, argv);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
