#pragma once

#include "platform.h"

#include <xcb/xcb.h>

#include <memory>

// Global hot keys as passive key grabs on the root window, made on Qt's own
// connection so that the presses reach the backend's event filter. A
// combination is grabbed on every key that carries its keysym, once with each
// combination of Lock and NumLock added; the grabs are made again whenever the
// keyboard map changes. Presses arrive through handleEvent().
class X11HotKeys
{
public:
    X11HotKeys(xcb_connection_t *connection, quint32 root);
    /** Releases every grab of ours. */
    ~X11HotKeys();

    struct Combination
    {
        quint32 vk = 0;
        quint32 modifiers = 0;
    };

    /**
     * Grabs each combination (Platform::grabHotKey for many at once, with one
     * round trip for all of them). The result tells for each whether it is
     * grabbed now; reason gets the last failure.
     */
    QList<bool> grab(const QList<Combination> &combinations, QString *reason);
    /** Releases one combination; false with reason set when it was not grabbed by us. */
    bool ungrab(Combination combination, QString *reason);
    /**
     * Platform::beginHotKeyBatch: the first grab() from here on grabs all of
     * these as well, in its one round trip, and the later grabs of them are
     * answered at once. Ungrabs until endBatch() go out together.
     */
    void beginBatch(const QList<Combination> &combinations);
    /** Releases what the batch grabbed ahead and nobody asked for, and sends what waits. */
    void endBatch();
    void setHandler(const Platform::HotKeyHandler &handler);

    /** Looks at one event of Qt's connection; never consumes it. */
    void handleEvent(const xcb_generic_event_t *event);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
