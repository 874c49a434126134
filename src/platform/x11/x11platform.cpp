#include "x11platform.h"

#include "procfs.h"
#include "varlolog.h"
#include "x11hotkeys.h"
#include "x11keywatcher.h"
#include "x11workarea.h"

#include <QAbstractNativeEventFilter>
#include <QElapsedTimer>
#include <QHash>
#include <QGuiApplication>

#include <xcb/res.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <unistd.h>

namespace {

QString errorText(const xcb_generic_error_t *error)
{
    static const char *const names[] = {
        "Success",   "BadRequest", "BadValue",    "BadWindow",   "BadPixmap", "BadAtom",
        "BadCursor", "BadFont",    "BadMatch",    "BadDrawable", "BadAccess", "BadAlloc",
        "BadColor",  "BadGC",      "BadIDChoice", "BadName",     "BadLength", "BadImplementation",
    };
    const int code = error->error_code;
    const QString name = code < int(sizeof names / sizeof *names) ? QLatin1String(names[code])
                                                                  : QStringLiteral("error");
    return QStringLiteral("X error %1 (%2), resource 0x%3, request %4")
        .arg(code)
        .arg(name)
        .arg(error->resource_id, 0, 16)
        .arg(error->major_code);
}

struct Free
{
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, Free>;

QMargins toMargins(uint32_t left, uint32_t right, uint32_t top, uint32_t bottom)
{
    // CARDINALs; a client that writes -1 means nonsense either way, and as a
    // signed number the rules above us can see it for what it is.
    return QMargins(int32_t(left), int32_t(top), int32_t(right), int32_t(bottom));
}

} // namespace

struct X11Platform::Private
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    int screen = 0;
    bool ewmhReady = false;
    xcb_ewmh_connection_t ewmh{};
    xcb_atom_t gtkFrameExtents = XCB_ATOM_NONE;
    xcb_atom_t blurRegion = XCB_ATOM_NONE;
    bool hasRes = false;
    uint32_t idBase = 0;
    uint32_t idMask = 0;
    QString lastError;

    // What the window manager supports, re-read at most once a second: a
    // placement asks several times within a few milliseconds.
    QElapsedTimer supportedAge;
    QList<xcb_atom_t> supported;

    std::unique_ptr<X11KeyWatcher> keys;
    std::unique_ptr<X11HotKeys> hotKeys;
    std::unique_ptr<X11WorkArea> workAreas;

    // The panels ask about the foreground window twice a second. The answers
    // are kept until the server says they changed (a property, a map state,
    // the window's end), so a quiet desktop costs no round trip at all.
    // Our own windows are never watched: their event mask belongs to Qt.
    bool cachingFacts = false;
    std::optional<xcb_window_t> activeCache;
    QHash<xcb_window_t, WindowFacts> factsCache;
    std::function<void()> activeWindowHandler;
    std::function<void(WId)> framesChangedHandler;
    // An unmapped window of ours that the window manager estimates frames
    // for: its answer tells that every request sent before has been handled.
    xcb_window_t syncWindow = XCB_WINDOW_NONE;

    // Every X event the backend cares about passes through this one filter,
    // which hands it to the part that needs it. Nothing here consumes an event.
    class EventFilter : public QAbstractNativeEventFilter
    {
    public:
        explicit EventFilter(Private *d) : d(d) {}
        bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
        {
            if (type != "xcb_generic_event_t" || !message)
                return false;
            const auto *event = static_cast<const xcb_generic_event_t *>(message);
            if (d->cachingFacts)
                d->forgetChangedFacts(event);
            if (d->keys)
                d->keys->handleEvent(event);
            if (d->hotKeys)
                d->hotKeys->handleEvent(event);
            if (d->workAreas)
                d->workAreas->handleEvent(event);
            return false;
        }

    private:
        Private *d;
    };
    std::unique_ptr<EventFilter> filter;

    void forgetChangedFacts(const xcb_generic_event_t *event)
    {
        switch (event->response_type & ~0x80) {
        case XCB_PROPERTY_NOTIFY: {
            const auto *e = reinterpret_cast<const xcb_property_notify_event_t *>(event);
            if (e->window == root) {
                if (e->atom == ewmh._NET_ACTIVE_WINDOW) {
                    activeCache.reset();
                    // Copied first: the receiver may replace the handler.
                    if (const std::function<void()> handler = activeWindowHandler)
                        handler();
                }
            } else {
                factsCache.remove(e->window);
                if (e->atom == ewmh._NET_FRAME_EXTENTS || e->atom == gtkFrameExtents) {
                    if (const std::function<void(WId)> handler = framesChangedHandler)
                        handler(e->window);
                }
            }
            break;
        }
        case XCB_MAP_NOTIFY:
            factsCache.remove(reinterpret_cast<const xcb_map_notify_event_t *>(event)->window);
            break;
        case XCB_UNMAP_NOTIFY:
            factsCache.remove(reinterpret_cast<const xcb_unmap_notify_event_t *>(event)->window);
            break;
        case XCB_DESTROY_NOTIFY:
            factsCache.remove(reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window);
            break;
        default:
            break;
        }
    }

