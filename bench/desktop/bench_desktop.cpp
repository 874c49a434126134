// Figures of the desktop layer on a real X server with Openbox (run it under
// tests/support/xrun):
//  - foregroundWindowInfo() with 200 client windows and 300 desktop entries,
//    once with an eligible window in front and once with a desktop window in
//    front, which makes it walk the whole stacking order;
//  - applyWindowRect() on an xterm, from the call to the ConfigureNotify that
//    brings the window to the requested rectangle, next to wmctrl doing the
//    same move;
//  - DesktopEntryIndex::find() on the UI thread while 1000 entries are read
//    again after a change.

#include "desktopentryindex.h"
#include "platform.h"
#include "windowinfo.h"
#include "windowmover.h"
#include "xtestutil.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRasterWindow>
#include <QRegularExpression>
#include <QScreen>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <poll.h>
#include <vector>

namespace {

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

WId findWindow(const QString &title)
{
    for (int i = 0; i < 200; ++i) {
        const QString out =
            run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                            QLatin1Char('^') + title + QLatin1Char('$')});
        const WId id = out.section(QLatin1Char('\n'), 0, 0).trimmed().toULongLong();
        if (id)
            return id;
        QThread::msleep(50);
    }
    return 0;
}

void activate(WId window)
{
    run(QStringLiteral("xdotool"),
        {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window)});
    QCoreApplication::processEvents();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void writeEntries(const QString &dir, int count)
{
    QDir().mkpath(dir);
    for (int i = 0; i < count; ++i) {
        QFile f(dir + QStringLiteral("/bench-%1.desktop").arg(i));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(QStringLiteral(
                    "[Desktop Entry]\nType=Application\nName=Program %1\nName[de]=Programm %1\n"
                    "Exec=/opt/bench/program-%1 %U\nIcon=program-%1\n")
                    .arg(i)
                    .toUtf8());
    }
}

// What the panels' lookups cost while a change to 1000 entries is read.
void timeLookupsDuringRebuild(const QString &dir)
{
    writeEntries(dir, 1000);
    DesktopEntryIndex index({dir});
    index.setSettleTime(0, 0);
    QElapsedTimer first;
    first.start();
    index.entryCount();
    std::printf(
        "first read of 1000 desktop entries, as a lookup at start-up waits for it: %.1f ms\n",
        first.nsecsElapsed() / 1e6);

    writeEntries(dir, 1);
    QElapsedTimer wait;
    wait.start();
    while (index.buildCount() < 2 && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::vector<double> ms;
    QElapsedTimer rebuild;
    rebuild.start();
    while (index.building() && rebuild.elapsed() < 30000) {
        QElapsedTimer t;
        t.start();
        index.find(QStringLiteral("/opt/bench/program-500"));
        ms.push_back(t.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    std::printf(
        "find() on the UI thread while they are read again: median %.4f ms, slowest %.4f ms "
        "(%d lookups during a %.0f ms rebuild)\n",
        median(ms), ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()), int(ms.size()),
        rebuild.nsecsElapsed() / 1e6);
}

double timeForegroundInfo(int rounds)
{
    std::vector<double> ms;
    QString name;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        const WindowInfo info = foregroundWindowInfo();
        ms.push_back(t.nsecsElapsed() / 1e6);
        name = info.name;
    }
    std::printf("    (answer: \"%s\")\n", qPrintable(name));
    return median(ms);
}

} // namespace

