// Varlo itself, started as a user would start it, on a real X server.

#include "crashenvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString varloPath()
{
    return qEnvironmentVariable("VARLO_BIN_DIR") + QStringLiteral("/Varlo");
}

// One user's session: its own runtime, config and cache folders.
struct Session
{
    QTemporaryDir root;
    QString runtime() const { return root.filePath("runtime"); }
    QString config() const { return root.filePath("config"); }
    QString logPath() const { return runtime() + "/varlo.log"; }

    Session()
    {
        QDir().mkpath(runtime());
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(config());
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime());
        env.insert("XDG_CONFIG_HOME", config());
        env.insert("XDG_CACHE_HOME", root.filePath("cache"));
        env.insert("XDG_DATA_HOME", root.filePath("data"));
        return env;
    }

    std::unique_ptr<QProcess> start(const QStringList &args = {}, QProcessEnvironment env = {}) const
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env.isEmpty() ? environment() : env);
        p->start(varloPath(), args);
        p->waitForStarted(10000);
        return p;
    }

    QString log() const
    {
        QFile f(logPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll());
    }

    bool waitForLog(const QString &text, int count = 1, int timeoutMs = 15000) const
    {
        return QTest::qWaitFor([&] { return log().count(text) >= count; }, timeoutMs);
    }
};

bool stop(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return true;
    p.terminate();
    if (p.waitForFinished(10000))
        return true;
    p.kill();
    p.waitForFinished(5000);
    return false;
}

const QString kReady = QStringLiteral("| Finished application initialization.");
const QString kShown = QStringLiteral("| Showing the panels.");
const QString kWoken = QStringLiteral("| Woken up by a second start (");
const QString kBackground = QStringLiteral("| Started in the background.");
const QString kCleanUp = QStringLiteral("| Cleaning up...");

} // namespace

class TestX11Startup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstStartWritesDefaultsAndLogs();
    void secondStartExitsAndWakesTheFirst();
    void backgroundArgument_data();
    void backgroundArgument();
    void manyStartsAtOnceLeaveOneInstance();
    void lockOfAKilledInstanceDoesNotBlock();
    void terminationCleansUp();
    void terminationDuringStartUp();
    void crashLeavesReportAndStartsReporter_data();
    void crashLeavesReportAndStartsReporter();
    void unwritableLogFolderStillRuns();
    void noDisplayIsOneClearLine();
    void wakeUpsAreTakenOnlyOnceReady();
    void hungInstanceIsNamedAndTheStartFails();
    void listenFailureIsLogged();
};

void TestX11Startup::firstStartWritesDefaultsAndLogs()
{
    Session s;
    auto varlo = s.start();
    QVERIFY2(s.waitForLog(kReady), qPrintable(s.log()));
    QVERIFY(s.log().contains(QRegularExpression("I +application\\.cpp\\[ +\\d+ \\] \\d\\d:\\d\\d:\\d\\d \\| Screen 0 : QRect\\(")));
    QVERIFY(stop(*varlo));
    QCOMPARE(varlo->exitCode(), 0);
    QVERIFY(s.log().contains("| Cleaning up..."));

    // Automatic update checking starts with the program and keeps the
    // reference time of its daily schedule beside the 27 defaults.
    QVERIFY(s.log().contains(" seconds till next update check."));
    QSettings settings(s.config() + "/Orrith LLC/Varlo.conf", QSettings::IniFormat);
    QCOMPARE(settings.allKeys().size(), 28);
    QVERIFY(settings.value("update/lastupdate").toDateTime().isValid());
    QCOMPARE(settings.value("first_launch").toBool(), false);
    QCOMPARE(settings.value("grid/subdivided").toBool(), false);
    QCOMPARE(settings.value("grid/size").toSize(), QSize(6, 6));
}