    void installFilter()
    {
        if (filter || !qApp)
            return;
        filter = std::make_unique<EventFilter>(this);
        qApp->installNativeEventFilter(filter.get());
    }

    X11WorkArea *workAreaWatcher()
    {
        if (!workAreas && connection) {
            workAreas = std::make_unique<X11WorkArea>(connection, root, idBase, idMask);
            installFilter();
        }
        return workAreas.get();
    }

    X11HotKeys *hotKeyGrabber()
    {
        if (!hotKeys && connection) {
            hotKeys = std::make_unique<X11HotKeys>(connection, root);
            installFilter();
        }
        return hotKeys.get();
    }

    void startCachingFacts()
    {
        // Adds to the mask Qt has on the root; setting ours alone would replace it.
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, root), nullptr));
        if (!attributes || !qApp)
            return;
        const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
        installFilter();
        cachingFacts = true;
    }

    void watchWindow(xcb_window_t window)
    {
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        // A window that is already gone answers with an error nobody needs to see.
        xcb_void_cookie_t cookie =
            xcb_change_window_attributes_checked(connection, window, XCB_CW_EVENT_MASK, &mask);
        xcb_discard_reply(connection, cookie.sequence);
    }

    xcb_atom_t intern(const char *name)
    {
        xcb_intern_atom_cookie_t c = xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
        Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(connection, c, nullptr));
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    void noteError(xcb_generic_error_t *error)
    {
        if (error) {
            lastError = errorText(error);
            std::free(error);
        }
    }

    bool wmSupports(xcb_atom_t atom)
    {
        if (!supportedAge.isValid() || supportedAge.elapsed() > 1000) {
            supported.clear();
            xcb_ewmh_get_atoms_reply_t atoms;
            xcb_generic_error_t *error = nullptr;
            if (xcb_ewmh_get_supported_reply(&ewmh, xcb_ewmh_get_supported(&ewmh, screen), &atoms,
                                             &error)) {
                for (uint32_t i = 0; i < atoms.atoms_len; ++i)
                    supported.append(atoms.atoms[i]);
                xcb_ewmh_get_atoms_reply_wipe(&atoms);
            }
            noteError(error);
            supportedAge.start();
        }
        return supported.contains(atom);
    }

    bool isOwn(xcb_window_t window) const { return idMask && (window & ~idMask) == idBase; }

    void sendChecked(xcb_void_cookie_t cookie)
    {
        // Nobody waits for the outcome; a vanished window's error must not reach Qt's log.
        xcb_discard_reply(connection, cookie.sequence);
    }
};

X11Platform::X11Platform() : d(std::make_unique<Private>())
{
    if (auto *x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        d->connection = x11->connection();
        const xcb_setup_t *setup = xcb_get_setup(d->connection);
        // The screen DISPLAY names (":0.1" is the second), as Qt connected to it.
        int screen = 0;
        char *host = nullptr;
        int display = 0;
        if (xcb_parse_display(nullptr, &host, &display, &screen))
            std::free(host);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screen && it.rem > 0; ++i)
            xcb_screen_next(&it);
        if (it.rem == 0) {
            screen = 0;
            it = xcb_setup_roots_iterator(setup);
        }
        if (it.rem > 0)
            d->root = it.data->root;
        d->screen = screen;
        d->idBase = setup->resource_id_base;
        d->idMask = setup->resource_id_mask;
    }
    if (!d->connection) {
        vWarning() << "No X11 connection: windows of other programs cannot be placed.";
        return;
    }
    xcb_intern_atom_cookie_t *cookies = xcb_ewmh_init_atoms(d->connection, &d->ewmh);
    d->ewmhReady = cookies && xcb_ewmh_init_atoms_replies(&d->ewmh, cookies, nullptr);
    if (!d->ewmhReady)
        vWarning() << "Could not set up the window manager atoms.";
    d->gtkFrameExtents = d->intern("_GTK_FRAME_EXTENTS");
    d->blurRegion = d->intern("_KDE_NET_WM_BLUR_BEHIND_REGION");
    const xcb_query_extension_reply_t *res = xcb_get_extension_data(d->connection, &xcb_res_id);
    d->hasRes = res && res->present;
    if (d->ewmhReady)
        d->startCachingFacts();
}

X11Platform::~X11Platform()
{
    if (d->filter && qApp)
        qApp->removeNativeEventFilter(d->filter.get());
    // Qt's connection is gone once the application object is.
    if (d->syncWindow != XCB_WINDOW_NONE && qApp)
        xcb_destroy_window(d->connection, d->syncWindow);
    if (d->ewmhReady)
        xcb_ewmh_connection_wipe(&d->ewmh);
}

