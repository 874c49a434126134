#include "varlorun.h"

#include "xtestutil.h"

#include <QFile>

namespace VarloRun {

QString programPath()
{
    return XTestUtil::binDir() + QStringLiteral("/Varlo");
}

QString logPath()
{
    return qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/varlo.log");
}

QString log()
{
    QFile f(logPath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool waitForLog(const QString &text, int count, int timeoutMs)
{
    return XTestUtil::waitFor([&] { return log().count(text) >= count; }, timeoutMs);
}

QProcess *start(const QStringList &arguments)
{
    QFile::remove(logPath());
    QProcess *varlo = XTestUtil::startProcess(programPath(), arguments);
    return varlo && waitForLog(kReady) ? varlo : nullptr;
}

bool stop(QProcess *varlo)
{
    if (!varlo || varlo->state() == QProcess::NotRunning)
        return true;
    varlo->terminate();
    return varlo->waitForFinished(10000) && varlo->exitCode() == 0;
}

bool startTray()
{
    return XTestUtil::startProcess(QStringLiteral("trayer"),
                                   {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width",
                                    "200", "--heighttype", "pixel", "--height", "32"})
           && XTestUtil::waitFor([] { return XTestUtil::selectionOwned("_NET_SYSTEM_TRAY_S0"); });
}

quint32 trayIconOf(qint64 pid)
{
    // One of ours below another client's top level that the window manager
    // does not list: the settings window sits in a frame too.
    const QList<quint32> managed = XTestUtil::clientList();
    for (quint32 w : XTestUtil::descendantsOf(XTestUtil::rootWindow())) {
        if (managed.contains(w))
            continue;
        const QList<quint32> owner = XTestUtil::cardinalProperty(w, "_NET_WM_PID");
        if (!owner.isEmpty() && owner.first() == quint32(pid) && XTestUtil::topLevelOf(w) != w
            && XTestUtil::clientGeometry(w).isValid())
            return w;
    }
    return 0;
}

bool chooseFromTrayMenu(qint64 pid, quint32 icon, const QStringList &keys)
{
    const qsizetype before = XTestUtil::windowsOf(pid).size();
    if (!XTestUtil::clickWindow(icon, {}, 3)
        || !XTestUtil::waitFor([&] { return XTestUtil::windowsOf(pid).size() > before; }))
        return false;
    for (const QString &key : keys) {
        if (!XTestUtil::key(key))
            return false;
    }
    return true;
}

bool landedOn(quint32 window, const QRect &expected)
{
    return landedOn(XTestUtil::outerFrame(window), expected);
}

bool landedOn(const QRect &r, const QRect &expected)
{
    return r.topLeft() == expected.topLeft() && r.width() <= expected.width()
           && r.height() <= expected.height() && expected.width() - r.width() < 16
           && expected.height() - r.height() < 24;
}

QString describe(const QRect &r)
{
    return QStringLiteral(" %1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace VarloRun
