// Windows that vanish under Varlo's hands: on a private three-screen desktop
// with Openbox, the window in front is destroyed while a named shortcut or a
// release on a panel places it, and hot keys are pressed while windows come
// and go without a pause. A vanished window must be a quiet note in the log,
// never an X error, a crash or a hang, and Varlo's memory must stay flat.

#include "desktopstress.h"
#include "procstat.h"
#include "placementgeometry.h"
#include "scratchwindows.h"
#include "varlorun.h"
#include "xtestutil.h"

#include <QApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>

using namespace DesktopStress;

namespace {

const quint32 kLeft = 0xff51; // the "left half" shortcut: Ctrl+Alt+Left
const quint32 kOne = '1';     // "quarter": Ctrl+Alt+1
const quint32 kPanels = 'd';  // the panels' hot key: Ctrl+Alt+D

// How the target window goes, against the moment the placement is asked for.
enum Order
{
    DestroyedFirst, // destroyed, then the key
    DestroyedAfter, // the key, then destroyed at once
    DestroyedLater, // the key, then destroyed a few round trips later
    Killed,         // the key, then its client killed from outside (KillClient)
    Crashed,        // the key, then its client's connection closes
    PanelRelease,   // a release on a panel, then destroyed 0-3 round trips later
    OrderCount
};

const char *const kOrderNames[] = {"destroyed before the key",
                                   "destroyed right after the key",
                                   "destroyed 1-8 round trips after the key",
                                   "client killed after the key",
                                   "client crashed after the key",
                                   "destroyed 0-3 round trips after a panel release"};

// The screen a window is on, as Varlo decides it: the one it overlaps most.
QRect areaOf(const QRect &frame)
{
    QRect best;
    qint64 largest = -1;
    for (QScreen *screen : QGuiApplication::screens()) {
        const QRect common = screen->availableGeometry() & frame;
        const qint64 area = qint64(common.width()) * common.height();
        if (area > largest) {
            largest = area;
            best = screen->availableGeometry();
        }
    }
    return best;
}

} // namespace

class TestStressVanishing : public QObject
{
    Q_OBJECT

private:
    Session m_session;
    ResidentMemory m_memory; // of both tests

    qint64 pid() const { return m_session.pid(); }
    bool panelsShown() const
    {
        return panels(pid(), m_session.panel.size).size() == QGuiApplication::screens().size();
    }
    bool panelsHidden() const { return panels(pid(), m_session.panel.size).isEmpty(); }

    // The memory after the first hundred rounds of a test of rounds rounds.
    void roundDone(int done, int rounds, const QString &test)
    {
        if (done == ResidentMemory::baselineRoundOf(rounds))
            m_memory.early << ResidentMemory::Level{
                QStringLiteral("after round %1 of the %2").arg(done).arg(test), ProcStat::statusKb(pid(), "VmRSS")};
    }

    // A release on the first screen's panel, over a few cells.
    bool releaseOnPanel(int round)
    {
        if (!pressHotKey(kPanels) ||
            !XTestUtil::waitFor([this] { return panelsShown(); }, kPatienceMs))
            return false;
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        quint32 panel = 0;
        for (quint32 w : panels(pid(), m_session.panel.size)) {
            if (area.contains(XTestUtil::clientGeometry(w).center()))
                panel = w;
        }
        const QRect geometry = XTestUtil::clientGeometry(panel);
        return panel && XTestUtil::fakeMotion(m_session.panel.cellCentre(geometry, round % 6, 0)) &&
               XTestUtil::waitFor(
                   [&] { return XTestUtil::windowUnderPointer() == XTestUtil::topLevelOf(panel); },
                   kPatienceMs) &&
               XTestUtil::fakeButton(1, true) &&
               XTestUtil::fakeMotion(m_session.panel.cellCentre(geometry, 5, 2 + round % 4)) &&
               XTestUtil::fakeButton(1, false);
    }

    // The log's X errors and the crash reports so far, added to line; the
    // problems found, empty when there are none.
    QString health(SummaryLine &line) const
    {
        const QStringList errors = xErrors(VarloRun::log());
        const QStringList crashes = crashReports();
        line.add(
            QStringLiteral("%1 X errors, %2 crash reports").arg(errors.size()).arg(crashes.size()));
        QStringList problems = errors + crashes;
        if (m_session.varlo->state() != QProcess::Running)
            problems << QStringLiteral("Varlo is not running");
        return problems.join('\n');
    }