xcb_connection_t *X11Platform::connection() const
{
    return d->connection;
}

quint32 X11Platform::rootWindow() const
{
    return d->root;
}

QString X11Platform::lastErrorString() const
{
    return d->lastError;
}

namespace {
// The connection of the reachability test, open until Qt has connected.
xcb_connection_t *g_probe = nullptr;
} // namespace

void X11Platform::closeProbe()
{
    if (g_probe) {
        xcb_disconnect(g_probe);
        g_probe = nullptr;
    }
}

bool X11Platform::serverReachable(QString *reason)
{
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        if (reason)
            *reason = QStringLiteral(
                "no X display: DISPLAY is not set (Varlo places windows of an X11 session)");
        return false;
    }
    closeProbe();
    xcb_connection_t *c = xcb_connect(display.constData(), nullptr);
    const int error = xcb_connection_has_error(c);
    if (error)
        xcb_disconnect(c);
    else
        g_probe = c;
    if (error) {
        if (reason)
            *reason = QStringLiteral("cannot open the X display \"%1\"")
                          .arg(QString::fromLocal8Bit(display));
        return false;
    }
    return true;
}

WId X11Platform::activeWindow()
{
    if (!d->ewmhReady)
        return 0;
    if (d->cachingFacts && d->activeCache)
        return *d->activeCache;
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_generic_error_t *error = nullptr;
    if (!xcb_ewmh_get_active_window_reply(&d->ewmh, xcb_ewmh_get_active_window(&d->ewmh, d->screen),
                                          &window, &error))
        window = XCB_WINDOW_NONE;
    d->noteError(error);
    if (d->cachingFacts)
        d->activeCache = window;
    return window;
}

QList<WId> X11Platform::windowsTopFirst()
{
    QList<WId> result;
    if (!d->ewmhReady)
        return result;
    xcb_ewmh_get_windows_reply_t windows;
    xcb_generic_error_t *error = nullptr;
    const xcb_get_property_cookie_t stacking = xcb_ewmh_get_client_list_stacking(&d->ewmh, d->screen);
    const xcb_get_property_cookie_t mapping = xcb_ewmh_get_client_list(&d->ewmh, d->screen);
    bool found = xcb_ewmh_get_client_list_stacking_reply(&d->ewmh, stacking, &windows, &error);
    d->noteError(error);
    if (found) {
        xcb_discard_reply(d->connection, mapping.sequence);
    } else {
        // Some managers (Xfwm4 with nothing but an unfocusable window left)
        // have not set the stacking list yet; the plain list is in the order
        // the windows were mapped, which is the best guess at the stacking.
        error = nullptr;
        found = xcb_ewmh_get_client_list_reply(&d->ewmh, mapping, &windows, &error);
        d->noteError(error);
    }
    if (found) {
        // Both lists run bottom (or oldest) to top.
        result.reserve(int(windows.windows_len));
        for (uint32_t i = windows.windows_len; i-- > 0;)
            result.append(windows.windows[i]);
        xcb_ewmh_get_windows_reply_wipe(&windows);
    }
    return result;
}

WindowFacts X11Platform::windowFacts(WId window)
{
    return windowFacts(QList<WId>{window}).value(0);
}

QList<WindowFacts> X11Platform::windowFacts(const QList<WId> &windows)
{
    if (!d->cachingFacts)
        return readWindowFacts(windows);
    QList<WindowFacts> result(windows.size());
    QList<WId> missing;
    QList<int> missingAt;
    for (int i = 0; i < windows.size(); ++i) {
        const auto cached = d->factsCache.constFind(xcb_window_t(windows.at(i)));
        if (cached != d->factsCache.constEnd()) {
            result[i] = *cached;
            continue;
        }
        const xcb_window_t w = xcb_window_t(windows.at(i));
        // Watched before it is read, so that no change falls in between.
        if (w && !d->isOwn(w))
            d->watchWindow(w);
        missing << windows.at(i);
        missingAt << i;
    }
    if (missing.isEmpty())
        return result;
    const QList<WindowFacts> read = readWindowFacts(missing);
    for (int k = 0; k < read.size(); ++k) {
        result[missingAt.at(k)] = read.at(k);
        const xcb_window_t w = xcb_window_t(missing.at(k));
        if (read.at(k).exists && w && !d->isOwn(w))
            d->factsCache.insert(w, read.at(k));
    }
    return result;
}

