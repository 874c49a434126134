// Prints how fast Varlo answers and what it costs, measured from outside as a
// user meets it. VARLO_BENCH_IDLE_SECONDS (default 60) and
// VARLO_BENCH_PLACEMENTS (default 1000) shorten a run.

#include "xtestutil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
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

// Resident set and CPU ticks of a process from /proc.
long rssKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

long cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong(); // utime + stime
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QGuiApplication app(argc, argv);
    const int screens = QGuiApplication::screens().size();
    const int idleSeconds = qEnvironmentVariableIntValue("VARLO_BENCH_IDLE_SECONDS") > 0
                                ? qEnvironmentVariableIntValue("VARLO_BENCH_IDLE_SECONDS") : 60;
    const int placements = qEnvironmentVariableIntValue("VARLO_BENCH_PLACEMENTS") > 0
                               ? qEnvironmentVariableIntValue("VARLO_BENCH_PLACEMENTS") : 1000;
    std::printf("Varlo on %d screen(s), %s server\n", screens, qPrintable(XTestUtil::xrunServer()));

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
    const long ticks0 = cpuTicks(pid);
    QThread::sleep(idleSeconds);
    const long ticks1 = cpuTicks(pid);
    const double cpuPercent = 100.0 * double(ticks1 - ticks0) / double(sysconf(_SC_CLK_TCK)) / idleSeconds;
    std::printf("idle CPU, panels hidden, %3d s:           %8.3f %% of one core\n", idleSeconds, cpuPercent);

    // Placements: show, press on one cell, release on another; the time from
    // the release to the xterm at its new place, and memory along the way.
    std::vector<double> release;
    const long rssStart = rssKb(pid);
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
            rssHalf = rssKb(pid);
    }
    std::printf("mouse release -> window placed:          median %8.2f ms over %zu placements"
                " (after xdotool returned)\n", median(release), release.size());
    std::printf("resident memory: start %ld kB, after %d placements %ld kB, after %d %ld kB\n",
                rssStart, placements / 2, rssHalf, done, rssKb(pid));

    v.terminate();
    v.waitForFinished(5000);
    XTestUtil::cleanup();
    return 0;
}
