#include "fakeplatform.h"

#include <QHash>

struct FakePlatform::Private
{
    QList<WId> stacking; // topmost first
    QHash<WId, Window> windows;
    QHash<qint64, Process> processes;
    QStringList requests;
    QString lastError;
    WId active = 0;
    qint64 currentPid = 1000;
    int enumerations = 0;
    bool compositorAvailable = true;
    bool compositingActive = false;
    bool keysWatchable = true;
    bool watchingKeys = false;
    KeyWatcher keyWatcher;
    bool modifiers[4] = {};
    bool windowManagerLags = false;
    QList<QPair<WId, bool>> pendingStates;
    std::function<void()> activeWindowHandler;
    std::function<void(WId)> framesChangedHandler;
    QList<QPair<quint32, quint32>> grabbedHotKeys;
    QList<QPair<quint32, quint32>> hotKeysHeldElsewhere;
    HotKeyHandler hotKeyHandler;
    QList<QRect> workAreas;
    WorkAreaHandler workAreaHandler;

    // Copied first, as the X11 backend does: the slot behind it may stop the
    // watching and so replace the function while it runs.
    void deliverKey(int vk, bool isUp)
    {
        if (!watchingKeys)
            return;
        const KeyWatcher w = keyWatcher;
        if (w.key)
            w.key(vk, isUp);
    }

    void deliverModifiers()
    {
        if (!watchingKeys)
            return;
        const KeyWatcher w = keyWatcher;
        if (w.modifiers)
            w.modifiers(modifiers[0], modifiers[1], modifiers[2], modifiers[3]);
    }
};

FakePlatform::FakePlatform() : d(std::make_unique<Private>()) {}

FakePlatform::~FakePlatform() = default;

WId FakePlatform::activeWindow()
{
    return d->active;
}

QList<WId> FakePlatform::windowsTopFirst()
{
    ++d->enumerations;
    return d->stacking;
}

WindowFacts FakePlatform::windowFacts(WId id)
{
    WindowFacts facts;
    facts.id = id;
    const auto it = d->windows.constFind(id);
    if (it == d->windows.constEnd()) {
        d->lastError = QStringLiteral("BadWindow (invalid Window parameter)");
        return facts;
    }
    facts.exists = true;
    facts.visible = it->visible;
    facts.title = it->title;
    facts.type = it->type;
    facts.pid = it->pid;
    if (facts.pid == -1)
        d->lastError = QStringLiteral("no process is known for window 0x%1").arg(id, 0, 16);
    return facts;
}

WindowGeometry FakePlatform::windowGeometry(WId id)
{
    WindowGeometry geometry;
    const auto it = d->windows.constFind(id);
    if (it == d->windows.constEnd()) {
        d->lastError = QStringLiteral("BadWindow (invalid Window parameter)");
        return geometry;
    }
    geometry.valid = true;
    geometry.client = it->client;
    geometry.frameExtents =
        it->maximized && it->maximizedFrameExtents ? it->maximizedFrameExtents : it->frameExtents;
    geometry.clientSideExtents = it->clientSideExtents;
    geometry.maximized = it->maximized;
    return geometry;
}

bool FakePlatform::processExists(qint64 pid)
{
    if (d->processes.contains(pid))
        return true;
    d->lastError = QStringLiteral("No such process");
    return false;
}

QString FakePlatform::processExecutable(qint64 pid)
{
    const auto it = d->processes.constFind(pid);
    if (it == d->processes.constEnd()) {
        d->lastError = QStringLiteral("No such process");
        return QString();
    }
    if (!it->readable) {
        d->lastError = QStringLiteral("Permission denied");
        return QString();
    }
    return it->executable;
}

qint64 FakePlatform::parentProcessId(qint64 pid)
{
    const auto it = d->processes.constFind(pid);
    return it == d->processes.constEnd() ? -1 : it->parent;
}

QStringList FakePlatform::processArguments(qint64 pid)
{
    return d->processes.value(pid).arguments;
}

QString FakePlatform::processWorkingDirectory(qint64 pid)
{
    return d->processes.value(pid).workingDirectory;
}