QList<WindowFacts> X11Platform::readWindowFacts(const QList<WId> &windows)
{
    struct Cookies
    {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_property_cookie_t netName, type, state;
        xcb_res_query_client_ids_cookie_t client;
    };
    QList<WindowFacts> result(windows.size());
    if (!d->connection || !d->ewmhReady || windows.isEmpty())
        return result;

    // All requests go out before the first reply is read: one round trip for
    // the whole list instead of several per window. What most windows need
    // goes first; the old-style name and the claimed pid only where missing.
    std::vector<Cookies> cookies(size_t(windows.size()));
    for (int i = 0; i < windows.size(); ++i) {
        const xcb_window_t w = xcb_window_t(windows.at(i));
        Cookies &c = cookies[size_t(i)];
        c.attributes = xcb_get_window_attributes(d->connection, w);
        c.netName = xcb_ewmh_get_wm_name(&d->ewmh, w);
        c.type = xcb_ewmh_get_wm_window_type(&d->ewmh, w);
        c.state = xcb_ewmh_get_wm_state(&d->ewmh, w);
        if (d->hasRes) {
            xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            c.client = xcb_res_query_client_ids(d->connection, 1, &spec);
        }
    }

    for (int i = 0; i < windows.size(); ++i) {
        const xcb_window_t w = xcb_window_t(windows.at(i));
        Cookies &c = cookies[size_t(i)];
        WindowFacts &f = result[i];
        f.id = w;

        xcb_generic_error_t *error = nullptr;
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(d->connection, c.attributes, &error));
        f.exists = bool(attributes);
        d->noteError(error);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;

        xcb_ewmh_get_utf8_strings_reply_t netName;
        error = nullptr;
        if (xcb_ewmh_get_wm_name_reply(&d->ewmh, c.netName, &netName, &error)) {
            f.title = QString::fromUtf8(netName.strings, int(netName.strings_len));
            xcb_ewmh_get_utf8_strings_reply_wipe(&netName);
            while (f.title.endsWith(QChar(0)))
                f.title.chop(1);
        }
        d->noteError(error);

        xcb_ewmh_get_atoms_reply_t atoms;
        error = nullptr;
        if (xcb_ewmh_get_wm_window_type_reply(&d->ewmh, c.type, &atoms, &error)) {
            const xcb_ewmh_connection_t &e = d->ewmh;
            const std::pair<xcb_atom_t, WindowType> known[] = {
                {e._NET_WM_WINDOW_TYPE_NORMAL, WindowType::Normal},
                {e._NET_WM_WINDOW_TYPE_DIALOG, WindowType::Dialog},
                {e._NET_WM_WINDOW_TYPE_UTILITY, WindowType::Utility},
                {e._NET_WM_WINDOW_TYPE_TOOLBAR, WindowType::Toolbar},
                {e._NET_WM_WINDOW_TYPE_DESKTOP, WindowType::Desktop},
                {e._NET_WM_WINDOW_TYPE_DOCK, WindowType::Dock},
                {e._NET_WM_WINDOW_TYPE_SPLASH, WindowType::Splash},
                {e._NET_WM_WINDOW_TYPE_NOTIFICATION, WindowType::Notification},
                {e._NET_WM_WINDOW_TYPE_MENU, WindowType::Menu},
                {e._NET_WM_WINDOW_TYPE_DROPDOWN_MENU, WindowType::Menu},
                {e._NET_WM_WINDOW_TYPE_POPUP_MENU, WindowType::Menu},
                {e._NET_WM_WINDOW_TYPE_COMBO, WindowType::Menu},
                {e._NET_WM_WINDOW_TYPE_TOOLTIP, WindowType::Tooltip},
                {e._NET_WM_WINDOW_TYPE_DND, WindowType::DragAndDrop},
            };
            // The list is in order of preference; the first type we know wins.
            bool found = false;
            for (uint32_t k = 0; k < atoms.atoms_len && !found; ++k) {
                for (const auto &entry : known) {
                    if (entry.first == atoms.atoms[k]) {
                        f.type = entry.second;
                        found = true;
                        break;
                    }
                }
            }
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        d->noteError(error);

        bool hidden = false;
        error = nullptr;
        if (xcb_ewmh_get_wm_state_reply(&d->ewmh, c.state, &atoms, &error)) {
            for (uint32_t k = 0; k < atoms.atoms_len; ++k)
                hidden = hidden || atoms.atoms[k] == d->ewmh._NET_WM_STATE_HIDDEN;
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        d->noteError(error);
        f.visible = f.exists && (viewable || hidden);

        qint64 pid = -1;
        if (d->hasRes) {
            error = nullptr;
            Reply<xcb_res_query_client_ids_reply_t> ids(
                xcb_res_query_client_ids_reply(d->connection, c.client, &error));
            d->noteError(error);
            if (ids) {
                for (auto it = xcb_res_query_client_ids_ids_iterator(ids.get()); it.rem;
                     xcb_res_client_id_value_next(&it)) {
                    if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                        xcb_res_client_id_value_value_length(it.data) >= 1) {
                        pid = *xcb_res_client_id_value_value(it.data);
                        break;
                    }
                }
            }
        }
        if (pid <= 0 && d->isOwn(w))
            pid = ::getpid();
        f.pid = pid > 0 ? pid : -1;
    }

    struct Second
    {
        int index;
        bool name, pid;
        xcb_get_property_cookie_t nameCookie, pidCookie;
    };
    std::vector<Second> second;
    for (int i = 0; i < result.size(); ++i) {
        const WindowFacts &f = result.at(i);
        if (!f.exists || (!f.title.isEmpty() && f.pid != -1))
            continue;
        Second s{i, f.title.isEmpty(), f.pid == -1, {}, {}};
        if (s.name)
            s.nameCookie = xcb_icccm_get_wm_name(d->connection, xcb_window_t(f.id));
        if (s.pid)
            s.pidCookie = xcb_ewmh_get_wm_pid(&d->ewmh, xcb_window_t(f.id));
        second.push_back(s);
    }
    for (const Second &s : second) {
        WindowFacts &f = result[s.index];
        xcb_generic_error_t *error = nullptr;
        if (s.name) {
            xcb_icccm_get_text_property_reply_t name;
            if (xcb_icccm_get_wm_name_reply(d->connection, s.nameCookie, &name, &error)) {
                const QByteArray bytes(name.name, int(name.name_len));
                f.title = name.encoding == d->ewmh.UTF8_STRING ? QString::fromUtf8(bytes)
                                                               : QString::fromLatin1(bytes);
                xcb_icccm_get_text_property_reply_wipe(&name);
                while (f.title.endsWith(QChar(0)))
                    f.title.chop(1);
            }
            d->noteError(error);
        }
        if (s.pid) {
            // What the client claims: the only answer for remote clients, whose
            // pids the server does not know.
            uint32_t netPid = 0;
            error = nullptr;
            if (xcb_ewmh_get_wm_pid_reply(&d->ewmh, s.pidCookie, &netPid, &error) && netPid > 0)
                f.pid = netPid;
            d->noteError(error);
            if (f.pid == -1)
                d->lastError = QStringLiteral("the X server knows no process for window 0x%1")
                                   .arg(f.id, 0, 16);
        }
    }
    return result;
}

