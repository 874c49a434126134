// The panels end to end: Varlo and an xterm on a private two-screen desktop
// with Openbox, driven with the real pointer and keyboard (XTEST).

#include "cellgrid.h"
#include "commonbehavior.h"
#include "dragframe.h"
#include "gridwindow.h"
#include "placementgeometry.h"
#include "varlorun.h"
#include "xtestutil.h"

#include <QDir>
#include <QApplication>
#include <QGuiApplication>
#include <QLayout>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

namespace {

using namespace VarloRun;

// Whether a process runs program, found by its command line.
bool anyRunning(const QString &program)
{
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString &pid : pids) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(QFile::encodeName(program)))
            return true;
    }
    return false;
}

} // namespace

class TestX11Panels : public QObject
{
    Q_OBJECT

private:
    QProcess m_varlo;
    StartedWindow m_xterm;
    // Where the drag frame sits inside a panel, and its size: the same form
    // built here gives the same layout as in Varlo.
    QRect m_frameInPanel;
    QPoint m_gearInPanel;
    QString m_lastWindows;
    QTemporaryDir m_bin;
    QString openedPath() const { return m_bin.filePath("opened"); }
    QString openerPath() const { return m_bin.filePath("xdg-open"); }
    QString opened() const
    {
        QFile f(openedPath());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    bool hookInstalled() const { return log().contains("Installing keyboard hook.") && !log().contains("Could not install keyboard hook"); }

    bool showPanels()
    {
        XTestUtil::movePointer(QPoint(5, 1075));
        return wakeVarlo() && XTestUtil::waitFor([this] { return visiblePanels().size() == QGuiApplication::screens().size(); });
    }

    /**
     * Varlo's mapped windows of the panel's size. The server's map state, not
     * the window manager's list: a hide shows at once, in the order Varlo asked.
     */
    QList<quint32> visiblePanels() const
    {
        QList<quint32> result;
        for (quint32 w : XTestUtil::windowsOf(m_varlo.processId())) {
            if (XTestUtil::clientGeometry(w).size() == QSize(330, 289))
                result << w;
        }
        return result;
    }

    /** Varlo's mapped preview over area, 0 when none is shown. */
    quint32 previewOver(const QRect &area) const
    {
        for (quint32 w : XTestUtil::windowsOf(m_varlo.processId())) {
            if (XTestUtil::clientGeometry(w) == area)
                return w;
        }
        return 0;
    }

    quint32 panelOn(const QRect &screenArea) const
    {
        for (quint32 w : visiblePanels()) {
            if (screenArea.contains(XTestUtil::clientGeometry(w).center()))
                return w;
        }
        return 0;
    }

    // A panel is no window to switch to: taskbars and pagers leave it out.
    static bool skipsTaskbar(quint32 panel)
    {
        return XTestUtil::waitFor([panel] {
            const QList<QByteArray> state = XTestUtil::atomProperty(panel, "_NET_WM_STATE");
            return state.contains("_NET_WM_STATE_SKIP_TASKBAR") && state.contains("_NET_WM_STATE_SKIP_PAGER");
        });
    }

    QRect secondScreenArea() const
    {
        for (QScreen *s : QGuiApplication::screens()) {
            if (s->geometry().x() > 0)
                return s->availableGeometry();
        }
        return {};
    }

    QPoint cellCentre(quint32 panel, int column, int row) const
    {
        const Util::MarginMetrics_t m{3, 3, 3, 3, 3, 3};
        const QRectF cell = CellGrid::layoutRect(QRect(QPoint(0, 0), m_frameInPanel.size()), m,
                                                 QSize(6, 6), QRect(column, row, 1, 1));
        return XTestUtil::clientGeometry(panel).topLeft() + m_frameInPanel.topLeft()
               + cell.center().toPoint();
    }

    bool wakeVarlo()
    {
        QProcess second;
        second.start(programPath(), {});
        return second.waitForFinished(10000) && second.exitCode() == 0;
    }

    // The window manager maps a panel's frame a moment after Varlo shows it:
    // press only once there is a window under the pointer.
    static bool pressOnAWindow(const QPoint &at)
    {
        return XTestUtil::movePointer(at) && XTestUtil::waitFor([] { return XTestUtil::windowUnderPointer() != 0; })
               && XTestUtil::buttonDown(1);
    }

    bool drag(const QPoint &from, const QPoint &to, const std::function<void()> &midway = {})
    {
        if (!pressOnAWindow(from))
            return false;
        // A few steps, as a hand would move.
        for (int i = 1; i <= 4; ++i) {
            if (!XTestUtil::movePointer(from + (to - from) * i / 4))
                return false;
        }
        if (midway)
            midway();
        return XTestUtil::buttonUp(1);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(XTestUtil::xrunScreens() >= 2, "needs two screens (Xorg with the dummy driver)");
        CommonBehavior controller(nullptr);
        GridWindow panel(&controller);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        m_frameInPanel = QRect(panel.dragFrame()->mapTo(&panel, QPoint(0, 0)), panel.dragFrame()->size());
        const QWidget *gear = panel.findChild<QWidget *>(QStringLiteral("buttonSettings"));
        QVERIFY(gear);
        m_gearInPanel = gear->mapTo(&panel, gear->rect().center());
        panel.close();
        QVERIFY(m_frameInPanel.width() > 100 && m_frameInPanel.height() > 60);

        m_xterm = XTestUtil::startXterm("placeme");
        QVERIFY2(m_xterm, qPrintable(XTestUtil::lastError()));
        QVERIFY(XTestUtil::activate(m_xterm.window));

        // A stand-in browser that notes what it was asked to open.
        {
            QFile opener(openerPath());
            QVERIFY(opener.open(QIODevice::WriteOnly));
            opener.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" >> '%1'\n").arg(openedPath()).toUtf8());
            opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", m_bin.path() + ":" + env.value("PATH"));
        env.remove("BROWSER");
        m_varlo.setProcessEnvironment(env);
        m_varlo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_varlo.start(programPath(), {"-background"});
        QVERIFY(m_varlo.waitForStarted());
        QVERIFY2(waitForLog(kReady), qPrintable(log()));
        QVERIFY2(hookInstalled(), qPrintable(log()));
        // Built shown and hidden at once.
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }));
    }

    void cleanupTestCase()
    {
        m_varlo.terminate();
        const bool ended = m_varlo.waitForFinished(10000);
        XTestUtil::cleanup();
        QVERIFY(ended);
        QCOMPARE(m_varlo.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_varlo.exitCode(), 0);
    }

    void secondStartShowsCentredPanels()
    {
        XTestUtil::movePointer(QPoint(5, 1075)); // away from where the panels appear
        QVERIFY(wakeVarlo());
        QVERIFY2(XTestUtil::waitFor([this] { return visiblePanels().size() == 2; }), qPrintable(log()));
        for (QScreen *s : QGuiApplication::screens()) {
            const QRect area = s->availableGeometry();
            const quint32 panel = panelOn(area);
            QVERIFY(panel);
            QVERIFY(skipsTaskbar(panel));
            const QPoint c = XTestUtil::clientGeometry(panel).center();
            QVERIFY2(qAbs(c.x() - area.center().x()) <= 2 && qAbs(c.y() - area.center().y()) <= 2,
                     qPrintable(QString("panel at %1,%2 on %3").arg(c.x()).arg(c.y()).arg(s->name())));
        }

        // A picture of the panels over the desktop, to look at, once they are drawn.
        const QRect panelArea = XTestUtil::clientGeometry(panelOn(QGuiApplication::primaryScreen()->availableGeometry()));
        QVERIFY(XTestUtil::waitFor([&] {
            const QImage image = QGuiApplication::primaryScreen()
                                     ->grabWindow(0, panelArea.x(), panelArea.y(), panelArea.width(), panelArea.height())
                                     .toImage();
            return !image.isNull() && image.pixel(image.width() / 2, image.height() / 2) != image.pixel(1, 1);
        }));
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
        const QString dir = qEnvironmentVariable("VARLO_ARTIFACT_DIR", QDir::currentPath());
        QVERIFY(shot.save(dir + "/panels.png"));
    }

    void dragPlacesTheWindowOnThatScreen()
    {
        const QRect area = secondScreenArea();
        const quint32 panel = panelOn(area);
        QVERIFY(panel);
        bool previewSeen = false;
        bool belowThePanel = false;
        QString stacking;
        QVERIFY(drag(cellCentre(panel, 1, 1), cellCentre(panel, 3, 2), [&] {
            // During the drag the preview covers the screen's work area.
            // It is not managed (the window manager's frame would catch the
            // pointer), so it is looked for among all of Varlo's windows.
            previewSeen = XTestUtil::waitFor([&] {
                m_lastWindows.clear();
                for (quint32 w : XTestUtil::windowsOf(m_varlo.processId())) {
                    const QRect g = XTestUtil::clientGeometry(w);
                    m_lastWindows += QString("0x%1:%2,%3 %4x%5 ").arg(w, 0, 16).arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height());
                }
                const quint32 preview = previewOver(area);
                if (!preview)
                    return false;
                // Directly below the panel: over other programs, under the drag.
                const QList<quint32> children = XTestUtil::rootChildren();
                const int previewAt = children.indexOf(XTestUtil::topLevelOf(preview));
                const int panelAt = children.indexOf(XTestUtil::topLevelOf(panel));
                stacking = QString("preview at %1, panel at %2 of %3").arg(previewAt).arg(panelAt).arg(children.size());
                // The root's children are listed bottom first.
                belowThePanel = panelAt >= 0 && previewAt == panelAt - 1;
                return true;
            });
        }));
        QVERIFY2(previewSeen, qPrintable(m_lastWindows + log()));
        QVERIFY2(belowThePanel, qPrintable(stacking));

        const QRect expected = placementRect(area, Util::MarginMetrics_t(), QSize(6, 6), QRect(1, 1, 3, 2)).toRect();
        QVERIFY2(waitForLog("QRect(1,1 3x2)"), qPrintable(log()));
        QVERIFY2(XTestUtil::waitFor([&] { return landedOn(m_xterm.window, expected); }),
                 qPrintable(describe(XTestUtil::outerFrame(m_xterm.window)) + ", expected" + describe(expected)));
        // The panels hide after a placement.
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }));
    }

    void shiftKeepsThePanelsOpen()
    {
        QVERIFY(wakeVarlo());
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().size() == 2; }));
        const QRect first = QGuiApplication::primaryScreen()->availableGeometry();
        const quint32 panel = panelOn(first);
        QVERIFY(panel);
        QVERIFY(XTestUtil::keyDown("shift"));
        const bool dragged = drag(cellCentre(panel, 0, 0), cellCentre(panel, 2, 5));
        const QRect expected = placementRect(first, Util::MarginMetrics_t(), QSize(6, 6), QRect(0, 0, 3, 6)).toRect();
        const bool placed = dragged && XTestUtil::waitFor([&] { return landedOn(m_xterm.window, expected); });
        // Once Varlo answers, it has handled the release and hidden what it was going to.
        const bool synced = XTestUtil::syncClient(panel);
        const int panelsLeft = visiblePanels().size();
        XTestUtil::keyUp("shift");
        QVERIFY2(placed, qPrintable(log() + describe(XTestUtil::outerFrame(m_xterm.window))));
        QVERIFY2(synced, qPrintable(XTestUtil::lastError()));
        QCOMPARE(panelsLeft, 2);
    }

    void escapeCancelsTheDragThenHides()
    {
        QVERIFY(showPanels());
        const QRect first = QGuiApplication::primaryScreen()->availableGeometry();
        const quint32 panel = panelOn(first);
        QVERIFY(panel);
        const int placements = log().count("| Placing on screen");
        QVERIFY(pressOnAWindow(cellCentre(panel, 0, 0)));
        QVERIFY(XTestUtil::movePointer(cellCentre(panel, 3, 3)));
        const bool previewShown = XTestUtil::waitFor([&] { return previewOver(first) != 0; });
        QVERIFY(XTestUtil::key("Escape"));
        QVERIFY(XTestUtil::buttonUp(1));
        QVERIFY2(previewShown, qPrintable(log()));
        // The drag was cancelled: the preview went, nothing was placed, the panels stay.
        QVERIFY2(XTestUtil::syncClient(panel), qPrintable(XTestUtil::lastError()));
        QCOMPARE(previewOver(first), 0u);
        QCOMPARE(log().count("| Placing on screen"), placements);
        QCOMPARE(visiblePanels().size(), 2);
        QVERIFY(XTestUtil::key("Escape"));
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }));
    }

    void altAloneDoublesTheGrid()
    {
        // Keys and clicks reach Varlo in the order they are typed: no pause between.
        QVERIFY(showPanels());
        QVERIFY(XTestUtil::key("alt"));
        const QRect first = QGuiApplication::primaryScreen()->availableGeometry();
        const quint32 panel = panelOn(first);
        QVERIFY(panel);
        // On the doubled grid a click in the top-left corner covers a 12 x 12 cell.
        QVERIFY(drag(cellCentre(panel, 0, 0) - QPoint(10, 5), cellCentre(panel, 0, 0) - QPoint(10, 5)));
        QVERIFY2(waitForLog("QSize(12, 12) QRect(0,0 1x1)"), qPrintable(log()));
        // And Alt again goes back to 6 x 6.
        QVERIFY(showPanels());
        QVERIFY(XTestUtil::key("alt"));
        QVERIFY(drag(cellCentre(panel, 5, 5), cellCentre(panel, 5, 5)));
        QVERIFY2(waitForLog("QSize(6, 6) QRect(5,5 1x1)"), qPrintable(log()));
        // Alt with another key in between does nothing.
        QVERIFY(showPanels());
        QVERIFY(XTestUtil::keyDown("alt"));
        QVERIFY(XTestUtil::key("Tab"));
        QVERIFY(XTestUtil::keyUp("alt"));
        QVERIFY(drag(cellCentre(panel, 4, 4), cellCentre(panel, 4, 4)));
        QVERIFY2(waitForLog("QSize(6, 6) QRect(4,4 1x1)"), qPrintable(log()));
    }

    void f1OpensTheHelpPage()
    {
        // Nothing of Varlo shown: F1 belongs to whatever program is in front.
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }));
        const QList<quint32> hidden = XTestUtil::windowsOf(m_varlo.processId(), true);
        QVERIFY(!hidden.isEmpty());
        QVERIFY(XTestUtil::key("F1"));
        // Handled once Varlo answers; a browser it started has run once none runs.
        QVERIFY2(XTestUtil::syncClient(hidden.first()), qPrintable(XTestUtil::lastError()));
        QVERIFY(XTestUtil::waitFor([this] { return !anyRunning(openerPath()); }));
        QCOMPARE(opened(), QString());

        QVERIFY(showPanels());
        QVERIFY(XTestUtil::key("F1"));
        QVERIFY2(XTestUtil::waitFor([this] { return opened().contains("share/varlo/help/index.html"); }),
                 qPrintable(opened() + log()));
        QVERIFY(QFile::exists(QUrl(opened().trimmed()).toLocalFile()));
        // Opening the page hides the panels.
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }));
    }

    // The gear on a panel: the panels go, the settings window comes, centred
    // on that panel's screen; Escape puts it away.
    void gearOpensTheSettingsOnItsScreen()
    {
        QVERIFY(showPanels());
        const QRect area = QGuiApplication::screens().at(1)->availableGeometry();
        const quint32 panel = panelOn(area);
        QVERIFY(panel);
        QVERIFY(XTestUtil::clickAt(XTestUtil::clientGeometry(panel).topLeft() + m_gearInPanel));
        const auto settingsWindow = [this] {
            for (quint32 w : XTestUtil::windowsOf(m_varlo.processId())) {
                if (XTestUtil::clientGeometry(w).size() == QSize(373, 358))
                    return w;
            }
            return 0u;
        };
        QVERIFY2(XTestUtil::waitFor([&] { return settingsWindow() != 0; }), qPrintable(log()));
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }));
        const QRect shown = XTestUtil::clientGeometry(settingsWindow());
        QVERIFY2(qAbs(shown.center().x() - area.center().x()) <= 1 && qAbs(shown.center().y() - area.center().y()) <= 1,
                 qPrintable(describe(shown)));
        QVERIFY(XTestUtil::key(QStringLiteral("Escape")));
        QVERIFY2(XTestUtil::waitFor([&] { return settingsWindow() == 0; }), qPrintable(log()));
    }

    void unpluggedScreenRebuildsThePanels()
    {
        QVERIFY(wakeVarlo());
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().size() == 2; }));
        // Hovering the second screen's panel shows the preview there.
        const QRect secondArea = secondScreenArea();
        const quint32 second = panelOn(secondArea);
        QVERIFY(second);
        QVERIFY(XTestUtil::movePointer(cellCentre(second, 2, 2)));
        QVERIFY2(XTestUtil::waitFor([&] { return previewOver(secondArea) != 0; }), qPrintable(log()));
        QVERIFY(XTestUtil::setOutputOff("DUMMY1"));
        // The panels are rebuilt for the one screen left, hidden; the preview goes with its screen.
        QVERIFY2(XTestUtil::waitFor([&] { return visiblePanels().isEmpty() && !previewOver(secondArea); }),
                 qPrintable(log()));
        QCOMPARE(m_varlo.state(), QProcess::Running);
        QVERIFY(wakeVarlo());
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().size() == 1; }));

        // And a drag on it still places the window.
        const QRect first = QGuiApplication::primaryScreen()->availableGeometry();
        const quint32 panel = panelOn(first);
        QVERIFY(panel);
        QVERIFY(drag(cellCentre(panel, 5, 0), cellCentre(panel, 5, 0)));
        const QRect expected = placementRect(first, Util::MarginMetrics_t(), QSize(6, 6), QRect(5, 0, 1, 1)).toRect();
        QVERIFY2(XTestUtil::waitFor([&] { return landedOn(m_xterm.window, expected); }), qPrintable(log()));

        QVERIFY(XTestUtil::setOutputOn("DUMMY1", QRect(1920, 0, 1280, 1024)));
        QVERIFY(wakeVarlo());
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().size() == 2; }));
    }

    // The user switches to another window and calls the panels at once: the
    // window switched to is placed, not the one before it.
    void theWindowJustChosenIsPlaced()
    {
        if (!visiblePanels().isEmpty()) {
            QVERIFY(XTestUtil::key("Escape"));
            QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }));
        }
        const StartedWindow chosen = XTestUtil::startXterm("chosen");
        QVERIFY2(chosen, qPrintable(XTestUtil::lastError()));
        QVERIFY(XTestUtil::activate(m_xterm.window));
        QVERIFY(XTestUtil::activate(chosen.window));
        const QRect before = XTestUtil::outerFrame(m_xterm.window);
        QVERIFY(showPanels());
        const QRect first = QGuiApplication::primaryScreen()->availableGeometry();
        const quint32 panel = panelOn(first);
        QVERIFY(panel);
        QVERIFY(skipsTaskbar(panel)); // again at this showing
        QVERIFY(drag(cellCentre(panel, 0, 3), cellCentre(panel, 1, 5)));
        const QRect expected = placementRect(first, Util::MarginMetrics_t(), QSize(6, 6), QRect(0, 3, 2, 3)).toRect();
        QVERIFY2(XTestUtil::waitFor([&] { return landedOn(chosen.window, expected); }),
                 qPrintable(log() + describe(XTestUtil::outerFrame(chosen.window))));
        QCOMPARE(XTestUtil::outerFrame(m_xterm.window), before);
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    TestX11Panels test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_panels.moc"