void TestX11Startup::secondStartExitsAndWakesTheFirst()
{
    Session s;
    auto first = s.start();
    QVERIFY2(s.waitForLog(kReady), qPrintable(s.log()));

    for (int i = 1; i <= 2; ++i) {
        auto second = s.start();
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY2(s.waitForLog(kWoken, i), qPrintable(s.log()));
    }
    QCOMPARE(first->state(), QProcess::Running);
    QVERIFY(stop(*first));
    QCOMPARE(first->exitCode(), 0);
    // The log is complete once the first instance has cleaned up.
    QVERIFY(s.log().contains(kCleanUp));
    QCOMPARE(s.log().count(kWoken), 2);
}

void TestX11Startup::backgroundArgument_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("shown");
    QTest::newRow("plain") << QStringList() << true;
    QTest::newRow("background") << QStringList{"-background"} << false;
    QTest::newRow("background later") << QStringList{"-x", "-background"} << false;
    QTest::newRow("other case") << QStringList{"-Background"} << true;
}

void TestX11Startup::backgroundArgument()
{
    QFETCH(QStringList, args);
    QFETCH(bool, shown);
    Session s;
    auto varlo = s.start(args);
    QVERIFY2(s.waitForLog(shown ? kShown : kBackground), qPrintable(s.log()));
    QVERIFY(stop(*varlo));
    QCOMPARE(varlo->exitCode(), 0);
    QVERIFY(s.log().contains(kCleanUp));
    QVERIFY2(!s.log().contains(shown ? kBackground : kShown), qPrintable(s.log()));
}

void TestX11Startup::manyStartsAtOnceLeaveOneInstance()
{
    Session s;
    std::vector<std::unique_ptr<QProcess>> starts;
    for (int i = 0; i < 20; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(s.environment());
        p->start(varloPath(), {});
        starts.push_back(std::move(p));
    }
    // Nineteen end by themselves with 0; one stays.
    int finished = 0;
    (void)QTest::qWaitFor(
        [&] {
            finished = 0;
            for (auto &p : starts)
                finished += p->state() == QProcess::NotRunning;
            return finished >= 19;
        },
        30000);
    QCOMPARE(finished, 19);
    QProcess *survivor = nullptr;
    for (auto &p : starts) {
        if (p->state() == QProcess::Running) {
            survivor = p.get();
        } else {
            QVERIFY2(p->exitStatus() == QProcess::NormalExit, p->readAllStandardError().constData());
            QCOMPARE(p->exitCode(), 0);
        }
    }
    QVERIFY(survivor);
    QVERIFY2(s.waitForLog(kWoken, 19), qPrintable(s.log()));
    QCOMPARE(s.log().count(kReady), 1);
    // It ran until it was told to end.
    QVERIFY(stop(*survivor));
    QCOMPARE(survivor->exitCode(), 0);
    QCOMPARE(s.log().count("| Termination signal received."), 1);
}

void TestX11Startup::lockOfAKilledInstanceDoesNotBlock()
{
    Session s;
    auto first = s.start();
    QVERIFY(s.waitForLog(kReady));
    ::kill(pid_t(first->processId()), SIGKILL);
    QVERIFY(first->waitForFinished(5000));
    QVERIFY(!QDir(s.runtime()).entryList({"ORRITH_VARLO*"}).isEmpty()); // the lock is left behind
    QFile::remove(s.logPath()); // so that the next start's own lines are waited for

    auto next = s.start();
    QVERIFY2(s.waitForLog(kReady), qPrintable(s.log()));
    QCOMPARE(next->state(), QProcess::Running);
    auto third = s.start();
    QVERIFY(third->waitForFinished(10000));
    QCOMPARE(third->exitCode(), 0);
    QVERIFY(s.waitForLog(kWoken));
    QVERIFY(stop(*next));
    QCOMPARE(next->exitCode(), 0);
}

