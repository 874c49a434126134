// What the comparison takes from the X server as "placed" and "shown":
// were either judged on the wrong window, every figure of that kind would be
// wrong without anything failing.

#include "mapwatcher.h"
#include "varlorun.h"
#include "xtestutil.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTest>

class TestX11Compare : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { XTestUtil::cleanup(); }

    // The frame's own ConfigureNotify tells the rectangle the window
    // manager's frame extents give: the rounds judge the right one.
    void frameEventsTellTheOuterFrame_data()
    {
        QTest::addColumn<QRect>("target");
        QTest::newRow("left half") << QRect(0, 0, 960, 1080);
        QTest::newRow("right third") << QRect(1280, 0, 640, 1080);
        QTest::newRow("second screen") << QRect(1920, 0, 1280, 1024);
    }
    void frameEventsTellTheOuterFrame()
    {
        QFETCH(QRect, target);
        const StartedWindow xterm = XTestUtil::startXterm(QStringLiteral("frame"));
        QVERIFY2(xterm, qPrintable(XTestUtil::lastError()));
        const QMargins frame = XTestUtil::frameExtents(xterm.window).value_or(QMargins());
        ConfigureWatcher watcher(XTestUtil::topLevelOf(xterm.window));
        const QSize client = target.marginsRemoved(frame).size();
        QVERIFY(XTestUtil::run(QStringLiteral("wmctrl"),
                               {"-i", "-r", QString::number(xterm.window), "-e",
                                QStringLiteral("0,%1,%2,%3,%4")
                                    .arg(target.x())
                                    .arg(target.y())
                                    .arg(client.width())
                                    .arg(client.height())})
                    .ok());
        QVERIFY2(
            watcher.waitFor([&] { return VarloRun::landedOn(watcher.geometrySeen(), target); }),
            qPrintable(VarloRun::describe(watcher.geometrySeen())));
        QVERIFY(XTestUtil::syncWindowManager());
        QVERIFY(XTestUtil::waitFor([&] { return VarloRun::landedOn(xterm.window, target); }));
        QCOMPARE(watcher.geometrySeen(), XTestUtil::outerFrame(xterm.window));
    }

    // A program's window counts once the server has mapped it, for that
    // program alone, whether it is framed or not.
    void mappedWindowsCountForTheirProgram_data()
    {
        QTest::addColumn<QString>("program"); // empty: varlo-testclient
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("bare Qt program") << XTestUtil::binDir() + QStringLiteral("/bench_bareqt")
                                         << QStringList{QStringLiteral("bare Qt")};
        QTest::newRow("xterm") << QStringLiteral("xterm")
                               << QStringList{QStringLiteral("counted"), QStringLiteral("-T"),
                                              QStringLiteral("counted")};
        QTest::newRow("unframed window")
            << QString()
            << QStringList{"--pid", "--override-redirect", "--geometry", "200x100+10+10"};
    }
    void mappedWindowsCountForTheirProgram()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        MapWatcher watcher;
        StartedWindow started;
        if (program.isEmpty()) {
            // No window manager takes it on: it prints its id once mapped.
            QProcess *client = XTestUtil::startProcess(XTestUtil::testClientPath(), arguments);
            QVERIFY(client);
            QVERIFY(XTestUtil::waitFor([client] { return client->canReadLine(); }));
            started = {client->readLine().trimmed().toUInt(), client->processId()};
        } else {
            // The title first, for startProgram.
            started = XTestUtil::startProgram(program, arguments.mid(1), arguments.first());
        }
        QVERIFY2(started, qPrintable(XTestUtil::lastError()));
        QVERIFY(watcher.waitFor(started.pid, 1, XTestUtil::defaultTimeoutMs));
        QVERIFY(!XTestUtil::windowsOf(started.pid).isEmpty());
        QVERIFY(XTestUtil::syncWindowManager());
        QCOMPARE(watcher.mappedOf(started.pid), 1);
        QCOMPARE(watcher.mappedOf(QCoreApplication::applicationPid()), 0);
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TestX11Compare test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_compare.moc"