WindowGeometry X11Platform::windowGeometry(WId id)
{
    WindowGeometry g;
    if (!d->connection || !d->ewmhReady || !id)
        return g;
    const xcb_window_t w = xcb_window_t(id);
    // Its frames are followed from now on (a restore changes them later).
    if (d->cachingFacts && !d->isOwn(w))
        d->watchWindow(w);
    const xcb_get_geometry_cookie_t geometryCookie = xcb_get_geometry(d->connection, w);
    const xcb_translate_coordinates_cookie_t originCookie =
        xcb_translate_coordinates(d->connection, w, d->root, 0, 0);
    const xcb_get_property_cookie_t frameCookie = xcb_ewmh_get_frame_extents(&d->ewmh, w);
    const xcb_get_property_cookie_t gtkCookie =
        xcb_get_property(d->connection, 0, w, d->gtkFrameExtents, XCB_ATOM_CARDINAL, 0, 4);
    const xcb_get_property_cookie_t stateCookie = xcb_ewmh_get_wm_state(&d->ewmh, w);

    xcb_generic_error_t *error = nullptr;
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(d->connection, geometryCookie, &error));
    d->noteError(error);
    error = nullptr;
    Reply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(d->connection, originCookie, &error));
    d->noteError(error);

    xcb_ewmh_get_extents_reply_t frame;
    error = nullptr;
    if (xcb_ewmh_get_frame_extents_reply(&d->ewmh, frameCookie, &frame, &error))
        g.frameExtents = toMargins(frame.left, frame.right, frame.top, frame.bottom);
    d->noteError(error);

    error = nullptr;
    Reply<xcb_get_property_reply_t> gtk(xcb_get_property_reply(d->connection, gtkCookie, &error));
    d->noteError(error);
    if (gtk && gtk->format == 32 && xcb_get_property_value_length(gtk.get()) >= 16) {
        const auto *v = static_cast<const uint32_t *>(xcb_get_property_value(gtk.get()));
        g.clientSideExtents = toMargins(v[0], v[1], v[2], v[3]);
    }

    xcb_ewmh_get_atoms_reply_t atoms;
    error = nullptr;
    if (xcb_ewmh_get_wm_state_reply(&d->ewmh, stateCookie, &atoms, &error)) {
        bool vert = false, horz = false;
        for (uint32_t k = 0; k < atoms.atoms_len; ++k) {
            vert = vert || atoms.atoms[k] == d->ewmh._NET_WM_STATE_MAXIMIZED_VERT;
            horz = horz || atoms.atoms[k] == d->ewmh._NET_WM_STATE_MAXIMIZED_HORZ;
        }
        g.maximized = vert && horz;
        xcb_ewmh_get_atoms_reply_wipe(&atoms);
    }
    d->noteError(error);

    if (geometry && origin) {
        g.valid = true;
        g.client = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        // Nobody framed the window: its own X border is its outer edge, and
        // a configure request places that border's corner.
        if (!g.frameExtents && geometry->border_width > 0) {
            const int b = geometry->border_width;
            g.frameExtents = QMargins(b, b, b, b);
        }
    }
    return g;
}

