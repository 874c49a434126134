#include "cellgrid.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRegion>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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

    // What the grid looks like without and with every cell selected, painted
    // over the background it was last seen on, in device pixels. A selection
    // change then only copies pixels; just where a selected and an unselected
    // cell share a pixel is painting needed. Anything that changes how a cell
    // looks drops it (invalidate()); the selection never does.
    struct Cache
    {
        bool keyed = false;
        QTransform transform;
        QImage::Format format = QImage::Format_Invalid;
        QRect deviceRect;       // the grid's pixels in the device image
        QImage background;      // what lay under the grid, deviceRect-relative
        QImage unselected;      // background + every cell unselected
        QImage selected;        // background + every cell selected
        QImage scratch;         // where shared pixels are painted
        // Bit (c % 2) + 2 * (r % 2) of the index tells whether cell (c, r) is
        // selected: any two-by-two block of cells gets its look from one of them.
        QImage patterns[16];
        QRegion known;          // where background holds what was seen
        QRegion rendered;       // where both pictures match the background
    } cache;

    void invalidate() { cache = Cache(); }

    enum class Highlight { AsSelected, None, All, Pattern };
    QRectF selectedRect() const
    {
        return CellGrid::layoutRect(paintArea, marginMetrics, dimensions, selection);
    }
    // only, when given, marks the cells to paint.
    void paintCells(QPainter *painter, Highlight highlight,
                    const std::vector<char> *only = nullptr, int pattern = 0) const;
    bool paintCached(QPainter *painter);
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

// Above this many device pixels the four images cost more memory than a
// plain repaint costs time.
constexpr qint64 maximumCachedPixels = 2048 * 2048;
// Up to fourteen more pictures for pixels neighbouring cells share; kept for
// panel-sized grids only.
constexpr qint64 maximumPatternPixels = 1024 * 768;

// Sorted, disjoint half-open pixel intervals.
using Spans = std::vector<std::pair<int, int>>;

Spans merged(Spans spans)
{
    std::sort(spans.begin(), spans.end());
    Spans out;
    for (const auto &s : spans) {
        if (s.first >= s.second)
            continue;
        if (!out.empty() && s.first <= out.back().second)
            out.back().second = qMax(out.back().second, s.second);
        else
            out.push_back(s);
    }
    return out;
}

Spans intersected(const Spans &a, const Spans &b)
{
    Spans out;
    for (size_t i = 0, j = 0; i < a.size() && j < b.size();) {
        const int from = qMax(a[i].first, b[j].first);
        const int to = qMin(a[i].second, b[j].second);
        if (from < to)
            out.emplace_back(from, to);
        if (a[i].second < b[j].second)
            ++i;
        else
            ++j;
    }
    return out;
}

QRegion product(const Spans &xs, const Spans &ys)
{
    std::vector<QRect> rects;
    rects.reserve(xs.size() * ys.size());
    for (const auto &y : ys) {
        for (const auto &x : xs)
            rects.emplace_back(x.first, y.first, x.second - x.first, y.second - y.first);
    }
    QRegion region;
    if (!rects.empty())
        region.setRects(rects.data(), int(rects.size()));
    return region;
}

// The pixels of region (in to's coordinates) from from, whose origin lies at
// offset in to. The device image is written through constBits(): it is being
// painted on and must not detach from its painter.
enum class Target { Device, Own };
void copyPixels(const QImage &from, QPoint offset, QImage &to, const QRegion &region,
                Target target)
{
    const int bpp = to.depth() / 8;
    uchar *bits = target == Target::Device ? const_cast<uchar *>(to.constBits()) : to.bits();
    for (const QRect &r : region) {
        const qsizetype bytes = qsizetype(r.width()) * bpp;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            std::memcpy(bits + y * to.bytesPerLine() + qsizetype(r.left()) * bpp,
                        from.constScanLine(y - offset.y()) + qsizetype(r.left() - offset.x()) * bpp,
                        bytes);
        }
    }
}

