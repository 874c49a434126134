#include "cellgrid.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

struct CellGrid::Private
{
    DrawMode drawMode = DrawAllCells;
    QSize dimensions;
    QRect paintArea;
    Util::MarginMetrics_t marginMetrics;
    double radius = 2.0;
    double borderWidth = 1.0;
    QList<QRectF> cells;
    QRect selection;
    bool fillEmptyCells = false;
    bool borderEmptyCells = true;
    QColor borderColor = QColor(205, 205, 205, 127);
    QColor selectedColor = QColor(178, 178, 178, 85);
    QColor emptyFillColor = QColor(0, 0, 0, 255);
};

namespace {

bool usableSelection(const QRect &selection)
{
    return selection.width() > 0 && selection.height() > 0 && selection.left() >= 0 &&
           selection.top() >= 0;
}

bool validDimensions(QSize dimensions)
{
    const int cols = dimensions.width();
    const int rows = dimensions.height();
    return cols > 0 && rows > 0 && cols <= CellGrid::maximumDimension &&
           rows <= CellGrid::maximumDimension;
}

// Below this size a scaled border would swallow the cells; a cosmetic pen stays one pixel.
constexpr int hairlineBelow = 150;

} // namespace

CellGrid::CellGrid() : d(std::make_unique<Private>()) {}

CellGrid::CellGrid(QRect paintArea, QSize dimensions, QRect selection)
    : d(std::make_unique<Private>())
{
    d->paintArea = paintArea;
    d->dimensions = dimensions;
    d->selection = selection;
    updateCells();
}

CellGrid::CellGrid(const CellGrid &other) : d(std::make_unique<Private>(*other.d)) {}

CellGrid &CellGrid::operator=(const CellGrid &other)
{
    if (this != &other)
        *d = *other.d;
    return *this;
}

CellGrid::~CellGrid() = default;

CellGrid::DrawMode CellGrid::drawMode() const
{
    return d->drawMode;
}
void CellGrid::setDrawMode(DrawMode mode)
{
    d->drawMode = mode;
}

QSize CellGrid::dimensions() const
{
    return d->dimensions;
}

void CellGrid::setDimensions(QSize dimensions)
{
    d->dimensions = dimensions;
    updateCells();
}

QRect CellGrid::paintArea() const
{
    return d->paintArea;
}

void CellGrid::setPaintArea(QRect area)
{
    d->paintArea = area;
    updateCells();
}

Util::MarginMetrics_t CellGrid::marginMetrics() const
{
    return d->marginMetrics;
}

void CellGrid::setMarginMetrics(const Util::MarginMetrics_t &metrics)
{
    d->marginMetrics = metrics;
    updateCells();
}

QList<QRectF> CellGrid::cells() const
{
    return d->cells;
}

QRect CellGrid::selection() const
{
    return d->selection;
}
void CellGrid::setSelection(QRect selection)
{
    d->selection = selection;
}

double CellGrid::radius() const
{
    return d->radius;
}
void CellGrid::setRadius(double radius)
{
    d->radius = radius;
}

double CellGrid::borderWidth() const
{
    return d->borderWidth;
}
void CellGrid::setBorderWidth(double width)
{
    d->borderWidth = width;
}

QColor CellGrid::borderColor() const
{
    return d->borderColor;
}
void CellGrid::setBorderColor(QColor color)
{
    d->borderColor = color;
}

QColor CellGrid::selectedColor() const
{
    return d->selectedColor;
}
void CellGrid::setSelectedColor(QColor color)
{
    d->selectedColor = color;
}

QColor CellGrid::emptyFillColor() const
{
    return d->emptyFillColor;
}
void CellGrid::setEmptyFillColor(QColor color)
{
    d->emptyFillColor = color;
}

bool CellGrid::fillEmptyCells() const
{
    return d->fillEmptyCells;
}
void CellGrid::setFillEmptyCells(bool fill)
{
    d->fillEmptyCells = fill;
}

bool CellGrid::borderEmptyCells() const
{
    return d->borderEmptyCells;
}
void CellGrid::setBorderEmptyCells(bool border)
{
    d->borderEmptyCells = border;
}

