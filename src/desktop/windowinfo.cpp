#include "windowinfo.h"

#include "fileversioninfo.h"
#include "iconfetcher.h"
#include "platform.h"
#include "runtimeprogram.h"
#include "varlolog.h"

#include <QDir>
#include <QFileInfo>

namespace {

WId g_remembered = 0;

// How far up the process tree a runtime's launcher is looked for.
constexpr int kMaxLauncherDepth = 3;

bool isShellSurface(WindowType type)
{
    switch (type) {
    case WindowType::Desktop:
    case WindowType::Dock:
    case WindowType::Splash:
    case WindowType::Notification:
    case WindowType::Menu:
    case WindowType::Tooltip:
    case WindowType::DragAndDrop:
        return true;
    default:
        return false;
    }
}

bool isToolWindow(WindowType type)
{
    return type == WindowType::Utility || type == WindowType::Toolbar;
}

// For an interpreter or runtime, the program it runs: the script from its
// command line, else the program that started it.
QString programOfRuntime(Platform *platform, qint64 pid, const QString &path, int depth = 0)
{
    if (path.isEmpty() || !RuntimeProgram::isRuntime(path))
        return path;
    const QString program = RuntimeProgram::programFromArguments(
        platform->processArguments(pid), platform->processWorkingDirectory(pid));
    if (!program.isEmpty())
        return program;
    if (depth >= kMaxLauncherDepth)
        return path;
    const qint64 parent = platform->parentProcessId(pid);
    if (parent <= 1)
        return path;
    const QString parentPath = processImagePath(parent);
    if (parentPath.isEmpty())
        return path;
    if (RuntimeProgram::isRuntime(parentPath)) {
        // A wrapper script counts; an interactive shell tells nothing about the program.
        const QString launcher = programOfRuntime(platform, parent, parentPath, depth + 1);
        return RuntimeProgram::isRuntime(launcher) ? path : launcher;
    }
    return parentPath;
}

QString applicationNameOf(const QString &title, WindowType type, const QString &path)
{
    if (isToolWindow(type))
        return title;
    QString name;
    if (!path.isEmpty()) {
        FileVersionInfo version;
        if (version.load(path)) {
            name = version.fileDescription();
        } else {
            name = QFileInfo(path).fileName();
            if (name.endsWith(QLatin1String(".exe")))
                name.chop(4);
        }
    }
    if (name.isEmpty()) {
        name = title;
        // A title that is a Windows path (a Wine program's document) is named by its file.
        if (title.size() > 2 && title.at(0).isLetter() && title.at(1) == QLatin1Char(':') &&
            title.at(2) == QLatin1Char('\\'))
            name = title.mid(title.lastIndexOf(QLatin1Char('\\')) + 1);
    }
    return name;
}

// The program of the process asked about last.
struct ProgramMemo
{
    qint64 pid = -1;
    QString executable;
    QString program;
};
ProgramMemo g_programMemo;

// One window under inspection; the program and the name are found only when asked.
struct Candidate
{
    WindowFacts facts;
    std::optional<QString> path;
    std::optional<QString> name;

    const QString &processPath()
    {
        if (!path) {
            if (!facts.id) {
                path = QStringLiteral("Desktop");
            } else if (facts.pid == -1) {
                vDebug() << QStringLiteral("GetWindowThreadProcessId: ") + lastErrorString();
                path = QString();
            } else {
                // The panels ask twice a second, nearly always about the same
                // process: its program is worked out again only when the
                // process or its executable changed.
                qint64 &lastPid = g_programMemo.pid;
                QString &lastExecutable = g_programMemo.executable;
                QString &lastProgram = g_programMemo.program;
                const QString executable = processImagePath(facts.pid);
                if (facts.pid != lastPid || executable != lastExecutable || executable.isEmpty()) {
                    lastProgram = programOfRuntime(Platform::instance(), facts.pid, executable);
                    lastPid = facts.pid;
                    lastExecutable = executable;
                }
                path = lastProgram;
            }
        }
        return *path;
    }

    const QString &applicationName()
    {
        if (!name)
            name = applicationNameOf(facts.title, facts.type, processPath());
        return *name;
    }

