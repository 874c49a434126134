#include "x11workarea.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>

namespace {

struct Free
{
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, Free>;

// A CARDINAL past any screen is nonsense; clamped so that sums stay in range.
int cardinal(quint32 value)
{
    return int(qMin<quint32>(value, 1u << 20));
}

QList<quint32> values32(const xcb_get_property_reply_t *reply)
{
    if (!reply || reply->format != 32)
        return {};
    const auto *v = static_cast<const quint32 *>(xcb_get_property_value(reply));
    return QList<quint32>(v, v + xcb_get_property_value_length(reply) / 4);
}

enum Edge
{
    Left,
    Right,
    Top,
    Bottom
};

int width(const X11WorkArea::Strut &s, int edge)
{
    const int widths[4] = {s.left, s.right, s.top, s.bottom};
    return widths[edge];
}

// What a strut keeps along one edge: struts count from the root's edges,
// not from the screens'.
QRect band(const X11WorkArea::Strut &s, int edge, const QSize &root)
{
    switch (edge) {
    case Left:
        return QRect(QPoint(0, s.leftStart), QPoint(s.left - 1, s.leftEnd));
    case Right:
        return QRect(QPoint(root.width() - s.right, s.rightStart),
                     QPoint(root.width() - 1, s.rightEnd));
    case Top:
        return QRect(QPoint(s.topStart, 0), QPoint(s.topEnd, s.top - 1));
    default:
        return QRect(QPoint(s.bottomStart, root.height() - s.bottom),
                     QPoint(s.bottomEnd, root.height() - 1));
    }
}

// A band right across a screen belongs to a neighbour: a dock on an inner
// edge of the layout cannot say it any other way.
bool across(const QRect &cut, int edge, const QRect &screen)
{
    return edge == Left || edge == Right ? cut.width() == screen.width()
                                         : cut.height() == screen.height();
}

QRect withoutStruts(const QRect &screen, const QList<X11WorkArea::Strut> &struts, const QSize &root)
{
    QRect area = screen;
    for (const X11WorkArea::Strut &s : struts) {
        for (int edge = Left; edge <= Bottom; ++edge) {
            const QRect cut = band(s, edge, root) & screen;
            if (cut.isEmpty() || across(cut, edge, screen))
                continue;
            switch (edge) {
            case Left:
                area.setLeft(qMax(area.left(), cut.right() + 1));
                break;
            case Right:
                area.setRight(qMin(area.right(), cut.left() - 1));
                break;
            case Top:
                area.setTop(qMax(area.top(), cut.bottom() + 1));
                break;
            default:
                area.setBottom(qMin(area.bottom(), cut.top() - 1));
                break;
            }
        }
    }
    // Docks on opposite edges that meet leave nothing to go by.
    return area.isEmpty() ? screen : area;
}

// Whether the window manager's _NET_WORKAREA, reserving that much on an edge,
// may be counting the strut: the manager keeps what the strut asks, or less
// of a band right across a screen (Openbox keeps half the root at most).
bool counts(int reserved, const X11WorkArea::Strut &s, int edge, const QList<QRect> &screens,
            const QSize &root)
{
    if (reserved == width(s, edge))
        return true;
    if (reserved > width(s, edge))
        return false;
    const QRect b = band(s, edge, root);
    return std::any_of(screens.begin(), screens.end(), [&](const QRect &screen) {
        const QRect cut = b & screen;
        return !cut.isEmpty() && across(cut, edge, screen);
    });
}

// Room the window manager keeps that no strut it may count explains is a
// bar of its own (Fluxbox's toolbar sets no strut), taken along the whole
// edge. Fluxbox counts no dock in _NET_WORKAREA at all.
std::optional<X11WorkArea::Strut> ownBar(const QList<QRect> &screens,
                                         const X11WorkArea::Desktop &desktop)
{
    const QRect root(QPoint(0, 0), desktop.root);
    const std::optional<QRect> &w = desktop.workArea;
    if (!w || w->isEmpty())
        return std::nullopt;
    const int reserved[4] = {w->left(), root.right() - w->right(), w->top(),
                             root.bottom() - w->bottom()};
    X11WorkArea::Strut bar;
    int *const barWidth[4] = {&bar.left, &bar.right, &bar.top, &bar.bottom};
    const QList<X11WorkArea::Strut> struts = desktop.struts + desktop.otherStruts;
    for (int edge = Left; edge <= Bottom; ++edge) {
        if (reserved[edge] <= 0)
            continue;
        if (std::none_of(struts.begin(), struts.end(), [&](const X11WorkArea::Strut &s) {
                return counts(reserved[edge], s, edge, screens, desktop.root);
            }))
            *barWidth[edge] = reserved[edge];
    }
    if (!bar.left && !bar.right && !bar.top && !bar.bottom)
        return std::nullopt;
    bar.leftEnd = bar.rightEnd = root.bottom();
    bar.topEnd = bar.bottomEnd = root.right();
    return bar;
}

} // namespace

bool X11WorkArea::Strut::operator==(const Strut &o) const
{
    const auto tie = [](const Strut &s) {
        return std::tie(s.left, s.right, s.top, s.bottom, s.leftStart, s.leftEnd, s.rightStart,
                        s.rightEnd, s.topStart, s.topEnd, s.bottomStart, s.bottomEnd);
    };
    return tie(*this) == tie(o);
}

std::optional<X11WorkArea::Strut> X11WorkArea::strutFromCardinals(const QList<quint32> &v,
                                                                  const QSize &root)
{
    if (v.size() != 12 && v.size() != 4)
        return std::nullopt;
    Strut s;
    s.left = cardinal(v[0]);
    s.right = cardinal(v[1]);
    s.top = cardinal(v[2]);
    s.bottom = cardinal(v[3]);
    if (v.size() == 12) {
        int *const ranges[8] = {&s.leftStart, &s.leftEnd, &s.rightStart,  &s.rightEnd,
                                &s.topStart,  &s.topEnd,  &s.bottomStart, &s.bottomEnd};
        for (int i = 0; i < 8; ++i)
            *ranges[i] = cardinal(v[4 + i]);
    } else {
        s.leftEnd = s.rightEnd = root.height() - 1;
        s.topEnd = s.bottomEnd = root.width() - 1;
    }
    return s;
}

QList<QRect> X11WorkArea::areas(const QList<QRect> &screens, const Desktop &desktop)
{
    QList<Strut> struts = desktop.struts;
    if (const std::optional<Strut> bar = ownBar(screens, desktop))
        struts.append(*bar);
    QList<QRect> perMonitor = desktop.perMonitor;
    QList<QRect> result;
    for (const QRect &screen : screens) {
        // The manager's own area of a monitor, known by the screen it lies in.
        const auto own = std::find_if(perMonitor.begin(), perMonitor.end(), [&](const QRect &r) {
            return !r.isEmpty() && screen.contains(r);
        });
        if (own != perMonitor.end()) {
            result.append(*own);
            perMonitor.erase(own);
        } else {
            result.append(withoutStruts(screen, struts, desktop.root));
        }
    }
    return result;
}

struct X11WorkArea::Private
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    quint32 idBase = 0;
    quint32 idMask = 0;