bool samePixels(const QImage &device, const QImage &cached, QPoint offset, const QRegion &region)
{
    const int bpp = device.depth() / 8;
    for (const QRect &r : region) {
        const qsizetype bytes = qsizetype(r.width()) * bpp;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            if (std::memcmp(device.constScanLine(y) + qsizetype(r.left()) * bpp,
                            cached.constScanLine(y - offset.y()) +
                                qsizetype(r.left() - offset.x()) * bpp,
                            bytes) != 0)
                return false;
        }
    }
    return true;
}

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

CellGrid::CellGrid(const CellGrid &other) : d(std::make_unique<Private>(*other.d))
{
    d->invalidate();
}

CellGrid &CellGrid::operator=(const CellGrid &other)
{
    if (this != &other) {
        *d = *other.d;
        d->invalidate();
    }
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
    d->invalidate();
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
    d->invalidate();
}

double CellGrid::borderWidth() const
{
    return d->borderWidth;
}
void CellGrid::setBorderWidth(double width)
{
    d->borderWidth = width;
    d->invalidate();
}

QColor CellGrid::borderColor() const
{
    return d->borderColor;
}
void CellGrid::setBorderColor(QColor color)
{
    d->borderColor = color;
    d->invalidate();
}

QColor CellGrid::selectedColor() const
{
    return d->selectedColor;
}
void CellGrid::setSelectedColor(QColor color)
{
    d->selectedColor = color;
    d->invalidate();
}

QColor CellGrid::emptyFillColor() const
{
    return d->emptyFillColor;
}
void CellGrid::setEmptyFillColor(QColor color)
{
    d->emptyFillColor = color;
    d->invalidate();
}

bool CellGrid::fillEmptyCells() const
{
    return d->fillEmptyCells;
}
void CellGrid::setFillEmptyCells(bool fill)
{
    d->fillEmptyCells = fill;
    d->invalidate();
}