    bool isOwn() const
    {
        return facts.pid != -1 && facts.pid == Platform::instance()->currentProcessId();
    }

    bool isEligible()
    {
        if (!facts.id || !facts.exists || !facts.visible || isShellSurface(facts.type))
            return false;
        // The desktop and the shell's own surfaces are ruled out by their type.
        return !facts.title.isEmpty();
    }
};

Candidate inspect(WId window)
{
    Candidate c;
    if (window)
        c.facts = Platform::instance()->windowFacts(window);
    c.facts.id = window;
    return c;
}

// The walk asks for windows in growing batches: the first eligible window is
// usually near the top, and a batch costs one round trip to the server.
std::optional<Candidate> topEligibleWindow(Platform *platform)
{
    const QList<WId> windows = platform->windowsTopFirst();
    qsizetype batch = 4;
    for (qsizetype start = 0; start < windows.size(); start += batch, batch *= 4) {
        const QList<WindowFacts> facts = platform->windowFacts(windows.mid(start, batch));
        for (const WindowFacts &f : facts) {
            Candidate c;
            c.facts = f;
            if (c.isEligible() && !c.isOwn())
                return c;
        }
    }
    return std::nullopt;
}

// foregroundWindow() keeping what it learnt about the answer.
std::optional<Candidate> foregroundCandidate()
{
    Platform *platform = Platform::instance();
    Candidate front = inspect(platform->activeWindow());
    std::optional<Candidate> answer;
    if (front.isEligible()) {
        if (!front.isOwn()) {
            g_remembered = front.facts.id;
            answer = front;
        }
    } else if (std::optional<Candidate> found = topEligibleWindow(platform)) {
        g_remembered = found->facts.id;
        answer = found;
    }
    if (!g_remembered)
        return std::nullopt;
    if (answer)
        return answer;
    // The remembered window may have closed or hidden since.
    Candidate remembered = inspect(g_remembered);
    if (remembered.isEligible())
        return remembered;
    return std::nullopt;
}

} // namespace

WId foregroundWindow()
{
    const std::optional<Candidate> c = foregroundCandidate();
    return c ? c->facts.id : 0;
}

WindowInfo foregroundWindowInfo()
{
    WindowInfo info;
    std::optional<Candidate> c = foregroundCandidate();
    if (!c) {
        info.path = QStringLiteral("Desktop");
        info.icon = IconFetcher::instance()->getIcon(info.path);
        info.name = applicationName(info);
        return info;
    }
    info.hwnd = c->facts.id;
    info.path = c->processPath();
    info.icon = IconFetcher::instance()->getIcon(info.path);
    info.name = c->applicationName();
    return info;
}

bool isEligibleWindow(WId window)
{
    return inspect(window).isEligible();
}

bool isOwnWindow(WId window)
{
    return inspect(window).isOwn();
}

QString windowProcessPath(WId window)
{
    return inspect(window).processPath();
}

QString processImagePath(qint64 processId)
{
    Platform *platform = Platform::instance();
    if (!platform->processExists(processId)) {
        vDebug() << QStringLiteral("OpenProcess: ") + lastErrorString();
        return QString();
    }
    QString path = platform->processExecutable(processId);
    if (path.isEmpty()) {
        vDebug() << QStringLiteral("GetProcessImageFileName: ") + lastErrorString();
        return QString();
    }
    // The kernel marks an executable replaced by an upgrade; the program is still that path.
    static const QLatin1String deleted(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    if (!QDir::isAbsolutePath(path))
        vDebug() << "Failed to normalize path.";
    return path;
}

qint64 parentProcessId(qint64 processId)
{
    return Platform::instance()->parentProcessId(processId);
}

QString applicationName(const WindowInfo &info)
{
    if (!info.hwnd)
        return applicationNameOf(QString(), WindowType::Normal, info.path);
    const WindowFacts facts = Platform::instance()->windowFacts(info.hwnd);
    return applicationNameOf(facts.title, facts.type, info.path);
}

QString windowTitle(WId window)
{
    return inspect(window).facts.title;
}

QString lastErrorString()
{
    return Platform::instance()->lastErrorString().trimmed();
}

void resetRememberedWindow()
{
    g_remembered = 0;
    g_programMemo = ProgramMemo();
}