void TestX11Startup::terminationCleansUp()
{
    for (int sig : {SIGTERM, SIGINT}) {
        Session s;
        auto varlo = s.start();
        QVERIFY(s.waitForLog(kReady));
        ::kill(pid_t(varlo->processId()), sig);
        QVERIFY(varlo->waitForFinished(10000));
        QCOMPARE(varlo->exitStatus(), QProcess::NormalExit);
        QCOMPARE(varlo->exitCode(), 0);
        QVERIFY(s.log().contains("| Cleaning up..."));
        QVERIFY(QDir(s.runtime()).entryList({"ORRITH_VARLO*", "VarloBroadcast*"}).isEmpty());
    }
}

void TestX11Startup::terminationDuringStartUp()
{
    // A logout can come while the panels are still being shown: the
    // signal must end the program all the same.
    for (int i = 0; i < 5; ++i) {
        Session s;
        auto varlo = s.start();
        QVERIFY(s.waitForLog(kShown));
        ::kill(pid_t(varlo->processId()), SIGTERM);
        QVERIFY2(varlo->waitForFinished(8000), qPrintable(s.log()));
        QCOMPARE(varlo->exitStatus(), QProcess::NormalExit);
        QCOMPARE(varlo->exitCode(), 0);
    }
}

void TestX11Startup::crashLeavesReportAndStartsReporter_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QByteArray>("signalLine");
    QTest::newRow("null write") << "null-write" << SIGSEGV << QByteArray("signal: 11 SIGSEGV\n");
    // glibc notices it while holding a heap lock.
    QTest::newRow("double free") << "double-free" << SIGABRT << QByteArray("signal: 6 SIGABRT\n");
}

void TestX11Startup::crashLeavesReportAndStartsReporter()
{
    QFETCH(QString, fault);
    QFETCH(int, signal);
    QFETCH(QByteArray, signalLine);
    Session s;
    QTemporaryDir bin;
    QTemporaryDir trigger;
    const QString record = bin.filePath("called");
    {
        QFile f(bin.filePath("CrashReporter"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" \"$2\" > '%1.tmp'\nmv '%1.tmp' '%1'\n")
                    .arg(record).toUtf8());
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QProcessEnvironment env = s.environment();
    env.insert("PATH", bin.path() + ":" + env.value("PATH"));
    // A test-only library preloaded into Varlo commits the fault on request,
    // from a thread of its own.
    env.insert("LD_PRELOAD", VARLO_FAULT_TRIGGER);
    env.insert("VARLO_FAULT_DIR", trigger.path());
    letTheCrashHandlerSeeFaults(env);
    auto varlo = s.start({}, env);
    QVERIFY(s.waitForLog(kReady));
    QVERIFY(s.log().contains("| Initializing google breakpad crash handler."));

    const pid_t pid = pid_t(varlo->processId());
    QFile request(trigger.filePath(fault));
    QVERIFY(request.open(QIODevice::WriteOnly));
    request.close();
    QVERIFY2(varlo->waitForFinished(20000), qPrintable(s.log()));
    // Ended by the fault's signal, not by the handler's alarm.
    QCOMPARE(varlo->exitStatus(), QProcess::CrashExit);
    QCOMPARE(varlo->exitCode(), signal);

    const QStringList reports = QDir(s.runtime()).entryList({"*.dmp"});
    QCOMPARE(reports.size(), 1);
    QFile report(s.runtime() + "/" + reports.first());
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QByteArray text = report.readAll();
    QVERIFY2(text.contains(signalLine), text.constData());
    QVERIFY(text.contains(QByteArray("pid: ") + QByteArray::number(pid)));

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 10000);
    QFile called(record);
    QVERIFY(called.open(QIODevice::ReadOnly));
    const QList<QByteArray> args = called.readAll().split('\n');
    QCOMPARE(args.value(0), QByteArray("2"));
    QCOMPARE(args.value(1), QFile::encodeName(s.runtime()));
    QCOMPARE(args.value(2) + ".dmp", reports.first().toLatin1());
    QVERIFY(s.log().contains("| Crash reporter module started.\n"));
}

