// The panels end to end: Varlo and an xterm on a private two-screen desktop
// with Openbox, driven with the real pointer and keyboard (XTEST).

#include "cellgrid.h"
#include "commonbehavior.h"
#include "dragframe.h"
#include "gridwindow.h"
#include "placementgeometry.h"
#include "xtestutil.h"

#include <QDir>
#include <QElapsedTimer>
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

QString varloPath()
{
    return XTestUtil::binDir() + QStringLiteral("/Varlo");
}

QString logPath()
{
    return qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/varlo.log");
}

QString readLog()
{
    QFile f(logPath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// An xterm sizes itself in whole character cells (its resize increments),
// which the window manager honours: the frame's corner lands exactly, its
// size up to one cell short.
bool landedOn(quint32 window, const QRect &expected)
{
    const QRect r = XTestUtil::outerFrame(window);
    return r.topLeft() == expected.topLeft() && r.width() <= expected.width()
           && r.height() <= expected.height() && expected.width() - r.width() < 16
           && expected.height() - r.height() < 24;
}

bool waitForLog(const QString &text, int count = 1, int timeoutMs = 10000)
{
    return XTestUtil::waitFor([&] { return readLog().count(text) >= count; }, timeoutMs);
}

quint32 parentOf(quint32 window)
{
    const QByteArray out = XTestUtil::run("xwininfo", {"-id", QString::number(window), "-tree"}).standardOutput;
    const QRegularExpressionMatch m = QRegularExpression("Parent window id: (0x[0-9a-f]+)").match(QString::fromLatin1(out));
    return m.hasMatch() ? m.captured(1).toUInt(nullptr, 16) : 0u;
}

// The root's children as xwininfo lists them: the top of the stack first.
QList<quint32> rootChildren()
{
    QList<quint32> ids;
    const QByteArray out = XTestUtil::run("xwininfo", {"-root", "-children"}).standardOutput;
    QRegularExpressionMatchIterator it =
        QRegularExpression("^\\s+(0x[0-9a-f]+) ", QRegularExpression::MultilineOption).globalMatch(QString::fromLatin1(out));
    while (it.hasNext())
        ids << it.next().captured(1).toUInt(nullptr, 16);
    return ids;
}

quint32 rootWindow();

// The child of the root that holds window: the window manager's frame of it.
quint32 topLevelOf(quint32 window)
{
    for (int i = 0; i < 8 && window; ++i) {
        const quint32 parent = parentOf(window);
        if (parent == rootWindow() || !parent)
            return window;
        window = parent;
    }
    return window;
}

quint32 rootWindow()
{
    static quint32 root = [] {
        const QByteArray out = XTestUtil::run("xwininfo", {"-root"}).standardOutput;
        const QRegularExpressionMatch m = QRegularExpression("Window id: (0x[0-9a-f]+)").match(QString::fromLatin1(out));
        return m.hasMatch() ? m.captured(1).toUInt(nullptr, 16) : 0u;
    }();
    return root;
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
    QString m_lastWindows;
    QTemporaryDir m_bin;
    QString openedPath() const { return m_bin.filePath("opened"); }
    QString opened() const
    {
        QFile f(openedPath());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    bool hookInstalled() const { return !readLog().contains("Could not install keyboard hook"); }

    bool showPanels()
    {
        XTestUtil::movePointer(QPoint(5, 1075));
        return wakeVarlo() && XTestUtil::waitFor([this] { return visiblePanels().size() == QGuiApplication::screens().size(); });
    }

    /** Varlo's visible top-level windows of the panel's size. */
    QList<quint32> visiblePanels() const
    {
        QList<quint32> result;
        for (quint32 w : XTestUtil::clientList()) {
            const QList<quint32> pid = XTestUtil::cardinalProperty(w, "_NET_WM_PID");
            if (pid.value(0) != quint32(m_varlo.processId()))
                continue;
            if (XTestUtil::clientGeometry(w).size() == QSize(330, 289))
                result << w;
        }
        return result;
    }

    quint32 panelOn(const QRect &screenArea) const
    {
        for (quint32 w : visiblePanels()) {
            if (screenArea.contains(XTestUtil::clientGeometry(w).center()))
                return w;
        }
        return 0;
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
        second.start(varloPath(), {});
        return second.waitForFinished(10000) && second.exitCode() == 0;
    }

    bool drag(const QPoint &from, const QPoint &to, const std::function<void()> &midway = {})
    {
        if (!XTestUtil::movePointer(from))
            return false;
        // The window manager maps a panel's frame a moment after Varlo shows
        // it: press only once there is a window under the pointer.
        const bool hit = XTestUtil::waitFor([] {
            const QByteArray where = XTestUtil::run("xdotool", {"getmouselocation", "--shell"}).standardOutput;
            return !where.contains("WINDOW=" + QByteArray::number(rootWindow()) + "\n");
        }, 3000);
        if (!hit || !XTestUtil::run("xdotool", {"mousedown", "1"}).ok())
            return false;
        // A few steps, as a hand would move.
        for (int i = 1; i <= 4; ++i) {
            XTestUtil::movePointer(from + (to - from) * i / 4);
            QTest::qWait(30);
        }
        if (midway)
            midway();
        return XTestUtil::run("xdotool", {"mouseup", "1"}).ok();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (XTestUtil::xrunScreens() < 2)
            QSKIP("needs two screens (Xorg with the dummy driver)");
        CommonBehavior controller(nullptr);
        GridWindow panel(&controller);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        m_frameInPanel = QRect(panel.dragFrame()->mapTo(&panel, QPoint(0, 0)), panel.dragFrame()->size());
        panel.close();
        QVERIFY(m_frameInPanel.width() > 100 && m_frameInPanel.height() > 60);

        m_xterm = XTestUtil::startXterm("placeme");
        QVERIFY2(m_xterm, qPrintable(XTestUtil::lastError()));
        QVERIFY(XTestUtil::activate(m_xterm.window));

        // A stand-in browser that notes what it was asked to open.
        {
            QFile opener(m_bin.filePath("xdg-open"));
            QVERIFY(opener.open(QIODevice::WriteOnly));
            opener.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" >> '%1'\n").arg(openedPath()).toUtf8());
            opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", m_bin.path() + ":" + env.value("PATH"));
        env.remove("BROWSER");
        m_varlo.setProcessEnvironment(env);
        m_varlo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_varlo.start(varloPath(), {"-background"});
        QVERIFY(m_varlo.waitForStarted());
        QVERIFY2(waitForLog("| Finished application initialization."), qPrintable(readLog()));
        // Built shown and hidden at once: wait for the window manager to catch up.
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }));
    }

    void cleanupTestCase()
    {
        m_varlo.terminate();
        m_varlo.waitForFinished(5000);
        XTestUtil::cleanup();
    }

    void secondStartShowsCentredPanels()
    {
        XTestUtil::movePointer(QPoint(5, 1075)); // away from where the panels appear
        QVERIFY(wakeVarlo());
        QVERIFY2(XTestUtil::waitFor([this] { return visiblePanels().size() == 2; }), qPrintable(readLog()));
        for (QScreen *s : QGuiApplication::screens()) {
            const QRect area = s->availableGeometry();
            const quint32 panel = panelOn(area);
            QVERIFY(panel);
            const QPoint c = XTestUtil::clientGeometry(panel).center();
            QVERIFY2(qAbs(c.x() - area.center().x()) <= 2 && qAbs(c.y() - area.center().y()) <= 2,
                     qPrintable(QString("panel at %1,%2 on %3").arg(c.x()).arg(c.y()).arg(s->name())));
        }

        // A picture of the panels over the desktop, to look at.
        QTest::qWait(400);
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
                const CommandResult r = XTestUtil::run("xdotool", {"search", "--onlyvisible", "--pid",
                                                                   QString::number(m_varlo.processId())});
                m_lastWindows.clear();
                for (const QByteArray &id : r.standardOutput.split('\n')) {
                    const QRect g = id.isEmpty() ? QRect() : XTestUtil::clientGeometry(id.toUInt());
                    m_lastWindows += QString("%1:%2,%3 %4x%5 ").arg(QString(id)).arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height());
                }
                for (const QByteArray &id : r.standardOutput.split('\n')) {
                    if (!id.isEmpty() && XTestUtil::clientGeometry(id.toUInt()) == area) {
                        // Directly below the panel: over other programs, under the drag.
                        const QList<quint32> children = rootChildren();
                        const int previewAt = children.indexOf(topLevelOf(id.toUInt()));
                        const int panelAt = children.indexOf(topLevelOf(panel));
                        stacking = QString("preview at %1, panel at %2 of %3").arg(previewAt).arg(panelAt).arg(children.size());
                        belowThePanel = panelAt >= 0 && previewAt == panelAt + 1;
                        return true;
                    }
                }
                return false;
            }, 3000);
        }));
        QVERIFY2(belowThePanel || !previewSeen, qPrintable(stacking));
        QVERIFY2(previewSeen, qPrintable(m_lastWindows + " pointer: "
                                         + XTestUtil::run("xdotool", {"getmouselocation"}).standardOutput
                                         + readLog()));

        const QRect expected = placementRect(area, Util::MarginMetrics_t(), QSize(6, 6), QRect(1, 1, 3, 2)).toRect();
        QVERIFY2(waitForLog("QRect(1,1 3x2)"), qPrintable(readLog()));
        QVERIFY2(XTestUtil::waitFor([&] { return landedOn(m_xterm.window, expected); }),
                 qPrintable(QString("xterm at %1,%2 %3x%4, expected %5,%6 %7x%8")
                                .arg(XTestUtil::outerFrame(m_xterm.window).x())
                                .arg(XTestUtil::outerFrame(m_xterm.window).y())
                                .arg(XTestUtil::outerFrame(m_xterm.window).width())
                                .arg(XTestUtil::outerFrame(m_xterm.window).height())
                                .arg(expected.x()).arg(expected.y()).arg(expected.width()).arg(expected.height())));
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
        QVERIFY(drag(cellCentre(panel, 0, 0), cellCentre(panel, 2, 5)));
        const QRect expected = placementRect(first, Util::MarginMetrics_t(), QSize(6, 6), QRect(0, 0, 3, 6)).toRect();
        const bool placed = XTestUtil::waitFor([&] { return landedOn(m_xterm.window, expected); });
        QTest::qWait(300);
        const int panelsLeft = visiblePanels().size();
        XTestUtil::keyUp("shift");
        QVERIFY2(placed, qPrintable(readLog() + QString("xterm at %1,%2 %3x%4").arg(XTestUtil::outerFrame(m_xterm.window).x()).arg(XTestUtil::outerFrame(m_xterm.window).y()).arg(XTestUtil::outerFrame(m_xterm.window).width()).arg(XTestUtil::outerFrame(m_xterm.window).height())));
        if (readLog().contains("Could not install keyboard hook"))
            QSKIP("the keyboard is not watched on this desktop: Shift cannot be seen");
        QCOMPARE(panelsLeft, 2);
    }

    void escapeCancelsTheDragThenHides()
    {
        if (!hookInstalled())
            QSKIP("the keyboard is not watched on this desktop");
        QVERIFY(showPanels());
        const QRect first = QGuiApplication::primaryScreen()->availableGeometry();
        const quint32 panel = panelOn(first);
        const QRect before = XTestUtil::outerFrame(m_xterm.window);
        XTestUtil::movePointer(cellCentre(panel, 0, 0));
        QVERIFY(XTestUtil::waitFor([] {
            return !XTestUtil::run("xdotool", {"getmouselocation", "--shell"}).standardOutput.contains(
                "WINDOW=" + QByteArray::number(rootWindow()) + "\n");
        }));
        QVERIFY(XTestUtil::run("xdotool", {"mousedown", "1"}).ok());
        XTestUtil::movePointer(cellCentre(panel, 3, 3));
        QTest::qWait(100);
        QVERIFY(XTestUtil::key("Escape"));
        QTest::qWait(200);
        QVERIFY(XTestUtil::run("xdotool", {"mouseup", "1"}).ok());
        QTest::qWait(400);
        // The drag was cancelled: nothing moved, the panels stay.
        QCOMPARE(XTestUtil::outerFrame(m_xterm.window), before);
        QCOMPARE(visiblePanels().size(), 2);
        QVERIFY(XTestUtil::key("Escape"));
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }));
    }

    void altAloneDoublesTheGrid()
    {
        if (!hookInstalled())
            QSKIP("the keyboard is not watched on this desktop");
        QVERIFY(showPanels());
        QVERIFY(XTestUtil::key("alt"));
        QTest::qWait(300);
        const QRect first = QGuiApplication::primaryScreen()->availableGeometry();
        const quint32 panel = panelOn(first);
        // On the doubled grid a click in the top-left corner covers a 12 x 12 cell.
        QVERIFY(drag(cellCentre(panel, 0, 0) - QPoint(10, 5), cellCentre(panel, 0, 0) - QPoint(10, 5)));
        QVERIFY2(waitForLog("QSize(12, 12) QRect(0,0 1x1)"), qPrintable(readLog()));
        // And Alt again goes back to 6 x 6.
        QVERIFY(showPanels());
        QVERIFY(XTestUtil::key("alt"));
        QTest::qWait(300);
        QVERIFY(drag(cellCentre(panel, 5, 5), cellCentre(panel, 5, 5)));
        QVERIFY2(waitForLog("QSize(6, 6) QRect(5,5 1x1)"), qPrintable(readLog()));
        // Alt with another key in between does nothing.
        QVERIFY(showPanels());
        QVERIFY(XTestUtil::keyDown("alt"));
        QVERIFY(XTestUtil::key("Tab"));
        QVERIFY(XTestUtil::keyUp("alt"));
        QTest::qWait(300);
        QVERIFY(drag(cellCentre(panel, 4, 4), cellCentre(panel, 4, 4)));
        QVERIFY2(waitForLog("QSize(6, 6) QRect(4,4 1x1)"), qPrintable(readLog()));
    }

    void f1OpensTheHelpPage()
    {
        if (!hookInstalled())
            QSKIP("the keyboard is not watched on this desktop");
        // Nothing of Varlo shown: F1 belongs to whatever program is in front.
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }));
        QVERIFY(XTestUtil::key("F1"));
        QTest::qWait(500);
        QCOMPARE(opened(), QString());

        QVERIFY(showPanels());
        QVERIFY(XTestUtil::key("F1"));
        QVERIFY2(XTestUtil::waitFor([this] { return opened().contains("share/varlo/help/index.html"); }),
                 qPrintable(opened() + readLog()));
        QVERIFY(QFile::exists(QUrl(opened().trimmed()).toLocalFile()));
        // Opening the page hides the panels.
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }));
    }

    void unpluggedScreenRebuildsThePanels()
    {
        QVERIFY(wakeVarlo());
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().size() == 2; }));
        // Hovering the second screen's panel shows the preview there.
        const quint32 second = panelOn(secondScreenArea());
        QVERIFY(second);
        XTestUtil::movePointer(cellCentre(second, 2, 2));
        QVERIFY(XTestUtil::setOutputOff("DUMMY1"));
        // The panels are rebuilt for the one screen left, hidden.
        QVERIFY2(XTestUtil::waitFor([this] { return visiblePanels().isEmpty(); }), qPrintable(readLog()));
        QCOMPARE(m_varlo.state(), QProcess::Running);
        QVERIFY(wakeVarlo());
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().size() == 1; }));

        // And a drag on it still places the window.
        const QRect first = QGuiApplication::primaryScreen()->availableGeometry();
        const quint32 panel = panelOn(first);
        QVERIFY(panel);
        QVERIFY(drag(cellCentre(panel, 5, 0), cellCentre(panel, 5, 0)));
        const QRect expected = placementRect(first, Util::MarginMetrics_t(), QSize(6, 6), QRect(5, 0, 1, 1)).toRect();
        QVERIFY2(XTestUtil::waitFor([&] { return landedOn(m_xterm.window, expected); }), qPrintable(readLog()));

        QVERIFY(XTestUtil::setOutputOn("DUMMY1", QRect(1920, 0, 1280, 1024)));
        QVERIFY(wakeVarlo());
        QVERIFY(XTestUtil::waitFor([this] { return visiblePanels().size() == 2; }));
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
