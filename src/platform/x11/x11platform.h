#pragma once

#include "platform.h"

#include <memory>

struct xcb_connection_t;

// The X11 backend. It talks xcb over Qt's own connection, so replies and
// events share one queue with Qt and nothing opens a second display.
class X11Platform : public Platform
{
public:
    X11Platform();
    ~X11Platform() override;

    QString backendName() const override { return QStringLiteral("x11"); }

    /** Opens and closes a test connection to $DISPLAY; false with a reason when that fails. */
    static bool serverReachable(QString *reason);

    /** Qt's xcb connection, or nullptr when Qt does not run on xcb. */
    xcb_connection_t *connection() const;
    /** The root window of the default screen. */
    quint32 rootWindow() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