void FakePlatform::moveResizeWindow(WId id, std::optional<QPoint> framePosition,
                                    std::optional<QSize> clientSize)
{
    QString text;
    if (framePosition && clientSize)
        text = QStringLiteral("moveSize(%1,%2 %3x%4)")
                   .arg(framePosition->x())
                   .arg(framePosition->y())
                   .arg(clientSize->width())
                   .arg(clientSize->height());
    else if (framePosition)
        text = QStringLiteral("move(%1,%2)").arg(framePosition->x()).arg(framePosition->y());
    else if (clientSize)
        text = QStringLiteral("size(%1x%2)").arg(clientSize->width()).arg(clientSize->height());
    else
        return;
    d->requests.append(text);

    auto it = d->windows.find(id);
    if (it == d->windows.end())
        return;
    const QMargins frame = it->frameExtents.value_or(QMargins());
    if (framePosition)
        it->client.moveTopLeft(*framePosition + QPoint(frame.left(), frame.top()));
    if (clientSize)
        it->client.setSize(*clientSize);
}

void FakePlatform::raiseWindow(WId id)
{
    d->requests.append(QStringLiteral("raise"));
    if (d->stacking.removeOne(id))
        d->stacking.prepend(id);
}

void FakePlatform::setWindowMaximized(WId id, bool maximized)
{
    d->requests.append(maximized ? QStringLiteral("maximize") : QStringLiteral("restore"));
    if (d->windowManagerLags)
        d->pendingStates.append({id, maximized});
    else if (Window *w = window(id))
        w->maximized = maximized;
}

bool FakePlatform::waitForWindowManager(WId, int)
{
    d->requests.append(QStringLiteral("sync"));
    for (const auto &[id, maximized] : std::as_const(d->pendingStates)) {
        if (Window *w = window(id))
            w->maximized = maximized;
    }
    d->pendingStates.clear();
    return true;
}

void FakePlatform::setWindowManagerLags(bool lags)
{
    d->windowManagerLags = lags;
}

void FakePlatform::setActiveWindowHandler(const std::function<void()> &handler)
{
    d->activeWindowHandler = handler;
}

void FakePlatform::setFramesChangedHandler(const std::function<void(WId)> &handler)
{
    d->framesChangedHandler = handler;
}

void FakePlatform::setClientSideExtents(WId id, const std::optional<QMargins> &extents)
{
    if (Window *w = window(id))
        w->clientSideExtents = extents;
    if (const std::function<void(WId)> handler = d->framesChangedHandler)
        handler(id);
}

void FakePlatform::setSkipTaskbar(WId)
{
    d->requests.append(QStringLiteral("skipTaskbar"));
}

bool FakePlatform::setBlurBehind(WId, bool enable, const QRect &region)
{
    d->requests.append(enable ? QStringLiteral("blur(on %1,%2 %3x%4)")
                                    .arg(region.x())
                                    .arg(region.y())
                                    .arg(region.width())
                                    .arg(region.height())
                              : QStringLiteral("blur(off)"));
    return true;
}

void FakePlatform::addWindow(const Window &window)
{
    d->windows.insert(window.id, window);
    d->stacking.removeOne(window.id);
    d->stacking.prepend(window.id);
}

void FakePlatform::removeWindow(WId id)
{
    d->windows.remove(id);
    d->stacking.removeOne(id);
    if (d->active == id)
        d->active = 0;
}

FakePlatform::Window *FakePlatform::window(WId id)
{
    auto it = d->windows.find(id);
    return it == d->windows.end() ? nullptr : &*it;
}

QString FakePlatform::lastErrorString() const
{
    return d->lastError;
}

qint64 FakePlatform::currentProcessId() const
{
    return d->currentPid;
}

bool FakePlatform::compositorAvailable()
{
    return d->compositorAvailable;
}

bool FakePlatform::compositingActive()
{
    return d->compositingActive;
}

void FakePlatform::setActiveWindow(WId window)
{
    d->active = window;
    if (const std::function<void()> handler = d->activeWindowHandler)
        handler();
}

void FakePlatform::addProcess(const Process &process)
{
    d->processes.insert(process.pid, process);
}

void FakePlatform::setCurrentProcessId(qint64 pid)
{
    d->currentPid = pid;
}

void FakePlatform::setCompositorAvailable(bool available)
{
    d->compositorAvailable = available;
}

