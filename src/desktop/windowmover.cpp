#include "windowmover.h"

#include "desktopareacache.h"
#include "platform.h"
#include "varlolog.h"
#include "windowinfo.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>

#include <algorithm>

#include <cmath>

namespace WindowChrome {

QMargins frameExtents(const WindowGeometry &geometry)
{
    if (!geometry.frameExtents)
        return QMargins();
    const QMargins m = *geometry.frameExtents;
    for (int side : {m.left(), m.top(), m.right(), m.bottom()}) {
        if (side < 0 || side > kMaxFrameExtent) {
            vDebug() << "Ignoring unusual frame extents:" << m;
            return QMargins();
        }
    }
    return m;
}

Frames measure(const WindowGeometry &geometry)
{
    Frames f;
    f.frame = frameExtents(geometry);
    f.outer = geometry.client.marginsAdded(f.frame);
    f.visible = f.outer.marginsRemoved(geometry.clientSideExtents.value_or(QMargins()));
    return f;
}

QRect outerFrame(const WindowGeometry &geometry)
{
    return measure(geometry).outer;
}

QRect visibleFrame(const WindowGeometry &geometry)
{
    return measure(geometry).visible;
}

QRect adjustForChrome(const QRect &rect, const QRect &outer, const QRect &visible, float scale,
                      bool statedByClient)
{
    const double dx = outer.width() - visible.width() * double(scale);
    const double dy = outer.height() - visible.height() * double(scale);
    // A client's statement of its own shadow (GTK's default theme: 26, 26,
    // 23, 29) is trusted side by side up to a sane size; a measured border
    // keeps the narrow bound.
    const int sides[] = {visible.left() - outer.left(), visible.top() - outer.top(),
                         outer.right() - visible.right(), outer.bottom() - visible.bottom()};
    const bool plausibleStatement =
        statedByClient && std::all_of(std::begin(sides), std::end(sides), [](int side) {
            return side >= 0 && side <= kMaxStatedExtent;
        });
    if (!plausibleStatement && (dx < 0 || dx > kMaxChromeAdjustment)) {
        vDebug() << "Ignoring unusual chrome adjustment:" << dx;
        return rect;
    }
    // Each edge grows by the border measured on its side. Without a border
    // above there is nothing to move the top edge for; without any sideways
    // the difference is split evenly.
    const double left = visible.left() - outer.left();
    const double right = outer.right() - visible.right();
    const double top = visible.top() - outer.top();
    const double bottom = outer.bottom() - visible.bottom();
    const double leftShare = left + right > 0 ? dx * left / (left + right) : dx * 0.5;
    const double topShare = top + bottom > 0 ? dy * top / (top + bottom) : 0.0;
    return rect.adjusted(-int(std::floor(leftShare)), -int(std::floor(topShare)),
                         int(std::floor(dx - leftShare)), int(std::floor(dy - topShare)));
}

QSize clientSize(const QRect &rect, const QMargins &frame)
{
    return QSize(rect.width() - frame.left() - frame.right(),
                 rect.height() - frame.top() - frame.bottom())
        .expandedTo(QSize(1, 1));
}

} // namespace WindowChrome

bool loadDwm()
{
    return Platform::instance()->compositorAvailable();
}

bool isCompositionEnabled()
{
    return loadDwm() && Platform::instance()->compositingActive();
}

bool isColorizationTranslucent()
{
    return isCompositionEnabled();
}

bool enableBlurBehind(QWidget *widget, bool enable)
{
    if (!widget || !loadDwm() || !isColorizationTranslucent())
        return false;
    QWidget *top = widget->window();
    // The compositor takes the region in the top-level window's coordinates.
    const QPoint origin = widget == top ? QPoint(0, 0) : widget->mapTo(top, QPoint(0, 0));
    const QRect region = QRect(origin, widget->frameGeometry().size()).adjusted(2, 2, -2, -2);
    return Platform::instance()->setBlurBehind(top->winId(), enable, region);
}

float windowScaleFactor(WId window)
{
    if (!loadDwm())
        return 1.0f;
    const WindowGeometry geometry = Platform::instance()->windowGeometry(window);
    if (!geometry.valid) {
        vDebug() << "Error getting window rect";
        return 1.0f;
    }
    const WindowChrome::Frames f = WindowChrome::measure(geometry);
    if (f.visible.width() <= 0) {
        vDebug() << "Error getting window attribute";
        return 1.0f;
    }
    return float(f.outer.width()) / float(f.visible.width());
}