    // After it all, Varlo still places the window in front where it should.
    bool placesTheXterm(QString *where)
    {
        if (!XTestUtil::activate(m_session.xterm.window) || !settle(m_session.lasting))
            return false;
        const QRect area = areaOf(XTestUtil::outerFrame(m_session.xterm.window));
        const QRect quarter =
            placementRect(area, Util::MarginMetrics_t(), QSize(2, 2), QRect(1, 1, 1, 1)).toRect();
        const QRect half =
            placementRect(area, Util::MarginMetrics_t(), QSize(2, 1), QRect(0, 0, 1, 1)).toRect();
        const bool placed =
            pressHotKey(kOne) &&
            XTestUtil::waitFor([&] { return VarloRun::landedOn(m_session.xterm.window, quarter); },
                               kPatienceMs) &&
            pressHotKey(kLeft) &&
            XTestUtil::waitFor([&] { return VarloRun::landedOn(m_session.xterm.window, half); },
                               kPatienceMs);
        *where = VarloRun::describe(XTestUtil::outerFrame(m_session.xterm.window)) +
                 (placed ? QString() : QStringLiteral(", expected") + VarloRun::describe(half));
        return placed;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(XTestUtil::xrunScreens() == 3, "needs three screens (Xorg with the dummy driver)");
        const QString failed =
            m_session.start({{"left half", "Ctrl+Alt+Left", {2, 1}, {0, 0, 1, 1}},
                             {"quarter", "Ctrl+Alt+1", {2, 2}, {1, 1, 1, 1}}});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void cleanupTestCase()
    {
        QVERIFY2(m_session.stop(), "Varlo did not end cleanly (a crash, a hang, or a leak report)");
    }

    // The window in front vanishes between the moment the user asks for the
    // placement and the moment Varlo sends it, in every order we can bring about.
    void placementsOfVanishingWindows()
    {
        const int rounds = DesktopStress::rounds(1000);
        SummaryLine line(QStringLiteral("placements of vanishing windows"));
        int byOrder[OrderCount] = {};
        int goneByOrder[OrderCount] = {};
        QString failure;
        LogTail tail;
        tail.next();
        const int placedBefore =
            occurrences(VarloRun::log(), QStringLiteral("| Placing on screen"));
        int done = 0;
        for (int round = 0; round < rounds && failure.isEmpty(); ++round) {
            const Order order = Order(round % OrderCount);
            // Neighbouring rounds use different shortcuts, so that the log
            // never folds one round's line into the one before.
            const quint32 key = round % 2 ? kOne : kLeft;
            tail.next();
            ScratchClient client;
            const quint32 window =
                client.mapActive(QStringLiteral("vanishing %1").arg(round),
                                 QRect(200 + round % 7 * 50, 150 + round % 5 * 40, 360, 240));
            if (!window) {
                failure = QStringLiteral("round %1: %2").arg(round).arg(ScratchClient::lastError());
                break;
            }
            bool sent = true;
            switch (order) {
            case DestroyedFirst:
                client.destroy(window);
                client.roundTrips(1);
                sent = pressHotKey(key);
                break;
            case DestroyedAfter:
                sent = pressHotKey(key) && XTestUtil::roundTrip();
                client.destroy(window);
                break;
            case DestroyedLater:
                sent = pressHotKey(key) && XTestUtil::roundTrip();
                client.roundTrips(1 + round / OrderCount % 8);
                client.destroy(window);
                break;
            case Killed:
                sent = pressHotKey(key) && XTestUtil::roundTrip() && client.kill(window);
                break;
            case Crashed:
                sent = pressHotKey(key) && XTestUtil::roundTrip();
                client.disconnect();
                break;
            case PanelRelease:
                sent = releaseOnPanel(round);
                client.roundTrips(round / OrderCount % 4);
                client.destroy(window);
                break;
            case OrderCount:
                break;
            }
            if (!sent) {
                failure = QStringLiteral("round %1 (%2): %3 %4")
                              .arg(round)
                              .arg(kOrderNames[order], XTestUtil::lastError(),
                                   ScratchClient::lastError());
                break;
            }
            // Done once Varlo has told what became of the placement and then
            // answered a ping: the note that the window was gone follows in
            // the same breath. (A ping alone can overtake a release or a hot
            // key that Varlo has read but not handled yet.)
            QString told;
            const auto outcome = [&] {
                told += tail.next();
                return told.contains(QLatin1String("| Placing on screen")) ||
                       told.contains(QLatin1String("| Nothing placed")) ||
                       told.contains(QLatin1String("| Placement ignored"));
            };
            if (!XTestUtil::waitFor(outcome, kPatienceMs) ||
                !XTestUtil::syncClient(m_session.lasting, kPatienceMs)) {
                failure = QStringLiteral(
                              "round %1 (%2): Varlo did not place: %3; its log of the round:\n%4")
                              .arg(round)
                              .arg(kOrderNames[order], XTestUtil::lastError(), told);
                break;
            }
            told += tail.next();
            // The panels hide after a placement.
            if (!panelsHidden()) {
                failure = QStringLiteral(
                              "round %1 (%2): the panels stay shown; Varlo's log of the round:\n%3")
                              .arg(round)
                              .arg(kOrderNames[order], told);
                break;
            }
            ++byOrder[order];
            goneByOrder[order] += told.contains(kWindowGone);
            ++done;
            roundDone(done, rounds, QStringLiteral("placements"));
        }

        const QString log = VarloRun::log();
        line.add(QStringLiteral("%1 of %2 rounds%3").arg(done).arg(rounds).arg(scaleNote()));
        int gone = 0;
        QStringList orders;
        for (int o = 0; o < OrderCount; ++o) {
            orders << QStringLiteral("%1 %2 (%3 found gone at the move)")
                          .arg(byOrder[o])
                          .arg(kOrderNames[o])
                          .arg(goneByOrder[o]);
            gone += goneByOrder[o];
        }
        line.add(orders.join(", "));
        line.add(QStringLiteral("%1 noted gone in all, %2 placements sent (of the window, or of "
                                "the one in front once it was gone)")
                     .arg(gone)
                     .arg(occurrences(log, QStringLiteral("| Placing on screen")) - placedBefore));
        QString where;
        const bool placed = failure.isEmpty() && placesTheXterm(&where);
        if (failure.isEmpty())
            line.add(QStringLiteral("then shortcuts placed the xterm at%1").arg(where));
        const QString problems = health(line);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY2(placed, qPrintable(where + '\n' + VarloRun::log().right(3000)));
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }

    // Hot keys (the panels' and named shortcuts) while windows are mapped,
    // unmapped and destroyed all the time: the window in front and the
    // stacking list change under every look Varlo takes at them.
    void hotKeysWhileWindowsComeAndGo()
    {
        const int rounds = DesktopStress::rounds(1000);
        SummaryLine line(QStringLiteral("hot keys while windows come and go"));
        const quint32 keys[] = {kPanels, kLeft, kOne, kPanels, kOne};
        int presses = 0;
        QString failure;
        const int goneBefore = occurrences(VarloRun::log(), kWindowGone);
        WindowChurn churn(QGuiApplication::primaryScreen()->availableGeometry());
        QVERIFY2(churn.start(), qPrintable(ScratchClient::lastError()));
        for (int round = 0; round < rounds; ++round) {
            if (!pressHotKey(keys[round % std::size(keys)])) {
                failure = QStringLiteral("round %1: %2").arg(round).arg(XTestUtil::lastError());
                break;
            }
            if (!settle(m_session.lasting)) {
                failure = QStringLiteral("round %1: Varlo did not answer: %2")
                              .arg(round)
                              .arg(XTestUtil::lastError());
                break;
            }
            ++presses;
            roundDone(presses, rounds, QStringLiteral("hot keys"));
        }
        churn.stop();
        const bool answered = failure.isEmpty() && settle(m_session.lasting);

        line.add(QStringLiteral("%1 of %2 presses%3").arg(presses).arg(rounds).arg(scaleNote()));
        line.add(QStringLiteral("%1 windows came and went").arg(churn.windowsMade()));
        line.add(QStringLiteral("Varlo noted %1 windows gone")
                     .arg(occurrences(VarloRun::log(), kWindowGone) - goneBefore));
        QString where;
        const bool placed = answered && placesTheXterm(&where);
        if (answered)
            line.add(QStringLiteral("then shortcuts placed the xterm at%1").arg(where));
        const QString problems = health(line);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY2(answered, qPrintable(XTestUtil::lastError()));
        QVERIFY2(placed, qPrintable(where + '\n' + VarloRun::log().right(3000)));
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }

    // After both of the above, Varlo's memory is where it was after the
    // first hundred rounds of each.
    void memoryStaysFlat()
    {
        SummaryLine line(QStringLiteral("memory after vanishing windows and hot keys"));
        QVERIFY(settle(m_session.lasting));
        m_memory.end = {QStringLiteral("at the end"), ProcStat::statusKb(pid(), "VmRSS")};
        line.add(m_memory.describe());
        QVERIFY2(!m_memory.grew(), qPrintable(m_memory.describe()));
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    TestStressVanishing test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_stress_vanishing.moc"
