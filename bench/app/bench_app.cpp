// Prints how fast Varlo answers and what it costs, measured from outside as a
// user meets it, with a hundred named shortcuts registered.
// VARLO_BENCH_IDLE_SECONDS (default 60), VARLO_BENCH_PLACEMENTS (default
// 1000) and VARLO_BENCH_PRESSES (default 200) shorten a run.

#include "databaseutil.h"
#include "desktopareacache.h"
#include "globalshortcut.h"
#include "placementgeometry.h"
#include "platform.h"
#include "procstat.h"
#include "shortcutmanager.h"
#include "shortcutmodel.h"
#include "xtestutil.h"

#include <QApplication>
#include <QKeySequence>
#include <QSqlDatabase>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

QString varlo()
{
    return XTestUtil::binDir() + QStringLiteral("/Varlo");
}

// A second start: wakes the running Varlo and ends. Bounded, so that a run
// in which the second start became the first instance cannot hang the bench.
bool secondStart()
{
    QProcess p;
    p.start(varlo(), {});
    if (!p.waitForFinished(8000)) {
        std::printf("a second start did not end: it became the running instance\n");
        p.kill();
        p.waitForFinished(2000);
        return false;
    }
    return true;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

QList<quint32> visiblePanels(qint64 pid)
{
    QList<quint32> result;
    for (quint32 w : XTestUtil::clientList()) {
        if (XTestUtil::cardinalProperty(w, "_NET_WM_PID").value(0) == quint32(pid)
            && XTestUtil::clientGeometry(w).size() == QSize(330, 289))
            result << w;
    }
    return result;
}

bool waitPanels(qint64 pid, int count, int timeoutMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        if (visiblePanels(pid).size() == count)
            return true;
        QThread::usleep(500);
    }
    return false;
}

