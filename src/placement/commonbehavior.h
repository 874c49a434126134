#pragma once

#include "marginmetrics.h"

#include <QIcon>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class CellGrid;
class DragFrame;
class PanelHost;
class ShortcutListItem;
class UpdateChecker;

// Acts on other programs' windows for everything that selects cells: places
// the foreground window, shows the translucent preview of the target, tells
// the panels twice a second which application is in front, and picks the
// screen for a named shortcut (cycling through the screens when asked).
class CommonBehavior : public QWidget
{
    Q_OBJECT

public:
    explicit CommonBehavior(PanelHost *host);
    ~CommonBehavior() override;

    static CommonBehavior *instance();

    /** The preview margins when the user's margins are off. */
    static Util::MarginMetrics_t previewMargins();
    /** The look of the placement preview's grid: the selection only, outlined. */
    static void stylePreviewGrid(CellGrid *grid);

    PanelHost *host() const;
    DragFrame *preview() const;
    /** The one update checker (owned); the updater window connects to its offers. */
    UpdateChecker *updateChecker() const;

    /** How shortcutActivated() finds a shortcut by id (the shortcut model). */
    void setShortcutLookup(std::function<const ShortcutListItem *(int)> lookup);

    /** The screen the last named-shortcut placement used. */
    int cycleScreen() const;

Q_SIGNALS:
    void foregroundWindowChanged(QString name, QIcon appIcon);

public Q_SLOTS:
    void hidePreview();
    void movePreview(int screen, QSize dim, QRect selection);
    void moveWindow(int screen, QSize dim, QRect selection);
    void setForegroundWindowData();
    void forceUpdateCheck();
    void setUpdateCheck(bool enabled);
    void updateCheck(bool msg);
    void updateCheck();
    void shortcutActivated(int id);
    /** Places the foreground window by a shortcut's grid and selection. */
    void placeByShortcut(const ShortcutListItem *item);

protected Q_SLOTS:
    void updaterDownloadFinished();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
