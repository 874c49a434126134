// The desktop layer against a real X server with two screens (1920x1080 at
// 0,0 and 1280x1024 at 1920,0) and Openbox; with VARLO_TEST_NO_WM set, the
// server runs without a window manager. What the server reports is read on
// the helpers' own connection; our backend's answers are polled until they
// agree with it, or checked once Qt has caught up with the server.

#include "desktopareacache.h"
#include "desktopentryindex.h"
#include "platform.h"
#include "windowinfo.h"
#include "windowmover.h"
#include "xtestutil.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#define NEED_WM()                                                                                  \
    if (m_noWm)                                                                                    \
    QSKIP("needs a window manager")

namespace {

QRect firstScreen()
{
    return QRect(0, 0, 1920, 1080);
}

QRect secondScreen()
{
    return QRect(1920, 0, 1280, 1024);
}

QList<QRect> wholeScreens()
{
    return {firstScreen(), secondScreen()};
}

bool xprop(const QStringList &arguments)
{
    const CommandResult result = XTestUtil::run(QStringLiteral("xprop"), arguments);
    if (!result.ok())
        qWarning() << "xprop" << arguments << "failed:" << result.standardError;
    return result.ok();
}

QRect backendOuterFrame(WId window)
{
    return WindowChrome::outerFrame(Platform::instance()->windowGeometry(window));
}

// xterm takes whole character cells only: the largest outer size up to
// approximate that its base size, increments and frame allow.
QSize cellAligned(quint32 window, const QSize &approximate)
{
    // WM_SIZE_HINTS: flags, 4 unused, min, max, increments, aspects, base.
    const QList<quint32> hints = XTestUtil::cardinalProperty(window, "WM_NORMAL_HINTS");
    const QMargins frame = XTestUtil::frameExtents(window).value_or(QMargins());
    const quint32 kResizeInc = 64, kBaseSize = 256, kMinSize = 16;
    if (hints.size() < 17 || !(hints[0] & kResizeInc))
        return approximate;
    const int baseIndex = (hints[0] & kBaseSize) ? 15 : (hints[0] & kMinSize) ? 5 : -1;
    const QSize base =
        baseIndex < 0 ? QSize(0, 0) : QSize(int(hints[baseIndex]), int(hints[baseIndex + 1]));
    const QSize chrome(frame.left() + frame.right(), frame.top() + frame.bottom());
    const QSize room = approximate - chrome - base;
    const int incW = int(hints[9]), incH = int(hints[10]);
    return chrome + base + QSize(room.width() / incW * incW, room.height() / incH * incH);
}

bool waitForOuterFrame(quint32 window, const QRect &expected)
{
    return XTestUtil::waitFor([&] { return XTestUtil::outerFrame(window) == expected; });
}

QString describe(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

class TestX11Desktop : public QObject
{
    Q_OBJECT

private:
    bool m_noWm = false;
    QTemporaryDir m_scratch;
    QString m_applications;
    qsizetype m_errorsBefore = 0;

    QStringList newXErrors() const { return XTestUtil::qtXErrors().mid(m_errorsBefore); }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(Platform::instance()->backendName(), QStringLiteral("x11"));
        QVERIFY2(XTestUtil::xrunServer() == QLatin1String("xorg"),
                 "needs Xorg with the dummy driver for its two screens");
        m_noWm = qEnvironmentVariableIsSet("VARLO_TEST_NO_WM");
        const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
        QVERIFY2(!dataHome.isEmpty(), "run this test under tests/support/xrun");
        m_applications = dataHome + QStringLiteral("/applications");
        QVERIFY(QDir().mkpath(m_applications));

        // An icon of its own, so that the one shown is known to come from the entry.
        const QString icon = m_scratch.filePath(QStringLiteral("test-terminal.png"));
        QImage red(32, 32, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(icon));
        QFile entry(m_applications + QStringLiteral("/varlo-test-terminal.desktop"));
        QVERIFY(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
        entry.write("[Desktop Entry]\nType=Application\nName=Test Terminal\nName[de]=Testterminal\n"
                    "Exec=xterm\nIcon=" +
                    QFile::encodeName(icon) + "\n");
        entry.close();
        DesktopEntryIndex::instance()->setLocaleName(QStringLiteral("en_GB"));
        XTestUtil::qtXErrors(); // counted from here on
    }

    void init() { m_errorsBefore = XTestUtil::qtXErrors().size(); }

    void cleanup()
    {
        XTestUtil::cleanup();
        resetRememberedWindow();
        // No request of ours, nor Qt's, may draw an X error.
        QVERIFY2(XTestUtil::syncQt(), qPrintable(XTestUtil::lastError()));
        QCOMPARE(newXErrors(), QStringList());
    }

    void screens()
    {
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        QCOMPARE(cache->screenCount(), 2);
        QCOMPARE(QGuiApplication::screens().at(1)->geometry(), secondScreen());
        QCOMPARE(cache->availableGeometry(1), secondScreen());
        QCOMPARE(screenAt(QPoint(2500, 500)), 1);
        QCOMPARE(screenForRect(1900, 0, 2400, 300), 1);
        QVERIFY2(XTestUtil::movePointer(QPoint(500, 500)), qPrintable(XTestUtil::lastError()));
        QTRY_COMPARE(screenAtCursor(), 0);
        QVERIFY2(XTestUtil::movePointer(QPoint(2500, 600)), qPrintable(XTestUtil::lastError()));
        QTRY_COMPARE(screenAtCursor(), 1);
    }

    void identifiesTheForegroundWindow()
    {
        NEED_WM();
        const StartedWindow term = XTestUtil::startXterm(QStringLiteral("varlo-term-a"));
        QVERIFY2(term, qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::activate(term.window), qPrintable(XTestUtil::lastError()));
        QTRY_COMPARE(foregroundWindow(), WId(term.window));
        QVERIFY(!isOwnWindow(term.window));
        QCOMPARE(windowTitle(term.window), QStringLiteral("varlo-term-a"));

        const QString program =
            QFileInfo(QStandardPaths::findExecutable(QStringLiteral("xterm"))).canonicalFilePath();
        const WindowInfo info = foregroundWindowInfo();
        QCOMPARE(info.hwnd, WId(term.window));
        QCOMPARE(info.path, program);
        QCOMPARE(info.name, QStringLiteral("Test Terminal"));
        QCOMPARE(info.icon.pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
    }

    void minimisedWindowStaysEligible()
    {
        NEED_WM();
        const StartedWindow term = XTestUtil::startXterm(QStringLiteral("varlo-term-min"));
        QVERIFY2(term, qPrintable(XTestUtil::lastError()));
        // Iconified windows are unmapped, yet still count as there. Not asked
        // about before, so the backend reads the iconified window afresh.
        QVERIFY2(XTestUtil::minimize(term.window), qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::syncQt(), qPrintable(XTestUtil::lastError()));
        QVERIFY(isEligibleWindow(term.window));
    }

    void toolWindowIsNamedByItsTitle()
    {
        const StartedWindow palette =
            XTestUtil::startTestClient({QStringLiteral("--title"), QStringLiteral("varlo-palette"),
                                        QStringLiteral("--type"), QStringLiteral("utility")});
        QVERIFY2(palette, qPrintable(XTestUtil::lastError()));
        WindowInfo info;
        info.hwnd = palette.window;
        info.path = windowProcessPath(palette.window);
        QCOMPARE(info.path, QFileInfo(XTestUtil::testClientPath()).canonicalFilePath());
        QCOMPARE(applicationName(info), QStringLiteral("varlo-palette"));
    }

    void namesARuntimeAfterItsScript()
    {
        NEED_WM();
        // A window of a python3 process: a script that speaks to the server
        // through libxcb, without _NET_WM_PID, so the server names the process.
        const QString script = m_scratch.filePath(QStringLiteral("viewer.py"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(R"(import ctypes, signal
xcb = ctypes.CDLL("libxcb.so.1")
class Iterator(ctypes.Structure):
    _fields_ = [("data", ctypes.POINTER(ctypes.c_uint32)), ("rem", ctypes.c_int), ("index", ctypes.c_int)]
xcb.xcb_connect.restype = ctypes.c_void_p
xcb.xcb_get_setup.restype = ctypes.c_void_p
xcb.xcb_get_setup.argtypes = [ctypes.c_void_p]
xcb.xcb_setup_roots_iterator.restype = Iterator
xcb.xcb_setup_roots_iterator.argtypes = [ctypes.c_void_p]
xcb.xcb_generate_id.argtypes = [ctypes.c_void_p]
xcb.xcb_create_window.argtypes = [ctypes.c_void_p, ctypes.c_uint8] + [ctypes.c_uint32] * 2 + \
    [ctypes.c_int16] * 2 + [ctypes.c_uint16] * 4 + [ctypes.c_uint32] * 2 + [ctypes.c_void_p]
xcb.xcb_change_property.argtypes = [ctypes.c_void_p, ctypes.c_uint8] + [ctypes.c_uint32] * 3 + \
    [ctypes.c_uint8, ctypes.c_uint32, ctypes.c_char_p]
xcb.xcb_map_window.argtypes = [ctypes.c_void_p, ctypes.c_uint32]
xcb.xcb_flush.argtypes = [ctypes.c_void_p]
c = xcb.xcb_connect(None, None)
root = xcb.xcb_setup_roots_iterator(xcb.xcb_get_setup(c)).data[0]
window = xcb.xcb_generate_id(c)
xcb.xcb_create_window(c, 0, window, root, 400, 300, 300, 200, 0, 1, 0, 0, None)
title = b"varlo-py-viewer"
xcb.xcb_change_property(c, 0, window, 39, 31, 8, len(title), title)  # WM_NAME, STRING
xcb.xcb_map_window(c, window)
xcb.xcb_flush(c)
signal.pause()
)");
        file.close();
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        QVERIFY2(!python.isEmpty(), "python3 is not installed");
        QFile entry(m_applications + QStringLiteral("/varlo-py-viewer.desktop"));
        QVERIFY(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
        entry.write("[Desktop Entry]\nType=Application\nName=Py Viewer\nExec=python3 " +
                    QFile::encodeName(script) + " %f\n");
        entry.close();

        const StartedWindow viewer =
            XTestUtil::startProgram(python, {script}, QStringLiteral("varlo-py-viewer"));
        QVERIFY2(viewer, qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::activate(viewer.window), qPrintable(XTestUtil::lastError()));
        QTRY_COMPARE(foregroundWindow(), WId(viewer.window));
        QCOMPARE(windowProcessPath(viewer.window), script);
        // The index notices the new entry through its folder watch.
        QTRY_COMPARE(foregroundWindowInfo().name, QStringLiteral("Py Viewer"));
    }

    void ownAndShellWindowsAreNeverChosen()
    {
        NEED_WM();
        const StartedWindow a = XTestUtil::startXterm(QStringLiteral("varlo-term-b"));
        QVERIFY2(a, qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::activate(a.window), qPrintable(XTestUtil::lastError()));
        QTRY_COMPARE(foregroundWindow(), WId(a.window));

        // Our own window in front: the remembered window stays.
        QWidget panel;
        panel.setWindowTitle(QStringLiteral("Varlo panel"));
        panel.setGeometry(300, 300, 200, 100);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QVERIFY2(XTestUtil::activate(quint32(panel.winId())), qPrintable(XTestUtil::lastError()));
        QTRY_COMPARE(Platform::instance()->activeWindow(), panel.winId());
        QVERIFY(isOwnWindow(panel.winId()));
        QCOMPARE(foregroundWindow(), WId(a.window));

        // A desktop window in front: the topmost eligible window that is not
        // ours is chosen, here a newer one above the remembered window.
        const StartedWindow c = XTestUtil::startXterm(QStringLiteral("varlo-term-c"));
        QVERIFY2(c, qPrintable(XTestUtil::lastError()));
        const StartedWindow desktop = XTestUtil::startTestClient(
            {QStringLiteral("--type"), QStringLiteral("desktop"), QStringLiteral("--title"),
             QStringLiteral("varlo-desktop")});
        QVERIFY2(desktop, qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::activate(desktop.window), qPrintable(XTestUtil::lastError()));
        QTRY_COMPARE(Platform::instance()->activeWindow(), WId(desktop.window));
        QVERIFY(!isEligibleWindow(desktop.window));
        QTRY_COMPARE(foregroundWindow(), WId(c.window));
    }

    void placesAnXtermOnTheSecondScreen()
    {
        NEED_WM();
        const StartedWindow term = XTestUtil::startXterm(QStringLiteral("varlo-term-d"));
        QVERIFY2(term, qPrintable(XTestUtil::lastError()));
        const QSize size = cellAligned(term.window, QSize(700, 500));
        const QRect target(QPoint(secondScreen().x() + 100, 60), size);
        applyWindowRect(target, 1.0f, false, true, term.window);
        QVERIFY2(waitForOuterFrame(term.window, target),
                 qPrintable(describe(XTestUtil::outerFrame(term.window))));
        QTRY_COMPARE(backendOuterFrame(term.window), target);

        // Back to the first screen, as the foreground window.
        QVERIFY2(XTestUtil::activate(term.window), qPrintable(XTestUtil::lastError()));
        QTRY_COMPARE(foregroundWindow(), WId(term.window));
        const QRect back(QPoint(40, 30), size);
        applyWindowRect(back, 1.0f, false, true, kForegroundWindow);
        QVERIFY2(waitForOuterFrame(term.window, back),
                 qPrintable(describe(XTestUtil::outerFrame(term.window))));
        QTRY_COMPARE(backendOuterFrame(term.window), back);
    }

    void visibleFrameOfAClientSideDecoratedWindow()
    {
        NEED_WM();
        const StartedWindow client = XTestUtil::startTestClient(
            {QStringLiteral("--title"), QStringLiteral("varlo-csd"), QStringLiteral("--geometry"),
             QStringLiteral("300x200+50+50"), QStringLiteral("--csd"),
             QStringLiteral("10,10,6,14")});
        QVERIFY2(client, qPrintable(XTestUtil::lastError()));
        const QMargins shadow(10, 6, 10, 14);
        QCOMPARE(XTestUtil::gtkFrameExtents(client.window), std::optional<QMargins>(shadow));
        const QRect target(secondScreen().x() + 200, 100, 640, 480);
        applyWindowRect(target, 1.0f, false, true, client.window);
        QVERIFY2(waitForOuterFrame(client.window, target.marginsAdded(shadow)),
                 qPrintable(describe(XTestUtil::outerFrame(client.window))));
        QTRY_COMPARE(
            WindowChrome::visibleFrame(Platform::instance()->windowGeometry(client.window)),
            target);
    }

    void maximisesOnTheTargetScreen()
    {
        NEED_WM();
        const StartedWindow term =
            XTestUtil::startXterm(QStringLiteral("varlo-term-e"),
                                  {QStringLiteral("-geometry"), QStringLiteral("80x24+100+100")});
        QVERIFY2(term, qPrintable(XTestUtil::lastError()));
        // Worked out on the normal frame: a maximised one has other extents.
        const QRect target(QPoint(200, 150), cellAligned(term.window, QSize(500, 300)));
        applyWindowRect(QRect(secondScreen().x() + 50, 50, 600, 400), 1.0f, true, true,
                        term.window);
        const auto maximised = [&] {
            const QList<QByteArray> state = XTestUtil::atomProperty(term.window, "_NET_WM_STATE");
            return state.contains("_NET_WM_STATE_MAXIMIZED_VERT") &&
                   state.contains("_NET_WM_STATE_MAXIMIZED_HORZ");
        };
        // The frame fills the second screen, up to one character cell.
        QVERIFY2(XTestUtil::waitFor([&] {
                     const QRect outer = XTestUtil::outerFrame(term.window);
                     return maximised() && secondScreen().contains(outer) &&
                            outer.width() > secondScreen().width() - 16;
                 }),
                 qPrintable(describe(XTestUtil::outerFrame(term.window))));
        QTRY_VERIFY(Platform::instance()->windowGeometry(term.window).maximized);

        // Placing a maximised window restores it first.
        applyWindowRect(target, 1.0f, false, true, term.window);
        QVERIFY2(XTestUtil::waitFor(
                     [&] { return !maximised() && XTestUtil::outerFrame(term.window) == target; }),
                 qPrintable(describe(XTestUtil::outerFrame(term.window))));
        QTRY_VERIFY(!Platform::instance()->windowGeometry(term.window).maximized);
    }

    // Some managers set no stacking list until a window takes the focus; the
    // plain client list still tells which windows there are.
    void clientListWithoutStackingList()
    {
        NEED_WM();
        const StartedWindow client = XTestUtil::startTestClient({QStringLiteral("--title"), QStringLiteral("listed")});
        QVERIFY2(client, qPrintable(XTestUtil::lastError()));
        QVERIFY(XTestUtil::run(QStringLiteral("xprop"), {"-root", "-remove", "_NET_CLIENT_LIST_STACKING"}).ok());
        QVERIFY(XTestUtil::run(QStringLiteral("xprop"), {"-root", "_NET_CLIENT_LIST_STACKING"})
                    .standardOutput.contains("not found"));
        QVERIFY(Platform::instance()->windowsTopFirst().contains(WId(client.window)));
    }

    void vanishedWindowIsLeftAlone()
    {
        const StartedWindow term = XTestUtil::startXterm(QStringLiteral("varlo-term-f"));
        QVERIFY2(term, qPrintable(XTestUtil::lastError()));
        const WId window = term.window;
        QVERIFY(isEligibleWindow(window)); // known to the backend, so its end must be noticed
        QVERIFY2(XTestUtil::endClient(term.window), qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::syncQt(), qPrintable(XTestUtil::lastError()));

        for (bool maximize : {false, true}) {
            QTest::ignoreMessage(QtDebugMsg,
                                 QRegularExpression(QStringLiteral("is gone, nothing was placed")));
            applyWindowRect(QRect(100, 100, 400, 300), 1.0f, maximize, true, window);
        }
        QVERIFY(!isEligibleWindow(window));
        QCOMPARE(windowProcessPath(window), QString());
        QCOMPARE(windowScaleFactor(window), 1.0f);
        // Requests that race with the window's end are dropped quietly.
        Platform::instance()->moveResizeWindow(window, QPoint(10, 10), QSize(100, 100));
        Platform::instance()->raiseWindow(window);
        Platform::instance()->setWindowMaximized(window, true);
        QVERIFY2(XTestUtil::syncWindowManager(), qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::syncQt(), qPrintable(XTestUtil::lastError()));
        QCOMPARE(newXErrors(), QStringList());
    }

    void placesWithoutAWindowManager()
    {
        if (!m_noWm)
            QSKIP("runs on a server without a window manager");
        // Our own client: an xterm may still be settling its size when we
        // place it, and without a window manager nobody stops it.
        const StartedWindow client = XTestUtil::startTestClient(
            {QStringLiteral("--title"), QStringLiteral("varlo-bordered"), QStringLiteral("--border"),
             QStringLiteral("3")});
        QVERIFY2(client, qPrintable(XTestUtil::lastError()));
        const QRect target(secondScreen().x() + 10, 20, 500, 300);
        applyWindowRect(target, 1.0f, false, true, client.window);
        // Without a frame the window's own X border is its outer edge.
        QCOMPARE(XTestUtil::borderWidth(client.window), 3);
        QVERIFY2(XTestUtil::waitForClientGeometry(client.window, target.marginsRemoved(QMargins(3, 3, 3, 3))),
                 qPrintable(describe(XTestUtil::clientGeometry(client.window))));
        QCOMPARE(backendOuterFrame(client.window), target);
    }

    void dockShrinksTheWorkArea_data()
    {
        QTest::addColumn<QString>("edge");
        QTest::addColumn<QRect>("second");
        QTest::newRow("top") << QStringLiteral("top") << secondScreen().adjusted(0, 40, 0, 0);
        // The strut counts from the bottom of the taller root.
        QTest::newRow("bottom of the shorter screen")
            << QStringLiteral("bottom") << secondScreen().adjusted(0, 0, 0, -40);
        // The strut's band covers the whole first screen.
        QTest::newRow("left, on the inner edge")
            << QStringLiteral("left") << secondScreen().adjusted(40, 0, 0, 0);
    }

    void dockShrinksTheWorkArea()
    {
        NEED_WM();
        QFETCH(QString, edge);
        QFETCH(QRect, second);
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        QTRY_COMPARE(cache->areas(), wholeScreens());
        QSignalSpy changed(cache, &DesktopAreaCache::workAreaChanged);
        const StartedWindow dock = XTestUtil::startTestClient(
            {QStringLiteral("--dock"), edge, QStringLiteral("--thickness"), QStringLiteral("40"),
             QStringLiteral("--screen-rect"), QStringLiteral("1280x1024+1920+0")});
        QVERIFY2(dock, qPrintable(XTestUtil::lastError()));
        QTRY_COMPARE(cache->areas(), (QList<QRect>{firstScreen(), second}));
        QVERIFY(!isEligibleWindow(dock.window));
        QVERIFY2(XTestUtil::endClient(dock.window), qPrintable(XTestUtil::lastError()));
        QTRY_COMPARE(cache->areas(), wholeScreens());
        // Not even for a moment did the first screen lose anything.
        for (const QList<QVariant> &arguments : std::as_const(changed))
            QCOMPARE(arguments.at(0).toInt(), 1);
    }

    void barNobodyManages()
    {
        NEED_WM();
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        QTRY_COMPARE(cache->areas(), wholeScreens());
        // Override-redirect, like the bars some window managers draw themselves:
        // neither Openbox nor Qt counts its strut.
        QProcess *bar = XTestUtil::startProcess(
            XTestUtil::testClientPath(),
            {QStringLiteral("--override-redirect"), QStringLiteral("--dock"),
             QStringLiteral("right"), QStringLiteral("--thickness"), QStringLiteral("30"),
             QStringLiteral("--screen-rect"), QStringLiteral("1280x1024+1920+0")});
        QVERIFY(bar);
        QVERIFY2(XTestUtil::waitFor([bar] { return bar->canReadLine(); }),
                 "the bar was not mapped");
        const QString id = QString::fromLatin1(bar->readLine().trimmed());
        // A window nobody manages is found with the next change of the
        // desktop, here a window that opens.
        const StartedWindow other = XTestUtil::startTestClient({});
        QVERIFY2(other, qPrintable(XTestUtil::lastError()));
        const QList<QRect> docked{firstScreen(), secondScreen().adjusted(0, 0, -30, 0)};
        QTRY_COMPARE(cache->areas(), docked);

        // Hidden and shown again, as an auto-hiding bar does.
        QVERIFY(XTestUtil::run(QStringLiteral("xdotool"),
                               {QStringLiteral("windowunmap"), QStringLiteral("--sync"), id})
                    .ok());
        QTRY_COMPARE(cache->areas(), wholeScreens());
        QVERIFY(XTestUtil::run(QStringLiteral("xdotool"),
                               {QStringLiteral("windowmap"), QStringLiteral("--sync"), id})
                    .ok());
        QTRY_COMPARE(cache->areas(), docked);

        // The bar grows; _NET_WM_STRUT_PARTIAL goes before the plain strut.
        QVERIFY(xprop({QStringLiteral("-id"), id, QStringLiteral("-f"),
                       QStringLiteral("_NET_WM_STRUT_PARTIAL"), QStringLiteral("32c"),
                       QStringLiteral("-set"), QStringLiteral("_NET_WM_STRUT_PARTIAL"),
                       QStringLiteral("0,60,0,0,0,0,0,1023,0,0,0,0")}));
        QTRY_COMPARE(cache->areas(),
                     (QList<QRect>{firstScreen(), secondScreen().adjusted(0, 0, -60, 0)}));
    }

    void managersOwnAreasPerMonitor()
    {
        NEED_WM();
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        QTRY_COMPARE(cache->areas(), wholeScreens());
        // Openbox publishes none: set them as a manager that does would,
        // listed in _NET_SUPPORTED, in an order of its own. xprop sets one
        // atom only, so the list is written through Xlib.
        const QString setSupported = m_scratch.filePath(QStringLiteral("setsupported.py"));
        QFile script(setSupported);
        QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write(R"(import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                              ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
d = x.XOpenDisplay(None)
names = sys.argv[1:]
atoms = (ctypes.c_ulong * len(names))(*[x.XInternAtom(d, a.encode(), 0) for a in names])
x.XChangeProperty(d, x.XDefaultRootWindow(d), x.XInternAtom(d, b"_NET_SUPPORTED", 0), 4, 32, 0,
                  atoms, len(atoms))
x.XCloseDisplay(d)
)");
        script.close();
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        QVERIFY2(!python.isEmpty(), "python3 is not installed");
        const CommandResult listed = XTestUtil::run(
            QStringLiteral("xprop"),
            {QStringLiteral("-root"), QStringLiteral("-notype"), QStringLiteral("_NET_SUPPORTED")});
        const QStringList supported = QString::fromLatin1(listed.standardOutput)
                                          .section(QLatin1Char('='), 1)
                                          .trimmed()
                                          .split(QStringLiteral(", "));
        QVERIFY2(listed.ok() && supported.size() > 10, listed.standardOutput.constData());
        const auto restore = qScopeGuard([&] {
            xprop({QStringLiteral("-root"), QStringLiteral("-remove"),
                   QStringLiteral("_GTK_WORKAREAS_D0")});
            XTestUtil::run(python, QStringList{setSupported} + supported);
        });

        QVERIFY(xprop({QStringLiteral("-root"), QStringLiteral("-f"),
                       QStringLiteral("_GTK_WORKAREAS_D0"), QStringLiteral("32c"),
                       QStringLiteral("-set"), QStringLiteral("_GTK_WORKAREAS_D0"),
                       QStringLiteral("1920,30,1280,994,0,0,1920,1050")}));
        // Not listed yet: left over from a manager that has gone.
        QVERIFY2(XTestUtil::syncQt(), qPrintable(XTestUtil::lastError()));
        QCoreApplication::processEvents();
        QCOMPARE(cache->areas(), wholeScreens());
        QVERIFY(XTestUtil::run(python, QStringList{setSupported} + supported +
                                           QStringList{QStringLiteral("_GTK_WORKAREAS")})
                    .ok());
        QTRY_COMPARE(cache->areas(),
                     (QList<QRect>{QRect(0, 0, 1920, 1050), QRect(1920, 30, 1280, 994)}));
    }

    // Last: it changes the screens.
    void unpluggedScreenLeavesTheCache()
    {
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        if (m_noWm) {
            QVERIFY2(XTestUtil::setOutputOff(QStringLiteral("DUMMY1")),
                     qPrintable(XTestUtil::lastError()));
        } else {
            // A window on the screen that goes, which the window manager
            // moves at once. Qt drops a ConfigureNotify that another one
            // reported to the same window follows, and the root's new size is
            // how it learns of the change: the move, reported to the root too,
            // would hide it. Unplugged while Qt handles no events, so that
            // both wait in its queue.
            const StartedWindow client = XTestUtil::startTestClient(
                {QStringLiteral("--geometry"), QStringLiteral("400x300+2200+100")});
            QVERIFY2(client, qPrintable(XTestUtil::lastError()));
            const CommandResult off = XTestUtil::run(
                QStringLiteral("sh"),
                {QStringLiteral("-c"),
                 QStringLiteral(
                     "xrandr --output DUMMY1 --off && until [ \"$(xwininfo -id %1 | "
                     "sed -n 's/.*Absolute upper-left X: *//p')\" -lt 1920 ]; do :; done")
                     .arg(client.window)});
            QVERIFY2(off.ok(), qPrintable(XTestUtil::lastError()));
        }
        QTRY_COMPARE(cache->screenCount(), 1);
        QCOMPARE(cache->availableGeometry(1), QRect());
        QCOMPARE(screenAt(QPoint(2500, 500)), 0);
        QCOMPARE(screenForRect(2000, 0, 2400, 300), 0);
        QVERIFY2(XTestUtil::setOutputOn(QStringLiteral("DUMMY1"), secondScreen()),
                 qPrintable(XTestUtil::lastError()));
        QTRY_COMPARE(cache->screenCount(), 2);
        QTRY_COMPARE(cache->availableGeometry(1), secondScreen());
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestX11Desktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11desktop.moc"
