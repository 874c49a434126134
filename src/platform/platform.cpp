#include "platform.h"

#include "fake/fakeplatform.h"
#include "x11/x11platform.h"

#include <QGuiApplication>

#include <memory>

namespace {
std::unique_ptr<Platform> &holder()
{
    static std::unique_ptr<Platform> platform;
    return platform;
}
} // namespace

Platform::~Platform() = default;

QList<WindowFacts> Platform::windowFacts(const QList<WId> &windows)
{
    QList<WindowFacts> result;
    result.reserve(windows.size());
    for (WId w : windows)
        result.append(windowFacts(w));
    return result;
}

Platform *Platform::instance()
{
    std::unique_ptr<Platform> &p = holder();
    if (!p) {
        if (QGuiApplication::platformName() == QLatin1String("xcb"))
            p = std::make_unique<X11Platform>();
        else
            p = std::make_unique<FakePlatform>();
    }
    return p.get();
}

void Platform::setInstance(Platform *platform)
{
    holder().reset(platform);
}

bool Platform::displayReachable(QString *reason)
{
    const QByteArray qpa = qgetenv("QT_QPA_PLATFORM");
    if (!qpa.isEmpty() && !qpa.startsWith("xcb"))
        return true;
    return X11Platform::serverReachable(reason);
}

void Platform::closeDisplayProbe()
{
    X11Platform::closeProbe();
}