namespace {

// The frames a placement was measured with may change a moment later: after a
// restore the client draws its shadow again (GTK sets its extents only then).
// A change soon after a placement sends the placement again, measured anew.
struct FollowUp
{
    WId window = 0;
    QRect target;
    float scale = 1.0f;
    bool adjustChrome = false;
    std::optional<QMargins> frame;
    std::optional<QMargins> clientSide;
    QElapsedTimer since;
};
FollowUp g_followUp;
constexpr int kFollowUpMs = 2000;

// Sizes and moves window so that its outer frame (its visible frame, with
// the chrome correction) covers rect, by the frames in measured.
void sendPlacement(WId window, QRect rect, float scale, bool adjustChrome, const WindowGeometry &measured)
{
    const WindowChrome::Frames f = WindowChrome::measure(measured);
    if (adjustChrome && loadDwm())
        rect = WindowChrome::adjustForChrome(rect, f.outer, f.visible, scale,
                                             measured.clientSideExtents.has_value());
    // Position and size in one request: some managers (Fluxbox) take a size
    // sent on its own by another reference point than the one we mean.
    Platform *platform = Platform::instance();
    platform->moveResizeWindow(window, rect.topLeft(), WindowChrome::clientSize(rect, f.frame));
    platform->raiseWindow(window);
}

void followUp(WId window)
{
    if (window != g_followUp.window || !g_followUp.since.isValid()
        || g_followUp.since.elapsed() > kFollowUpMs)
        return;
    const WindowGeometry now = Platform::instance()->windowGeometry(window);
    if (!now.valid || now.maximized
        || (now.frameExtents == g_followUp.frame && now.clientSideExtents == g_followUp.clientSide))
        return;
    g_followUp.frame = now.frameExtents;
    g_followUp.clientSide = now.clientSideExtents;
    sendPlacement(window, g_followUp.target, g_followUp.scale, g_followUp.adjustChrome, now);
}

void watchFrames()
{
    Platform::instance()->setFramesChangedHandler([](WId window) {
        // Out of the backend's event handling: a placement asks the server.
        QMetaObject::invokeMethod(
            qApp, [window] { followUp(window); }, Qt::QueuedConnection);
    });
}

} // namespace

void applyWindowRect(QRect rect, float scale, bool maximize, bool adjustChrome, WId window)
{
    if (window == kForegroundWindow)
        window = foregroundWindow();
    if (!window)
        return;
    Platform *platform = Platform::instance();
    const WindowGeometry before = platform->windowGeometry(window);
    if (!before.valid) {
        vDebug() << QStringLiteral("Window 0x%1 is gone, nothing was placed:").arg(window, 0, 16)
                 << lastErrorString();
        return;
    }
    // A window reaches another screen first, so that a size the manager
    // limits by the screen is limited by the right one; on its own screen the
    // one request with position and size does.
    const QList<QRect> areas = DesktopAreaCache::instance()->areas();
    const bool severalScreens = areas.size() > 1;
    const bool otherScreen = severalScreens
                             && DesktopAreaCache::screenForRect(areas, WindowChrome::outerFrame(before))
                                    != DesktopAreaCache::screenForRect(areas, rect);

    if (maximize) {
        g_followUp.window = 0;
        if (before.maximized)
            return;
        // The window manager maximises on the screen the window is on.
        if (severalScreens)
            platform->moveResizeWindow(window, rect.topLeft(), std::nullopt);
        platform->raiseWindow(window);
        platform->setWindowMaximized(window, true);
        return;
    }

    if (before.maximized) {
        platform->setWindowMaximized(window, false);
        // The manager restores later, and the frame changes with it: what is
        // measured before then is the maximised frame.
        QElapsedTimer clock;
        clock.start();
        platform->waitForWindowManager(window, WindowChrome::kWindowManagerTimeoutMs);
        while (platform->windowGeometry(window).maximized && clock.elapsed() < WindowChrome::kWindowManagerTimeoutMs)
            QThread::msleep(5);
    }
    if (otherScreen) {
        platform->moveResizeWindow(window, rect.topLeft(), std::nullopt);
        platform->raiseWindow(window);
    }

    // Measured again only when the frame may have changed since.
    const WindowGeometry now = before.maximized || otherScreen ? platform->windowGeometry(window) : before;
    const WindowGeometry &measured = now.valid ? now : before;
    sendPlacement(window, rect, scale, adjustChrome && now.valid, measured);
    g_followUp.window = window;
    g_followUp.target = rect;
    g_followUp.scale = scale;
    g_followUp.adjustChrome = adjustChrome;
    g_followUp.frame = measured.frameExtents;
    g_followUp.clientSide = measured.clientSideExtents;
    g_followUp.since.start();
    watchFrames();
}

void setForegroundWidget(QWidget *widget)
{
    if (!widget)
        return;
    QWidget *top = widget->window();
    top->raise();
    top->activateWindow();
}
