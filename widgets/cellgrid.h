#pragma once

#include "marginmetrics.h"
#include "varlowidgets_global.h"

#include <QColor>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QSize>

#include <memory>

class QPainter;

// Lays out columns x rows cells with gaps and margins inside a paint area,
// caches their rectangles and paints them. Not a widget: a DragFrame owns one
// and the shortcut list's delegate paints one into every row.
//
// Dimensions outside 1..maximumDimension per side are treated as no grid at
// all: no cells, nothing painted. A damaged settings store can hand us zero,
// negative or absurd sizes, and thousands of cells per side would only stall
// painting.
class VARLOWIDGETS_EXPORT CellGrid
{
public:
    enum DrawMode
    {
        DrawSelectionOnly = 0,
        DrawAllCells = 1
    };

    static constexpr int maximumDimension = 100;

    CellGrid();
    CellGrid(QRect paintArea, QSize dimensions, QRect selection);
    CellGrid(const CellGrid &other);
    CellGrid &operator=(const CellGrid &other);
    virtual ~CellGrid();

    DrawMode drawMode() const;
    void setDrawMode(DrawMode mode);

    QSize dimensions() const;
    void setDimensions(QSize dimensions);

    QRect paintArea() const;
    void setPaintArea(QRect area);

    Util::MarginMetrics_t marginMetrics() const;
    void setMarginMetrics(const Util::MarginMetrics_t &metrics);

    /** Cell rectangles, row-major: cell (c, r) at r * columns + c. */
    QList<QRectF> cells() const;

    QRect selection() const;
    void setSelection(QRect selection);

    double radius() const;
    void setRadius(double radius);

    double borderWidth() const;
    void setBorderWidth(double width);

    QColor borderColor() const;
    void setBorderColor(QColor color);

    QColor selectedColor() const;
    void setSelectedColor(QColor color);

    QColor emptyFillColor() const;
    void setEmptyFillColor(QColor color);

    bool fillEmptyCells() const;
    void setFillEmptyCells(bool fill);

    bool borderEmptyCells() const;
    void setBorderEmptyCells(bool border);

    /** Pixel rectangle of a rectangle in cell units; a null QRectF without a usable grid. */
    QRectF cellRect(const QRect &cells) const;

    /**
     * The cell rule itself: the pixel rectangle of cells in a dimensions grid
     * laid out in area with margins. The program places real windows with it
     * in a screen's work area. A null QRectF without a usable grid.
     */
    static QRectF layoutRect(const QRect &area, const Util::MarginMetrics_t &margins,
                             QSize dimensions, const QRect &cells);

    /** Whether the dimensions describe a grid that can be laid out. */
    bool hasValidDimensions() const;

    void paint(QPainter *painter) const;

    /**
     * Frees the pictures kept to make repaints after a selection change cheap
     * (a few full-size images); the next paints make them again. For an owner
     * that goes out of sight.
     */
    void releasePictures();

private:
    void updateCells();

    struct Private;
    std::unique_ptr<Private> d;
};
