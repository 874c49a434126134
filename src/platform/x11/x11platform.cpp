#include "x11platform.h"

#include "varlolog.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

struct X11Platform::Private
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
};

X11Platform::X11Platform()
    : d(std::make_unique<Private>())
{
    if (auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        d->connection = x11->connection();
        const xcb_setup_t *setup = xcb_get_setup(d->connection);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        if (it.rem > 0)
            d->root = it.data->root;
    }
    if (!d->connection)
        vWarning() << "No X11 connection: windows of other programs cannot be placed.";
}

X11Platform::~X11Platform() = default;

xcb_connection_t *X11Platform::connection() const
{
    return d->connection;
}

quint32 X11Platform::rootWindow() const
{
    return d->root;
}

bool X11Platform::serverReachable(QString *reason)
{
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        if (reason)
            *reason = QStringLiteral("no X display: DISPLAY is not set (Varlo places windows of an X11 session)");
        return false;
    }
    xcb_connection_t *c = xcb_connect(display.constData(), nullptr);
    const int error = xcb_connection_has_error(c);
    xcb_disconnect(c);
    if (error) {
        if (reason)
            *reason = QStringLiteral("cannot open the X display \"%1\"").arg(QString::fromLocal8Bit(display));
        return false;
    }
    return true;
}
