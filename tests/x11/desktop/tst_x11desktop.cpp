#include "desktopareacache.h"
#include "desktopentryindex.h"
#include "platform.h"
#include "windowinfo.h"
#include "windowmover.h"
#include "x11tools.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <memory>

using namespace X11Tools;

#define NEED_WM()                                                                                  \
    if (m_noWm)                                                                                    \
    QSKIP("needs a window manager")

// The desktop layer against a real X server with two screens (1920x1080 at
// 0,0 and 1280x1024 at 1920,0) and Openbox; with VARLO_TEST_NO_WM set, the
// server runs without a window manager.
class TestX11Desktop : public QObject
{
    Q_OBJECT

private:
    bool m_noWm = false;
    QTemporaryDir m_dataHome;

    static QRect secondScreen() { return QRect(1920, 0, 1280, 1024); }

    // xterm only takes sizes of whole character cells.
    static QSize cellAligned(WId window, const QSize &approximate)
    {
        const QString hints = X11Tools::property(window, "WM_NORMAL_HINTS");
        const QRegularExpressionMatch inc =
            QRegularExpression(QStringLiteral("resize increment: (\\d+) by (\\d+)")).match(hints);
        const QRect outer = outerRect(window);
        if (!inc.hasMatch())
            return approximate;
        const int iw = inc.captured(1).toInt(), ih = inc.captured(2).toInt();
        return QSize(outer.width() + (approximate.width() - outer.width()) / iw * iw,
                     outer.height() + (approximate.height() - outer.height()) / ih * ih);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(Platform::instance()->backendName(), QStringLiteral("x11"));
        m_noWm = qEnvironmentVariableIsSet("VARLO_TEST_NO_WM");
        QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
        if (dataHome.isEmpty()) {
            dataHome = m_dataHome.path();
            qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
        }
        QVERIFY(QDir().mkpath(dataHome + QStringLiteral("/applications")));
        QFile entry(dataHome + QStringLiteral("/applications/varlo-test-terminal.desktop"));
        QVERIFY(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
        entry.write("[Desktop Entry]\nType=Application\nName=Test Terminal\nName[de]=Testterminal\n"
                    "Exec=xterm\nIcon=utilities-terminal\n");
        entry.close();
        DesktopEntryIndex::instance()->setLocaleName(QStringLiteral("en_GB"));
        QTest::failOnWarning(QRegularExpression(QStringLiteral("XCB error")));
    }

    void screens()
    {
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        QCOMPARE(cache->screenCount(), 2);
        QCOMPARE(QGuiApplication::screens().at(1)->geometry(), secondScreen());
        QVERIFY(secondScreen().contains(cache->availableGeometry(1)));
        QCOMPARE(screenAt(QPoint(2500, 500)), 1);
        QCOMPARE(screenForRect(1900, 0, 2400, 300), 1);
        run(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("2500"), QStringLiteral("600")});
        QTRY_COMPARE(screenAtCursor(), 1);
    }

    void identifiesTheForegroundWindow()
    {
        NEED_WM();
        Xterm xterm = startXterm(QStringLiteral("varlo-term-a"));
        const WId term = xterm.window;
        QVERIFY(term);
        activate(term);
        QTRY_COMPARE(activeWindow(), term);

        QCOMPARE(foregroundWindow(), term);
        QVERIFY(isEligibleWindow(term));
        QVERIFY(!isOwnWindow(term));
        QCOMPARE(windowTitle(term), QStringLiteral("varlo-term-a"));
        const QString program =
            QFileInfo(QStandardPaths::findExecutable(QStringLiteral("xterm"))).canonicalFilePath();
        QCOMPARE(windowProcessPath(term), program);
        const WindowInfo info = foregroundWindowInfo();
        QCOMPARE(info.hwnd, term);
        QCOMPARE(info.path, program);
        QCOMPARE(info.name, QStringLiteral("Test Terminal"));
        QVERIFY(!info.icon.isNull());
    }

