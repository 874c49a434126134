#pragma once

#include <QMargins>
#include <QRect>
#include <qwindowdefs.h>

class QWidget;
struct WindowGeometry;

// Placing another program's window on a rectangle, with the correction for
// the invisible border some clients draw around themselves, and the few
// compositor services the program's own translucent windows use.

/** Whether the compositor interface can be used (always on X11). */
bool loadDwm();
/** A compositing manager runs. */
bool isCompositionEnabled();
/** Translucent windows are shown translucent: the same as composition here. */
bool isColorizationTranslucent();
/** Asks for blur behind the widget's area of its top-level window; true when asked. */
bool enableBlurBehind(QWidget *widget, bool enable);
/** Width of the window's outer frame over its visible frame; 1.0 when it cannot be measured. */
float windowScaleFactor(WId window);
/**
 * Moves and sizes window so that its outer frame covers rect (root
 * coordinates), or maximises it on the screen of rect. kForegroundWindow
 * stands for foregroundWindow(); with no window nothing happens.
 */
void applyWindowRect(QRect rect, float scale, bool maximize, bool adjustChrome, WId window);
/** Brings one of our own widgets' windows to the front with the focus. */
void setForegroundWidget(QWidget *widget);

// The arithmetic of frames, shared by the placement and its tests.
namespace WindowChrome {

/** Larger window manager frames than this are taken for garbage. */
constexpr int kMaxFrameExtent = 256;
/** Horizontal chrome corrections outside 0..this are measurement errors. */
constexpr double kMaxChromeAdjustment = 30.0;
/** A shadow a client states for itself is believed up to this many pixels a side. */
constexpr int kMaxStatedExtent = 128;
/** How long a placement waits for the window manager to restore a maximised window. */
constexpr int kWindowManagerTimeoutMs = 500;

/** _NET_FRAME_EXTENTS when set and plausible, else none. */
QMargins frameExtents(const WindowGeometry &geometry);

/** A window's frames, all in root coordinates. */
struct Frames
{
    /** The window manager's frame extents as used (implausible ones are none). */
    QMargins frame;
    /** The client grown by the frame. */
    QRect outer;
    /** The outer frame without the client's own invisible border. */
    QRect visible;
};
/** The frames of a measured window; implausible extents are logged once per call. */
Frames measure(const WindowGeometry &geometry);
/** The window manager's frame around the client: what the user sees as the window's extent. */
QRect outerFrame(const WindowGeometry &geometry);
/** The outer frame without the client's own invisible border (_GTK_FRAME_EXTENTS). */
QRect visibleFrame(const WindowGeometry &geometry);
/**
 * rect grown by the invisible border between outer and visible so that the
 * visible frame lands on rect. A border the client states itself
 * (_GTK_FRAME_EXTENTS) is taken up to kMaxStatedExtent a side; otherwise, and
 * beyond that, rect itself (and a log line) when the horizontal difference is
 * outside 0..30 pixels.
 */
QRect adjustForChrome(const QRect &rect, const QRect &outer, const QRect &visible, float scale,
                      bool statedByClient = false);
/** The client size that makes the outer frame rect's size. */
QSize clientSize(const QRect &rect, const QMargins &frame);

} // namespace WindowChrome
