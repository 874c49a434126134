// Placement on the window manager xrun started (VARLO_XRUN_WM), for each kind
// of window and each way of placing it. The program decides and places as
// CommonBehavior::moveWindow does: the work area from DesktopAreaCache, the
// rectangle from decidePlacement with the settings' defaults, the foreground
// window moved by applyWindowRect. What counts is where the window's visible
// frame lands, read from the server, against the same decision made on the
// work area the desktop really leaves (the screen less the bars along its
// edges): every edge within 2 px, the far ones short by up to one resize
// increment where the client asks for increments (any edge when maximised),
// the size held at the client's minimum where the selection is smaller.

#include "desktopareacache.h"
#include "placementgeometry.h"
#include "platform.h"
#include "settingsstore.h"
#include "windowinfo.h"
#include "windowmover.h"
#include "xtestutil.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <map>

namespace {

enum class Kind
{
    Plain,
    Xterm,
    Gtk
};
enum class Scenario
{
    Screen0,
    Screen1,
    WholeGrid,
    Maximise,
    AfterMaximise,
    BesideDock,
    DockElsewhere
};

const QRect kScreens[] = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
const int kEdgeTolerance = 2;

QString describe(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

QString describe(const QMargins &m)
{
    return QStringLiteral("%1,%2,%3,%4").arg(m.left()).arg(m.top()).arg(m.right()).arg(m.bottom());
}

bool maximised(quint32 window)
{
    const QList<QByteArray> state = XTestUtil::atomProperty(window, "_NET_WM_STATE");
    return state.contains("_NET_WM_STATE_MAXIMIZED_VERT") &&
           state.contains("_NET_WM_STATE_MAXIMIZED_HORZ");
}

// " (maximized_vert, maximized_horz)": the window's _NET_WM_STATE for a failure message.
QString windowState(quint32 window)
{
    QStringList names;
    const QList<QByteArray> state = XTestUtil::atomProperty(window, "_NET_WM_STATE");
    for (const QByteArray &atom : state)
        names.append(QString::fromLatin1(atom).remove(QStringLiteral("_NET_WM_STATE_")).toLower());
    return names.isEmpty() ? QString()
                           : QStringLiteral(" (%1)").arg(names.join(QStringLiteral(", ")));
}

// The screen less the bars along its edges (docks, the window manager's own
// bar), found by their geometry, as Fluxbox's toolbar and IceWM's taskbar set
// no strut. Worked out apart from the program: its areas are under test.
QRect desktopWorkArea(const QRect &screen)
{
    QMargins inset;
    const QList<QRect> bars = XTestUtil::edgeBars(screen);
    for (const QRect &bar : bars) {
        if (bar.width() == screen.width() && bar.top() == screen.top())
            inset.setTop(qMax(inset.top(), bar.height()));
        else if (bar.width() == screen.width())
            inset.setBottom(qMax(inset.bottom(), bar.height()));
        else if (bar.left() == screen.left())
            inset.setLeft(qMax(inset.left(), bar.width()));
        else
            inset.setRight(qMax(inset.right(), bar.width()));
    }
    return screen.marginsRemoved(inset);
}

struct Client
{
    StartedWindow started;
    bool answersPing = false;
};

// How far each edge may lie inside the expected one (the window short of
// it); no edge may lie more than 2 px beyond.
bool within(const QRect &actual, const QRect &expected, const QMargins &inside)
{
    const int inward[] = {actual.left() - expected.left(), actual.top() - expected.top(),
                          expected.x() + expected.width() - actual.x() - actual.width(),
                          expected.y() + expected.height() - actual.y() - actual.height()};
    const int allowed[] = {inside.left(), inside.top(), inside.right(), inside.bottom()};
    for (int edge = 0; edge < 4; ++edge) {
        if (inward[edge] < -kEdgeTolerance || inward[edge] > allowed[edge])
            return false;
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Scenario)

class TestX11Matrix : public QObject
{
    Q_OBJECT

private:
    QString m_wm;
    QTemporaryDir m_scratch;
    std::map<Kind, Client> m_clients;
    StartedWindow m_dock;
    qsizetype m_errorsBefore = 0;

    const Client *client(Kind kind);
    bool settle(const Client &c);
    bool putOnScreen(const Client &c, int screen);
    void place(int screen, QRect selection, bool maximise);
    bool waitForVisibleFrame(const Client &c, const std::function<bool(const QRect &)> &matches,
                             QRect *last);

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void placesTheVisibleFrame_data();
    void placesTheVisibleFrame();
};

void TestX11Matrix::initTestCase()
{
    QCOMPARE(Platform::instance()->backendName(), QStringLiteral("x11"));
    QVERIFY2(XTestUtil::xrunServer() == QLatin1String("xorg"),
             "needs Xorg with the dummy driver for its two screens");
    m_wm = XTestUtil::xrunWindowManager();
    QVERIFY2(!m_wm.isEmpty() && m_wm != QLatin1String("none"),
             "run under xrun with a window manager");
    QVERIFY(m_scratch.isValid());
    const QList<QScreen *> screens = QGuiApplication::screens();
    QCOMPARE(screens.size(), 2);
    QCOMPARE(screens.at(0)->geometry(), kScreens[0]);
    QCOMPARE(screens.at(1)->geometry(), kScreens[1]);
    XTestUtil::qtXErrors(); // counted from here on
}

void TestX11Matrix::cleanupTestCase()
{
    XTestUtil::cleanup();
}

void TestX11Matrix::init()
{
    m_errorsBefore = XTestUtil::qtXErrors().size();
}

void TestX11Matrix::cleanup()
{
    // No request of the program's may draw an X error.
    QVERIFY2(XTestUtil::syncQt(), qPrintable(XTestUtil::lastError()));
    QCOMPARE(XTestUtil::qtXErrors().mid(m_errorsBefore), QStringList());
}

// Each kind of window is started once and kept for every row.
const Client *TestX11Matrix::client(Kind kind)
{
    const auto known = m_clients.find(kind);
    if (known != m_clients.end())
        return &known->second;
    StartedWindow started;
    switch (kind) {
    case Kind::Plain:
        started = XTestUtil::startTestClient(
            {QStringLiteral("--title"), QStringLiteral("varlo-matrix-plain"),
             QStringLiteral("--geometry"), QStringLiteral("600x450+100+100")});
        break;
    case Kind::Xterm:
        started =
            XTestUtil::startXterm(QStringLiteral("varlo-matrix-xterm"),
                                  {QStringLiteral("-geometry"), QStringLiteral("80x24+100+100")});
        break;
    case Kind::Gtk: {
        // A home of its own: no settings of the caller's, no accessibility bus.
        const QString home = m_scratch.filePath(QStringLiteral("gtk-home"));
        if (!QDir().mkpath(home))
            return nullptr;
        started = XTestUtil::startProgram(
            QStringLiteral("env"),
            {QStringLiteral("HOME=") + home,
             QStringLiteral("XDG_CONFIG_HOME=") + home + QStringLiteral("/config"),
             QStringLiteral("XDG_DATA_HOME=") + home + QStringLiteral("/data"),
             QStringLiteral("XDG_CACHE_HOME=") + home + QStringLiteral("/cache"),
             QStringLiteral("GDK_BACKEND=x11"), QStringLiteral("NO_AT_BRIDGE=1"),
             QStringLiteral("GSETTINGS_BACKEND=memory"), QStringLiteral("gtk3-demo")},
            QStringLiteral("gtk3-demo"), 20000);
        break;
    }
    }
    if (!started)
        return nullptr;
    Client c;
    c.started = started;
    c.answersPing =
        XTestUtil::atomProperty(started.window, "WM_PROTOCOLS").contains("_NET_WM_PING");
    return &m_clients.emplace(kind, c).first->second;
}

// The window manager has handled every request sent before, the client (when
// it answers pings) every event, and the window manager the client's answers.
bool TestX11Matrix::settle(const Client &c)
{
    return XTestUtil::syncWindowManager() &&
           (!c.answersPing || XTestUtil::syncClient(c.started.window)) &&
           XTestUtil::syncWindowManager();
}

// Restored and on that screen, as a pager would put it (wmctrl), so that
// each row starts from a window the user placed by hand.
bool TestX11Matrix::putOnScreen(const Client &c, int screen)
{
    const QString id = QString::number(c.started.window);
    const QPoint at = kScreens[screen].topLeft() + QPoint(120, 90);
    for (const QString &states : {QStringLiteral("remove,maximized_vert,maximized_horz"),
                                  QStringLiteral("remove,fullscreen")}) {
        if (!XTestUtil::run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-r"),
                                                       id, QStringLiteral("-b"), states})
                 .ok())
            return false;
    }
    if (!XTestUtil::waitFor([&] {
            const QList<QByteArray> state =
                XTestUtil::atomProperty(c.started.window, "_NET_WM_STATE");
            return !maximised(c.started.window) && !state.contains("_NET_WM_STATE_FULLSCREEN");
        }))
        return false;
    if (!XTestUtil::run(QStringLiteral("wmctrl"),
                        {QStringLiteral("-i"), QStringLiteral("-r"), id, QStringLiteral("-e"),
                         QStringLiteral("0,%1,%2,600,450").arg(at.x()).arg(at.y())})
             .ok())
        return false;
    return XTestUtil::waitFor([&] {
        return settle(c) &&
               kScreens[screen].contains(XTestUtil::visibleFrame(c.started.window).center());
    });
}

// What CommonBehavior::moveWindow does for the foreground window.
void TestX11Matrix::place(int screen, QRect selection, bool maximise)
{
    QSettings settings(m_scratch.filePath(maximise ? QStringLiteral("maximise.conf")
                                                   : QStringLiteral("defaults.conf")),
                       QSettings::IniFormat);
    SettingsStore::writeSettingsDefaults(settings); // factor_chrome among them
    settings.setValue(QStringLiteral("maximize_fullscreen"), maximise);
    const QRect area = DesktopAreaCache::instance()->availableGeometry(screen);
    const QSize dim = SettingsStore::defaultValue(QStringLiteral("grid/size")).toSize();
    const PlacementDecision decision = decidePlacement(settings, area, dim, selection);
    QVERIFY2(decision.valid, qPrintable(describe(area)));
    // The panel's scale factor: a Qt window of ours has no client-side border.
    applyWindowRect(decision.rect, 1.0f, decision.maximize, decision.adjustChrome,
                    kForegroundWindow);
}

// True once two reads in a row, each after the desktop settled, matched;
// false at the deadline, with the last read in *last.
bool TestX11Matrix::waitForVisibleFrame(const Client &c,
                                        const std::function<bool(const QRect &)> &matches,
                                        QRect *last)
{
    bool matchedBefore = false;
    return XTestUtil::waitFor([&] {
        if (!settle(c))
            return false;
        *last = XTestUtil::visibleFrame(c.started.window);
        const bool matched = matches(*last);
        const bool twice = matched && matchedBefore;
        matchedBefore = matched;
        return twice;
    });
}

void TestX11Matrix::placesTheVisibleFrame_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<int>("startScreen");
    QTest::addColumn<int>("screen");
    QTest::addColumn<QRect>("selection"); // cells of the 6x6 grid

