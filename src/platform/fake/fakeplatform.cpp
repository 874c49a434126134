#include "fakeplatform.h"

FakePlatform::FakePlatform() = default;
FakePlatform::~FakePlatform() = default;

WId FakePlatform::activeWindow()
{
    return m_active;
}

QList<WId> FakePlatform::windowsTopFirst()
{
    ++m_enumerations;
    return m_stacking;
}

WindowFacts FakePlatform::windowFacts(WId id)
{
    WindowFacts facts;
    facts.id = id;
    const auto it = m_windows.constFind(id);
    if (it == m_windows.constEnd()) {
        m_lastError = QStringLiteral("BadWindow (invalid Window parameter)");
        return facts;
    }
    facts.exists = true;
    facts.visible = it->visible;
    facts.title = it->title;
    facts.type = it->type;
    facts.pid = it->pid;
    if (facts.pid == -1)
        m_lastError = QStringLiteral("no process is known for window 0x%1").arg(id, 0, 16);
    return facts;
}

WindowGeometry FakePlatform::windowGeometry(WId id)
{
    WindowGeometry geometry;
    const auto it = m_windows.constFind(id);
    if (it == m_windows.constEnd()) {
        m_lastError = QStringLiteral("BadWindow (invalid Window parameter)");
        return geometry;
    }
    geometry.valid = true;
    geometry.client = it->client;
    geometry.frameExtents = it->frameExtents;
    geometry.clientSideExtents = it->clientSideExtents;
    geometry.maximized = it->maximized;
    return geometry;
}

bool FakePlatform::processExists(qint64 pid)
{
    if (m_processes.contains(pid))
        return true;
    m_lastError = QStringLiteral("No such process");
    return false;
}

QString FakePlatform::processExecutable(qint64 pid)
{
    const auto it = m_processes.constFind(pid);
    if (it == m_processes.constEnd()) {
        m_lastError = QStringLiteral("No such process");
        return QString();
    }
    if (!it->readable) {
        m_lastError = QStringLiteral("Permission denied");
        return QString();
    }
    return it->executable;
}

qint64 FakePlatform::parentProcessId(qint64 pid)
{
    const auto it = m_processes.constFind(pid);
    return it == m_processes.constEnd() ? -1 : it->parent;
}

QStringList FakePlatform::processArguments(qint64 pid)
{
    return m_processes.value(pid).arguments;
}

QString FakePlatform::processWorkingDirectory(qint64 pid)
{
    return m_processes.value(pid).workingDirectory;
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
    m_requests.append(text);

    auto it = m_windows.find(id);
    if (it == m_windows.end())
        return;
    const QMargins frame = it->frameExtents.value_or(QMargins());
    if (framePosition)
        it->client.moveTopLeft(*framePosition + QPoint(frame.left(), frame.top()));
    if (clientSize)
        it->client.setSize(*clientSize);
}

void FakePlatform::raiseWindow(WId id)
{
    m_requests.append(QStringLiteral("raise"));
    if (m_stacking.removeOne(id))
        m_stacking.prepend(id);
}

void FakePlatform::setWindowMaximized(WId id, bool maximized)
{
    m_requests.append(maximized ? QStringLiteral("maximize") : QStringLiteral("restore"));
    if (Window *w = window(id))
        w->maximized = maximized;
}

bool FakePlatform::setBlurBehind(WId, bool enable, const QRect &region)
{
    m_requests.append(enable ? QStringLiteral("blur(on %1,%2 %3x%4)")
                                   .arg(region.x())
                                   .arg(region.y())
                                   .arg(region.width())
                                   .arg(region.height())
                             : QStringLiteral("blur(off)"));
    return true;
}

void FakePlatform::addWindow(const Window &window)
{
    m_windows.insert(window.id, window);
    m_stacking.removeOne(window.id);
    m_stacking.prepend(window.id);
}

void FakePlatform::removeWindow(WId id)
{
    m_windows.remove(id);
    m_stacking.removeOne(id);
    if (m_active == id)
        m_active = 0;
}

FakePlatform::Window *FakePlatform::window(WId id)
{
    auto it = m_windows.find(id);
    return it == m_windows.end() ? nullptr : &*it;
}
