#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>

#include <memory>

class QWidget;

// The program's one view of the screens: how many, which is primary, and each
// screen's available area (without docks and panels) in virtual-desktop
// pixels. Screen indexes are positions in QGuiApplication::screens(). The
// areas are the platform's where it knows them (Qt's X11 backend gives whole
// screens once there are several), else Qt's. The cache refreshes itself
// whenever Qt or the platform reports a change.
class DesktopAreaCache : public QObject
{
    Q_OBJECT

public:
    /** The single instance, created and filled on first use (after the QGuiApplication). */
    static DesktopAreaCache *instance();

    int primaryScreen() const;
    int screenCount() const;
    /**
     * The cached area of a screen; -1 is the primary screen. An index that is
     * not a current screen gives an empty rectangle.
     */
    QRect availableGeometry(int screen) const;
    /** The available area of the screen the widget is on now; for nullptr the primary one. */
    QRect availableGeometry(QWidget *widget) const;
    /** The live index of the widget's screen; -1 when it has none. */
    int screenNumber(QWidget *widget) const;
    /** All cached areas, index = screen. */
    QList<QRect> areas() const;

    /** The first area in index order that contains point (edges included); 0 when none does. */
    static int screenAt(const QList<QRect> &areas, const QPoint &point);
    /** The area with the largest intersection with rect, lower index on ties; 0 when none meets it.
     */
    static int screenForRect(const QList<QRect> &areas, const QRect &rect);

public Q_SLOTS:
    void desktopChanged();

Q_SIGNALS:
    /**
     * The available area of a screen that was there before and still is has
     * changed (a dock came, went or moved). Screens that come or go are told
     * by QGuiApplication::screenAdded and screenRemoved.
     */
    void workAreaChanged(int screen);

private:
    DesktopAreaCache();
    ~DesktopAreaCache() override;

    struct Private;
    std::unique_ptr<Private> d;
};

/** The screen whose cached area holds point; 0 when none does. */
int screenAt(const QPoint &point);
/** The screen under the mouse pointer. */
int screenAtCursor();
/**
 * The screen that holds most of the rectangle from (left, top) of size
 * (right - left) x (bottom - top); 0 when it meets no screen.
 */
int screenForRect(int left, int top, int right, int bottom);
