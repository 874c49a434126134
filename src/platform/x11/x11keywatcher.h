#pragma once

#include "platform.h"

#include <QAbstractNativeEventFilter>

#include <memory>

struct xcb_connection_t;

// Every key of the desktop as XInput 2 raw events selected on the root
// window. Raw events are copies: the keys still go to whoever has the focus,
// and nothing is grabbed. Events arrive through Qt's own connection, so the
// watcher reads them in a native event filter rather than from a queue of its
// own.
class X11KeyWatcher : public QAbstractNativeEventFilter
{
public:
    X11KeyWatcher(xcb_connection_t *connection, quint32 root);
    ~X11KeyWatcher() override;

    /**
     * Starts (or, when running, re-targets) delivery to watcher and reports
     * the modifiers held right now. False with reason set when the server has
     * no XInput 2 or refuses the selection.
     */
    bool start(const Platform::KeyWatcher &watcher, QString *reason);
    /** Deselects the raw events; nothing is delivered afterwards. */
    void stop();
    bool isWatching() const;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
