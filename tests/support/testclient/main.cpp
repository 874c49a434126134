// varlo-testclient: one small X client whose flags make it the kind of window
// a test needs (client-side decorated, dock with struts, minimum size, a
// given window type, maximised, override-redirect). Prints its window id in
// decimal once mapped and runs until killed or closed by the window manager.
// With --events it then prints a line per button press ("button B X Y",
// window coordinates), key press ("key KEYCODE STATE") and focus change
// ("focus in"/"focus out").

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct Rect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

enum class Edge
{
    None,
    Top,
    Bottom,
    Left,
    Right
};

struct Options
{
    std::string title = "varlo-testclient";
    std::string windowClass = "varlo-testclient";
    Rect geometry{0, 0, 400, 300};
    bool geometryGiven = false;
    bool setPid = true;
    bool csd = false;
    uint32_t csdExtents[4] = {0, 0, 0, 0}; // left, right, top, bottom
    Edge dock = Edge::None;
    int thickness = 32;
    Rect screenRect;
    bool screenRectGiven = false;
    int minWidth = 0;
    int minHeight = 0;
    int border = 0;
    std::string type = "normal";
    bool maximized = false;
    bool reportEvents = false;
    bool overrideRedirect = false;
};

[[noreturn]] void usage(const char *message)
{
    std::fprintf(stderr,
                 "varlo-testclient: %s\n"
                 "usage: varlo-testclient [--title T] [--geometry WxH+X+Y] [--class NAME]\n"
                 "       [--pid|--no-pid] [--csd L,R,T,B] [--dock top|bottom|left|right]\n"
                 "       [--thickness N] [--screen-rect WxH+X+Y] [--min-size WxH] [--border N]\n"
                 "       [--type desktop|utility|toolbar|splash|normal] [--maximized]\n"
                 "       [--events] [--override-redirect]\n",
                 message);
    std::exit(2);
}

bool parseInt(const char *&p, int &value)
{
    if (*p < '0' || *p > '9')
        return false;
    long v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p - '0');
        if (v > 100000)
            return false;
        ++p;
    }
    value = int(v);
    return true;
}

// "+N", "-N" or "+-N", as X geometry strings write offsets.
bool parseOffset(const char *&p, int &value)
{
    if (*p != '+' && *p != '-')
        return false;
    bool negative = *p++ == '-';
    if (!negative && *p == '-') {
        negative = true;
        ++p;
    }
    if (!parseInt(p, value))
        return false;
    if (negative)
        value = -value;
    return true;
}

// WxH or WxH+X+Y.
bool parseGeometry(const char *text, Rect &rect)
{
    const char *p = text;
    Rect r = rect;
    if (!parseInt(p, r.width) || *p++ != 'x' || !parseInt(p, r.height))
        return false;
    if (*p != '\0' && (!parseOffset(p, r.x) || !parseOffset(p, r.y) || *p != '\0'))
        return false;
    if (r.width <= 0 || r.height <= 0)
        return false;
    rect = r;
    return true;
}

bool parseSize(const char *text, int &width, int &height)
{
    const char *p = text;
    return parseInt(p, width) && *p++ == 'x' && parseInt(p, height) && *p == '\0';
}

bool parseExtents(const char *text, uint32_t out[4])
{
    const char *p = text;
    for (int i = 0; i < 4; ++i) {
        int v = 0;
        if (!parseInt(p, v))
            return false;
        out[i] = uint32_t(v);
        if (i < 3 && *p++ != ',')
            return false;
    }
    return *p == '\0';
}

Options parseOptions(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                usage((arg + " needs a value").c_str());
            return argv[++i];
        };
        if (arg == "--title") {
            o.title = value();
        } else if (arg == "--class") {
            o.windowClass = value();
        } else if (arg == "--geometry") {
            if (!parseGeometry(value(), o.geometry))
                usage("bad --geometry");
            o.geometryGiven = true;
        } else if (arg == "--pid") {
            o.setPid = true;
        } else if (arg == "--no-pid") {
            o.setPid = false;
        } else if (arg == "--csd") {
            if (!parseExtents(value(), o.csdExtents))
                usage("bad --csd, expected L,R,T,B");
            o.csd = true;
        } else if (arg == "--dock") {
            const std::string edge = value();
            if (edge == "top")
                o.dock = Edge::Top;
            else if (edge == "bottom")
                o.dock = Edge::Bottom;
            else if (edge == "left")
                o.dock = Edge::Left;
            else if (edge == "right")
                o.dock = Edge::Right;
            else
                usage("bad --dock edge");
        } else if (arg == "--thickness") {
            const char *p = value();
            if (!parseInt(p, o.thickness) || *p != '\0' || o.thickness <= 0)
                usage("bad --thickness");
        } else if (arg == "--screen-rect") {
            if (!parseGeometry(value(), o.screenRect))
                usage("bad --screen-rect");
            o.screenRectGiven = true;
        } else if (arg == "--min-size") {
            if (!parseSize(value(), o.minWidth, o.minHeight))
                usage("bad --min-size");
        } else if (arg == "--border") {
            const char *p = value();
            if (!parseInt(p, o.border) || *p != '\0' || o.border < 0 || o.border > 100)
                usage("bad --border");
        } else if (arg == "--type") {
            o.type = value();
            if (o.type != "desktop" && o.type != "utility" && o.type != "toolbar" &&
                o.type != "splash" && o.type != "normal")
                usage("bad --type");
        } else if (arg == "--events") {
            o.reportEvents = true;
        } else if (arg == "--maximized") {
            o.maximized = true;
        } else if (arg == "--override-redirect") {
            o.overrideRedirect = true;
        } else {
            usage(("unknown option " + arg).c_str());
        }
    }
    return o;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