bool readyInLog()
{
    QFile f(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/varlo.log");
    return f.open(QIODevice::ReadOnly) && f.readAll().contains("Finished application initialization.");
}

// A hundred named shortcuts, as a heavy user has: two for the timing (the
// left half, the right third), the rest registered all the same.
bool writeShortcuts()
{
    {
        DatabaseUtil database;
        if (!database.initialize())
            return false;
        ShortcutModel model;
        bool ok = model.addShortcut("left half", "Ctrl+Alt+Left", QSize(2, 1), QRect(0, 0, 1, 1), true, true, false)
                  && model.addShortcut("right third", "Ctrl+Alt+Right", QSize(3, 1), QRect(2, 0, 1, 1), true, true, false);
        const Qt::KeyboardModifiers mods[] = {Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier,
                                              Qt::MetaModifier | Qt::AltModifier,
                                              Qt::ControlModifier | Qt::MetaModifier,
                                              Qt::ControlModifier | Qt::ShiftModifier | Qt::MetaModifier};
        for (int i = 0; ok && model.rowCount() < 100; ++i) {
            // Written as the settings window writes them, so that every one registers.
            const QString keys = QKeySequence(QKeyCombination(mods[i / 26], Qt::Key(Qt::Key_A + i % 26)))
                                     .toString(QKeySequence::NativeText);
            ok = model.addShortcut(keys, keys, QSize(2, 2), QRect(0, 0, 1, 1), true, true, false);
        }
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    return true;
}

// The hundred shortcuts read and registered in this process, as Varlo does
// at start and after every edit; released again before Varlo itself starts.
void rebuildFigures()
{
    {
        DatabaseUtil database;
        if (!database.initialize())
            return;
        std::vector<double> rebuilds;
        QElapsedTimer t;
        t.start();
        ShortcutManager *manager = ShortcutManager::instance();
        const double first = t.nsecsElapsed() / 1e6;
        for (int i = 0; i < 20; ++i) {
            t.start();
            manager->shortcutsChanged();
            rebuilds.push_back(t.nsecsElapsed() / 1e6);
        }
        int registered = 0;
        for (const GlobalShortcut *s : manager->shortcuts())
            registered += s->isRegistered();
        std::printf("rebuild, %d of 100 shortcuts registered:   median %8.2f ms over %zu rebuilds"
                    " (first, model load included: %.2f ms)\n",
                    registered, median(rebuilds), rebuilds.size(), first);
        ShortcutManager::destroyInstance();
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

// The frame has reached expected: its corner exactly, its size within a
// character cell (the xterm's increments).
bool reached(quint32 window, const QRect &expected)
{
    const QRect r = XTestUtil::outerFrame(window);
    return r.topLeft() == expected.topLeft() && qAbs(r.width() - expected.width()) < 16
           && qAbs(r.height() - expected.height()) < 24;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    const int screens = QGuiApplication::screens().size();
    const int idleSeconds = qEnvironmentVariableIntValue("VARLO_BENCH_IDLE_SECONDS") > 0
                                ? qEnvironmentVariableIntValue("VARLO_BENCH_IDLE_SECONDS") : 60;
    const int placements = qEnvironmentVariableIntValue("VARLO_BENCH_PLACEMENTS") > 0
                               ? qEnvironmentVariableIntValue("VARLO_BENCH_PLACEMENTS") : 1000;
    const int presses = qEnvironmentVariableIntValue("VARLO_BENCH_PRESSES") > 0
                            ? qEnvironmentVariableIntValue("VARLO_BENCH_PRESSES") : 200;
    if (!writeShortcuts()) {
        std::printf("the shortcuts could not be written\n");
        return 1;
    }
    std::printf("Varlo on %d screen(s), %s server\n", screens, qPrintable(XTestUtil::xrunServer()));
    rebuildFigures();

    const StartedWindow xterm = XTestUtil::startXterm("bench");
    if (!xterm) {
        std::printf("no xterm: %s\n", qPrintable(XTestUtil::lastError()));
        return 1;
    }
    XTestUtil::activate(xterm.window);

    // Cold start: the program started to its panels on the screen.
    std::vector<double> cold;
    for (int i = 0; i < 5; ++i) {
        QFile::remove(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/varlo.log");
        QElapsedTimer t;
        QProcess p;
        t.start();
        p.start(varlo(), {});
        if (waitPanels(p.processId(), screens))
            cold.push_back(t.nsecsElapsed() / 1e6);
        p.terminate();
        if (!p.waitForFinished(5000)) {
            std::printf("Varlo did not end on SIGTERM within 5 s\n");
            p.kill();
            p.waitForFinished(2000);
        }
    }
    std::printf("start -> panels shown (cold start):      median %8.1f ms over %zu runs\n", median(cold), cold.size());

    QFile::remove(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/varlo.log");
    QProcess v;
    v.start(varlo(), {"-background"});
    v.waitForStarted(5000);
    const qint64 pid = v.processId();
    if (!XTestUtil::waitFor(readyInLog, 10000) || v.state() != QProcess::Running) {
        std::printf("Varlo in the background did not start: exit %d\n", v.exitCode());
        return 1;
    }

    // A second start wakes the running one.
    std::vector<double> wake;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer t;
        t.start();
        if (!secondStart())
            break;
        if (waitPanels(pid, screens))
            wake.push_back(t.nsecsElapsed() / 1e6);
        XTestUtil::key("Escape"); // hidden again, if the keyboard is watched
        XTestUtil::clickAt(XTestUtil::clientGeometry(visiblePanels(pid).value(0)).topLeft() + QPoint(20, 16));
        waitPanels(pid, 0, 3000);
    }
    std::printf("second start -> panels shown:            median %8.1f ms over %zu runs\n", median(wake), wake.size());

    // Idle with the panels hidden: the foreground refresh runs on.
    const long ticks0 = ProcStat::cpuTicks(pid);
    QThread::sleep(idleSeconds);
    const long ticks1 = ProcStat::cpuTicks(pid);
    const double cpuPercent = 100.0 * double(ticks1 - ticks0) / double(sysconf(_SC_CLK_TCK)) / idleSeconds;
    std::printf("idle CPU, panels hidden, %3d s:           %8.3f %% of one core"
                " (100 named shortcuts registered)\n", idleSeconds, cpuPercent);

    // A named shortcut: the press (XTEST, Ctrl+Alt held) to the xterm at its
    // place, then wmctrl doing the same moves for comparison.
    {
        const QRect area = DesktopAreaCache::instance()->availableGeometry(0);
        const QRect targets[2] = {
            placementRect(area, Util::MarginMetrics_t(), QSize(2, 1), QRect(0, 0, 1, 1)).toRect(),
            placementRect(area, Util::MarginMetrics_t(), QSize(3, 1), QRect(2, 0, 1, 1)).toRect()};
        XTestUtil::activate(xterm.window);
        XTestUtil::fakeKey(0xffe3, true); // Control_L
        XTestUtil::fakeKey(0xffe9, true); // Alt_L
        ConfigureWatcher watcher(xterm.window);
        std::vector<double> hotKey;
        for (int i = 0; i < presses; ++i) {
            const quint32 arrow = i % 2 ? 0xff53 : 0xff51; // Right, Left
            QElapsedTimer t;
            t.start();
            XTestUtil::fakeKey(arrow, true);
            XTestUtil::fakeKey(arrow, false);
            if (watcher.waitFor([&] { return reached(xterm.window, targets[i % 2]); }, 3000))
                hotKey.push_back(t.nsecsElapsed() / 1e6);
        }
        XTestUtil::fakeKey(0xffe9, false);
        XTestUtil::fakeKey(0xffe3, false);
        std::printf("hot-key press -> window placed:          median %8.2f ms over %zu of %d presses\n",
                    median(hotKey), hotKey.size(), presses);

        const std::optional<QMargins> frame = XTestUtil::frameExtents(xterm.window);
        const QMargins f = frame.value_or(QMargins());
        std::vector<double> peer;
        for (int i = 0; i < qMin(presses, 50); ++i) {
            const QRect &target = targets[i % 2];
            QElapsedTimer t;
            t.start();
            XTestUtil::run("wmctrl", {"-i", "-r", QString::number(xterm.window), "-e",
                                      QStringLiteral("0,%1,%2,%3,%4").arg(target.x()).arg(target.y())
                                          .arg(target.width() - f.left() - f.right())
                                          .arg(target.height() - f.top() - f.bottom())});
            if (watcher.waitFor([&] { return reached(xterm.window, target); }, 3000))
                peer.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("wmctrl -e, same moves (process included): median %7.2f ms over %zu moves\n",
                    median(peer), peer.size());

        // The same request Varlo sends, from this process: what the window
        // manager, the xterm and this measurement take whoever asks.
        std::vector<double> floor;
        for (int i = 0; i < qMin(presses, 50); ++i) {
            const QRect &target = targets[i % 2];
            QElapsedTimer t;
            t.start();
            Platform::instance()->moveResizeWindow(xterm.window, target.topLeft(),
                                                   target.marginsRemoved(f).size());
            if (watcher.waitFor([&] { return reached(xterm.window, target); }, 3000))
                floor.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("the same request sent directly:          median %8.2f ms over %zu moves\n",
                    median(floor), floor.size());
    }

    // Placements: show, press on one cell, release on another; the time from
    // the release to the xterm at its new place, and memory along the way.
    std::vector<double> release;
    const long rssStart = ProcStat::statusKb(pid, "VmRSS");
    long rssHalf = 0;
    int done = 0;
    for (int i = 0; i < placements; ++i) {
        if (!secondStart() || !waitPanels(pid, screens))
            break;
        const QRect panel = XTestUtil::clientGeometry(visiblePanels(pid).value(0));
        // Alternate between two cells so that every release moves the window.
        const QPoint cell = panel.topLeft() + (i % 2 ? QPoint(60, 100) : QPoint(280, 250));
        const QRect before = XTestUtil::outerFrame(xterm.window);
        XTestUtil::movePointer(cell);
        XTestUtil::run("xdotool", {"mousedown", "1"});
        QElapsedTimer t;
        XTestUtil::run("xdotool", {"mouseup", "1"});
        t.start();
        while (t.elapsed() < 3000 && XTestUtil::outerFrame(xterm.window) == before)
            QThread::usleep(200);
        if (XTestUtil::outerFrame(xterm.window) != before)
            release.push_back(t.nsecsElapsed() / 1e6);
        waitPanels(pid, 0, 3000);
        ++done;
        if (done == placements / 2)
            rssHalf = ProcStat::statusKb(pid, "VmRSS");
    }
    std::printf("mouse release -> window placed:          median %8.2f ms over %zu placements"
                " (after xdotool returned)\n", median(release), release.size());
    std::printf("resident memory: start %ld kB, after %d placements %ld kB, after %d %ld kB\n",
                rssStart, placements / 2, rssHalf, done, ProcStat::statusKb(pid, "VmRSS"));

    v.terminate();
    v.waitForFinished(5000);
    XTestUtil::cleanup();
    return 0;
}
