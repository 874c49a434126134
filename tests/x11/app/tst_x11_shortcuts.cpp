// Varlo in the tray and on its hot keys, end to end on a private two-screen
// desktop with Openbox: a tray host (trayer), xterms, keys typed through XTEST.

#include "databaseutil.h"
#include "desktopareacache.h"
#include "placementgeometry.h"
#include "shortcutmodel.h"
#include "varlorun.h"
#include "xtestutil.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QTest>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace {

using namespace VarloRun;

QRect cells(int screen, QSize grid, QRect selection)
{
    return placementRect(DesktopAreaCache::instance()->availableGeometry(screen), Util::MarginMetrics_t(),
                         grid, selection)
        .toRect();
}

// Another program that holds a key combination, as a desktop's own shortcuts do.
class KeyHolder
{
public:
    KeyHolder() : c(xcb_connect(nullptr, nullptr)) {}
    ~KeyHolder() { xcb_disconnect(c); }
    bool grab(xcb_keysym_t keysym, uint16_t modifiers)
    {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(c);
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym);
        const xcb_keycode_t keycode = codes ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
        xcb_generic_error_t *error = keycode ? xcb_request_check(c, xcb_grab_key_checked(c, 1, root, modifiers, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)) : nullptr;
        std::free(error);
        return keycode && !error;
    }

private:
    xcb_connection_t *c;
};

struct Row
{
    QString name;
    QString keys;
    QSize grid;
    QRect selection;
};

// Rows written as the settings window would, before Varlo starts.
bool writeShortcuts(const QList<Row> &rows)
{
    {
        DatabaseUtil database;
        if (!database.initialize())
            return false;
        ShortcutModel model;
        for (const Row &r : rows) {
            if (!model.addShortcut(r.name, r.keys, r.grid, r.selection, true, true, false))
                return false;
        }
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    return true;
}

} // namespace

class TestX11Shortcuts : public QObject
{
    Q_OBJECT

private:
    QProcess *m_varlo = nullptr;

    bool startVarlo(const QStringList &arguments = {QStringLiteral("-background")})
    {
        m_varlo = VarloRun::start(arguments);
        return m_varlo;
    }

    QList<quint32> visiblePanels() const
    {
        QList<quint32> result;
        for (quint32 w : XTestUtil::windowsOf(m_varlo->processId())) {
            if (XTestUtil::clientGeometry(w).size() == QSize(330, 289))
                result << w;
        }
        return result;
    }

    quint32 trayIcon() const { return trayIconOf(m_varlo->processId()); }

private Q_SLOTS:
    void cleanup()
    {
        QVERIFY(stop(m_varlo));
        XTestUtil::cleanup();
    }

    // A click on the icon shows the panels and a second hides them; its menu
    // ends Varlo the way a logout does not: through the clean-up.
    void trayIconTogglesThePanelsAndQuits()
    {
        QVERIFY2(startTray(), qPrintable(XTestUtil::lastError()));
        QVERIFY2(startVarlo(), qPrintable(log()));
        quint32 icon = 0;
        QVERIFY2(XTestUtil::waitFor([&] { return (icon = trayIcon()) != 0; }), qPrintable(log()));
        const int apart = XTestUtil::clientGeometry(icon).width() / 3;

        QVERIFY2(XTestUtil::clickWindow(icon, QPoint(-apart, 0)), qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::waitFor([&] { return visiblePanels().size() == 2; }), qPrintable(log()));
        // Apart from the first, so that the two do not make a double click.
        QVERIFY(XTestUtil::clickWindow(icon, QPoint(apart, 0)));
        QVERIFY(XTestUtil::waitFor([&] { return visiblePanels().isEmpty(); }));

        // The last entry of the menu is "Quit".
        const QList<quint32> before = XTestUtil::windowsOf(m_varlo->processId());
        QVERIFY(XTestUtil::clickWindow(icon, {}, 3));
        QVERIFY(XTestUtil::waitFor([&] { return XTestUtil::windowsOf(m_varlo->processId()).size() > before.size(); }));
        QVERIFY(XTestUtil::key(QStringLiteral("Up")));
        QVERIFY(XTestUtil::key(QStringLiteral("Return")));
        QVERIFY(m_varlo->waitForFinished(10000));
        QCOMPARE(m_varlo->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_varlo->exitCode(), 0);
        QVERIFY(log().contains(QStringLiteral("| Cleaning up...")));
        QVERIFY(!log().contains(QStringLiteral("Termination signal")));
    }

