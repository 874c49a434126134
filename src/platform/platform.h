#pragma once

#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <qwindowdefs.h>

#include <functional>
#include <optional>

// Everything Varlo asks of the desktop goes through this interface. The
// backend is chosen once from QGuiApplication::platformName(): "xcb" gets the
// X11 backend, anything else (the offscreen platform of the tests) the fake.
// Backends answer questions and carry out requests; the rules that decide what
// to ask live above this layer.
//
// Window ids are the X11 ids of clients' top-level windows (the ids of the
// window manager's client list); 0 is "no window".

/** What a window says it is (_NET_WM_WINDOW_TYPE, the first type we know). */
enum class WindowType
{
    Normal,
    Dialog,
    Utility,
    Toolbar,
    Desktop,
    Dock,
    Splash,
    Notification,
    Menu,
    Tooltip,
    DragAndDrop,
};

/** The facts about one window that identification needs, read in one go. */
struct WindowFacts
{
    WId id = 0;
    /** False when the window does not exist (any more) or could not be read. */
    bool exists = false;
    /** Mapped and viewable, or iconified: minimised windows count as visible. */
    bool visible = false;
    /** _NET_WM_NAME, else WM_NAME. */
    QString title;
    WindowType type = WindowType::Normal;
    /** The owning process, -1 when the server does not tell. */
    qint64 pid = -1;
};

/** Where a window is, as the server and window manager report it. */
struct WindowGeometry
{
    /** False when the window does not exist (any more) or could not be read. */
    bool valid = false;
    /** The client area in root coordinates, without the window manager's frame. */
    QRect client;
    /**
     * _NET_FRAME_EXTENTS as the window manager set it; without one, the
     * window's own X border when it has one; else unset.
     */
    std::optional<QMargins> frameExtents;
    /** _GTK_FRAME_EXTENTS: the invisible shadow a client draws around itself. */
    std::optional<QMargins> clientSideExtents;
    /** Both _NET_WM_STATE_MAXIMIZED_VERT and _HORZ are set. */
    bool maximized = false;
};

class Platform
{
public:
    virtual ~Platform();

    /** The backend for this process, created on first use after the QGuiApplication. */
    static Platform *instance();
    /** Replaces the backend (tests); takes ownership. nullptr goes back to the automatic choice. */
    static void setInstance(Platform *platform);

    /**
     * Whether an X display can be reached, asked before the application object
     * exists. False with a one-line reason when DISPLAY is unset or the server
     * refuses; true when another Qt platform was asked for explicitly.
     */
    static bool displayReachable(QString *reason);
    /**
     * Closes the connection displayReachable() left open. It is kept until Qt
     * has its own: an X server can turn away a connection that arrives while
     * it still handles the close of the one before.
     */
    static void closeDisplayProbe();

    /** "x11" or "fake". */
    virtual QString backendName() const = 0;

    /** Text of the last failure of a query or request of this backend (an X error, errno). */
    virtual QString lastErrorString() const = 0;

    // --- Windows ---------------------------------------------------------

    /** The window the window manager calls active; 0 when there is none or no manager. */
    virtual WId activeWindow() = 0;
    /** Managed top-level windows, topmost first; empty without a window manager. */
    virtual QList<WId> windowsTopFirst() = 0;
    /** Facts about one window; exists is false for a vanished window (never an error). */
    virtual WindowFacts windowFacts(WId window) = 0;
    /** The same for many windows; backends may pipeline the queries. */
    virtual QList<WindowFacts> windowFacts(const QList<WId> &windows);
    /** Geometry in root coordinates; valid is false for a vanished window. */
    virtual WindowGeometry windowGeometry(WId window) = 0;

    // --- Processes -------------------------------------------------------

    /** This process. */
    virtual qint64 currentProcessId() const = 0;
    /** Whether the process can be looked at; false with lastErrorString() set. */
    virtual bool processExists(qint64 pid) = 0;
    /**
     * The executable of a process as the kernel reports it (may end in
     * " (deleted)" after an upgrade); empty with lastErrorString() set when unreadable.
     */
    virtual QString processExecutable(qint64 pid) = 0;
    /** The parent's pid, -1 when the process is unknown. */
    virtual qint64 parentProcessId(qint64 pid) = 0;
    /** The command line, argv[0] first; empty when unreadable. */
    virtual QStringList processArguments(qint64 pid) = 0;
    /** The working folder, empty when unreadable. */
    virtual QString processWorkingDirectory(qint64 pid) = 0;

    // --- Requests to the window manager ---------------------------------
    // Requests on a vanished window are dropped quietly: a window may close at
    // any moment, and that is not an error of ours.

    /**
     * Moves the top-left of the window's outer frame to framePosition (root
     * coordinates) and/or sizes its client area to clientSize. Without a window
     * manager the window itself is configured.
     */
    virtual void moveResizeWindow(WId window, std::optional<QPoint> framePosition,
                                  std::optional<QSize> clientSize) = 0;
    /** Brings the window to the top of the stacking order. */
    virtual void raiseWindow(WId window) = 0;
    /** Asks the window manager to maximise (both directions) or restore the window. */
    virtual void setWindowMaximized(WId window, bool maximized) = 0;
    /**
     * Waits until the window manager has carried out the requests sent so far
     * for window (a restore is asynchronous, and its frame changes with it),
     * at most timeoutMs. False when it could not be told (the window is gone,
     * the manager never answered).
     */
    virtual bool waitForWindowManager(WId window, int timeoutMs)
    {
        Q_UNUSED(window)
        Q_UNUSED(timeoutMs)
        return true;
    }

    // --- Changes -----------------------------------------------------------