    xcb_atom_t netWorkArea = XCB_ATOM_NONE;
    xcb_atom_t currentDesktop = XCB_ATOM_NONE;
    xcb_atom_t clientList = XCB_ATOM_NONE;
    xcb_atom_t supported = XCB_ATOM_NONE;
    xcb_atom_t supportingWmCheck = XCB_ATOM_NONE;
    xcb_atom_t strut = XCB_ATOM_NONE;
    xcb_atom_t strutPartial = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;
    xcb_atom_t gtkWorkAreas = XCB_ATOM_NONE;
    // _GTK_WORKAREAS_D<n> of the desktop last read.
    quint32 gtkDesktop = 0;
    xcb_atom_t gtkWorkAreasOfDesktop = XCB_ATOM_NONE;

    bool dirty = true;
    QList<QRect> screens;
    QList<QRect> areas;
    std::optional<QRect> workAreaSeen;
    QList<Strut> strutsSeen;         // since _NET_WORKAREA last changed
    QHash<xcb_window_t, Strut> clientStruts; // of the managed ones, as last read
    // Windows whose map state moves the areas: those with a strut, mapped
    // or not, and the frames that hold one.
    QSet<xcb_window_t> followed;

    Platform::WorkAreaHandler handler;
    bool notifyPending = false;
    QObject context; // drops a pending notification with us