    void minimisedAndToolWindows()
    {
        NEED_WM();
        Xterm xterm = startXterm(QStringLiteral("varlo-term-min"));
        const WId term = xterm.window;
        QVERIFY(term);
        // Iconified windows are unmapped, yet still count as there.
        run(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), QString::number(term)});
        QTRY_VERIFY(X11Tools::property(term, "_NET_WM_STATE").contains(QLatin1String("HIDDEN")));
        QVERIFY(isEligibleWindow(term));

        const QString testClient =
            qEnvironmentVariable("VARLO_BIN_DIR") + QStringLiteral("/varlo-testclient");
        if (!QFileInfo(testClient).isExecutable())
            QSKIP("varlo-testclient is not built");
        Client tool(testClient, {QStringLiteral("--title"), QStringLiteral("varlo-palette"),
                                 QStringLiteral("--type"), QStringLiteral("utility")});
        const WId palette = findWindow(QStringLiteral("varlo-palette"));
        QVERIFY(palette);
        WindowInfo info;
        info.hwnd = palette;
        info.path = windowProcessPath(palette);
        QCOMPARE(info.path, QFileInfo(testClient).canonicalFilePath());
        QCOMPARE(applicationName(info), QStringLiteral("varlo-palette"));
    }

    void namesARuntimeAfterItsScript()
    {
        NEED_WM();
        const QString wish = QStandardPaths::findExecutable(QStringLiteral("wish"));
        if (wish.isEmpty())
            QSKIP("wish (Tk) is not installed");
        const QString script = m_dataHome.path() + QStringLiteral("/viewer.tcl");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("wm title . varlo-tk-viewer\nwm geometry . 300x200+400+300\n");
        file.close();
        QFile entry(qEnvironmentVariable("XDG_DATA_HOME") +
                    QStringLiteral("/applications/varlo-tk-viewer.desktop"));
        QVERIFY(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
        entry.write("[Desktop Entry]\nType=Application\nName=Tk Viewer\nExec=wish " +
                    script.toUtf8() + " %f\n");
        entry.close();

        Client client(wish, {script});
        const WId window = findWindow(QStringLiteral("varlo-tk-viewer"));
        QVERIFY(window);
        activate(window);
        QTRY_COMPARE(activeWindow(), window);
        QCOMPARE(windowProcessPath(window), script);
        // The index notices the new entry through its folder watch.
        QTRY_COMPARE(foregroundWindowInfo().name, QStringLiteral("Tk Viewer"));
    }

    void ownAndShellWindowsAreNeverChosen()
    {
        NEED_WM();
        const Xterm xtermA = startXterm(QStringLiteral("varlo-term-b"));
        const WId a = xtermA.window;
        QVERIFY(a);
        activate(a);
        QTRY_COMPARE(activeWindow(), a);
        QCOMPARE(foregroundWindow(), a);

        // Our own panel in front: the remembered window stays.
        QWidget panel;
        panel.setWindowTitle(QStringLiteral("Varlo panel"));
        panel.setGeometry(300, 300, 200, 100);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        activate(panel.winId());
        QTRY_COMPARE(activeWindow(), panel.winId());
        QVERIFY(isOwnWindow(panel.winId()));
        QCOMPARE(foregroundWindow(), a);

        // A desktop window in front, above everything: the topmost eligible
        // window that is not ours is chosen.
        const Xterm xtermB = startXterm(QStringLiteral("varlo-term-c"));
        const WId b = xtermB.window;
        QVERIFY(b);
        setXProperty(b, QStringLiteral("_NET_WM_WINDOW_TYPE"), QStringLiteral("32a"),
                     QStringLiteral("_NET_WM_WINDOW_TYPE_DESKTOP"));
        activate(panel.winId());
        QTRY_COMPARE(activeWindow(), panel.winId());
        activate(b);
        QTRY_COMPARE(activeWindow(), b);
        QVERIFY(!isEligibleWindow(b));
        QCOMPARE(foregroundWindow(), a);
    }

    void placesAnXtermOnTheSecondScreen()
    {
        NEED_WM();
        Xterm xterm = startXterm(QStringLiteral("varlo-term-d"));
        const WId term = xterm.window;
        QVERIFY(term);
        const QSize size = cellAligned(term, QSize(700, 500));
        const QRect target(QPoint(secondScreen().x() + 100, 60), size);
        applyWindowRect(target, 1.0f, false, true, term);
        QTRY_COMPARE(outerRect(term), target);

        // Back to the first screen, with the foreground window.
        activate(term);
        QTRY_COMPARE(activeWindow(), term);
        const QRect back(QPoint(40, 30), size);
        applyWindowRect(back, 1.0f, false, true, kForegroundWindow);
        QTRY_COMPARE(outerRect(term), back);
    }

    void visibleFrameOfAClientSideDecoratedWindow()
    {
        NEED_WM();
        const QString testClient =
            qEnvironmentVariable("VARLO_BIN_DIR") + QStringLiteral("/varlo-testclient");
        if (!QFileInfo(testClient).isExecutable())
            QSKIP("varlo-testclient is not built");
        Client client(testClient, {QStringLiteral("--title"), QStringLiteral("varlo-csd"),
                                   QStringLiteral("--geometry"), QStringLiteral("300x200+50+50"),
                                   QStringLiteral("--csd"), QStringLiteral("10,10,6,14")});
        const WId window = findWindow(QStringLiteral("varlo-csd"));
        QVERIFY(window);
        QTRY_COMPARE(cardinals(window, "_GTK_FRAME_EXTENTS").size(), 4);
        const QRect target(secondScreen().x() + 200, 100, 640, 480);
        applyWindowRect(target, 1.0f, false, true, window);
        const QList<int> gtk = cardinals(window, "_GTK_FRAME_EXTENTS"); // left, right, top, bottom
        QTRY_COMPARE(outerRect(window).adjusted(gtk[0], gtk[2], -gtk[1], -gtk[3]), target);
    }

    void maximisesOnTheTargetScreen()
    {
        NEED_WM();
        Xterm xterm = startXterm(QStringLiteral("varlo-term-e"), QStringLiteral("80x24+100+100"));
        const WId term = xterm.window;
        QVERIFY(term);
        applyWindowRect(QRect(secondScreen().x() + 50, 50, 600, 400), 1.0f, true, true, term);
        QTRY_VERIFY(isMaximized(term));
        QTRY_VERIFY(secondScreen().contains(clientRect(term).center()));
        QVERIFY(clientRect(term).width() > 1000);

        // Placing a maximised window restores it first.
        const QSize size = cellAligned(term, QSize(500, 300));
        const QRect target(QPoint(200, 150), size);
        applyWindowRect(target, 1.0f, false, true, term);
        QTRY_VERIFY(!isMaximized(term));
        QTRY_COMPARE(outerRect(term).topLeft(), target.topLeft());
    }

    void vanishedWindowIsLeftAlone()
    {
        Xterm xterm = startXterm(QStringLiteral("varlo-term-f"));
        const WId term = xterm.window;
        QVERIFY(term);
        xterm.client.reset();
        QTRY_VERIFY(!findWindow(QStringLiteral("varlo-term-f"), 100));
        QTest::ignoreMessage(QtDebugMsg,
                             QRegularExpression(QStringLiteral("is gone, nothing was placed")));
        applyWindowRect(QRect(100, 100, 400, 300), 1.0f, false, true, term);
        applyWindowRect(QRect(100, 100, 400, 300), 1.0f, true, true, term);
        QVERIFY(!isEligibleWindow(term));
        QCOMPARE(windowProcessPath(term), QString());
        QCOMPARE(windowScaleFactor(term), 1.0f);
        // Requests that race with the window's end.
        Platform::instance()->moveResizeWindow(term, QPoint(10, 10), QSize(100, 100));
        Platform::instance()->raiseWindow(term);
        Platform::instance()->setWindowMaximized(term, true);
        QTest::qWait(200); // any X error would arrive now
    }

    void placesWithoutAWindowManager()
    {
        if (!m_noWm)
            QSKIP("runs on a server without a window manager");
        Xterm xterm = startXterm(QStringLiteral("varlo-term-g"));
        const WId term = xterm.window;
        QVERIFY(term);
        const QRect target(secondScreen().x() + 10, 20, 500, 300);
        applyWindowRect(target, 1.0f, false, true, term);
        QTRY_COMPARE(clientRect(term), target);
    }

    void dockShrinksTheWorkArea()
    {
        NEED_WM();
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        const QRect before = cache->availableGeometry(1);
        Xterm xterm = startXterm(QStringLiteral("varlo-dock"), QStringLiteral("80x2+1920+0"));
        const WId dock = xterm.window;
        QVERIFY(dock);
        setXProperty(dock, QStringLiteral("_NET_WM_WINDOW_TYPE"), QStringLiteral("32a"),
                     QStringLiteral("_NET_WM_WINDOW_TYPE_DOCK"));
        setXProperty(dock, QStringLiteral("_NET_WM_STRUT_PARTIAL"), QStringLiteral("32c"),
                     QStringLiteral("0, 0, 40, 0, 0, 0, 0, 0, 1920, 3199, 0, 0"));
        QTRY_COMPARE(cache->availableGeometry(1).top(), 40);
        QCOMPARE(cache->availableGeometry(1).bottom(), before.bottom());
        QVERIFY(!isEligibleWindow(dock));
        xterm.client.reset();
        QTRY_COMPARE(cache->availableGeometry(1), before);
    }

    // Last: it changes the screens.
    void unpluggedScreenLeavesTheCache()
    {
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        const QString modes = run(QStringLiteral("xrandr"), {});
        const QRegularExpressionMatch current =
            QRegularExpression(
                QStringLiteral(
                    "DUMMY1 connected[^\\n]*\\n(?:\\s+\\S+[^\\n]*\\n)*?\\s+(\\S+)\\s+[0-9.]+\\*"))
                .match(modes);
        run(QStringLiteral("xrandr"),
            {QStringLiteral("--output"), QStringLiteral("DUMMY1"), QStringLiteral("--off")});
        QTRY_COMPARE(cache->screenCount(), 1);
        QCOMPARE(cache->availableGeometry(1), QRect());
        QCOMPARE(screenAt(QPoint(2500, 500)), 0);
        QCOMPARE(screenForRect(2000, 0, 2400, 300), 0);
        if (current.hasMatch()) {
            run(QStringLiteral("xrandr"),
                {QStringLiteral("--output"), QStringLiteral("DUMMY1"), QStringLiteral("--mode"),
                 current.captured(1), QStringLiteral("--pos"), QStringLiteral("1920x0")});
            QTRY_COMPARE(cache->screenCount(), 2);
            QTRY_COMPARE(QGuiApplication::screens().at(1)->geometry(), secondScreen());
        }
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestX11Desktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11desktop.moc"