qint64 X11Platform::currentProcessId() const
{
    return ::getpid();
}

bool X11Platform::processExists(qint64 pid)
{
    return ProcFs::exists(pid, &d->lastError);
}

QString X11Platform::processExecutable(qint64 pid)
{
    return ProcFs::executable(pid, &d->lastError);
}

qint64 X11Platform::parentProcessId(qint64 pid)
{
    return ProcFs::parentPid(pid, &d->lastError);
}

QStringList X11Platform::processArguments(qint64 pid)
{
    return ProcFs::arguments(pid, &d->lastError);
}

QString X11Platform::processWorkingDirectory(qint64 pid)
{
    return ProcFs::workingDirectory(pid, &d->lastError);
}

void X11Platform::moveResizeWindow(WId id, std::optional<QPoint> framePosition,
                                   std::optional<QSize> clientSize)
{
    if (!d->connection || !id || (!framePosition && !clientSize))
        return;
    const xcb_window_t w = xcb_window_t(id);
    if (d->ewmhReady && d->wmSupports(d->ewmh._NET_MOVERESIZE_WINDOW)) {
        int flags = 0;
        if (framePosition)
            flags |= XCB_EWMH_MOVERESIZE_WINDOW_X | XCB_EWMH_MOVERESIZE_WINDOW_Y;
        if (clientSize)
            flags |= XCB_EWMH_MOVERESIZE_WINDOW_WIDTH | XCB_EWMH_MOVERESIZE_WINDOW_HEIGHT;
        const QPoint p = framePosition.value_or(QPoint());
        const QSize s = clientSize.value_or(QSize(1, 1)).expandedTo(QSize(1, 1));
        // NorthWest gravity: x and y are where the frame's top-left goes.
        xcb_ewmh_request_moveresize_window(
            &d->ewmh, d->screen, w, XCB_GRAVITY_NORTH_WEST, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
            xcb_ewmh_moveresize_window_opt_flags_t(flags), uint32_t(p.x()), uint32_t(p.y()),
            uint32_t(s.width()), uint32_t(s.height()));
    } else {
        // No window manager: the window is its own frame.
        uint16_t mask = 0;
        uint32_t values[4];
        int n = 0;
        if (framePosition) {
            mask |= XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y;
            values[n++] = uint32_t(framePosition->x());
            values[n++] = uint32_t(framePosition->y());
        }
        if (clientSize) {
            mask |= XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT;
            values[n++] = uint32_t(qMax(1, clientSize->width()));
            values[n++] = uint32_t(qMax(1, clientSize->height()));
        }
        d->sendChecked(xcb_configure_window_checked(d->connection, w, mask, values));
    }
    xcb_flush(d->connection);
}

void X11Platform::raiseWindow(WId id)
{
    if (!d->connection || !id)
        return;
    const xcb_window_t w = xcb_window_t(id);
    if (d->ewmhReady && d->wmSupports(d->ewmh._NET_RESTACK_WINDOW)) {
        xcb_ewmh_request_restack_window(&d->ewmh, d->screen, w, XCB_WINDOW_NONE,
                                        XCB_STACK_MODE_ABOVE);
    } else {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        d->sendChecked(
            xcb_configure_window_checked(d->connection, w, XCB_CONFIG_WINDOW_STACK_MODE, &above));
    }
    xcb_flush(d->connection);
}