    bool isOwn(xcb_window_t window) const { return idMask && (window & ~idMask) == idBase; }

    xcb_atom_t intern(const QByteArray &name)
    {
        Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()),
            nullptr));
        return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    Reply<xcb_get_property_reply_t> property(xcb_get_property_cookie_t cookie)
    {
        xcb_generic_error_t *error = nullptr;
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, &error));
        std::free(error);
        return reply;
    }

    // Selected again on every read: a window may be gone before the request
    // arrives, and its id may come back with another client's window.
    void watch(xcb_window_t window)
    {
        // Never ours: the mask on our own windows is Qt's.
        if (isOwn(window))
            return;
        // The same mask as the backend's facts cache: one client has one
        // mask per window, and the last one set wins.
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        const xcb_void_cookie_t cookie =
            xcb_change_window_attributes_checked(connection, window, XCB_CW_EVENT_MASK, &mask);
        xcb_discard_reply(connection, cookie.sequence);
    }

    void changed()
    {
        dirty = true;
        if (!handler || notifyPending)
            return;
        notifyPending = true;
        // Once Qt is through with the events at hand: a dock that comes
        // brings a map, a client list and a work area in one burst.
        QTimer::singleShot(0, &context, [this] {
            notifyPending = false;
            const Platform::WorkAreaHandler h = handler; // it may replace itself
            if (h)
                h();
        });
    }

    struct Inspected
    {
        xcb_window_t window = 0;
        bool exists = false;
        bool viewable = false;
        bool overrideRedirect = false;
        bool client = false; // has WM_STATE
        std::optional<Strut> strut;
    };

    // Map state and struts of many windows in one round trip.
    QList<Inspected> inspect(const QList<xcb_window_t> &windows, const QSize &rootSize)
    {
        struct Cookies
        {
            xcb_get_window_attributes_cookie_t attributes;
            xcb_get_property_cookie_t partial, plain, state;
        };
        std::vector<Cookies> cookies;
        cookies.reserve(size_t(windows.size()));
        for (xcb_window_t w : windows)
            cookies.push_back(
                {xcb_get_window_attributes(connection, w),
                 xcb_get_property(connection, 0, w, strutPartial, XCB_ATOM_CARDINAL, 0, 12),
                 xcb_get_property(connection, 0, w, strut, XCB_ATOM_CARDINAL, 0, 4),
                 xcb_get_property(connection, 0, w, wmState, wmState, 0, 1)});
        QList<Inspected> result;
        result.reserve(windows.size());
        for (int i = 0; i < windows.size(); ++i) {
            Inspected found;
            found.window = windows.at(i);
            xcb_generic_error_t *error = nullptr;
            Reply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(connection, cookies[size_t(i)].attributes, &error));
            std::free(error);
            found.exists = bool(attributes);
            found.viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            found.overrideRedirect = attributes && attributes->override_redirect;
            found.strut =
                strutFromCardinals(values32(property(cookies[size_t(i)].partial).get()), rootSize);
            const Reply<xcb_get_property_reply_t> plain = property(cookies[size_t(i)].plain);
            if (!found.strut)
                found.strut = strutFromCardinals(values32(plain.get()), rootSize);
            const Reply<xcb_get_property_reply_t> state = property(cookies[size_t(i)].state);
            found.client = state && state->type != XCB_ATOM_NONE;
            result.append(found);
        }
        return result;
    }

    // The struts of the windows inside frames (the root's children), but for the known ones.
    QList<Strut> strutsInFrames(const QList<xcb_window_t> &frames, const QList<xcb_window_t> &known,
                                const QSize &rootSize)
    {
        std::vector<xcb_query_tree_cookie_t> trees;
        for (xcb_window_t frame : frames)
            trees.push_back(xcb_query_tree(connection, frame));
        QList<xcb_window_t> inner;
        for (const xcb_query_tree_cookie_t &cookie : trees) {
            xcb_generic_error_t *error = nullptr;
            Reply<xcb_query_tree_reply_t> t(xcb_query_tree_reply(connection, cookie, &error));
            std::free(error);
            if (!t)
                continue;
            const xcb_window_t *w = xcb_query_tree_children(t.get());
            for (int k = 0; k < xcb_query_tree_children_length(t.get()); ++k) {
                if (!known.contains(w[k]))
                    inner.append(w[k]);
            }
        }
        QList<Strut> result;
        for (const Inspected &f : inspect(inner, rootSize)) {
            if (f.strut)
                result.append(*f.strut);
        }
        return result;
    }

    // The current desktop as the server has it now; nullopt when the root
    // cannot be read. windowManager is false when none runs.
    std::optional<Desktop> read(const QList<QRect> &screens, bool *windowManager);
};

