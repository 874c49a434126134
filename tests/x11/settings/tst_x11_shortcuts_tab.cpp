// The shortcuts tab end to end: Varlo in a tray on a private two-screen
// desktop with Openbox; a named shortcut made with the real pointer and
// keyboard (XTEST) in the settings window, then used on an xterm.

#include "cellgrid.h"
#include "commonbehavior.h"
#include "desktopareacache.h"
#include "dragframe.h"
#include "placementgeometry.h"
#include "settingswindow.h"
#include "shortcutmanager.h"
#include "shortcutstab.h"
#include "varlorun.h"
#include "xtestutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

namespace {

using namespace VarloRun;

QPoint centreIn(const QWidget *widget, const QWidget *window)
{
    return widget->mapTo(window, widget->rect().center());
}

// The shortcut rows Varlo saved, read beside it from its database file.
QStringList savedRows()
{
    const QString path =
        qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Orrith LLC/Varlo/shortcuts.db");
    QStringList rows;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (QFile::exists(path) && db.open()) {
            QSqlQuery query(
                QStringLiteral(
                    "SELECT name, shortcut, grid_width, grid_height, selection_x, selection_y, "
                    "selection_width, selection_height, global, enabled FROM shortcut"),
                db);
            while (query.next()) {
                QStringList fields;
                for (int i = 0; i < 10; ++i)
                    fields << query.value(i).toString();
                rows << fields.join(QLatin1Char('|'));
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    return rows;
}

} // namespace

class TestX11ShortcutsTab : public QObject
{
    Q_OBJECT

private:
    QProcess *m_varlo = nullptr;

    // Where things are in the settings window, from the same window built
    // here: the same form, style sheet and fonts give the same layout.
    struct Layout
    {
        QSize window;
        QPoint scrollArrow;
        int scrolls = 0;
        QPoint shortcutsTab;
        QPoint newButton;
        // On the editor page, where the tab bar is hidden.
        QPoint name;
        QPoint recorder;
        QPoint globalBox;
        QPoint accept;
        QRect frame;
        QList<QRectF> cells;
    } m_layout;

    quint32 trayIcon() const { return trayIconOf(m_varlo->processId()); }

    quint32 settingsWindow() const
    {
        for (quint32 w : XTestUtil::windowsOf(m_varlo->processId())) {
            if (XTestUtil::clientGeometry(w).size() == m_layout.window)
                return w;
        }
        return 0;
    }

    /** Varlo's mapped preview over area, 0 when none is shown. */
    quint32 previewOver(const QRect &area) const
    {
        for (quint32 w : XTestUtil::windowsOf(m_varlo->processId())) {
            if (XTestUtil::clientGeometry(w) == area)
                return w;
        }
        return 0;
    }

    // A click in the settings window, and Varlo has handled it.
    static bool clickIn(quint32 window, const QPoint &offset)
    {
        return XTestUtil::clickAt(XTestUtil::clientGeometry(window).topLeft() + offset) &&
               XTestUtil::syncClient(window, 15000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(XTestUtil::xrunScreens() >= 2, "needs two screens (Xorg with the dummy driver)");
        CommonBehavior controller(nullptr);
        SettingsWindow window(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        window.setAttribute(Qt::WA_DontShowOnScreen);
        window.show();
        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        QTabBar *bar = tabs->tabBar();
        QTRY_VERIFY(bar->tabRect(2).width() > 20);
        m_layout.window = window.size();
        // Three tabs may be wider than the bar (their minimum width follows
        // the font): the bar's arrow scrolls the last one into view.
        auto *right = bar->findChild<QToolButton *>(QStringLiteral("ScrollRightButton"));
        const auto tabShown = [bar] {
            const QPoint centre = bar->tabRect(2).center();
            return bar->rect().contains(centre) &&
                   !qobject_cast<QToolButton *>(bar->childAt(centre));
        };
        while (!tabShown() && right && right->isVisible() && m_layout.scrolls < 5) {
            m_layout.scrollArrow = centreIn(right, &window);
            right->click();
            ++m_layout.scrolls;
        }
        QVERIFY(tabShown());
        m_layout.shortcutsTab = bar->mapTo(&window, bar->tabRect(2).center());
        ShortcutsTab *tab = window.shortcutsTab();
        tabs->setCurrentWidget(tab);
        auto *newButton = tab->findChild<QPushButton *>(QStringLiteral("buttonNewShortcut"));
        QTRY_VERIFY(newButton->isVisible() && newButton->width() > 20);
        m_layout.newButton = centreIn(newButton, &window);

        const int pageHeight = tab->parentWidget()->height();
        newButton->click();
        QVERIFY(tab->isEditing());
        // The tab bar goes, and the tab widget lays its page out again once
        // the event loop runs.
        QTRY_VERIFY(tab->parentWidget()->height() > pageHeight);
        auto *frame = tab->findChild<DragFrame *>(QStringLiteral("newShortcutDragFrame"));
        QTRY_VERIFY(frame->isVisible() && frame->width() > 100 && frame->height() > 100 &&
                    !frame->cellGrid()->cells().isEmpty());
        m_layout.name =
            centreIn(tab->findChild<QLineEdit *>(QStringLiteral("newShortcutName")), &window);
        m_layout.recorder =
            centreIn(tab->findChild<QLineEdit *>(QStringLiteral("newShortcutShortcut")), &window);
        const auto *global = tab->findChild<QCheckBox *>(QStringLiteral("checkNewShortcutGlobal"));
        // The box itself, at the check box's left end.
        m_layout.globalBox = global->mapTo(&window, QPoint(7, global->height() / 2));
        m_layout.accept = centreIn(
            tab->findChild<QPushButton *>(QStringLiteral("buttonShortcutAccept")), &window);
        m_layout.frame = QRect(frame->mapTo(&window, QPoint(0, 0)), frame->size());
        m_layout.cells = frame->cellGrid()->cells();
        QCOMPARE(frame->dimensions(), QSize(6, 6));
        window.close();
        ShortcutManager::destroyInstance();
    }

    void cleanup()
    {
        QVERIFY(stop(m_varlo));
        XTestUtil::cleanup();
    }

    // Preferences from the tray, New, a name, Ctrl+Alt+Left recorded, Global
    // ticked, the left half dragged on the grid, Accept, the window closed:
    // the keys then put the active xterm on the left half of its screen.
    void recordAndUseAShortcut()
    {
        const StartedWindow xterm = XTestUtil::startXterm(QStringLiteral("target"));
        QVERIFY2(xterm, qPrintable(XTestUtil::lastError()));
        QVERIFY2(startTray(), qPrintable(XTestUtil::lastError()));
        m_varlo = start();
        QVERIFY2(m_varlo, qPrintable(log()));
        quint32 icon = 0;
        QVERIFY2(XTestUtil::waitFor([&] { return (icon = trayIcon()) != 0; }, 15000),
                 qPrintable(log()));

        // "Preferences" comes first.
        QVERIFY(chooseFromTrayMenu(m_varlo->processId(), icon, {"Down", "Return"}));
        quint32 settings = 0;
        QVERIFY2(XTestUtil::waitFor([&] { return (settings = settingsWindow()) != 0; }, 15000),
                 qPrintable(log()));
        const QRect area = DesktopAreaCache::instance()->availableGeometry(0);
        QVERIFY2(area.contains(XTestUtil::clientGeometry(settings)),
                 qPrintable(describe(XTestUtil::clientGeometry(settings))));
        // Openbox maps the window a moment after Varlo shows it.
        QVERIFY(XTestUtil::movePointer(XTestUtil::clientGeometry(settings).center()));
        QVERIFY(XTestUtil::waitFor(
            [&] { return XTestUtil::windowUnderPointer() == XTestUtil::topLevelOf(settings); },
            15000));

        for (int i = 0; i < m_layout.scrolls; ++i)
            QVERIFY(clickIn(settings, m_layout.scrollArrow));
        QVERIFY(clickIn(settings, m_layout.shortcutsTab));
        QVERIFY(clickIn(settings, m_layout.newButton));
        QVERIFY(clickIn(settings, m_layout.name));
        QVERIFY(XTestUtil::key(QStringLiteral("ctrl+a")));
        QVERIFY(XTestUtil::typeText(QStringLiteral("left half")));
        QVERIFY(clickIn(settings, m_layout.recorder));
        QVERIFY(XTestUtil::key(QStringLiteral("ctrl+alt+Left")));
        QVERIFY(clickIn(settings, m_layout.globalBox));

        // The left half of the 6 x 6 grid: from the first cell down to the third of the last row.
        const QPoint origin =
            XTestUtil::clientGeometry(settings).topLeft() + m_layout.frame.topLeft();
        const QPoint from = origin + m_layout.cells.at(0).center().toPoint();
        const QPoint to = origin + m_layout.cells.at(5 * 6 + 2).center().toPoint();
        QVERIFY(XTestUtil::movePointer(from));
        QVERIFY(XTestUtil::buttonDown(1));
        for (int i = 1; i <= 4; ++i)
            QVERIFY(XTestUtil::movePointer(from + (to - from) * i / 4));
        // The preview covers the settings window's screen while the button is held.
        const bool previewShown = XTestUtil::waitFor([&] { return previewOver(area) != 0; }, 15000);
        QVERIFY(XTestUtil::buttonUp(1));
        QVERIFY2(previewShown, qPrintable(log()));
        QVERIFY(XTestUtil::waitFor([&] { return previewOver(area) == 0; }, 15000));

        QVERIFY(clickIn(settings, m_layout.accept));
        QVERIFY2(XTestUtil::waitFor([] { return !savedRows().isEmpty(); }, 15000),
                 qPrintable(log()));
        QCOMPARE(savedRows(), QStringList{"left half|Ctrl+Alt+Left|6|6|0|0|3|6|1|1"});

        // Escape on the list page closes the window.
        QVERIFY(XTestUtil::key(QStringLiteral("Escape")));
        QVERIFY2(XTestUtil::waitFor([&] { return settingsWindow() == 0; }, 15000),
                 qPrintable(log()));

        QVERIFY(XTestUtil::activate(xterm.window));
        // The shortcut acts on the screen that holds most of the window.
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        const int screen =
            DesktopAreaCache::screenForRect(cache->areas(), XTestUtil::outerFrame(xterm.window));
        const QRect expected =
            placementRect(cache->availableGeometry(screen), Util::MarginMetrics_t(), QSize(6, 6),
                          QRect(0, 0, 3, 6))
                .toRect();
        QVERIFY(XTestUtil::key(QStringLiteral("ctrl+alt+Left")));
        QVERIFY2(XTestUtil::waitFor([&] { return landedOn(xterm.window, expected); }, 15000),
                 qPrintable(log() + describe(XTestUtil::outerFrame(xterm.window)) +
                            describe(expected)));
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    TestX11ShortcutsTab test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_shortcuts_tab.moc"