    // "About Varlo" from the menu: the icon steps aside while the window is
    // open (a click on it would open a second) and comes back after.
    void aboutFromTheTrayMenu()
    {
        QVERIFY2(startTray(), qPrintable(XTestUtil::lastError()));
        QVERIFY2(startVarlo(), qPrintable(log()));
        quint32 icon = 0;
        QVERIFY2(XTestUtil::waitFor([&] { return (icon = trayIcon()) != 0; }), qPrintable(log()));
        const QList<quint32> before = XTestUtil::windowsOf(m_varlo->processId());
        // The next to last entry, above "Quit".
        QVERIFY(chooseFromTrayMenu(m_varlo->processId(), icon, {"Up", "Up", "Return"}));
        quint32 about = 0;
        QVERIFY(XTestUtil::waitFor([&] {
            for (quint32 w : XTestUtil::windowsOf(m_varlo->processId())) {
                if (!before.contains(w) && XTestUtil::clientList().contains(w))
                    about = w;
            }
            return about != 0;
        }));
        QVERIFY(XTestUtil::waitFor([&] { return trayIcon() == 0; }));
        QVERIFY(XTestUtil::activate(about));
        QVERIFY(XTestUtil::key(QStringLiteral("Escape")));
        QVERIFY(XTestUtil::waitFor([&] { return !XTestUtil::windowsOf(m_varlo->processId()).contains(about); }));
        QVERIFY2(XTestUtil::waitFor([&] { return trayIcon() != 0; }), qPrintable(log()));
    }

    // Keys typed anywhere on the desktop: the named shortcuts place the
    // window in front and move it on to the next screen when pressed again;
    // the keypad twin of a digit fires; a combination another program holds
    // is refused and said so; a layout switch keeps them working; the panel
    // hot key toggles the panels.
    void hotKeysOnTheDesktop()
    {
        QVERIFY(writeShortcuts({{"left half", "Ctrl+Alt+Left", {2, 1}, {0, 0, 1, 1}},
                                {"quarter", "Ctrl+Alt+1", {2, 2}, {1, 1, 1, 1}},
                                {"corner", "Ctrl+Alt+Y", {2, 2}, {0, 0, 1, 1}},
                                {"right half", "Ctrl+Alt+Right", {2, 1}, {1, 0, 1, 1}}}));
        {
            QSettings settings;
            settings.setValue("cycle_screens", true);
            settings.setValue("use_hotkey", true);
            settings.setValue("hotkey", "Ctrl+Alt+D");
        }
        KeyHolder other;
        QVERIFY(other.grab(0xff53 /* Right */, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
        const StartedWindow xterm = XTestUtil::startXterm(QStringLiteral("target"));
        QVERIFY2(xterm, qPrintable(XTestUtil::lastError()));
        QVERIFY(XTestUtil::activate(xterm.window));
        QVERIFY2(startVarlo(), qPrintable(log()));
        QVERIFY2(log().contains("GlobalShortcut failed to register: Ctrl+Alt+Right"), qPrintable(log()));

        auto pressAndLand = [&](const QString &keys, const QRect &expected) {
            return XTestUtil::key(keys) && XTestUtil::waitFor([&] { return landedOn(xterm.window, expected); });
        };
        QVERIFY2(pressAndLand("ctrl+alt+Left", cells(0, {2, 1}, {0, 0, 1, 1})),
                 qPrintable(log() + describe(XTestUtil::outerFrame(xterm.window))));
        QVERIFY2(pressAndLand("ctrl+alt+Left", cells(1, {2, 1}, {0, 0, 1, 1})),
                 qPrintable(log() + describe(XTestUtil::outerFrame(xterm.window))));

        QVERIFY(XTestUtil::key("Num_Lock"));
        QVERIFY2(pressAndLand("ctrl+alt+KP_1", cells(1, {2, 2}, {1, 1, 1, 1})),
                 qPrintable(log() + describe(XTestUtil::outerFrame(xterm.window))));
        QVERIFY(XTestUtil::key("Num_Lock"));

        // Y and Z trade places on a German keyboard.
        QVERIFY(XTestUtil::run("setxkbmap", {"de"}).ok());
        const bool moved = pressAndLand("ctrl+alt+y", cells(1, {2, 2}, {0, 0, 1, 1}));
        QVERIFY(XTestUtil::run("setxkbmap", {"us"}).ok());
        QVERIFY2(moved, qPrintable(log() + describe(XTestUtil::outerFrame(xterm.window))));

        QVERIFY(XTestUtil::key("ctrl+alt+d"));
        QVERIFY2(XTestUtil::waitFor([&] { return visiblePanels().size() == 2; }), qPrintable(log()));
        QVERIFY(XTestUtil::key("ctrl+alt+d"));
        QVERIFY(XTestUtil::waitFor([&] { return visiblePanels().isEmpty(); }));
    }

    // No tray at start: Varlo runs on, and the icon comes with the tray.
    void aTrayThatComesLaterGetsTheIcon()
    {
        QVERIFY2(startVarlo(), qPrintable(log()));
        QVERIFY(log().contains(QStringLiteral("No system tray yet")));
        QCOMPARE(trayIcon(), 0u);
        QVERIFY2(startTray(), qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::waitFor([&] { return trayIcon() != 0; }), qPrintable(log()));
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    TestX11Shortcuts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_shortcuts.moc"
