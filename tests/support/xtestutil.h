#pragma once

// Helpers for tests that run on the private X desktop xrun starts: run the
// X tools, start windows and wait for the window manager to manage them, read
// geometry back from the server, switch RandR outputs, drive pointer and keys.
// Every wait has a deadline; a helper that gives up returns a failure value
// and leaves the reason in lastError() for the test's failure message.

#include <QByteArray>
#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

#include <optional>

class QProcess;
class QScreen;

struct CommandResult
{
    bool finished = false; // false: could not start, crashed or timed out
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;

    bool ok() const { return finished && exitCode == 0; }
};

/** What a client's WM_NORMAL_HINTS ask of the window manager (client sizes). */
struct SizeHints
{
    std::optional<QSize> minimum;
    QSize increment; // null: any size
    QSize base;
};

struct StartedWindow
{
    quint32 window = 0; // the top-level client window, as in _NET_CLIENT_LIST
    qint64 pid = 0;

    explicit operator bool() const { return window != 0; }
};

class XTestUtil
{
public:
    static constexpr int defaultTimeoutMs = 5000;

    /** The text of the last failure of any helper here. */
    static QString lastError();

    /** Where the build puts programs (VARLO_BIN_DIR, else next to the test). */
    static QString binDir();
    static QString testClientPath();

    /** Screens xrun really set up (VARLO_XRUN_SCREENS), 0 outside xrun. */
    static int xrunScreens();
    /** "xorg" or "xvfb" (VARLO_XRUN_SERVER), empty outside xrun. */
    static QString xrunServer();
    /** The window manager xrun started (VARLO_XRUN_WM: "openbox", "none", ...); empty outside. */
    static QString xrunWindowManager();

    /** Runs a program to its end; killed and reported unfinished after timeoutMs. */
    static CommandResult run(const QString &program, const QStringList &arguments,
                             int timeoutMs = defaultTimeoutMs);

    /**
     * Polls condition until it holds or the deadline passes, dispatching Qt
     * events in between (so QScreen and friends catch up). True if it held.
     */
    static bool waitFor(const std::function<bool()> &condition, int timeoutMs = defaultTimeoutMs);

    /**
     * Starts varlo-testclient with the given flags and returns its window once
     * mapped and, when a window manager runs, managed (listed in
     * _NET_CLIENT_LIST with _NET_FRAME_EXTENTS set, or viewable when it
     * asked for no decorations; docks included). Null on
     * failure. Ended by cleanup().
     */
    static StartedWindow startTestClient(const QStringList &arguments,
                                         int timeoutMs = defaultTimeoutMs);

    /** Starts an xterm titled title and returns its client window once managed. */
    static StartedWindow startXterm(const QString &title, const QStringList &extraArguments = {},
                                    int timeoutMs = defaultTimeoutMs);

    /**
     * Starts any X program and returns its top-level window (found by
     * _NET_WM_PID, else by the title) once managed: listed with frame extents
     * (or, undecorated, viewable) under a window manager, mapped without one.
     * Ended by cleanup().
     */
    static StartedWindow startProgram(const QString &program, const QStringList &arguments,
                                      const QString &title, int timeoutMs = defaultTimeoutMs);

    /**
     * Ends the program that owns window (started here) and waits until the
     * window is destroyed and, under a window manager, no longer listed.
     */
    static bool endClient(quint32 window, int timeoutMs = defaultTimeoutMs);

    /**
     * Starts any program (the program under test, a tray host, ...) so that
     * cleanup() ends it. The process stays owned here; null if it did not start.
     */
    static QProcess *startProcess(const QString &program, const QStringList &arguments);

    /**
     * Ends everything started through these helpers (TERM, then KILL) and
     * waits until the window manager has dropped their windows.
     */
    static void cleanup();

    /**
     * Waits for the next line starting with prefix that the client owning
     * window (started here, with --events) printed, skipping earlier lines.
     * Returns the line, empty on timeout.
     */
    static QByteArray waitForClientOutput(quint32 window, const QByteArray &prefix,
                                          int timeoutMs = defaultTimeoutMs);

    /** _NET_CLIENT_LIST of the root, empty without a window manager. */
    static QList<quint32> clientList();
    /** The client window of clientList() whose _NET_WM_PID is pid, or 0. */
    static quint32 clientWithPid(qint64 pid);
    /** Waits until window appears in (present) or leaves (!present) _NET_CLIENT_LIST. */
    static bool waitForClientListed(quint32 window, bool present = true,
                                    int timeoutMs = defaultTimeoutMs);