std::optional<X11WorkArea::Desktop> X11WorkArea::Private::read(const QList<QRect> &screens,
                                                               bool *windowManager)
{
    xcb_connection_t *c = connection;
    const auto geometryCookie = xcb_get_geometry(c, root);
    const auto checkCookie = xcb_get_property(c, 0, root, supportingWmCheck, XCB_ATOM_WINDOW, 0, 1);
    const auto supportedCookie = xcb_get_property(c, 0, root, supported, XCB_ATOM_ATOM, 0, 4096);
    const auto desktopCookie =
        xcb_get_property(c, 0, root, currentDesktop, XCB_ATOM_CARDINAL, 0, 1);
    const auto workAreaCookie =
        xcb_get_property(c, 0, root, netWorkArea, XCB_ATOM_CARDINAL, 0, 4096);
    const auto clientsCookie = xcb_get_property(c, 0, root, clientList, XCB_ATOM_WINDOW, 0, 65536);
    const auto treeCookie = xcb_query_tree(c, root);

    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    const QList<quint32> check = values32(property(checkCookie).get());
    const QList<quint32> supportedAtoms = values32(property(supportedCookie).get());
    const quint32 desktopNumber = values32(property(desktopCookie).get()).value(0, 0);
    const QList<quint32> workAreas = values32(property(workAreaCookie).get());
    const QList<quint32> clients = values32(property(clientsCookie).get());
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, treeCookie, nullptr));
    if (!geometry || !tree)
        return std::nullopt;

    Desktop desktop;
    desktop.root = QSize(geometry->width, geometry->height);
    // The check window of a manager that has gone stays named on the root.
    const xcb_window_t wm = check.value(0);
    xcb_get_property_cookie_t wmCookie{};
    if (wm)
        wmCookie = xcb_get_property(c, 0, wm, supportingWmCheck, XCB_ATOM_WINDOW, 0, 1);
    // A manager that stopped publishing them leaves them behind: only the
    // one that lists them in _NET_SUPPORTED keeps them up to date.
    const bool gtk = supportedAtoms.contains(gtkWorkAreas);
    if (gtk && (gtkWorkAreasOfDesktop == XCB_ATOM_NONE || gtkDesktop != desktopNumber)) {
        gtkDesktop = desktopNumber;
        gtkWorkAreasOfDesktop = intern("_GTK_WORKAREAS_D" + QByteArray::number(desktopNumber));
    }
    xcb_get_property_cookie_t gtkCookie{};
    if (gtk)
        gtkCookie = xcb_get_property(c, 0, root, gtkWorkAreasOfDesktop, XCB_ATOM_CARDINAL, 0, 4096);

    // Struts sit on managed clients, and on windows nobody manages: docks
    // that are override-redirect, and the window manager's own bars. One of
    // those that comes later is found with the next change of the desktop
    // (the root's SubstructureNotify is no option, see the constructor).
    QList<xcb_window_t> candidates;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int childCount = xcb_query_tree_children_length(tree.get());
    for (int i = 0; i < childCount; ++i)
        candidates.append(children[i]);
    const int rootChildren = int(candidates.size());
    for (quint32 client : clients) {
        if (!candidates.contains(client))
            candidates.append(client);
    }
    // Watched before they are read, so that no change falls in between.
    for (xcb_window_t w : std::as_const(candidates))
        watch(w);
    QList<Inspected> found = inspect(candidates, desktop.root);

    *windowManager = wm && values32(property(wmCookie).get()).value(0) == wm;
    if (gtk) {
        const QList<quint32> v = values32(property(gtkCookie).get());
        for (int i = 0; i + 3 < v.size(); i += 4)
            desktop.perMonitor.append(
                QRect(int32_t(v[i]), int32_t(v[i + 1]), cardinal(v[i + 2]), cardinal(v[i + 3])));
    }
    const int at = int(desktopNumber) * 4;
    if (desktopNumber < 1024 && at + 3 < workAreas.size())
        desktop.workArea = QRect(int32_t(workAreas[at]), int32_t(workAreas[at + 1]),
                                 cardinal(workAreas[at + 2]), cardinal(workAreas[at + 3]));

    // A manager's bar is not always a child of the root: IceWM's taskbar
    // has its strut two levels down, in a frame of IceWM's own that is
    // override-redirect. Such frames are searched as far as the client
    // window inside (the one with WM_STATE).
    QList<QPair<xcb_window_t, xcb_window_t>> level; // window, the root child it lies in
    QSet<xcb_window_t> holders;
    for (int i = 0; i < rootChildren; ++i) {
        const Inspected &f = found.at(i);
        if (f.viewable && f.overrideRedirect && !f.client && !f.strut)
            level.append({f.window, f.window});
    }
    for (int depth = 0; depth < 2 && !level.isEmpty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> trees;
        for (const auto &node : std::as_const(level))
            trees.push_back(xcb_query_tree(c, node.first));
        QList<xcb_window_t> inner;
        QList<xcb_window_t> origins;
        for (int i = 0; i < level.size(); ++i) {
            xcb_generic_error_t *error = nullptr;
            Reply<xcb_query_tree_reply_t> t(xcb_query_tree_reply(c, trees[size_t(i)], &error));
            std::free(error);
            if (!t)
                continue;
            const xcb_window_t *w = xcb_query_tree_children(t.get());
            for (int k = 0; k < xcb_query_tree_children_length(t.get()); ++k) {
                inner.append(w[k]);
                origins.append(level.at(i).second);
            }
        }
        const QList<Inspected> deeper = inspect(inner, desktop.root);
        QSet<xcb_window_t> settled;
        for (int i = 0; i < deeper.size(); ++i) {
            if (deeper.at(i).client || deeper.at(i).strut) {
                settled.insert(origins.at(i));
                watch(deeper.at(i).window);
            }
            if (deeper.at(i).strut) {
                found.append(deeper.at(i));
                holders.insert(origins.at(i));
            }
        }
        level.clear();
        for (int i = 0; i < deeper.size(); ++i) {
            if (deeper.at(i).viewable && !settled.contains(origins.at(i)))
                level.append({deeper.at(i).window, origins.at(i)});
        }
    }

    followed = holders;
    for (const Inspected &f : std::as_const(found)) {
        if (!f.strut)
            continue;
        followed.insert(f.window);
        (f.viewable ? desktop.struts : desktop.otherStruts).append(*f.strut);
    }
    // A dock the manager still lists counts in its _NET_WORKAREA, even once
    // its window is gone.
    QHash<xcb_window_t, Strut> listed;
    for (const Inspected &f : std::as_const(found)) {
        if (!clients.contains(f.window))
            continue;
        if (f.strut) {
            listed.insert(f.window, *f.strut);
        } else if (!f.exists && clientStruts.contains(f.window)) {
            listed.insert(f.window, clientStruts.value(f.window));
            desktop.otherStruts.append(clientStruts.value(f.window));
        }
    }
    clientStruts = listed;
    // The window manager follows a strut that changes or goes with a new
    // _NET_WORKAREA a moment later; until then the old one may still count it.
    if (desktop.workArea != workAreaSeen) {
        workAreaSeen = desktop.workArea;
        strutsSeen.clear();
    }
    for (const Strut &s : desktop.struts + desktop.otherStruts) {
        if (!strutsSeen.contains(s))
            strutsSeen.append(s);
    }
    desktop.otherStruts = strutsSeen;
    // Openbox publishes the work area with a new dock before it lists the
    // dock: before room that nothing explains is taken for a bar of the
    // manager's own, the frames are searched for such a dock.
    if (*windowManager && ownBar(screens, desktop)) {
        QList<xcb_window_t> frames;
        for (int i = 0; i < rootChildren; ++i) {
            if (!isOwn(candidates.at(i)))
                frames.append(candidates.at(i));
        }
        desktop.otherStruts += strutsInFrames(frames, candidates, desktop.root);
    }
    return desktop;
}

