#pragma once

#include <QIcon>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <memory>

class CommonBehavior;
class DragFrame;
class QEnterEvent;

namespace Ui {
class GridWindow;
}

// The translucent panel shown on every screen: the name and icon of the window
// about to be placed, close and settings buttons, and the drag frame. A drag on
// the frame becomes preview and move requests for the placement controller.
// The panel dims while another panel has the mouse.
class GridWindow : public QWidget
{
    Q_OBJECT

public:
    explicit GridWindow(CommonBehavior *controller);
    ~GridWindow() override;

    /** Whether a drag is in progress on the panel's grid (Escape cancels it). */
    bool dragging() const;
    DragFrame *dragFrame() const;

    /**
     * The screen the panel was built for: its placements and its centre go
     * there, whatever Qt believes about where the window is. -1 (the default)
     * takes the screen under the panel's middle.
     */
    void setScreen(int screen);
    /** The screen the panel acts for. */
    int desktop() const;

    /** Opacity while another panel has the mouse. */
    static constexpr double dimmedOpacity = 0.7;
    /** The largest number of rows or columns the row/column keys reach. */
    static constexpr int maximumStepSize = 10;

    /**
     * The grid a panel shows for a stored size: 6 x 6 for a size no grid can
     * show, doubled when subdivided, never beyond CellGrid::maximumDimension.
     */
    static QSize shownGridSize(QSize stored, bool subdivided);

Q_SIGNALS:
    void showSettingsWindow(int desktop);
    void gainedFocus(int desktop);
    void requestWindowMove(int desktop, QSize dim, QRect selection);
    void requestPreviewMove(int desktop, QSize dim, QRect selection);
    void shortcutNewSize(QSize dimensions);

public Q_SLOTS:
    /** Takes the grid size from the settings (subdivision applied) and shows the panel. */
    void activate();
    void syncSize(QSize size);
    /** Centres the panel on its screen's available area. */
    void center();
    /** Drops the selection and ends any drag. */
    void resetGrid();
    void loseFocus();

protected:
    void enterEvent(QEnterEvent *event) override;
    void showEvent(QShowEvent *event) override;

private Q_SLOTS:
    void addRowShortcut();
    void addColShortcut();
    void subRowShortcut();
    void subColShortcut();
    void selectionChanged(QRect selection);
    void updateForegroundWindowData(QString name, QIcon appIcon);
    void resizeWindow(QSize dimension, QRect selection);
    void on_buttonSettings_clicked();
    void on_buttonClose_clicked();

private:
    /**
     * The grid size in the settings: "grid/size", or "grid/reset_size" when the
     * grid resets on every showing (unless forceStored); doubled when subdivided
     * (unless noSubdivision).
     */
    QSize gridSize(bool noSubdivision, bool forceStored) const;
    void stepStoredSize(QSize step);
    void adaptToDpi();
    void animateOpacity(double target);
    void hidePanels();

    std::unique_ptr<Ui::GridWindow> ui;
    struct Private;
    std::unique_ptr<Private> d;
};
