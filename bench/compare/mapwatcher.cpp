#include "mapwatcher.h"

#include "xtestutil.h"

#include <QElapsedTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <poll.h>

struct MapWatcher::Private
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    QHash<quint32, qint64> owners; // mapped top level -> its process
};

MapWatcher::MapWatcher() : d(std::make_unique<Private>())
{
    d->connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(d->connection))
        return;
    d->root = xcb_setup_roots_iterator(xcb_get_setup(d->connection)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(d->connection, d->root, XCB_CW_EVENT_MASK, &mask);
    // Watching once this returns: the server has taken the event mask.
    std::free(
        xcb_get_input_focus_reply(d->connection, xcb_get_input_focus(d->connection), nullptr));
}

MapWatcher::~MapWatcher()
{
    xcb_disconnect(d->connection);
}

void MapWatcher::readEvents(int timeoutMs)
{
    if (xcb_connection_has_error(d->connection))
        return;
    pollfd p{xcb_get_file_descriptor(d->connection), POLLIN, 0};
    ::poll(&p, 1, timeoutMs);
    while (xcb_generic_event_t *e = xcb_poll_for_event(d->connection)) {
        const auto *map = reinterpret_cast<const xcb_map_notify_event_t *>(e);
        if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY && map->event == d->root) {
            // A window manager maps the frame once the client sits in it.
            const QList<quint32> windows =
                QList<quint32>{map->window} + XTestUtil::descendantsOf(map->window);
            for (quint32 w : windows) {
                const QList<quint32> pid = XTestUtil::cardinalProperty(w, "_NET_WM_PID");
                if (!pid.isEmpty()) {
                    d->owners.insert(map->window, pid.first());
                    break;
                }
            }
        }
        std::free(e);
    }
}

int MapWatcher::mappedOf(qint64 pid)
{
    readEvents(0);
    return int(d->owners.keys(pid).size());
}

bool MapWatcher::waitFor(qint64 pid, int count, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (mappedOf(pid) < count) {
        if (clock.elapsed() >= timeoutMs || xcb_connection_has_error(d->connection))
            return false;
        readEvents(50);
    }
    return true;
}