X11WorkArea::X11WorkArea(xcb_connection_t *connection, quint32 root, quint32 ownIdBase,
                         quint32 ownIdMask)
    : d(std::make_unique<Private>())
{
    d->connection = connection;
    d->root = root;
    d->idBase = ownIdBase;
    d->idMask = ownIdMask;
    if (!connection)
        return;
    const struct
    {
        const char *name;
        xcb_atom_t *atom;
    } atoms[] = {
        {"_NET_WORKAREA", &d->netWorkArea},
        {"_NET_CURRENT_DESKTOP", &d->currentDesktop},
        {"_NET_CLIENT_LIST", &d->clientList},
        {"_NET_SUPPORTED", &d->supported},
        {"_NET_SUPPORTING_WM_CHECK", &d->supportingWmCheck},
        {"_NET_WM_STRUT", &d->strut},
        {"_NET_WM_STRUT_PARTIAL", &d->strutPartial},
        {"WM_STATE", &d->wmState},
        {"_GTK_WORKAREAS", &d->gtkWorkAreas},
    };
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const auto &a : atoms)
        cookies.push_back(xcb_intern_atom(connection, 0, uint16_t(std::strlen(a.name)), a.name));
    for (size_t i = 0; i < cookies.size(); ++i) {
        Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(connection, cookies[i], nullptr));
        *atoms[i].atom = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    // Added to the mask Qt has on the root; setting ours alone would replace
    // it. Not SubstructureNotify: Qt drops a ConfigureNotify when another one
    // reported to the same window follows, and with RandR 1.5 the root's own
    // is how it learns that the screens changed. The children's would hide it.
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, root), nullptr));
    const uint32_t mask = (attributes ? attributes->your_event_mask : 0) |
                          XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
}

