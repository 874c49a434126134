#include "scratchwindows.h"

#include <QDeadlineTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <vector>

namespace {

QString g_lastError;

bool fail(const QString &message)
{
    g_lastError = message;
    return false;
}

xcb_atom_t intern(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

xcb_window_t rootOf(xcb_connection_t *c, int screenNumber)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    return it.data->root;
}

void roundTrip(xcb_connection_t *c)
{
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// A titled, normal top-level window at rect, not yet mapped.
xcb_window_t createTitled(xcb_connection_t *c, xcb_window_t root, const QRect &rect,
                          const QByteArray &title, uint32_t eventMask)
{
    const xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, int16_t(rect.x()), int16_t(rect.y()),
                      uint16_t(rect.width()), uint16_t(rect.height()), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &eventMask);
    xcb_icccm_set_wm_name(c, w, XCB_ATOM_STRING, 8, uint32_t(title.size()), title.constData());
    xcb_size_hints_t hints;
    std::memset(&hints, 0, sizeof hints);
    xcb_icccm_size_hints_set_position(&hints, 1, rect.x(), rect.y());
    xcb_icccm_size_hints_set_size(&hints, 1, rect.width(), rect.height());
    xcb_icccm_set_wm_normal_hints(c, w, &hints);
    return w;
}

// Whether window carries property (of any type); false when it is gone.
bool hasProperty(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1), nullptr);
    const bool present = reply && reply->type != XCB_ATOM_NONE;
    std::free(reply);
    return present;
}

// Blocks until an event arrives or the deadline passes; events are dropped.
void waitForEvents(xcb_connection_t *c, const QDeadlineTimer &deadline)
{
    if (xcb_generic_event_t *e = xcb_poll_for_event(c)) {
        std::free(e);
    } else {
        pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&p, 1, int(qBound(qint64(0), deadline.remainingTime(), qint64(1000))));
    }
    while (xcb_generic_event_t *e = xcb_poll_for_event(c))
        std::free(e);
}

} // namespace

ScratchClient::ScratchClient()
{
    int screenNumber = 0;
    m_connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        fail(QStringLiteral("cannot connect to X display %1").arg(qEnvironmentVariable("DISPLAY")));
        return;
    }
    m_root = rootOf(m_connection, screenNumber);
    m_activeAtom = intern(m_connection, "_NET_ACTIVE_WINDOW");
    m_extentsAtom = intern(m_connection, "_NET_FRAME_EXTENTS");
    // The root's property changes wake the waits for the active window.
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_connection);
}

ScratchClient::~ScratchClient()
{
    disconnect();
}

bool ScratchClient::ok() const
{
    return m_connection && !xcb_connection_has_error(m_connection);
}

QString ScratchClient::lastError()
{
    return g_lastError;
}

bool ScratchClient::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (deadline.hasExpired() || !ok())
            return false;
        waitForEvents(m_connection, deadline);
    }
}

quint32 ScratchClient::windowProperty(quint32 window, quint32 property)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, property, XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    quint32 value = 0;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        value = *static_cast<const quint32 *>(xcb_get_property_value(reply));
    std::free(reply);
    return value;
}

