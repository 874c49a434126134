#pragma once

#include "platform.h"

#include <QList>
#include <QRect>
#include <QSize>

#include <memory>
#include <optional>

struct xcb_connection_t;

// Each screen's work area on X11. With several screens Qt reports whole
// screens, and _NET_WORKAREA is one rectangle for the whole root, so a dock on
// one screen would shrink all of them. The areas are worked out here instead:
// the window manager's per-monitor areas where it publishes them, else each
// screen minus the struts of the docks that reach into it and the room the
// window manager keeps for bars of its own. Events arrive
// through the backend's event filter; the areas are read again lazily, at
// most once per burst of changes.
class X11WorkArea
{
public:
    /** A strut as _NET_WM_STRUT_PARTIAL has it: widths from the root's edges, ranges along them. */
    struct Strut
    {
        int left = 0, right = 0, top = 0, bottom = 0;
        int leftStart = 0, leftEnd = 0, rightStart = 0, rightEnd = 0;
        int topStart = 0, topEnd = 0, bottomStart = 0, bottomEnd = 0;

        bool operator==(const Strut &other) const;
    };

    /** What the window manager and its clients say about the current desktop. */
    struct Desktop
    {
        QSize root;
        /** _GTK_WORKAREAS_D<current desktop>: one rectangle per monitor, in no known order. */
        QList<QRect> perMonitor;
        /** _NET_WORKAREA of the current desktop. */
        std::optional<QRect> workArea;
        /** Of the mapped windows: these keep room. */
        QList<Strut> struts;
        /**
         * Of unmapped windows, and struts gone since the window manager last
         * changed _NET_WORKAREA: they keep no room, but the work area may
         * still count them.
         */
        QList<Strut> otherStruts;
    };

    /**
     * 12 cardinals are _NET_WM_STRUT_PARTIAL, 4 are _NET_WM_STRUT (whole
     * edges of a root of that size); nullopt for anything else.
     */
    static std::optional<Strut> strutFromCardinals(const QList<quint32> &values, const QSize &root);
    /** Each screen's area (root coordinates) on that desktop, in the order of screens. */
    static QList<QRect> areas(const QList<QRect> &screens, const Desktop &desktop);

    /** Follows root's desktop on Qt's connection; ids of ownIdBase under ownIdMask are ours. */
    X11WorkArea(xcb_connection_t *connection, quint32 root, quint32 ownIdBase, quint32 ownIdMask);
    ~X11WorkArea();

    /** As Platform::workAreas(); the whole screens without a window manager. */
    QList<QRect> workAreas(const QList<QRect> &screens);
    void setHandler(const Platform::WorkAreaHandler &handler);
    /** Looks at one xcb_generic_event_t of Qt's connection; never consumes it. */
    void handleEvent(const void *event);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