    const struct
    {
        Kind kind;
        const char *name;
    } kinds[] = {{Kind::Plain, "plain"}, {Kind::Xterm, "xterm"}, {Kind::Gtk, "gtk3 csd"}};
    // One row per kind for each; the dock comes last, as it stays.
    const struct
    {
        Scenario scenario;
        const char *name;
        int startScreen;
        int screen;
        QRect selection;
    } scenarios[] = {
        {Scenario::Screen0, "selection on screen 0", 1, 0, QRect(1, 1, 3, 4)},
        // One column: narrower than the GTK window's minimum width.
        {Scenario::Screen1, "selection on screen 1", 0, 1, QRect(4, 0, 1, 2)},
        {Scenario::WholeGrid, "whole grid", 1, 0, QRect(0, 0, 6, 6)},
        {Scenario::Maximise, "maximise", 0, 1, QRect(0, 0, 6, 6)},
        // Maximised on screen 0 first, then placed on screen 1.
        {Scenario::AfterMaximise, "after a maximise", 0, 1, QRect(2, 1, 3, 3)},
        // A dock along the top of screen 1: beside it, and on the other screen.
        {Scenario::BesideDock, "beside a dock", 0, 1, QRect(0, 0, 3, 3)},
        {Scenario::DockElsewhere, "dock on the other screen", 1, 0, QRect(0, 0, 3, 3)},
    };
    for (const auto &s : scenarios) {
        for (const auto &k : kinds) {
            QTest::addRow("%s: %s", s.name, k.name)
                << k.kind << s.scenario << s.startScreen << s.screen << s.selection;
        }
    }
}