    /**
     * Called when the window manager names another active window. It is called
     * from the backend's event handling: defer any work that may take long.
     */
    virtual void setActiveWindowHandler(const std::function<void()> &handler) { Q_UNUSED(handler) }
    /**
     * Called with a window whose frame or client-side shadow changed, for
     * windows whose geometry was asked for. Called from the backend's event
     * handling: defer the work.
     */
    virtual void setFramesChangedHandler(const std::function<void(WId)> &handler)
    {
        Q_UNUSED(handler)
    }
    /**
     * Forgets what the backend keeps between the server's notices (the active
     * window, other programs' window facts), so that the next answers are read
     * afresh: for a moment that must not act on a notice still under way.
     */
    virtual void refresh() {}

    // --- Compositor -----------------------------------------------------

    /** Whether the compositor interface can be used at all (always on X11). */
    virtual bool compositorAvailable() = 0;
    /** Whether a compositing manager runs now. */
    virtual bool compositingActive() = 0;
    /**
     * Asks the compositor to blur behind region (window coordinates) of one of
     * our own windows, or stops it; false when the request could not be made.
     */
    virtual bool setBlurBehind(WId ownWindow, bool enable, const QRect &region) = 0;

    // --- Keys ---------------------------------------------------------

    /** Receives every key event of the desktop; keys never stop at us. */
    struct KeyWatcher
    {
        /** A Win32 virtual-key code and whether it was released (a repeat is a press). */
        std::function<void(int vk, bool isUp)> key;
        /** The modifiers really held, when the backend learns that events went missing. */
        std::function<void(bool shift, bool control, bool alt, bool win)> modifiers;
    };
    /** Starts delivering key events to watcher; false when this desktop cannot be watched. */
    virtual bool watchKeys(const KeyWatcher &watcher)
    {
        Q_UNUSED(watcher)
        return false;
    }
    /** Stops delivering key events. */
    virtual void stopWatchingKeys() {}

    // --- Global hot keys -------------------------------------------------
    // A hot key is a Win32 virtual-key code with MOD_* flags. Grabbing it makes
    // the desktop hand its presses to us, whichever window has the focus.

    enum HotKeyModifier : quint32
    {
        ModAlt = 0x1,
        ModControl = 0x2,
        ModShift = 0x4,
        ModWin = 0x8,
    };

    /** Called with the virtual key and MOD_* flags of a grabbed combination that was pressed. */
    using HotKeyHandler = std::function<void(quint32 vk, quint32 modifiers)>;

    /**
     * Grabs vk with exactly modifiers (Lock and NumLock do not matter) for the
     * whole desktop. False, with lastErrorString() set, when another client
     * holds the combination, when vk has no key on this keyboard (0 among
     * them), or when this desktop has no hot keys. A combination grabbed
     * already by us is grabbed again.
     */
    virtual bool grabHotKey(quint32 vk, quint32 modifiers)
    {
        Q_UNUSED(vk)
        Q_UNUSED(modifiers)
        return false;
    }
    /** Releases a combination; false when it was not grabbed by us. */
    virtual bool ungrabHotKey(quint32 vk, quint32 modifiers)
    {
        Q_UNUSED(vk)
        Q_UNUSED(modifiers)
        return false;
    }
    /**
     * Where presses of grabbed combinations go (an empty handler drops them).
     * It is called from the backend's event handling: a receiver that may open
     * a modal window must defer its work (a queued signal).
     */
    virtual void setHotKeyHandler(const HotKeyHandler &handler) { Q_UNUSED(handler) }
    /**
     * Many grabs and ungrabs follow: the first grab may take all of these
     * (vk, MOD_* pairs) along at once, so that the grabs of them that follow
     * need not wait for the desktop each. endHotKeyBatch() releases those
     * taken along that nobody grabbed. Results are the same as without a batch.
     */
    virtual void beginHotKeyBatch(const QList<QPair<quint32, quint32>> &combinations)
    {
        Q_UNUSED(combinations)
    }
    virtual void endHotKeyBatch() {}

    // --- Work areas -----------------------------------------------------

    /**
     * Each screen's work area: the screen (root coordinates, as given in
     * screens) without the docks and panels on it, in the same order. Empty
     * when the backend knows nothing better than the toolkit's own answer.
     */
    virtual QList<QRect> workAreas(const QList<QRect> &screens)
    {
        Q_UNUSED(screens)
        return {};
    }
    /** Called from the event loop, once per burst of changes, when work areas may have changed. */
    using WorkAreaHandler = std::function<void()>;
    /** Where work-area changes are told (an empty handler stops it). */
    virtual void setWorkAreaHandler(const WorkAreaHandler &handler) { Q_UNUSED(handler) }

    // --- Our own windows -------------------------------------------------

    /**
     * Keeps one of our windows out of taskbars and pagers. Call it whenever
     * the window is about to be shown: a window manager drops the request
     * when the window is hidden.
     */
    virtual void setSkipTaskbar(WId ownWindow) { Q_UNUSED(ownWindow) }

    /**
     * Lets the pointer through the window manager's frame around one of our
     * windows: the frame's input region becomes empty. The window's own
     * region is emptied by Qt (Qt::WindowTransparentForInput). A window
     * manager gives its frame a full region again when it moves or resizes
     * it, so call it after every such change. A vanished window or one
     * without a frame is passed over quietly.
     */
    virtual void setClickThrough(WId ownWindow) { Q_UNUSED(ownWindow) }

    /**
     * Puts one of our windows directly below another of ours in the stacking
     * order; with a window manager the sibling is raised to the top of its
     * layer on the way. A vanished window is passed over quietly.
     */
    virtual void stackBelow(WId window, WId sibling)
    {
        Q_UNUSED(window)
        Q_UNUSED(sibling)
    }

protected:
    Platform() = default;
};