quint32 ScratchClient::mapActive(const QString &title, const QRect &rect, int timeoutMs)
{
    if (!ok()) {
        fail(QStringLiteral("no connection to the X server"));
        return 0;
    }
    const QDeadlineTimer deadline(timeoutMs);
    const xcb_window_t w =
        createTitled(m_connection, m_root, rect, title.toUtf8(),
                     XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    xcb_map_window(m_connection, w);
    xcb_flush(m_connection);
    const auto remaining = [&] { return int(qMax<qint64>(deadline.remainingTime(), 0)); };
    if (!waitFor([&] { return hasProperty(m_connection, w, m_extentsAtom); }, remaining())) {
        fail(QStringLiteral("window \"%1\" got no frame within %2 ms").arg(title).arg(timeoutMs));
        return 0;
    }
    if (windowProperty(m_root, m_activeAtom) != w) {
        // A window manager may keep the focus where it is; a pager's request it grants.
        xcb_client_message_event_t event = {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = w;
        event.type = m_activeAtom;
        event.data.data32[0] = 2;
        xcb_send_event(m_connection, 0, m_root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&event));
        xcb_flush(m_connection);
    }
    if (!waitFor([&] { return windowProperty(m_root, m_activeAtom) == w; }, remaining())) {
        fail(QStringLiteral("window \"%1\" did not become active within %2 ms")
                 .arg(title)
                 .arg(timeoutMs));
        return 0;
    }
    return w;
}

void ScratchClient::unmap(quint32 window)
{
    if (!ok())
        return;
    xcb_unmap_window(m_connection, window);
    xcb_flush(m_connection);
}

void ScratchClient::destroy(quint32 window)
{
    if (!ok())
        return;
    xcb_destroy_window(m_connection, window);
    xcb_flush(m_connection);
}

void ScratchClient::roundTrips(int count)
{
    for (int i = 0; i < count && ok(); ++i)
        roundTrip(m_connection);
}

bool ScratchClient::kill(quint32 window)
{
    xcb_connection_t *other = xcb_connect(nullptr, nullptr);
    bool killed = false;
    if (xcb_connection_has_error(other)) {
        fail(QStringLiteral("cannot open a second connection"));
    } else {
        xcb_generic_error_t *error =
            xcb_request_check(other, xcb_kill_client_checked(other, window));
        killed = !error ||
                 fail(QStringLiteral("KillClient failed with X error %1").arg(error->error_code));
        std::free(error);
    }
    xcb_disconnect(other);
    return killed;
}

void ScratchClient::disconnect()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
}

WindowChurn::WindowChurn(const QRect &area, int windowsPerCycle)
    : m_area(area), m_perCycle(qMax(2, windowsPerCycle))
{}

WindowChurn::~WindowChurn()
{
    stop();
}

bool WindowChurn::start()
{
    if (m_thread.joinable())
        return true;
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return fail(
            QStringLiteral("cannot connect to X display %1").arg(qEnvironmentVariable("DISPLAY")));
    }
    m_stop = false;
    m_thread = std::thread([this, c] { run(c); });
    return true;
}

void WindowChurn::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void WindowChurn::run(xcb_connection_t *c)
{
    const xcb_window_t root = rootOf(c, 0);
    const xcb_atom_t extents = intern(c, "_NET_FRAME_EXTENTS");
    const QSize size(80, 60);
    const int spanX = qMax(1, m_area.width() - size.width());
    const int spanY = qMax(1, m_area.height() - size.height());
    std::vector<xcb_window_t> windows(static_cast<size_t>(m_perCycle));
    for (int cycle = 0; !m_stop && !xcb_connection_has_error(c); ++cycle) {
        for (int i = 0; i < m_perCycle; ++i) {
            const int n = cycle * m_perCycle + i;
            // Spread over the area, so that they land under the pointer at times.
            const QPoint at(m_area.x() + (n * 211) % spanX, m_area.y() + (n * 137) % spanY);
            windows[size_t(i)] =
                createTitled(c, root, QRect(at, size), QByteArray("churn ") + QByteArray::number(n),
                             XCB_EVENT_MASK_PROPERTY_CHANGE);
            xcb_map_window(c, windows[size_t(i)]);
        }
        xcb_flush(c);
        // The first lives until it is managed (and usually made active), the
        // others go whenever the cycle ends.
        const QDeadlineTimer framed(500);
        while (!m_stop && !framed.hasExpired() && !hasProperty(c, windows[0], extents))
            waitForEvents(c, framed);
        xcb_unmap_window(c, windows[1]);
        for (xcb_window_t w : windows)
            xcb_destroy_window(c, w);
        roundTrip(c);
        m_made += m_perCycle;
    }
    xcb_disconnect(c);
}