void X11Platform::setWindowMaximized(WId id, bool maximized)
{
    if (!d->connection || !d->ewmhReady || !id)
        return;
    xcb_ewmh_request_change_wm_state(&d->ewmh, d->screen, xcb_window_t(id),
                                     maximized ? XCB_EWMH_WM_STATE_ADD : XCB_EWMH_WM_STATE_REMOVE,
                                     d->ewmh._NET_WM_STATE_MAXIMIZED_VERT,
                                     d->ewmh._NET_WM_STATE_MAXIMIZED_HORZ,
                                     XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
    xcb_flush(d->connection);
}

bool X11Platform::compositingActive()
{
    if (!d->connection || !d->ewmhReady)
        return false;
    xcb_window_t owner = XCB_WINDOW_NONE;
    xcb_generic_error_t *error = nullptr;
    if (!xcb_ewmh_get_wm_cm_owner_reply(&d->ewmh, xcb_ewmh_get_wm_cm_owner(&d->ewmh, d->screen),
                                        &owner, &error))
        owner = XCB_WINDOW_NONE;
    d->noteError(error);
    return owner != XCB_WINDOW_NONE;
}

bool X11Platform::setBlurBehind(WId ownWindow, bool enable, const QRect &region)
{
    if (!d->connection || !ownWindow || d->blurRegion == XCB_ATOM_NONE)
        return false;
    const xcb_window_t w = xcb_window_t(ownWindow);
    if (enable) {
        const uint32_t data[4] = {uint32_t(region.x()), uint32_t(region.y()),
                                  uint32_t(region.width()), uint32_t(region.height())};
        d->sendChecked(xcb_change_property_checked(d->connection, XCB_PROP_MODE_REPLACE, w,
                                                   d->blurRegion, XCB_ATOM_CARDINAL, 32, 4, data));
    } else {
        d->sendChecked(xcb_delete_property_checked(d->connection, w, d->blurRegion));
    }
    xcb_flush(d->connection);
    return true;
}

bool X11Platform::watchKeys(const KeyWatcher &watcher)
{
    if (!d->keys)
        d->keys = std::make_unique<X11KeyWatcher>(d->connection, d->root);
    d->installFilter();
    QString reason;
    if (d->keys->start(watcher, &reason))
        return true;
    d->lastError = reason;
    vWarning() << "Keys cannot be watched:" << reason;
    return false;
}

void X11Platform::stopWatchingKeys()
{
    if (d->keys)
        d->keys->stop();
}

bool X11Platform::grabHotKey(quint32 vk, quint32 modifiers)
{
    X11HotKeys *hotKeys = d->hotKeyGrabber();
    if (!hotKeys) {
        d->lastError = QStringLiteral("no X11 connection");
        return false;
    }
    return hotKeys->grab({{vk, modifiers}}, &d->lastError).value(0);
}

bool X11Platform::ungrabHotKey(quint32 vk, quint32 modifiers)
{
    X11HotKeys *hotKeys = d->hotKeyGrabber();
    return hotKeys && hotKeys->ungrab({vk, modifiers}, &d->lastError);
}

void X11Platform::beginHotKeyBatch(const QList<QPair<quint32, quint32>> &combinations)
{
    if (X11HotKeys *hotKeys = d->hotKeyGrabber()) {
        QList<X11HotKeys::Combination> list;
        for (const auto &[vk, modifiers] : combinations)
            list.append({vk, modifiers});
        hotKeys->beginBatch(list);
    }
}

void X11Platform::endHotKeyBatch()
{
    if (X11HotKeys *hotKeys = d->hotKeyGrabber())
        hotKeys->endBatch();
}

void X11Platform::setHotKeyHandler(const HotKeyHandler &handler)
{
    if (X11HotKeys *hotKeys = d->hotKeyGrabber())
        hotKeys->setHandler(handler);
}

bool X11Platform::waitForWindowManager(WId window, int timeoutMs)
{
    if (!d->connection || !d->ewmhReady || !window)
        return false;
    if (!d->wmSupports(d->ewmh._NET_REQUEST_FRAME_EXTENTS)) {
        // Nothing to ask: at least every request of ours has reached the server.
        Reply<xcb_get_input_focus_reply_t> roundTrip(
            xcb_get_input_focus_reply(d->connection, xcb_get_input_focus(d->connection), nullptr));
        return false;
    }
    if (d->syncWindow == XCB_WINDOW_NONE) {
        d->syncWindow = xcb_generate_id(d->connection);
        xcb_create_window(d->connection, XCB_COPY_FROM_PARENT, d->syncWindow, d->root, -1, -1, 1, 1,
                          0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    }
    // The manager handles client messages in order: once it has answered
    // this one, it has handled those sent for window before.
    xcb_delete_property(d->connection, d->syncWindow, d->ewmh._NET_FRAME_EXTENTS);
    xcb_ewmh_request_frame_extents(&d->ewmh, d->screen, d->syncWindow);
    xcb_flush(d->connection);
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        Reply<xcb_get_property_reply_t> extents(xcb_get_property_reply(
            d->connection,
            xcb_get_property(d->connection, 0, d->syncWindow, d->ewmh._NET_FRAME_EXTENTS,
                             XCB_ATOM_CARDINAL, 0, 4),
            nullptr));
        if (extents && extents->type != XCB_ATOM_NONE)
            return true;
        if (clock.elapsed() >= timeoutMs) {
            d->lastError = QStringLiteral("the window manager did not answer within %1 ms").arg(timeoutMs);
            return false;
        }
        ::usleep(2000);
    }
}

void X11Platform::setActiveWindowHandler(const std::function<void()> &handler)
{
    d->activeWindowHandler = handler;
}

void X11Platform::setFramesChangedHandler(const std::function<void(WId)> &handler)
{
    d->framesChangedHandler = handler;
}

void X11Platform::refresh()
{
    d->activeCache.reset();
    d->factsCache.clear();
}

void X11Platform::setSkipTaskbar(WId ownWindow)
{
    if (!d->connection || !d->ewmhReady || !ownWindow)
        return;
    const xcb_window_t w = xcb_window_t(ownWindow);
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        d->connection, xcb_get_window_attributes(d->connection, w), nullptr));
    if (!attributes)
        return;
    const xcb_atom_t wanted[] = {d->ewmh._NET_WM_STATE_SKIP_TASKBAR, d->ewmh._NET_WM_STATE_SKIP_PAGER};
    if (attributes->map_state == XCB_MAP_STATE_UNMAPPED) {
        // Before the map the client sets the state itself (Qt adds its own to it).
        xcb_ewmh_get_atoms_reply_t current;
        QList<xcb_atom_t> atoms;
        if (xcb_ewmh_get_wm_state_reply(&d->ewmh, xcb_ewmh_get_wm_state(&d->ewmh, w), &current,
                                        nullptr)) {
            atoms = QList<xcb_atom_t>(current.atoms, current.atoms + current.atoms_len);
            xcb_ewmh_get_atoms_reply_wipe(&current);
        }
        for (xcb_atom_t a : wanted)
            if (!atoms.contains(a))
                atoms.append(a);
        xcb_ewmh_set_wm_state(&d->ewmh, w, uint32_t(atoms.size()), atoms.data());
    } else {
        xcb_ewmh_request_change_wm_state(&d->ewmh, d->screen, w, XCB_EWMH_WM_STATE_ADD, wanted[0],
                                         wanted[1], XCB_EWMH_CLIENT_SOURCE_TYPE_NORMAL);
    }
    xcb_flush(d->connection);
}

