// Screens plugged in and out in the middle of a drag: Varlo on a private
// three-screen desktop with Openbox, the panels and the preview shown, the
// pointer button held on a panel, while xrandr switches DUMMY1 or DUMMY2 off
// or on. Varlo must come through each round with one panel per screen, and
// a drag afterwards must still place the window where it should.

#include "desktopstress.h"
#include "procstat.h"
#include "placementgeometry.h"
#include "varlorun.h"
#include "xtestutil.h"

#include <QApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>

using namespace DesktopStress;

namespace {

struct Output
{
    QString name;
    QString mode; // made by xrun
    QRect geometry;
};

const Output kOutputs[] = {
    {QStringLiteral("DUMMY1"), QStringLiteral("varlo-1280x1024"), QRect(1920, 0, 1280, 1024)},
    {QStringLiteral("DUMMY2"), QStringLiteral("varlo-1024x768"), QRect(3200, 0, 1024, 768)},
};

// Which output each step switches, starting with both on: every step
// changes the number of screens, and the steps go through one, two and three
// screens. Qt appends a screen that comes, so steps 0 and 4 take away the
// middle one of three (DUMMY1, then DUMMY2), and the last takes its index.
const int kSteps[] = {0, 1, 1, 0, 1, 0, 0, 1};

bool switchOutput(const Output &output, bool on)
{
    const QStringList arguments =
        on ? QStringList{"--output",
                         output.name,
                         "--mode",
                         output.mode,
                         "--pos",
                         QStringLiteral("%1x%2").arg(output.geometry.x()).arg(output.geometry.y())}
           : QStringList{"--output", output.name, "--off"};
    return XTestUtil::run(QStringLiteral("xrandr"), arguments, kPatienceMs).ok();
}

} // namespace

class TestStressHotPlug : public QObject
{
    Q_OBJECT

private:
    Session m_session;
    bool m_on[2] = {true, true};

    qint64 pid() const { return m_session.pid(); }

    // Every screen of this process's Qt has exactly one of the panels given.
    static bool onePerScreen(const QList<quint32> &panels)
    {
        const QList<QScreen *> screens = QGuiApplication::screens();
        if (panels.size() != screens.size())
            return false;
        for (QScreen *screen : screens) {
            int on = 0;
            for (quint32 panel : panels)
                on += screen->geometry().contains(XTestUtil::clientGeometry(panel).center());
            if (on != 1)
                return false;
        }
        return true;
    }

    quint32 panelOn(const QRect &area) const
    {
        for (quint32 w : panels(pid(), m_session.panel.size)) {
            if (area.contains(XTestUtil::clientGeometry(w).center()))
                return w;
        }
        return 0;
    }

    QString describePanels() const
    {
        QStringList parts;
        const QList<quint32> shown = panels(pid(), m_session.panel.size);
        for (quint32 w : panels(pid(), m_session.panel.size, true))
            parts << QStringLiteral("0x%1%2%3")
                         .arg(w, 0, 16)
                         .arg(VarloRun::describe(XTestUtil::clientGeometry(w)),
                              shown.contains(w) ? QStringLiteral(" shown")
                                                : QStringLiteral(" hidden"));
        QStringList screens;
        for (QScreen *s : QGuiApplication::screens())
            screens << s->name() + VarloRun::describe(s->geometry());
        return QStringLiteral("panels: %1; screens: %2").arg(parts.join(", "), screens.join(", "));
    }

    // Varlo has rebuilt its panels for the screens there are now, all hidden.
    bool panelsRebuilt() const
    {
        return panels(pid(), m_session.panel.size).isEmpty() &&
               onePerScreen(panels(pid(), m_session.panel.size, true));
    }

    bool showPanels()
    {
        return pressHotKey('d') &&
               XTestUtil::waitFor(
                   [this] { return onePerScreen(panels(pid(), m_session.panel.size)); },
                   kPatienceMs);
    }

    // The window manager maps a panel's frame a moment after Varlo shows it:
    // press only once the panel is what the pointer is over.
    bool pressOn(quint32 panel, const QPoint &at)
    {
        return XTestUtil::fakeMotion(at) &&
               XTestUtil::waitFor(
                   [&] { return XTestUtil::windowUnderPointer() == XTestUtil::topLevelOf(panel); },
                   kPatienceMs) &&
               XTestUtil::fakeButton(1, true);
    }

    // Varlo's memory in the same state each time: all three screens, the
    // preview last drawn over the first one (its buffer is the size of the
    // screen it covers), the panels hidden again.
    bool measure(qint64 *kb)
    {
        if (!showPanels())
            return false;
        const QRect first = QGuiApplication::primaryScreen()->availableGeometry();
        const quint32 panel = panelOn(first);
        if (!panel ||
            !XTestUtil::fakeMotion(
                m_session.panel.cellCentre(XTestUtil::clientGeometry(panel), 2, 2)) ||
            !XTestUtil::waitFor([&] { return previewOver(pid(), first) != 0; }, kPatienceMs) ||
            !pressHotKey('d') ||
            !XTestUtil::waitFor([this] { return panels(pid(), m_session.panel.size).isEmpty(); },
                                kPatienceMs) ||
            !settle(m_session.lasting))
            return false;
        *kb = ProcStat::statusKb(pid(), "VmRSS");
        return *kb > 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(XTestUtil::xrunScreens() == 3, "needs three screens (Xorg with the dummy driver)");
        const QString failed = m_session.start({});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QVERIFY2(XTestUtil::waitFor([this] { return panelsRebuilt(); }, kPatienceMs),
                 qPrintable(describePanels()));
    }