// The first monitor RandR reports; the whole root when RandR has none.
Rect firstMonitor(xcb_connection_t *c, xcb_screen_t *screen)
{
    Rect r{0, 0, screen->width_in_pixels, screen->height_in_pixels};
    xcb_randr_get_monitors_reply_t *reply =
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, screen->root, 1), nullptr);
    if (!reply)
        return r;
    xcb_randr_monitor_info_iterator_t it = xcb_randr_get_monitors_monitors_iterator(reply);
    if (it.rem > 0)
        r = Rect{it.data->x, it.data->y, it.data->width, it.data->height};
    std::free(reply);
    return r;
}

void setCardinals(xcb_connection_t *c, xcb_window_t w, xcb_atom_t property,
                  const std::vector<uint32_t> &values)
{
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, XCB_ATOM_CARDINAL, 32,
                        uint32_t(values.size()), values.data());
}

} // namespace

int main(int argc, char **argv)
{
    Options o = parseOptions(argc, argv);

    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "varlo-testclient: cannot open the X display\n");
        return 1;
    }
    xcb_screen_iterator_t sit = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && sit.rem; ++i)
        xcb_screen_next(&sit);
    xcb_screen_t *screen = sit.data;

    xcb_ewmh_connection_t ewmh;
    if (!xcb_ewmh_init_atoms_replies(&ewmh, xcb_ewmh_init_atoms(c, &ewmh), nullptr)) {
        std::fprintf(stderr, "varlo-testclient: cannot intern the EWMH atoms\n");
        return 1;
    }

    Rect g = o.geometry;
    std::vector<uint32_t> strut(12, 0);
    if (o.dock != Edge::None) {
        const Rect s = o.screenRectGiven ? o.screenRect : firstMonitor(c, screen);
        const int rootW = screen->width_in_pixels;
        const int rootH = screen->height_in_pixels;
        const int t = o.thickness;
        // Struts count from the root window's edges, not the monitor's, so a
        // dock on an inner edge of a multi-monitor layout reserves the gap too.
        switch (o.dock) {
        case Edge::Top:
            g = Rect{s.x, s.y, s.width, t};
            strut[2] = uint32_t(s.y + t);
            strut[8] = uint32_t(s.x);
            strut[9] = uint32_t(s.x + s.width - 1);
            break;
        case Edge::Bottom:
            g = Rect{s.x, s.y + s.height - t, s.width, t};
            strut[3] = uint32_t(rootH - (s.y + s.height) + t);
            strut[10] = uint32_t(s.x);
            strut[11] = uint32_t(s.x + s.width - 1);
            break;
        case Edge::Left:
            g = Rect{s.x, s.y, t, s.height};
            strut[0] = uint32_t(s.x + t);
            strut[4] = uint32_t(s.y);
            strut[5] = uint32_t(s.y + s.height - 1);
            break;
        case Edge::Right:
            g = Rect{s.x + s.width - t, s.y, t, s.height};
            strut[1] = uint32_t(rootW - (s.x + s.width) + t);
            strut[6] = uint32_t(s.y);
            strut[7] = uint32_t(s.y + s.height - 1);
            break;
        case Edge::None:
            break;
        }
    }

    const xcb_window_t w = xcb_generate_id(c);
    uint32_t eventMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (o.reportEvents)
        eventMask |=
            XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_FOCUS_CHANGE;
    // In the order of the XCB_CW_* bits.
    const uint32_t values[] = {screen->white_pixel, o.overrideRedirect ? 1u : 0u, eventMask};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, int16_t(g.x), int16_t(g.y),
                      uint16_t(g.width), uint16_t(g.height), uint16_t(o.border),
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);

    xcb_icccm_set_wm_name(c, w, XCB_ATOM_STRING, 8, uint32_t(o.title.size()), o.title.data());
    xcb_ewmh_set_wm_name(&ewmh, w, uint32_t(o.title.size()), o.title.data());

    // WM_CLASS is "instance\0class\0".
    std::string wmClass = o.windowClass;
    wmClass.push_back('\0');
    wmClass += o.windowClass;
    wmClass.push_back('\0');
    xcb_icccm_set_wm_class(c, w, uint32_t(wmClass.size()), wmClass.data());

    if (o.setPid) {
        xcb_ewmh_set_wm_pid(&ewmh, w, uint32_t(getpid()));
        // _NET_WM_PID only means something together with the host it is on.
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) == 0)
            xcb_icccm_set_wm_client_machine(c, w, XCB_ATOM_STRING, 8, uint32_t(std::strlen(host)),
                                            host);
    }

    xcb_atom_t deleteWindow = atom(c, "WM_DELETE_WINDOW");
    xcb_icccm_set_wm_protocols(c, w, ewmh.WM_PROTOCOLS, 1, &deleteWindow);

    xcb_size_hints_t hints;
    std::memset(&hints, 0, sizeof hints);
    // User-specified position and size: the window manager keeps them instead
    // of placing the window where it likes, so tests know where it starts.
    if (o.geometryGiven || o.dock != Edge::None) {
        xcb_icccm_size_hints_set_position(&hints, 1, g.x, g.y);
        xcb_icccm_size_hints_set_size(&hints, 1, g.width, g.height);
    }
    if (o.minWidth > 0 || o.minHeight > 0)
        xcb_icccm_size_hints_set_min_size(&hints, o.minWidth, o.minHeight);
    xcb_icccm_set_wm_normal_hints(c, w, &hints);

    xcb_atom_t type = ewmh._NET_WM_WINDOW_TYPE_NORMAL;
    if (o.dock != Edge::None)
        type = ewmh._NET_WM_WINDOW_TYPE_DOCK;
    else if (o.type == "desktop")
        type = ewmh._NET_WM_WINDOW_TYPE_DESKTOP;
    else if (o.type == "utility")
        type = ewmh._NET_WM_WINDOW_TYPE_UTILITY;
    else if (o.type == "toolbar")
        type = ewmh._NET_WM_WINDOW_TYPE_TOOLBAR;
    else if (o.type == "splash")
        type = ewmh._NET_WM_WINDOW_TYPE_SPLASH;
    xcb_ewmh_set_wm_window_type(&ewmh, w, 1, &type);

    if (o.dock != Edge::None) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, ewmh._NET_WM_STRUT_PARTIAL,
                            XCB_ATOM_CARDINAL, 32, 12, strut.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, ewmh._NET_WM_STRUT, XCB_ATOM_CARDINAL, 32,
                            4, strut.data());
    }

    if (o.csd) {
        setCardinals(c, w, atom(c, "_GTK_FRAME_EXTENTS"),
                     {o.csdExtents[0], o.csdExtents[1], o.csdExtents[2], o.csdExtents[3]});
        // flags = MWM_HINTS_DECORATIONS, decorations = 0: the client draws its own.
        const uint32_t motif[5] = {2, 0, 0, 0, 0};
        const xcb_atom_t motifAtom = atom(c, "_MOTIF_WM_HINTS");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, motifAtom, motifAtom, 32, 5, motif);
    }

    if (o.maximized) {
        xcb_atom_t state[2] = {ewmh._NET_WM_STATE_MAXIMIZED_VERT,
                               ewmh._NET_WM_STATE_MAXIMIZED_HORZ};
        xcb_ewmh_set_wm_state(&ewmh, w, 2, state);
    }

    xcb_map_window(c, w);
    xcb_flush(c);

    bool announced = false;
    while (xcb_generic_event_t *event = xcb_wait_for_event(c)) {
        const uint8_t kind = event->response_type & 0x7f;
        if (kind == XCB_MAP_NOTIFY && !announced) {
            std::printf("%u\n", unsigned(w));
            std::fflush(stdout);
            announced = true;
        } else if (kind == XCB_CLIENT_MESSAGE) {
            auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
            if (message->type == ewmh.WM_PROTOCOLS && message->format == 32 &&
                message->data.data32[0] == deleteWindow) {
                std::free(event);
                break;
            }
        } else if (kind == XCB_BUTTON_PRESS) {
            // One line per event, so a test can wait for what reached the client.
            auto *press = reinterpret_cast<xcb_button_press_event_t *>(event);
            std::printf("button %u %d %d\n", unsigned(press->detail), int(press->event_x),
                        int(press->event_y));
            std::fflush(stdout);
        } else if (kind == XCB_KEY_PRESS) {
            auto *press = reinterpret_cast<xcb_key_press_event_t *>(event);
            std::printf("key %u %u\n", unsigned(press->detail), unsigned(press->state));
            std::fflush(stdout);
        } else if (kind == XCB_FOCUS_IN || kind == XCB_FOCUS_OUT) {
            auto *focus = reinterpret_cast<xcb_focus_in_event_t *>(event);
            // Grab and ungrab notifications are noise for a test.
            if (focus->mode == XCB_NOTIFY_MODE_NORMAL) {
                std::printf(kind == XCB_FOCUS_IN ? "focus in\n" : "focus out\n");
                std::fflush(stdout);
            }
        } else if (kind == XCB_DESTROY_NOTIFY) {
            std::free(event);
            break;
        }
        std::free(event);
    }

    const bool lost = xcb_connection_has_error(c) != 0;
    xcb_ewmh_connection_wipe(&ewmh);
    xcb_disconnect(c);
    return lost ? 1 : 0;
}