void X11Platform::setClickThrough(WId ownWindow)
{
    if (!d->connection || !ownWindow)
        return;
    // Openbox and others put even an undecorated window in a frame of their
    // own that takes the pointer wherever the window is, whatever the
    // window's own input region says (Qt empties that one for
    // Qt::WindowTransparentForInput). Every ancestor below the root is the
    // manager's and holds nothing but our window. Our own window's region is
    // left alone: a change to it makes a manager rebuild its frame's region.
    xcb_window_t window = xcb_window_t(ownWindow);
    for (int depth = 0; depth < 8; ++depth) {
        xcb_query_tree_reply_t *tree =
            xcb_query_tree_reply(d->connection, xcb_query_tree(d->connection, window), nullptr);
        if (!tree)
            break;
        const xcb_window_t parent = tree->parent;
        const xcb_window_t root = tree->root;
        std::free(tree);
        if (parent == root || parent == XCB_WINDOW_NONE)
            break;
        window = parent;
        d->sendChecked(xcb_shape_rectangles_checked(d->connection, XCB_SHAPE_SO_SET,
                                                    XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                                                    window, 0, 0, 0, nullptr));
    }
    xcb_flush(d->connection);
}

QList<QRect> X11Platform::workAreas(const QList<QRect> &screens)
{
    X11WorkArea *watcher = d->workAreaWatcher();
    return watcher ? watcher->workAreas(screens) : QList<QRect>();
}

void X11Platform::setWorkAreaHandler(const WorkAreaHandler &handler)
{
    if (X11WorkArea *watcher = d->workAreaWatcher())
        watcher->setHandler(handler);
}

void X11Platform::stackBelow(WId window, WId sibling)
{
    // A window cannot go below itself; the server answers BadMatch.
    if (!d->connection || !window || !sibling || window == sibling)
        return;
    // A window the manager does not manage (the placement preview) is
    // restacked by us, against the sibling's frame: only children of the root
    // can be stacked against each other.
    xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
        d->connection, xcb_get_window_attributes(d->connection, xcb_window_t(window)), nullptr);
    const bool unmanaged = attributes && attributes->override_redirect;
    free(attributes);
    if (unmanaged) {
        xcb_window_t frame = xcb_window_t(sibling);
        for (int depth = 0; depth < 8; ++depth) {
            xcb_query_tree_reply_t *tree =
                xcb_query_tree_reply(d->connection, xcb_query_tree(d->connection, frame), nullptr);
            if (!tree)
                return;
            const xcb_window_t parent = tree->parent;
            const xcb_window_t root = tree->root;
            free(tree);
            if (parent == root || parent == XCB_WINDOW_NONE)
                break;
            frame = parent;
        }
        const uint32_t values[] = {uint32_t(frame), XCB_STACK_MODE_BELOW};
        d->sendChecked(xcb_configure_window_checked(
            d->connection, xcb_window_t(window),
            XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values));
        xcb_flush(d->connection);
        return;
    }
    if (d->ewmhReady && d->wmSupports(d->ewmh._NET_RESTACK_WINDOW)) {
        // Openbox takes "Below" with a sibling for "to the bottom of the
        // stack", under every other program's window. Raising the window and
        // then the sibling leaves it right below the sibling with any manager;
        // the sibling is the window in front anyway when we ask.
        raiseWindow(window);
        raiseWindow(sibling);
        return;
    }
    const uint32_t values[] = {uint32_t(sibling), XCB_STACK_MODE_BELOW};
    d->sendChecked(xcb_configure_window_checked(
        d->connection, xcb_window_t(window),
        XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values));
    xcb_flush(d->connection);
}