void FakePlatform::setCompositingActive(bool active)
{
    d->compositingActive = active;
}

QString FakePlatform::requests() const
{
    return d->requests.join(QLatin1Char(' '));
}

void FakePlatform::clearRequests()
{
    d->requests.clear();
}

int FakePlatform::enumerations() const
{
    return d->enumerations;
}

bool FakePlatform::watchKeys(const KeyWatcher &watcher)
{
    if (!d->keysWatchable) {
        d->lastError = QStringLiteral("the X server has no XInput 2");
        return false;
    }
    d->keyWatcher = watcher;
    d->watchingKeys = true;
    d->deliverModifiers();
    return true;
}

void FakePlatform::stopWatchingKeys()
{
    d->watchingKeys = false;
    d->keyWatcher = KeyWatcher();
}

void FakePlatform::stackBelow(WId window, WId sibling)
{
    d->requests.append(QStringLiteral("stackBelow"));
    if (window == sibling || !d->stacking.contains(window) || !d->stacking.contains(sibling))
        return;
    d->stacking.removeOne(window);
    d->stacking.insert(d->stacking.indexOf(sibling) + 1, window);
}

void FakePlatform::setKeysWatchable(bool watchable)
{
    d->keysWatchable = watchable;
}

bool FakePlatform::isWatchingKeys() const
{
    return d->watchingKeys;
}

void FakePlatform::pressKey(int vk)
{
    d->deliverKey(vk, false);
}

void FakePlatform::releaseKey(int vk)
{
    d->deliverKey(vk, true);
}

void FakePlatform::setModifierState(bool shift, bool control, bool alt, bool win)
{
    d->modifiers[0] = shift;
    d->modifiers[1] = control;
    d->modifiers[2] = alt;
    d->modifiers[3] = win;
    d->deliverModifiers();
}

bool FakePlatform::grabHotKey(quint32 vk, quint32 modifiers)
{
    const QPair<quint32, quint32> combination(vk, modifiers);
    if (vk == 0) {
        d->lastError = QStringLiteral("no key for virtual key 0");
        return false;
    }
    if (d->hotKeysHeldElsewhere.contains(combination)) {
        d->lastError = QStringLiteral("X error 10 (BadAccess): another client grabbed the key");
        return false;
    }
    if (!d->grabbedHotKeys.contains(combination))
        d->grabbedHotKeys.append(combination);
    return true;
}

bool FakePlatform::ungrabHotKey(quint32 vk, quint32 modifiers)
{
    if (d->grabbedHotKeys.removeOne(qMakePair(vk, modifiers)))
        return true;
    d->lastError = QStringLiteral("the key was not grabbed");
    return false;
}

void FakePlatform::setHotKeyHandler(const HotKeyHandler &handler)
{
    d->hotKeyHandler = handler;
}

void FakePlatform::setHotKeyHeldElsewhere(quint32 vk, quint32 modifiers, bool held)
{
    const QPair<quint32, quint32> combination(vk, modifiers);
    d->hotKeysHeldElsewhere.removeAll(combination);
    if (held)
        d->hotKeysHeldElsewhere.append(combination);
}

QList<QPair<quint32, quint32>> FakePlatform::grabbedHotKeys() const
{
    return d->grabbedHotKeys;
}

bool FakePlatform::pressHotKey(quint32 vk, quint32 modifiers)
{
    if (!d->grabbedHotKeys.contains(qMakePair(vk, modifiers)))
        return false;
    // Copied first: the receiver may replace the handler while it runs.
    const HotKeyHandler handler = d->hotKeyHandler;
    if (handler)
        handler(vk, modifiers);
    return bool(handler);
}

QList<QRect> FakePlatform::workAreas(const QList<QRect> &)
{
    return d->workAreas;
}

void FakePlatform::setWorkAreaHandler(const WorkAreaHandler &handler)
{
    d->workAreaHandler = handler;
}

void FakePlatform::setWorkAreas(const QList<QRect> &areas)
{
    d->workAreas = areas;
    // Copied first: the receiver may replace the handler while it runs.
    const WorkAreaHandler handler = d->workAreaHandler;
    if (handler)
        handler();
}