    /** The client area in root coordinates; null when the window is gone. */
    static QRect clientGeometry(quint32 window);
    /** The window's X border width (a window manager sets its clients' to 0); -1 when gone. */
    static int borderWidth(quint32 window);
    /** _NET_FRAME_EXTENTS; nullopt when the window manager set none. */
    static std::optional<QMargins> frameExtents(quint32 window);
    /** _GTK_FRAME_EXTENTS; nullopt when the client set none. */
    static std::optional<QMargins> gtkFrameExtents(quint32 window);
    /** The client area grown by _NET_FRAME_EXTENTS (the frame's outer rectangle). */
    static QRect outerFrame(quint32 window);
    /**
     * The outer frame shrunk by _GTK_FRAME_EXTENTS: what the user sees of the
     * window, without a client-side shadow. Null when the window is gone.
     */
    static QRect visibleFrame(quint32 window);
    /** WM_NORMAL_HINTS; the minimum stands in for a missing base size. */
    static SizeHints sizeHints(quint32 window);
    /** Waits until the window manager has set _NET_FRAME_EXTENTS. */
    static std::optional<QMargins> waitForFrameExtents(quint32 window,
                                                       int timeoutMs = defaultTimeoutMs);
    /** Waits until the client area equals rect (root coordinates). */
    static bool waitForClientGeometry(quint32 window, const QRect &rect,
                                      int timeoutMs = defaultTimeoutMs);

    /** A 32-bit property as numbers (CARDINAL, WINDOW, ...); empty when unset. */
    static QList<quint32> cardinalProperty(quint32 window, const QByteArray &name);
    /** An ATOM[] property as atom names (_NET_WM_STATE, _NET_WM_WINDOW_TYPE). */
    static QList<QByteArray> atomProperty(quint32 window, const QByteArray &name);
    /** _NET_ACTIVE_WINDOW of the root, 0 when none. */
    static quint32 activeWindow();
    /** _NET_WM_NAME of the window manager's _NET_SUPPORTING_WM_CHECK window; empty without one. */
    static QString windowManagerName();
    /** Whether a selection ("_NET_WM_CM_S0": a compositing manager runs) has an owner. */
    static bool selectionOwned(const QByteArray &selection);

    /** The root window of the default screen; 0 without a display. */
    static quint32 rootWindow();
    /**
     * The outer rectangles of the viewable top-level windows that lie along
     * an edge of screen and span it, thinner than a quarter of it: panels,
     * docks and a window manager's own bar, whether they set struts or not.
     */
    static QList<QRect> edgeBars(const QRect &screen);
    /** The root's children, bottom of the stack first. */
    static QList<quint32> rootChildren();
    /** Every window below window, at any depth (an icon a tray host embedded, say). */
    static QList<quint32> descendantsOf(quint32 window);
    /** The child of the root that holds window: its frame, or itself when unmanaged; 0 if gone. */
    static quint32 topLevelOf(quint32 window);
    /** What the screen shows at a root position (0xRRGGBB); nullopt when it cannot be read. */
    static std::optional<quint32> rootPixel(const QPoint &rootPosition);
    /** The child of the root under the pointer, 0 for the bare root. */
    static quint32 windowUnderPointer();
    /** The innermost window under the pointer, 0 for the bare root. */
    static quint32 innermostWindowUnderPointer();
    /**
     * Clicks window at offset from its centre once it really is the window
     * under the pointer there (mapped, embedded, not covered): a click sent
     * while a tray host is still taking an icon in would be lost.
     */
    static bool clickWindow(quint32 window, const QPoint &offset = {}, int button = 1,
                            int timeoutMs = defaultTimeoutMs);
    /**
     * Top-level windows (and the clients in frames) whose _NET_WM_PID is pid;
     * only the mapped and viewable ones unless all is set.
     */
    static QList<quint32> windowsOf(qint64 pid, bool all = false);