int main(int argc, char **argv)
{
    const QString dataHome = qEnvironmentVariable(
        "XDG_DATA_HOME", QDir::tempPath() + QStringLiteral("/varlo-bench-data"));
    qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
    writeEntries(dataHome + QStringLiteral("/applications"), 300);
    {
        QFile f(dataHome + QStringLiteral("/applications/bench-terminal.desktop"));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write("[Desktop Entry]\nType=Application\nName=Bench Terminal\nExec=xterm\n");
    }
    QApplication app(argc, argv);
    Platform *platform = Platform::instance();
    if (platform->backendName() != QLatin1String("x11")) {
        std::fprintf(stderr, "bench_desktop needs an X server (run it under xrun)\n");
        return 1;
    }
    std::printf("desktop entries indexed: %d\n", DesktopEntryIndex::instance()->entryCount());
    timeLookupsDuringRebuild(dataHome + QStringLiteral("/bench-rebuild/applications"));

    QProcess xterm;
    xterm.start(QStringLiteral("xterm"),
                {QStringLiteral("-title"), QStringLiteral("bench-term"),
                 QStringLiteral("-geometry"), QStringLiteral("80x24+100+100")});
    const WId term = findWindow(QStringLiteral("bench-term"));
    if (!term) {
        std::fprintf(stderr, "no xterm window\n");
        return 1;
    }

    // 199 windows of our own above the xterm: a walk has to look at every one.
    std::vector<std::unique_ptr<QRasterWindow>> windows;
    for (int i = 0; i < 199; ++i) {
        auto w = std::make_unique<QRasterWindow>();
        w->setTitle(QStringLiteral("bench window %1").arg(i));
        w->setGeometry(20 + (i % 40) * 10, 20 + (i / 40) * 10, 120, 80);
        w->show();
        windows.push_back(std::move(w));
    }
    QElapsedTimer wait;
    wait.start();
    while (platform->windowsTopFirst().size() < 200 && wait.elapsed() < 20000)
        app.processEvents(QEventLoop::AllEvents, 50);
    std::printf("client windows: %d\n", int(platform->windowsTopFirst().size()));

    activate(term);
    std::printf("foregroundWindowInfo() median, the xterm in front: %.3f ms\n",
                timeForegroundInfo(201));
    QProcess desktop;
    const QString testClient =
        qEnvironmentVariable("VARLO_BIN_DIR") + QStringLiteral("/varlo-testclient");
    if (QFile::exists(testClient)) {
        desktop.start(testClient, {QStringLiteral("--title"), QStringLiteral("bench-desktop"),
                                   QStringLiteral("--type"), QStringLiteral("desktop")});
        if (const WId d = findWindow(QStringLiteral("bench-desktop"))) {
            // Our windows back above the xterm, which activating it raised.
            for (auto &w : windows)
                w->raise();
            wait.restart();
            while (platform->windowsTopFirst().indexOf(term) < 195 && wait.elapsed() < 10000)
                app.processEvents(QEventLoop::AllEvents, 50);
            activate(d);
            std::printf("    (active: %s)\n", platform->activeWindow() == d ? "the desktop window" : "another window");
            std::printf("    (the xterm is window %d from the top)\n",
                        int(platform->windowsTopFirst().indexOf(term)) + 1);
            std::printf("foregroundWindowInfo() median, a desktop window in front (walks %d "
                        "windows): %.3f ms\n",
                        int(platform->windowsTopFirst().size()), timeForegroundInfo(201));
        }
    }
    std::printf("    (desktop entries read %d times)\n", DesktopEntryIndex::instance()->buildCount());
    windows.clear();

    ConfigureWatcher watcher{quint32(term)};
    const QString hints =
        run(QStringLiteral("xprop"),
            {QStringLiteral("-id"), QString::number(term), QStringLiteral("WM_NORMAL_HINTS")});
    const QRegularExpressionMatch inc =
        QRegularExpression(QStringLiteral("resize increment: (\\d+) by (\\d+)")).match(hints);
    const int iw = inc.hasMatch() ? inc.captured(1).toInt() : 1;
    const int ih = inc.hasMatch() ? inc.captured(2).toInt() : 1;
    auto outer = [&] {
        const WindowGeometry g = platform->windowGeometry(term);
        return g.client.marginsAdded(g.frameExtents.value_or(QMargins()));
    };
    const QRect start = outer();
    const QMargins frame = platform->windowGeometry(term).frameExtents.value_or(QMargins());
    // Two rectangles on the second screen (or the first when there is one), sizes in whole cells.
    const int x0 = QGuiApplication::screens().size() > 1
                       ? QGuiApplication::screens().at(1)->geometry().x()
                       : 0;
    const QRect targets[2] = {
        QRect(x0 + 50, 40, start.width() + 20 * iw, start.height() + 10 * ih),
        QRect(x0 + 300, 200, start.width() + 5 * iw, start.height() + 3 * ih)};

    const int rounds = 41;
    std::vector<double> ours, peer;
    int missed = 0;
    for (int i = 0; i < rounds; ++i) {
        const QRect &target = targets[i % 2];
        QElapsedTimer t;
        t.start();
        applyWindowRect(target, 1.0f, false, true, term);
        if (watcher.waitFor([&] { return outer() == target; }))
            ours.push_back(t.nsecsElapsed() / 1e6);
        else
            ++missed;
    }
    for (int i = 0; i < rounds; ++i) {
        const QRect &target = targets[i % 2];
        const QString geometry = QStringLiteral("0,%1,%2,%3,%4")
                                     .arg(target.x())
                                     .arg(target.y())
                                     .arg(target.width() - frame.left() - frame.right())
                                     .arg(target.height() - frame.top() - frame.bottom());
        QElapsedTimer t;
        t.start();
        QProcess::execute(QStringLiteral("wmctrl"),
                          {QStringLiteral("-i"), QStringLiteral("-r"), QString::number(term),
                           QStringLiteral("-e"), geometry});
        if (watcher.waitFor([&] { return outer() == target; }))
            peer.push_back(t.nsecsElapsed() / 1e6);
        else
            ++missed;
    }
    std::printf("applyWindowRect() median, call to final ConfigureNotify: %.3f ms (%d moves)\n",
                median(ours), int(ours.size()));
    std::printf(
        "wmctrl -i -r ID -e ... median, start to final ConfigureNotify: %.3f ms (%d moves)\n",
        median(peer), int(peer.size()));
    if (missed)
        std::printf("moves that did not land within 2 s: %d\n", missed);

    xterm.kill();
    xterm.waitForFinished();
    desktop.kill();
    desktop.waitForFinished();
    return missed ? 1 : 0;
}
