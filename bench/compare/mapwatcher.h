#pragma once

#include <QHash>

#include <memory>

/**
 * The top levels mapped on the screen since it was made, and the process
 * each belongs to (_NET_WM_PID of the window or of the client in its
 * frame): the server's MapNotify events, seen on a connection of its own
 * that watches the root, so that none is missed and nothing is polled.
 */
class MapWatcher
{
public:
    MapWatcher();
    ~MapWatcher();
    MapWatcher(const MapWatcher &) = delete;
    MapWatcher &operator=(const MapWatcher &) = delete;

    /** Top levels of pid mapped so far, counting the events already sent. */
    int mappedOf(qint64 pid);
    /** Until count top levels of pid have been mapped; false after timeoutMs. */
    bool waitFor(qint64 pid, int count, int timeoutMs);

private:
    void readEvents(int timeoutMs);

    struct Private;
    std::unique_ptr<Private> d;
};
