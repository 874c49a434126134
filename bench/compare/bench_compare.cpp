// Varlo beside the tools people use instead, on one private desktop in one
// run, printed as one table of medians (bench/compare/compare runs it):
//  - placing an xterm: Varlo's named-shortcut hot key, wmctrl -e, and
//    xdotool windowmove + windowsize, each from its start (the key press, the
//    process start) until the server has the xterm's frame at its new place,
//    beside Varlo's request sent from here (the window manager's share);
//  - start: Varlo to its panels on every screen, a bare Qt 6 program to its
//    first window, both as the server's MapNotify of the top levels;
//  - Varlo's idle CPU with the panels hidden; its resident memory after many
//    hot-key placements, beside the bare Qt program's.
// Exits 0 whatever the figures; 1 only when something could not be measured.
// VARLO_BENCH_ROUNDS (default 50), VARLO_BENCH_STARTS (10),
// VARLO_BENCH_IDLE_SECONDS (120) and VARLO_BENCH_PLACEMENTS (1000) shorten a run.

#include "comparetable.h"
#include "databaseutil.h"
#include "desktopareacache.h"
#include "mapwatcher.h"
#include "placementgeometry.h"
#include "platform.h"
#include "procstat.h"
#include "shortcutmodel.h"
#include "varlorun.h"
#include "xtestutil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

constexpr int kPlacedTimeoutMs = 3000;
constexpr quint32 kControl = 0xffe3, kAlt = 0xffe9, kLeft = 0xff51, kRight = 0xff53;

int setting(const char *name, int fallback)
{
    const int value = qEnvironmentVariableIntValue(name);
    return value > 0 ? value : fallback;
}

// The shortcut database's own debug lines would stand between the progress lines.
QtMessageHandler g_defaultHandler = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        g_defaultHandler(type, context, message);
}

void progress(const QString &text)
{
    std::fprintf(stderr, "compare: %s\n", qPrintable(text));
}

// The two named shortcuts the hot-key rounds alternate between, written as
// the settings window writes them, before Varlo starts.
bool writeShortcuts()
{
    bool ok = false;
    {
        DatabaseUtil database;
        if (!database.initialize())
            return false;
        ShortcutModel model;
        ok = model.addShortcut("left half", "Ctrl+Alt+Left", QSize(2, 1), QRect(0, 0, 1, 1), true,
                               true, false) &&
             model.addShortcut("right third", "Ctrl+Alt+Right", QSize(3, 1), QRect(2, 0, 1, 1),
                               true, true, false);
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    return ok;
}

// A program with its output in a file: a pipe nobody reads would stall
// Varlo after some thousand placements' worth of messages.
std::unique_ptr<QProcess> launch(const QString &program, const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/compare-output.txt",
                                   QIODevice::Append);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(program, arguments);
    return process;
}

void end(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        progress(process.program() + " did not end on SIGTERM within 5 s; killed");
        process.kill();
        process.waitForFinished(2000);
    }
}

// Start until count windows of the program are mapped, in ms; nothing if
// they never are. rssKb, if given, gets its resident memory at that moment.
std::optional<double> timeStart(const QString &program, const QStringList &arguments, int count,
                                long *rssKb = nullptr)
{
    MapWatcher watcher;
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProcess> process = launch(program, arguments);
    std::optional<double> ms;
    if (process->waitForStarted(5000) && watcher.waitFor(process->processId(), count, 10000)) {
        ms = clock.nsecsElapsed() / 1e6;
        if (rssKb)
            *rssKb = ProcStat::statusKb(process->processId(), "VmRSS");
    }
    end(*process);
    return ms;
}