    /**
     * Waits until Qt's own connection has handled every event the server sent
     * it before this call (a property change on the root is the marker), so
     * that what Qt and our backend believe has caught up with the server.
     */
    static bool syncQt(int timeoutMs = defaultTimeoutMs);
    /**
     * Waits until the window manager has handled every request sent before
     * this call, Qt's included (it carries out a configure request of an
     * unmanaged window of ours); without one, a round trip to the server.
     */
    static bool syncWindowManager(int timeoutMs = defaultTimeoutMs);
    /**
     * Waits until the Qt program that owns window (another process) has
     * handled every X event sent to it before this call: it answers a
     * _NET_WM_PING behind them, and what it asked of the server before the
     * answer has been carried out.
     */
    static bool syncClient(quint32 window, int timeoutMs = defaultTimeoutMs);
    /**
     * The X errors Qt's connection has received since the first call, one
     * line each; call it once early to start counting. syncQt() first to see
     * the errors of requests just sent.
     */
    static QStringList qtXErrors();

    /**
     * Turns RandR output name ("DUMMY1") off and waits until Qt's screen list
     * has no screen of that name any more.
     */
    static bool setOutputOff(const QString &output, int timeoutMs = defaultTimeoutMs);
    /**
     * Turns output on at rect (root coordinates), making a mode of that size
     * if needed, and waits until Qt shows a screen of that name and geometry.
     */
    static bool setOutputOn(const QString &output, const QRect &rect,
                            int timeoutMs = defaultTimeoutMs);
    /** Qt's screen of that RandR output name ("DUMMY1"), or nullptr. */
    static QScreen *screenNamed(const QString &name);
    /** Waits until QGuiApplication::screens() has count screens. */
    static bool waitForScreenCount(int count, int timeoutMs = defaultTimeoutMs);

    /** Pointer and keyboard through XTEST (xdotool); false if xdotool failed. */
    static bool movePointer(const QPoint &rootPosition);
    static bool click(int button = 1);
    static bool clickAt(const QPoint &rootPosition, int button = 1);
    /** Press and release apart, for drags. */
    static bool buttonDown(int button = 1);
    static bool buttonUp(int button = 1);
    /** keys in xdotool's notation: "ctrl+alt+Left", "super+KP_1". */
    static bool key(const QString &keys);
    static bool keyDown(const QString &keys);
    static bool keyUp(const QString &keys);
    static bool typeText(const QString &text);
    /**
     * One key of keysym pressed or released through XTEST from the helpers'
     * own connection, without a process in between: for timings.
     */
    static bool fakeKey(quint32 keysym, bool press);
    /** The same for a pointer button, and for a move of the pointer to rootPosition. */
    static bool fakeButton(int button, bool press);
    static bool fakeMotion(const QPoint &rootPosition);
    /**
     * Waits until the server has handled every request of the helpers' own
     * connection (the fake input above among them), so that what another
     * client sends next comes after it.
     */
    static bool roundTrip();
    /** Asks the window manager to activate window and waits until it is active. */
    static bool activate(quint32 window, int timeoutMs = defaultTimeoutMs);
    /** Sends WM_DELETE_WINDOW through the window manager (as its close button does). */
    static bool closeWindow(quint32 window);
    /** Asks the window manager to iconify window and waits for _NET_WM_STATE_HIDDEN. */
    static bool minimize(quint32 window, int timeoutMs = defaultTimeoutMs);
};

/**
 * Sees a window's ConfigureNotify events on a connection of its own, for
 * timings: a wait ends at the event that brings the window where it should
 * be, not at the next poll.
 */
class ConfigureWatcher
{
public:
    explicit ConfigureWatcher(quint32 window);
    ~ConfigureWatcher();
    ConfigureWatcher(const ConfigureWatcher &) = delete;
    ConfigureWatcher &operator=(const ConfigureWatcher &) = delete;

    /** Until done() holds after a ConfigureNotify (or already); false after timeoutMs. */
    bool waitFor(const std::function<bool()> &done, int timeoutMs = 2000);
    /** The sizes the window was given, in order, as the events seen so far said. */
    const QList<QSize> &sizesSeen() const { return m_sizes; }
    /**
     * Where the last event seen put the window, its X border included, in
     * its parent's coordinates (root ones for a frame, and in the synthetic
     * events a window manager sends its clients); null before any.
     * Read in done(), it judges the very event, with no round trip.
     */
    QRect geometrySeen() const { return m_geometry; }

private:
    struct xcb_connection_t *m_connection = nullptr;
    QList<QSize> m_sizes;
    QRect m_geometry;
};