bool CellGrid::borderEmptyCells() const
{
    return d->borderEmptyCells;
}
void CellGrid::setBorderEmptyCells(bool border)
{
    d->borderEmptyCells = border;
    d->invalidate();
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
    d->invalidate();
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

void CellGrid::releasePictures()
{
    d->invalidate();
}

void CellGrid::paint(QPainter *painter) const
{
    if (!painter || !hasValidDimensions() || d->paintArea.isEmpty())
        return;
    const bool selectionUsable = usableSelection(d->selection);
    if (!selectionUsable && d->drawMode == DrawSelectionOnly)
        return;

    painter->setRenderHint(QPainter::Antialiasing, true);
    if (d->drawMode == DrawAllCells && d->paintCached(painter))
        return;
    d->paintCells(painter, Private::Highlight::AsSelected);
}

void CellGrid::Private::paintCells(QPainter *painter, Highlight highlight,
                                   const std::vector<char> *only, int pattern) const
{
    QPen pen(QBrush(borderColor), borderWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (paintArea.width() < hairlineBelow || paintArea.height() < hairlineBelow)
        pen.setWidthF(0);
    painter->setPen(pen);

    const QRectF selected = selectedRect();

    // A partial repaint (a rubber band moving over the grid) only needs the
    // cells it touches; antialiased paths cost per scanline even when clipped away.
    const bool clipped = painter->hasClipping();
    const QRectF clip = clipped ? painter->clipBoundingRect() : QRectF();
    const double reach = qMax(1.0, borderWidth) + 1.0;

    if (drawMode == DrawSelectionOnly) {
        QPainterPath path;
        path.addRoundedRect(selected, radius, radius, Qt::AbsoluteSize);
        painter->setBrush(QBrush(selectedColor));
        painter->drawPath(path);
        return;
    }

    // An empty selection would still give a rectangle of negative size, which
    // a negative gap from a damaged store could make overlap a cell.
    const bool canHighlight = selection.width() > 0 && selection.height() > 0;
    const QBrush selectedBrush(selectedColor);
    const QBrush emptyBrush(emptyFillColor);
    for (qsizetype i = 0; i < cells.size(); ++i) {
        const QRectF &cell = cells[i];
        if (only && !(*only)[i])
            continue;
        if (clipped && !cell.adjusted(-reach, -reach, reach, reach).intersects(clip))
            continue;
        QPainterPath path;
        path.addRoundedRect(cell, radius, radius, Qt::AbsoluteSize);
        const int column = int(i % dimensions.width());
        const int row = int(i / dimensions.width());
        const bool highlighted = highlight == Highlight::All ||
                                 (highlight == Highlight::Pattern &&
                                  (pattern >> ((column & 1) + 2 * (row & 1))) & 1) ||
                                 (highlight == Highlight::AsSelected && canHighlight &&
                                  cell.intersects(selected));
        if (highlighted) {
            painter->setBrush(selectedBrush);
            painter->drawPath(path);
            continue;
        }
        painter->setBrush(emptyBrush);
        if (borderEmptyCells && fillEmptyCells)
            painter->drawPath(path);
        else if (borderEmptyCells)
            painter->strokePath(path, pen);
        else if (fillEmptyCells)
            painter->fillPath(path, emptyBrush);
    }
}

// Paints the grid from the cached pictures when the painter draws straight
// into an image and the background under the grid is the one they were painted
// on. Returns false when the caller must paint the cells itself.
bool CellGrid::Private::paintCached(QPainter *painter)
{
    QPaintEngine *engine = painter->paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster || !engine->paintDevice() ||
        engine->paintDevice()->devType() != QInternal::Image)
        return false;
    QImage &device = *static_cast<QImage *>(engine->paintDevice());
    if (device.isNull() || device.depth() % 8 != 0 ||
        painter->compositionMode() != QPainter::CompositionMode_SourceOver ||
        painter->opacity() != 1.0)
        return false;
    const QTransform t = painter->deviceTransform();
    if (t.type() > QTransform::TxScale || t.m11() <= 0 || t.m22() <= 0)
        return false;

    // Cell (c, r) covers column c's span times row r's: the layout is separable.
    // A span holds every pixel a cell can touch: its outline and half the pen
    // past it, rounded out to whole pixels.
    const int columnCount = dimensions.width();
    const int rowCount = dimensions.height();
    // Half the pen, and half a pixel to spare for the rasteriser's rounding. An
    // antialiased hairline touches pixels whose centres lie within one pixel.
    const bool hairline = paintArea.width() < hairlineBelow || paintArea.height() < hairlineBelow;
    const double halfPen = qAbs(borderWidth) / 2;
    const auto span = [](double a, double b, double scale, double offset, double extra,
                         std::pair<int, int> &out) {
        a = a * scale + offset;
        b = b * scale + offset;
        if (a > b)
            std::swap(a, b);
        a = std::floor(a - extra);
        b = std::ceil(b + extra);
        if (!(a > -1e7 && b < 1e7))
            return false;
        out = {int(a), int(b)};
        return true;
    };
    Spans columns(columnCount), rows(rowCount);
    for (int c = 0; c < columnCount; ++c) {
        const QRectF &cell = cells[c];
        if (!span(cell.left(), cell.right(), t.m11(), t.dx(), hairline ? 1.5 : halfPen * t.m11() + 0.5, columns[c]))
            return false;
    }
    for (int r = 0; r < rowCount; ++r) {
        const QRectF &cell = cells[r * columnCount];
        if (!span(cell.top(), cell.bottom(), t.m22(), t.dy(), hairline ? 1.5 : halfPen * t.m22() + 0.5, rows[r]))
            return false;
    }
    const Spans allColumns = merged(columns);
    const Spans allRows = merged(rows);
    if (allColumns.empty() || allRows.empty())
        return false;
    const QRect grid =
        QRect(QPoint(allColumns.front().first, allRows.front().first),
              QPoint(allColumns.back().second - 1, allRows.back().second - 1)) &
        device.rect();
    if (grid.isEmpty() || qint64(grid.width()) * grid.height() > maximumCachedPixels)
        return false;

    // The pixels this paint may change, in device coordinates.
    QRegion region(grid);
    const QRegion systemClip = engine->systemClip();
    if (!systemClip.isEmpty())
        region &= systemClip;
    if (painter->hasClipping())
        region &= t.map(painter->clipRegion());
    if (region.isEmpty())
        return true;

    const QPoint origin = grid.topLeft();
    if (!cache.keyed || cache.transform.m11() != t.m11() || cache.transform.m22() != t.m22() ||
        cache.transform.dx() != t.dx() || cache.transform.dy() != t.dy() ||
        cache.format != device.format() || cache.deviceRect != grid) {
        cache = Cache();
        cache.keyed = true;
        cache.transform = t;
        cache.format = device.format();
        cache.deviceRect = grid;
        cache.background = QImage(grid.size(), device.format());
    }

    // Remember what lies under the grid; the pictures are made when the same
    // background comes back, as it does on every repaint of a widget.
    if (!(region - cache.known).isEmpty() ||
        !samePixels(device, cache.background, origin, region)) {
        copyPixels(device, -origin, cache.background, region.translated(-origin), Target::Own);
        cache.known += region;
        cache.rendered -= region;
        return false;
    }

    const QTransform toGrid(t.m11(), 0, 0, t.m22(), t.dx() - origin.x(), t.dy() - origin.y());
    const QPainter::RenderHints hints = painter->renderHints();
    const auto picture = [&](Highlight highlight, int pattern = 0) {
        QImage image = cache.background.copy();
        QPainter p(&image);
        p.setRenderHints(hints);
        p.setTransform(toGrid);
        paintCells(&p, highlight, nullptr, pattern);
        return image;
    };
    if (!(region - cache.rendered).isEmpty()) {
        for (QImage &image : cache.patterns)
            image = QImage();
        cache.unselected = picture(Highlight::None);
        cache.selected = picture(Highlight::All);
        cache.rendered = cache.known;
    }

    // Which columns and rows the selection highlights; a damaged layout whose
    // highlighted cells are not a product of the two is painted the plain way.
    const QRectF selected = selectedRect();
    const bool canHighlight = selection.width() > 0 && selection.height() > 0;
    std::vector<char> columnSelected(columnCount, 0), rowSelected(rowCount, 0);
    if (canHighlight) {
        for (int i = 0; i < cells.size(); ++i) {
            if (cells[i].intersects(selected)) {
                columnSelected[i % columnCount] = 1;
                rowSelected[i / columnCount] = 1;
            }
        }
        for (int i = 0; i < cells.size(); ++i) {
            const bool expected = columnSelected[i % columnCount] && rowSelected[i / columnCount];
            if (cells[i].intersects(selected) != expected)
                return false;
        }
    }
    Spans selectedColumns, otherColumns, selectedRows, otherRows;
    for (int c = 0; c < columnCount; ++c)
        (columnSelected[c] ? selectedColumns : otherColumns).push_back(columns[c]);
    for (int r = 0; r < rowCount; ++r)
        (rowSelected[r] ? selectedRows : otherRows).push_back(rows[r]);
    const Spans xs = merged(selectedColumns), xu = merged(otherColumns);
    const Spans ys = merged(selectedRows), yu = merged(otherRows);

    // Pixels only selected cells reach come from one picture, pixels only
    // unselected cells reach from the other; where both kinds reach, the cells
    // are painted in their order over the background.
    const QRegion reachedBySelected = product(xs, ys);
    const QRegion shared = product(intersected(xs, xu), ys) + product(xs, intersected(ys, yu));
    copyPixels(cache.unselected, origin, device, region - reachedBySelected, Target::Device);
    copyPixels(cache.selected, origin, device, (region & reachedBySelected) - shared,
               Target::Device);
    QRegion mixed = region & shared;
    if (mixed.isEmpty())
        return true;

    // A shared pixel reached by at most two neighbouring columns and rows
    // comes from the pattern picture that gives those cells their state.
    if (qint64(grid.width()) * grid.height() <= maximumPatternPixels) {
        const QRect bounds = mixed.boundingRect();
        const auto pieces = [](const Spans &spans, int from, int to) {
            std::vector<int> cuts{from, to + 1};
            for (const auto &s : spans) {
                if (s.first > from && s.first <= to)
                    cuts.push_back(s.first);
                if (s.second > from && s.second <= to)
                    cuts.push_back(s.second);
            }
            std::sort(cuts.begin(), cuts.end());
            cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
            // Each piece with the first and last index covering it; -1 for none,
            // -2 for more than two neighbours.
            std::vector<std::pair<std::pair<int, int>, std::pair<int, int>>> out;
            for (size_t i = 0; i + 1 < cuts.size(); ++i) {
                int first = -1, last = -1, count = 0;
                for (int k = 0; k < int(spans.size()); ++k) {
                    if (spans[k].first <= cuts[i] && cuts[i + 1] <= spans[k].second) {
                        if (first < 0)
                            first = k;
                        last = k;
                        ++count;
                    }
                }
                if (count > 2 || (count == 2 && last != first + 1))
                    first = last = -2;
                out.push_back({{cuts[i], cuts[i + 1]}, {first, last}});
            }
            return out;
        };
        const auto xPieces = pieces(columns, bounds.left(), bounds.right());
        const auto yPieces = pieces(rows, bounds.top(), bounds.bottom());
        QRegion painted;
        for (const auto &y : yPieces) {
            for (const auto &x : xPieces) {
                const QRegion tile = mixed & QRect(QPoint(x.first.first, y.first.first),
                                                   QPoint(x.first.second - 1, y.first.second - 1));
                if (tile.isEmpty())
                    continue;
                if (x.second.first == -2 || y.second.first == -2) {
                    painted += tile;
                    continue;
                }
                int pattern = 0;
                for (int c = x.second.first; c >= 0 && c <= x.second.second; ++c) {
                    for (int r = y.second.first; r >= 0 && r <= y.second.second; ++r) {
                        if (columnSelected[c] && rowSelected[r])
                            pattern |= 1 << ((c & 1) + 2 * (r & 1));
                    }
                }
                const QImage *from = &cache.unselected;
                if (pattern == 15) {
                    from = &cache.selected;
                } else if (pattern != 0) {
                    if (cache.patterns[pattern].isNull())
                        cache.patterns[pattern] = picture(Highlight::Pattern, pattern);
                    from = &cache.patterns[pattern];
                }
                copyPixels(*from, origin, device, tile, Target::Device);
            }
        }
        mixed = painted;
        if (mixed.isEmpty())
            return true;
    }
    if (cache.scratch.isNull())
        cache.scratch = QImage(grid.size(), device.format());
    const QRegion mixedLocal = mixed.translated(-origin);
    copyPixels(cache.background, QPoint(), cache.scratch, mixedLocal, Target::Own);
    // Each cell reaching a shared pixel is painted once, under all of them.
    std::vector<char> reaching(cells.size(), 0);
    for (int r = 0; r < rowCount; ++r) {
        for (int c = 0; c < columnCount; ++c) {
            const QRect footprint(QPoint(columns[c].first, rows[r].first),
                                  QPoint(columns[c].second - 1, rows[r].second - 1));
            reaching[r * columnCount + c] = mixed.intersects(footprint);
        }
    }
    {
        QPainter p(&cache.scratch);
        p.setRenderHints(hints);
        p.setClipRegion(mixedLocal);
        p.setTransform(toGrid);
        paintCells(&p, Highlight::AsSelected, &reaching);
    }
    copyPixels(cache.scratch, origin, device, mixed, Target::Device);
    return true;
}