// One way of placing the xterm: starts clock at its start (a key press
// sent, a process about to start), asks for the move to target and returns
// (a process may still run, and is waited for after the timing).
struct Placer
{
    Measured measured;
    bool hotKey = false; // Ctrl+Alt held around the start
    std::function<std::unique_ptr<QProcess>(int target, QElapsedTimer &clock)> start;
    QString failure;
};

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    g_defaultHandler = qInstallMessageHandler(quietHandler);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    const int rounds = setting("VARLO_BENCH_ROUNDS", 50);
    const int starts = setting("VARLO_BENCH_STARTS", 10);
    const int idleSeconds = setting("VARLO_BENCH_IDLE_SECONDS", 120);
    const int placements = setting("VARLO_BENCH_PLACEMENTS", 1000);
    const int screens = int(QGuiApplication::screens().size());
    const QString bareQt = XTestUtil::binDir() + QStringLiteral("/bench_bareqt");

    if (!writeShortcuts()) {
        progress("the shortcuts could not be written");
        return 1;
    }
    const StartedWindow xterm = XTestUtil::startXterm(QStringLiteral("compare"));
    if (!xterm || !XTestUtil::activate(xterm.window)) {
        progress("no xterm: " + XTestUtil::lastError());
        return 1;
    }

    CompareTable table(
        QStringLiteral("Varlo compared on a private %1-screen %2 desktop (%3), medians of one run")
            .arg(screens)
            .arg(XTestUtil::xrunServer() == QLatin1String("xorg") ? QStringLiteral("Xorg")
                                                                  : XTestUtil::xrunServer(),
                 XTestUtil::xrunWindowManager()));

    // Start: taken turn about, so that the machine's other load falls on both alike.
    progress(QStringLiteral("start: %1 times each").arg(starts));
    Measured varloStart{
        QStringLiteral("Varlo, start -> panels on all %1 screens").arg(screens), {}, 0};
    Measured bareStart{QStringLiteral("bare Qt 6 QApplication + QWidget"), {}, 0};
    Measured bareMemory{QStringLiteral("bare Qt 6 QApplication + QWidget, window shown"), {}, 0};
    for (int i = 0; i < starts; ++i) {
        ++varloStart.attempts;
        if (const std::optional<double> ms = timeStart(VarloRun::programPath(), {}, screens))
            varloStart.samples.push_back(*ms);
        ++bareStart.attempts;
        long rssKb = -1;
        if (const std::optional<double> ms = timeStart(bareQt, {}, 1, &rssKb))
            bareStart.samples.push_back(*ms);
        if (rssKb > 0)
            bareMemory.samples.push_back(rssKb * 1024 / 1e6);
    }
    bareMemory.attempts = starts;

    QProcess *varlo = VarloRun::start();
    if (!varlo) {
        progress("Varlo did not start in the background: " + VarloRun::log());
        return 1;
    }
    const qint64 pid = varlo->processId();
    const long rssStart = ProcStat::statusKb(pid, "VmRSS");
    XTestUtil::activate(xterm.window);

    // Placing: the same two rectangles for all, each move to the other one,
    // the three ways taken turn about. "Placed" is the same test for all: the
    // ConfigureNotify that puts the xterm's frame (the window manager's, a
    // child of the root) with its corner on the target and its size within a
    // character cell of it, judged from the event itself. Whether the client
    // inside has been resized by then is the window manager's business, the
    // same whoever asked.
    const QRect area = DesktopAreaCache::instance()->availableGeometry(0);
    const QRect targets[2] = {
        placementRect(area, Util::MarginMetrics_t(), QSize(2, 1), QRect(0, 0, 1, 1)).toRect(),
        placementRect(area, Util::MarginMetrics_t(), QSize(3, 1), QRect(2, 0, 1, 1)).toRect()};
    const QMargins frame = XTestUtil::frameExtents(xterm.window).value_or(QMargins());
    const QString id = QString::number(xterm.window);
    auto clientSize = [&](int target) { return targets[target].marginsRemoved(frame).size(); };

    std::vector<Placer> placers;
    placers.push_back({{QStringLiteral("Varlo, named-shortcut hot key"), {}, 0},
                       true,
                       [&](int target, QElapsedTimer &clock) {
                           // Timed from the press on the wire, not from the keymap look-up.
                           XTestUtil::fakeKey(target ? kRight : kLeft, true);
                           clock.start();
                           XTestUtil::fakeKey(target ? kRight : kLeft, false);
                           return std::unique_ptr<QProcess>();
                       },
                       {}});
    placers.push_back({{QStringLiteral("wmctrl -e (one process)"), {}, 0},
                       false,
                       [&](int target, QElapsedTimer &clock) {
                           const QRect &r = targets[target];
                           const QSize size = clientSize(target);
                           clock.start();
                           return launch(QStringLiteral("wmctrl"), {"-i", "-r", id, "-e",
                                                                    QStringLiteral("0,%1,%2,%3,%4")
                                                                        .arg(r.x())
                                                                        .arg(r.y())
                                                                        .arg(size.width())
                                                                        .arg(size.height())});
                       },
                       {}});
    placers.push_back({{QStringLiteral("xdotool windowmove + windowsize (two processes)"), {}, 0},
                       false,
                       [&](int target, QElapsedTimer &clock) {
                           const QRect &r = targets[target];
                           const QSize size = clientSize(target);
                           clock.start();
                           std::unique_ptr<QProcess> move = launch(
                               QStringLiteral("xdotool"),
                               {"windowmove", id, QString::number(r.x()), QString::number(r.y())});
                           move->waitForFinished(kPlacedTimeoutMs);
                           return launch(QStringLiteral("xdotool"),
                                         {"windowsize", id, QString::number(size.width()),
                                          QString::number(size.height())});
                       },
                       {}});
    // What no program can beat: the request Varlo sends, sent from here with
    // its own platform code; the rest is the window manager's and the server's.
    placers.push_back(
        {{QStringLiteral("(floor) Varlo's request sent from here, no program"), {}, 0},
         false,
         [&](int target, QElapsedTimer &clock) {
             clock.start();
             Platform::instance()->moveResizeWindow(xterm.window, targets[target].topLeft(),
                                                    clientSize(target));
             return std::unique_ptr<QProcess>();
         },
         {}});

    ConfigureWatcher watcher(XTestUtil::topLevelOf(xterm.window));
    int move = 0;
    // The window starts on neither target; a first untimed round of each
    // also loads what the tools need from disk.
    progress(QStringLiteral("placing: %1 rounds of each").arg(rounds));
    for (int round = -1; round < rounds; ++round) {
        for (size_t i = 0; i < placers.size(); ++i) {
            // Each round starts with the next one: no way always follows the
            // same other (an xterm still redrawing, a process still ending).
            Placer &placer = placers[(i + size_t(round + 1)) % placers.size()];
            const int target = move++ % 2;
            if (placer.hotKey) {
                XTestUtil::fakeKey(kControl, true);
                XTestUtil::fakeKey(kAlt, true);
            }
            QElapsedTimer clock;
            std::unique_ptr<QProcess> process = placer.start(target, clock);
            const bool placed = watcher.waitFor(
                [&] { return VarloRun::landedOn(watcher.geometrySeen(), targets[target]); },
                kPlacedTimeoutMs);
            const double ms = clock.nsecsElapsed() / 1e6;
            if (placer.hotKey) {
                XTestUtil::fakeKey(kAlt, false);
                XTestUtil::fakeKey(kControl, false);
            }
            bool ok = placed;
            if (process) {
                ok = process->waitForFinished(kPlacedTimeoutMs) &&
                     process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0 &&
                     ok;
            }
            if (!ok && placer.failure.isEmpty())
                placer.failure =
                    QStringLiteral(
                        "%1: not placed at%2 within %3 ms, the frame is at%4 (last seen at%5)")
                        .arg(placer.measured.who, VarloRun::describe(targets[target]))
                        .arg(kPlacedTimeoutMs)
                        .arg(VarloRun::describe(XTestUtil::outerFrame(xterm.window)),
                             VarloRun::describe(watcher.geometrySeen()));
            // The next starts on a window manager with nothing left to do.
            XTestUtil::syncWindowManager();
            if (round < 0)
                continue;
            ++placer.measured.attempts;
            if (ok)
                placer.measured.samples.push_back(ms);
        }
    }
    for (const Placer &placer : placers) {
        if (!placer.failure.isEmpty())
            progress(placer.failure);
    }

    // Idle: nothing on the screen of Varlo's, the foreground refresh runs on.
    progress(QStringLiteral("idle: %1 s").arg(idleSeconds));
    const long ticks0 = ProcStat::cpuTicks(pid);
    QThread::sleep(idleSeconds);
    const long ticks1 = ProcStat::cpuTicks(pid);
    Measured idle{QStringLiteral("Varlo, %1 s, panels hidden (1 tick = %2 %)")
                      .arg(idleSeconds)
                      .arg(100.0 / double(sysconf(_SC_CLK_TCK)) / idleSeconds, 0, 'f', 4),
                  {},
                  1};
    if (ticks0 >= 0 && ticks1 >= ticks0 && varlo->state() == QProcess::Running)
        idle.samples.push_back(100.0 * double(ticks1 - ticks0) / double(sysconf(_SC_CLK_TCK)) /
                               idleSeconds);

    // Memory: many hot-key placements, each waited for before the next.
    progress(QStringLiteral("memory: %1 placements").arg(placements));
    int placed = 0;
    XTestUtil::fakeKey(kControl, true);
    XTestUtil::fakeKey(kAlt, true);
    for (int i = 0; i < placements; ++i) {
        const int target = move++ % 2;
        XTestUtil::fakeKey(target ? kRight : kLeft, true);
        XTestUtil::fakeKey(target ? kRight : kLeft, false);
        placed += watcher.waitFor(
            [&] { return VarloRun::landedOn(watcher.geometrySeen(), targets[target]); },
            kPlacedTimeoutMs);
    }
    XTestUtil::fakeKey(kAlt, false);
    XTestUtil::fakeKey(kControl, false);
    const long rssEnd = ProcStat::statusKb(pid, "VmRSS");
    Measured memory{QStringLiteral("Varlo, after %1/%2 placements (%3 at start)")
                        .arg(placed)
                        .arg(placements)
                        .arg(rssStart * 1024 / 1e6, 0, 'f', 1),
                    {},
                    1};
    if (rssEnd > 0 && placed > 0)
        memory.samples.push_back(rssEnd * 1024 / 1e6);

    table.beginBlock(
        QStringLiteral("placing an xterm: key press or process start -> frame placed (%1 rounds)")
            .arg(rounds),
        QStringLiteral("ms"), 2);
    for (const Placer &placer : placers)
        table.addRow(placer.measured);
    table.goalAtMostTimes(0.5, placers[1].measured.who);
    table.beginBlock(QStringLiteral("start -> first window shown (%1 starts)").arg(starts),
                     QStringLiteral("ms"), 1);
    table.addRow(varloStart);
    table.addRow(bareStart);
    table.beginBlock(QStringLiteral("idle CPU, utime + stime"), QStringLiteral("% core"), 3);
    table.addRow(idle);
    table.goalAtMost(0.05);
    table.beginBlock(QStringLiteral("resident memory (VmRSS, 1 MB = 10^6 bytes)"),
                     QStringLiteral("MB"), 1);
    table.addRow(memory);
    table.addRow(bareMemory);
    table.goalAtMost(45);
    std::printf("\n%s", qPrintable(table.text()));

    const bool ended = VarloRun::stop(varlo);
    XTestUtil::cleanup();
    if (!ended)
        progress("Varlo did not end cleanly on SIGTERM");
    if (!table.complete()) {
        progress("some figures could not be measured (see above)");
        return 1;
    }
    return 0;
}
