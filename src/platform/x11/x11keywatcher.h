#pragma once

#include "platform.h"

#include <xcb/xcb.h>

#include <memory>

// Every key of the desktop as XInput 2 raw events selected on the root
// window. Raw events are copies: the keys still go to whoever has the focus,
// and nothing is grabbed. Events arrive through Qt's own connection, so the
// watcher reads them in a native event filter rather than from a queue of its
// own: the backend's event filter hands every event to handleEvent().
class X11KeyWatcher
{
public:
    X11KeyWatcher(xcb_connection_t *connection, quint32 root);
    ~X11KeyWatcher();

    /**
     * Starts (or, when running, re-targets) delivery to watcher and reports
     * the modifiers held right now. False with reason set when the server has
     * no XInput 2 or refuses the selection.
     */
    bool start(const Platform::KeyWatcher &watcher, QString *reason);
    /** Deselects our raw events (other selections on the root stay); nothing is delivered afterwards. */
    void stop();
    bool isWatching() const;

    /** Looks at one event of Qt's connection; never consumes it. */
    void handleEvent(const xcb_generic_event_t *event);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