void TestX11Matrix::placesTheVisibleFrame()
{
    QFETCH(Kind, kind);
    QFETCH(Scenario, scenario);
    QFETCH(int, startScreen);
    QFETCH(int, screen);
    QFETCH(QRect, selection);

    const Client *c = client(kind);
    QVERIFY2(c, qPrintable(XTestUtil::lastError()));
    const quint32 window = c->started.window;

    if ((scenario == Scenario::BesideDock || scenario == Scenario::DockElsewhere) && !m_dock) {
        m_dock = XTestUtil::startTestClient({QStringLiteral("--dock"), QStringLiteral("top"),
                                             QStringLiteral("--thickness"), QStringLiteral("40"),
                                             QStringLiteral("--screen-rect"),
                                             QStringLiteral("1280x1024+1920+0")});
        QVERIFY2(m_dock, qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::waitFor([&] {
                     return desktopWorkArea(kScreens[1]) == kScreens[1].adjusted(0, 40, 0, 0);
                 }),
                 qPrintable(describe(desktopWorkArea(kScreens[1]))));
    }

    QVERIFY2(
        putOnScreen(*c, startScreen),
        qPrintable(QStringLiteral("not restored on screen %1: %2 %3")
                       .arg(startScreen)
                       .arg(describe(XTestUtil::visibleFrame(window)), XTestUtil::lastError())));
    QVERIFY2(XTestUtil::activate(window), qPrintable(XTestUtil::lastError()));
    // The program's view of the screens catches up with the window manager's.
    QVERIFY2(XTestUtil::syncWindowManager() && XTestUtil::syncQt(),
             qPrintable(XTestUtil::lastError()));

    if (scenario == Scenario::AfterMaximise) {
        place(startScreen, QRect(0, 0, 6, 6), true);
        QRect last;
        QVERIFY2(waitForVisibleFrame(
                     *c, [&](const QRect &) { return maximised(window); }, &last),
                 qPrintable(
                     QStringLiteral("not maximised before the placement: %1").arg(describe(last))));
    }

    const bool maximise = scenario == Scenario::Maximise;
    const WId front = foregroundWindow();
    place(screen, selection, maximise);
    if (QTest::currentTestFailed())
        return;

    // The same decision on the work area the desktop really leaves.
    const QRect area = desktopWorkArea(kScreens[screen]);
    QSettings settings(m_scratch.filePath(QStringLiteral("expected.conf")), QSettings::IniFormat);
    SettingsStore::writeSettingsDefaults(settings); // factor_chrome among them
    settings.setValue(QStringLiteral("maximize_fullscreen"), maximise);
    const PlacementDecision ideal = decidePlacement(
        settings, area, SettingsStore::defaultValue(QStringLiteral("grid/size")).toSize(),
        selection);
    QVERIFY(ideal.valid);
    const QRect target = ideal.maximize ? area : ideal.rect;

    QRect expected;
    QMargins inside;
    const auto matches = [&](const QRect &visible) {
        // Worked out afresh each time: restoring and maximising change the frame.
        const QMargins frame = XTestUtil::frameExtents(window).value_or(QMargins());
        const QMargins shadow = XTestUtil::gtkFrameExtents(window).value_or(QMargins());
        const SizeHints hints = XTestUtil::sizeHints(window);
        const QSize chrome(frame.left() + frame.right() - shadow.left() - shadow.right(),
                           frame.top() + frame.bottom() - shadow.top() - shadow.bottom());
        expected = target;
        if (hints.minimum && !maximise)
            expected.setSize(target.size().expandedTo(*hints.minimum + chrome));
        // Whole cells only: short of the far edges by up to one, or of any
        // edge when the window manager centres the cells in the area.
        const int incW = qMax(kEdgeTolerance, hints.increment.width());
        const int incH = qMax(kEdgeTolerance, hints.increment.height());
        inside = maximise ? QMargins(incW, incH, incW, incH)
                          : QMargins(kEdgeTolerance, kEdgeTolerance, incW, incH);
        return maximised(window) == maximise && within(visible, expected, inside);
    };
    QRect last;
    const bool placed = waitForVisibleFrame(*c, matches, &last);
    // IceWM keeps a maximised frame's borders beyond the work area (its
    // ConsiderHBorder and ConsiderVBorder are off by default); the GTK
    // window draws its own and has none of IceWM's.
    if (m_wm == QLatin1String("icewm") && maximise && kind != Kind::Gtk)
        QEXPECT_FAIL("", "IceWM puts the borders of a maximised frame beyond the work area", Abort);
    const QRect programArea = DesktopAreaCache::instance()->availableGeometry(screen);
    QVERIFY2(
        placed,
        qPrintable(QStringLiteral("%1: visible frame %2%3, expected %4 (edges up to %5 px "
                                  "inside, 2 px outside); frame "
                                  "extents %6, client-side %7; the program's work area %8, the "
                                  "desktop's %9; foreground window 0x%10 (placed 0x%11)")
                       .arg(m_wm, describe(last), windowState(window), describe(expected),
                            describe(inside),
                            describe(XTestUtil::frameExtents(window).value_or(QMargins())),
                            describe(XTestUtil::gtkFrameExtents(window).value_or(QMargins())),
                            describe(programArea), describe(area))
                       .arg(front, 0, 16)
                       .arg(window, 0, 16)));
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestX11Matrix test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_matrix.moc"
