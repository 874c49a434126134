#pragma once

#include "varlowidgets_global.h"

#include <QFrame>

#include <memory>

class CellGrid;

// The grid the user drags across. Turns mouse positions into a selection of
// cells of its CellGrid and reports it; it never moves windows itself.
class VARLOWIDGETS_EXPORT DragFrame : public QFrame
{
    Q_OBJECT

public:
    explicit DragFrame(QWidget *parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    ~DragFrame() override;

    /** The owned grid, for the owner to configure; the frame keeps its paint area. */
    CellGrid *cellGrid();

    QSize dimensions() const;
    bool dragging() const;
    bool followMouse() const;
    bool resetOnMouseup() const;
    bool resetOnMouseLeave() const;

    /** Forgets the selection without repainting or signalling. */
    void clearSelection();
    /** Ends a drag and hides the rubber band. */
    void resetRubberBand();

public Q_SLOTS:
    void setDraggable(bool draggable);
    void setResetOnMouseup(bool reset);
    void setFollowMouse(bool follow);
    void setResetOnMouseLeave(bool reset);
    void setDimensions(QSize size);
    void setSelection(QRect selection);

Q_SIGNALS:
    void resizeWindow(QSize dimension, QRect selection);
    void selectionChanged(QRect selection);
    void addRowShortcut();
    void addColShortcut();
    void subRowShortcut();
    void subColShortcut();
    void clicked();

protected:
    QRect calcSelectionPixels() const;
    QRect calcSelectionCells() const;
    void updateSelection();

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