X11WorkArea::~X11WorkArea() = default;

QList<QRect> X11WorkArea::workAreas(const QList<QRect> &screens)
{
    if (!d->connection || screens.isEmpty())
        return {};
    if (!d->dirty && screens == d->screens)
        return d->areas;
    // Changes from here on are read next time.
    d->dirty = false;
    bool windowManager = false;
    const std::optional<Desktop> desktop = d->read(screens, &windowManager);
    if (!desktop) {
        d->dirty = true;
        return {};
    }
    d->screens = screens;
    // Without a window manager nothing keeps windows off the docks.
    d->areas = windowManager ? areas(screens, *desktop) : screens;
    return d->areas;
}

void X11WorkArea::setHandler(const Platform::WorkAreaHandler &handler)
{
    d->handler = handler;
}

void X11WorkArea::handleEvent(const void *message)
{
    if (!d->connection || !message)
        return;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & ~0x80) {
    case XCB_PROPERTY_NOTIFY: {
        const auto *e = static_cast<const xcb_property_notify_event_t *>(message);
        const xcb_atom_t a = e->atom;
        if (e->window == d->root
                ? (a == d->netWorkArea || a == d->clientList || a == d->currentDesktop ||
                   a == d->supported || a == d->supportingWmCheck ||
                   (a == d->gtkWorkAreasOfDesktop && a != XCB_ATOM_NONE))
                : (a == d->strut || a == d->strutPartial))
            d->changed();
        break;
    }
    case XCB_MAP_NOTIFY:
        if (d->followed.contains(static_cast<const xcb_map_notify_event_t *>(message)->window))
            d->changed();
        break;
    case XCB_UNMAP_NOTIFY:
        if (d->followed.contains(static_cast<const xcb_unmap_notify_event_t *>(message)->window))
            d->changed();
        break;
    case XCB_DESTROY_NOTIFY:
        if (d->followed.remove(static_cast<const xcb_destroy_notify_event_t *>(message)->window))
            d->changed();
        break;
    case XCB_CONFIGURE_NOTIFY:
        // The root's size: bottom and right struts count from its edges.
        if (static_cast<const xcb_configure_notify_event_t *>(message)->window == d->root)
            d->changed();
        break;
    default:
        break;
    }
}