bool CellGrid::hasValidDimensions() const
{
    return validDimensions(d->dimensions);
}

QRectF CellGrid::cellRect(const QRect &r) const
{
    return layoutRect(d->paintArea, d->marginMetrics, d->dimensions, r);
}

QRectF CellGrid::layoutRect(const QRect &a, const Util::MarginMetrics_t &m, QSize dimensions,
                            const QRect &r)
{
    if (!validDimensions(dimensions))
        return QRectF();
    const double cols = dimensions.width();
    const double rows = dimensions.height();

    // Every cell gets the same fractional size: nothing is rounded, so a
    // multi-cell rectangle spans the gaps between its cells exactly.
    const double cw = (a.width() - m.screenLeft - m.screenRight - (cols - 1) * m.cellWidth) / cols;
    const double ch =
        (a.height() - m.screenTop - m.screenBottom - (rows - 1) * m.cellHeight) / rows;
    const double left = a.left() + m.screenLeft + (cw + m.cellWidth) * r.x();
    const double top = a.top() + m.screenTop + (ch + m.cellHeight) * r.y();
    const double width = r.width() * cw + (r.width() - 1) * m.cellWidth;
    const double height = r.height() * ch + (r.height() - 1) * m.cellHeight;
    return QRectF(left, top, width, height);
}

void CellGrid::updateCells()
{
    d->cells.clear();
    if (!hasValidDimensions())
        return;
    const int cols = d->dimensions.width();
    const int count = cols * d->dimensions.height();
    d->cells.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int c = i % cols;
        const int r = (i - c) / cols;
        d->cells.append(cellRect(QRect(c, r, 1, 1)));
    }
}

void CellGrid::paint(QPainter *painter) const
{
    if (!painter || !hasValidDimensions() || d->paintArea.isEmpty())
        return;
    const bool selectionUsable = usableSelection(d->selection);
    if (!selectionUsable && d->drawMode == DrawSelectionOnly)
        return;

    painter->setRenderHint(QPainter::Antialiasing, true);

    QPen pen(QBrush(d->borderColor), d->borderWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (d->paintArea.width() < hairlineBelow || d->paintArea.height() < hairlineBelow)
        pen.setWidthF(0);
    painter->setPen(pen);

    const QRectF selected = cellRect(d->selection);

    // A partial repaint (a rubber band moving over the grid) only needs the
    // cells it touches; antialiased paths cost per scanline even when clipped away.
    const bool clipped = painter->hasClipping();
    const QRectF clip = clipped ? painter->clipBoundingRect() : QRectF();
    const double reach = qMax(1.0, d->borderWidth) + 1.0;

    if (d->drawMode == DrawSelectionOnly) {
        QPainterPath path;
        path.addRoundedRect(selected, d->radius, d->radius, Qt::AbsoluteSize);
        painter->setBrush(QBrush(d->selectedColor));
        painter->drawPath(path);
        return;
    }

    // An empty selection would still give a rectangle of negative size, which
    // a negative gap from a damaged store could make overlap a cell.
    const bool canHighlight = d->selection.width() > 0 && d->selection.height() > 0;
    const QBrush selectedBrush(d->selectedColor);
    const QBrush emptyBrush(d->emptyFillColor);
    for (const QRectF &cell : std::as_const(d->cells)) {
        if (clipped && !cell.adjusted(-reach, -reach, reach, reach).intersects(clip))
            continue;
        QPainterPath path;
        path.addRoundedRect(cell, d->radius, d->radius, Qt::AbsoluteSize);
        if (canHighlight && cell.intersects(selected)) {
            painter->setBrush(selectedBrush);
            painter->drawPath(path);
            continue;
        }
        painter->setBrush(emptyBrush);
        if (d->borderEmptyCells && d->fillEmptyCells)
            painter->drawPath(path);
        else if (d->borderEmptyCells)
            painter->strokePath(path, pen);
        else if (d->fillEmptyCells)
            painter->fillPath(path, emptyBrush);
    }
}