void TestX11Startup::unwritableLogFolderStillRuns()
{
    Session s;
    QProcessEnvironment env = s.environment();
    env.remove("XDG_RUNTIME_DIR");
    // The cache "folder" is a file: no private folder can be made.
    QFile blocker(s.root.filePath("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    env.insert("XDG_CACHE_HOME", blocker.fileName());
    auto varlo = s.start({}, env);
    QElapsedTimer t;
    t.start();
    QByteArray err;
    while (t.elapsed() < 15000 && !err.contains("Finished application initialization.")) {
        varlo->waitForReadyRead(100);
        err += varlo->readAllStandardError();
    }
    QVERIFY2(err.contains("Finished application initialization."), err.constData());
    QCOMPARE(varlo->state(), QProcess::Running);
    QVERIFY(stop(*varlo));
    QCOMPARE(varlo->exitCode(), 0);
}

void TestX11Startup::noDisplayIsOneClearLine()
{
    Session s;
    QProcessEnvironment env = s.environment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.remove("WAYLAND_DISPLAY");
    auto varlo = s.start({}, env);
    QVERIFY(varlo->waitForFinished(10000));
    QCOMPARE(varlo->exitStatus(), QProcess::NormalExit);
    QVERIFY(varlo->exitCode() != 0);
    const QByteArray err = varlo->readAllStandardError();
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.contains("DISPLAY"), err.constData());

    env.insert("DISPLAY", ":999");
    auto refused = s.start({}, env);
    QVERIFY(refused->waitForFinished(10000));
    QVERIFY(refused->exitCode() != 0);
    QCOMPARE(refused->readAllStandardError().count('\n'), 1);
}

void TestX11Startup::wakeUpsAreTakenOnlyOnceReady()
{
    // The socket is what a second start knocks on: it must not exist while
    // the panels are still being built.
    Session s;
    auto varlo = s.start();
    QElapsedTimer t;
    t.start();
    const QDir runtime(s.runtime());
    while (runtime.entryList({"VarloBroadcast*"}, QDir::System).isEmpty() && t.elapsed() < 15000
           && varlo->state() == QProcess::Running)
        QThread::usleep(200);
    QVERIFY2(!runtime.entryList({"VarloBroadcast*"}, QDir::System).isEmpty(), qPrintable(s.log()));
    QVERIFY2(s.log().contains(kReady), qPrintable(s.log()));
    QVERIFY(stop(*varlo));
}

void TestX11Startup::hungInstanceIsNamedAndTheStartFails()
{
    Session s;
    auto first = s.start();
    QVERIFY(s.waitForLog(kReady));
    const pid_t pid = pid_t(first->processId());
    ::kill(pid, SIGSTOP);
    auto second = s.start();
    const bool finished = second->waitForFinished(30000);
    ::kill(pid, SIGCONT);
    QVERIFY(finished);
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 1);
    const QByteArray err = second->readAllStandardError();
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.contains("process " + QByteArray::number(pid)), err.constData());
    QVERIFY(!s.log().contains(kWoken));
    QVERIFY(stop(*first));
}

void TestX11Startup::listenFailureIsLogged()
{
    Session s;
    // Something that is not a socket sits where the socket goes.
    const QString scope = qEnvironmentVariable("DISPLAY").section(':', 1).section('.', 0, 0);
    QVERIFY(QDir().mkpath(s.runtime() + "/VarloBroadcast-" + scope + "/x"));
    auto varlo = s.start();
    QVERIFY2(s.waitForLog("| Cannot listen for a second start"), qPrintable(s.log()));
    QVERIFY(s.log().contains(kReady));
    QCOMPARE(varlo->state(), QProcess::Running);
    QVERIFY(stop(*varlo));
}

QTEST_GUILESS_MAIN(TestX11Startup)
#include "tst_x11_startup.moc"