    void cleanupTestCase()
    {
        QVERIFY2(m_session.stop(), "Varlo did not end cleanly (a crash, a hang, or a leak report)");
    }

    void hotPlugsDuringADrag()
    {
        const int rounds = DesktopStress::rounds(200);
        SummaryLine line(QStringLiteral("hot-plugs during a drag"));
        ResidentMemory memory;
        const int baselineRound = ResidentMemory::baselineRoundOf(rounds);
        ResidentMemory::Level early;
        int previews = 0;
        int offs = 0;
        int ons = 0;
        int done = 0;
        int placedDuring = 0;
        QStringList misplaced;
        QString failure;
        for (int round = 0; round < rounds && failure.isEmpty(); ++round) {
            // The panels on every screen, and a drag on one of them with its preview.
            if (!showPanels()) {
                failure = QStringLiteral(
                              "round %1: not one panel per screen shown; %2; Varlo's log ends:\n%3")
                              .arg(round)
                              .arg(describePanels(), VarloRun::log().right(2500));
                break;
            }
            // Every other cycle a screen that goes is the one dragged on.
            const int which = kSteps[round % std::size(kSteps)];
            const QList<QScreen *> screens = QGuiApplication::screens();
            const QScreen *dragged = screens.at(round % screens.size());
            if (m_on[which] && round / std::size(kSteps) % 2 == 0)
                dragged = XTestUtil::screenNamed(kOutputs[which].name);
            const QRect area = dragged->availableGeometry();
            const QString draggedName = dragged->name();
            const qsizetype logBefore = VarloRun::log().size();
            const quint32 panel = panelOn(area);
            const QRect panelGeometry = XTestUtil::clientGeometry(panel);
            if (!panel ||
                !pressOn(panel, m_session.panel.cellCentre(panelGeometry, round % 6, 1))) {
                failure = QStringLiteral("round %1: no panel to press on%2")
                              .arg(round)
                              .arg(VarloRun::describe(area));
                break;
            }
            XTestUtil::fakeMotion(m_session.panel.cellCentre(panelGeometry, 3, 3));
            XTestUtil::fakeMotion(m_session.panel.cellCentre(panelGeometry, 5 - round % 6, 4));
            // The preview comes with hovering already; only a drag under way
            // colours the cell it started from too (rows 1 and 5 lie clear
            // of the panel on every screen).
            const QPoint started = previewCellCentre(area, round % 6, 1);
            const QPoint outside = previewCellCentre(area, round % 6, 5);
            const auto dragShown = [&] {
                const std::optional<quint32> in = XTestUtil::rootPixel(started);
                const std::optional<quint32> out = XTestUtil::rootPixel(outside);
                return previewOver(pid(), area) != 0 && in && out && *in != *out;
            };
            if (!XTestUtil::waitFor(dragShown, kPatienceMs)) {
                XTestUtil::fakeButton(1, false);
                failure = QStringLiteral("round %1: no preview of the drag over%2")
                              .arg(round)
                              .arg(VarloRun::describe(area));
                break;
            }
            ++previews;

            // A screen comes or goes under the drag, which goes on and ends.
            m_on[which] = !m_on[which];
            if (!switchOutput(kOutputs[which], m_on[which])) {
                XTestUtil::fakeButton(1, false);
                failure = QStringLiteral("round %1: xrandr failed: %2")
                              .arg(round)
                              .arg(XTestUtil::lastError());
                break;
            }
            (m_on[which] ? ons : offs) += 1;
            for (int step = 0; step < 3; ++step)
                XTestUtil::fakeMotion(m_session.panel.cellCentre(panelGeometry, step * 2, 5) +
                                      QPoint(step * 40, 0));
            XTestUtil::fakeButton(1, false);
            const int expected = 1 + int(m_on[0]) + int(m_on[1]);
            if (!XTestUtil::waitForScreenCount(expected, kPatienceMs) ||
                !XTestUtil::waitFor([this] { return panelsRebuilt(); }, kPatienceMs) ||
                !settle(m_session.lasting)) {
                failure = QStringLiteral("round %1: after %2 went %3: %4; %5")
                              .arg(round)
                              .arg(kOutputs[which].name, m_on[which] ? "on" : "off",
                                   describePanels(), XTestUtil::lastError());
                break;
            }
            // A release that Varlo took before it rebuilt the panels places
            // on the screen dragged on, or nowhere when that screen is gone;
            // never on a screen that took its place in the list.
            const QString told = VarloRun::log().mid(logBefore);
            for (const QRect &target : placementTargets(told)) {
                ++placedDuring;
                if (!area.contains(target))
                    misplaced << QStringLiteral(
                                     "round %1: dragged on %2%3, placed at%4; Varlo's log:\n%5")
                                     .arg(round)
                                     .arg(draggedName, VarloRun::describe(area),
                                          VarloRun::describe(target), told);
            }
            if (m_session.varlo->state() != QProcess::Running) {
                failure = QStringLiteral("round %1: Varlo ended").arg(round);
                break;
            }
            ++done;
            // Taken with all three screens, as at the end.
            if (early.kb < 0 && done >= baselineRound && m_on[0] && m_on[1]) {
                if (!measure(&early.kb)) {
                    failure = QStringLiteral("round %1: %2").arg(round).arg(XTestUtil::lastError());
                    break;
                }
                early.when = QStringLiteral("after round %1").arg(done);
                memory.early << early;
            }
        }
        memory.end.when = QStringLiteral("after round %1").arg(done);

        line.add(QStringLiteral("%1 of %2 rounds%3").arg(done).arg(rounds).arg(scaleNote()));
        line.add(QStringLiteral(
                     "%1 outputs off and %2 on while dragging with the preview shown (%3 previews)")
                     .arg(offs)
                     .arg(ons)
                     .arg(previews));
        line.add(QStringLiteral("%1 releases placed the xterm before the panels were rebuilt, %2 "
                                "of them on another screen")
                     .arg(placedDuring)
                     .arg(misplaced.size()));
        // What the log and the run folder tell, whichever way the rounds ended.
        const auto health = [&] {
            const QStringList errors = xErrors(VarloRun::log());
            const QStringList crashes = crashReports();
            line.add(QStringLiteral("%1 X errors, %2 crash reports")
                         .arg(errors.size())
                         .arg(crashes.size()));
            line.add(memory.describe());
            QStringList problems = errors + crashes + misplaced;
            if (memory.grew())
                problems << QStringLiteral("memory grew: ") + memory.describe();
            return problems.join('\n');
        };
        if (!failure.isEmpty()) {
            memory.end.kb = ProcStat::statusKb(pid(), "VmRSS");
            health();
            QFAIL(qPrintable(failure));
        }

        // Both outputs on again: one panel on each of the three screens, and a
        // drag on the second screen's panel places the xterm there.
        for (int which = 0; which < 2; ++which) {
            if (!m_on[which]) {
                QVERIFY2(switchOutput(kOutputs[which], true), qPrintable(XTestUtil::lastError()));
                m_on[which] = true;
            }
        }
        QVERIFY2(XTestUtil::waitForScreenCount(3, kPatienceMs), qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::waitFor([this] { return panelsRebuilt(); }, kPatienceMs),
                 qPrintable(describePanels()));
        QVERIFY(settle(m_session.lasting));
        if (memory.early.isEmpty()) { // a run too short to have had all screens again
            QVERIFY2(measure(&early.kb), qPrintable(XTestUtil::lastError()));
            early.when = QStringLiteral("after round %1").arg(done);
            memory.early << early;
        }
        QVERIFY2(showPanels(), qPrintable(describePanels()));
        const QRect second = XTestUtil::screenNamed(QStringLiteral("DUMMY1"))->availableGeometry();
        const quint32 panel = panelOn(second);
        QVERIFY(panel);
        const QRect panelGeometry = XTestUtil::clientGeometry(panel);
        QVERIFY(pressOn(panel, m_session.panel.cellCentre(panelGeometry, 1, 1)));
        XTestUtil::fakeMotion(m_session.panel.cellCentre(panelGeometry, 2, 2));
        XTestUtil::fakeMotion(m_session.panel.cellCentre(panelGeometry, 3, 2));
        XTestUtil::fakeButton(1, false);
        const QRect target =
            placementRect(second, Util::MarginMetrics_t(), QSize(6, 6), QRect(1, 1, 3, 2)).toRect();
        const bool landed = XTestUtil::waitFor(
            [&] { return VarloRun::landedOn(m_session.xterm.window, target); }, kPatienceMs);
        line.add(QStringLiteral(
                     "then one panel per screen, and a drag on DUMMY1 placed the xterm at%1 (%2)")
                     .arg(VarloRun::describe(XTestUtil::outerFrame(m_session.xterm.window)),
                          landed ? QStringLiteral("as expected")
                                 : QStringLiteral("expected") + VarloRun::describe(target)));
        QVERIFY2(landed, qPrintable(VarloRun::log().right(3000)));
        QCOMPARE(m_session.varlo->state(), QProcess::Running);
        QVERIFY2(XTestUtil::waitFor(
                     [this] { return panels(pid(), m_session.panel.size).isEmpty(); }, kPatienceMs),
                 "the panels stayed");
        QVERIFY2(measure(&memory.end.kb), qPrintable(XTestUtil::lastError()));
        const QString problems = health();
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    TestStressHotPlug test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_stress_hotplug.moc"
