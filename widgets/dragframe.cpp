#include "dragframe.h"

#include "cellgrid.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QRubberBand>
#include <QSettings>
#include <QShortcut>

namespace {

const QSize fallbackGridSize(6, 6);

// The store is read directly: the library links nothing of the program. A
// hand-edited or damaged file must not take the widget down with it.
bool toBool(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    const QString text = value.toString().trimmed().toLower();
    return text == QLatin1String("true") || text == QLatin1String("1");
}

QSize toSize(const QVariant &value)
{
    if (value.typeId() == QMetaType::QSize)
        return value.toSize();
    // A size typed by hand: "6x6" or "6 6" arrive as text, "6, 6" as a list.
    QString text = value.toString();
    if (value.typeId() == QMetaType::QStringList)
        text = value.toStringList().join(QLatin1Char(','));
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(-?\\d+)\\s*[x, ]\\s*(-?\\d+)\\s*$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (m.hasMatch()) {
        bool okW = false, okH = false;
        const QSize size(m.captured(1).toInt(&okW), m.captured(2).toInt(&okH));
        if (okW && okH)
            return size;
    }
    return fallbackGridSize;
}

QSize initialGridSize()
{
    const QSettings settings(QStringLiteral("Orrith LLC"), QStringLiteral("Varlo"));
    const bool reset = toBool(settings.value(QStringLiteral("grid/reset")));
    return toSize(
        settings.value(reset ? QStringLiteral("grid/reset_size") : QStringLiteral("grid/size")));
}

bool sameMargins(const Util::MarginMetrics_t &a, const Util::MarginMetrics_t &b)
{
    return a.cellWidth == b.cellWidth && a.cellHeight == b.cellHeight &&
           a.screenLeft == b.screenLeft && a.screenTop == b.screenTop &&
           a.screenRight == b.screenRight && a.screenBottom == b.screenBottom;
}

// Everything but the selection that decides the grid's pixels.
bool sameLook(const CellGrid &a, const CellGrid &b)
{
    return a.drawMode() == b.drawMode() && a.dimensions() == b.dimensions() &&
           a.paintArea() == b.paintArea() && sameMargins(a.marginMetrics(), b.marginMetrics()) &&
           a.radius() == b.radius() && a.borderWidth() == b.borderWidth() &&
           a.borderColor() == b.borderColor() && a.selectedColor() == b.selectedColor() &&
           a.emptyFillColor() == b.emptyFillColor() && a.fillEmptyCells() == b.fillEmptyCells() &&
           a.borderEmptyCells() == b.borderEmptyCells();
}

// The pixels the selection's highlight can reach: the highlighted cells with
// their border, half the pen past it and the antialiased fringe.
QRect highlightReach(const CellGrid &grid, const QRect &selection)
{
    if (selection.width() <= 0 || selection.height() <= 0)
        return QRect();
    const QRectF selected = grid.cellRect(selection);
    QRectF reached;
    if (grid.drawMode() == CellGrid::DrawSelectionOnly) {
        if (selection.left() < 0 || selection.top() < 0)
            return QRect();
        reached = selected.normalized();
    } else {
        for (const QRectF &cell : grid.cells()) {
            if (cell.intersects(selected))
                reached |= cell.normalized();
        }
    }
    if (reached.isNull())
        return QRect();
    const double reach = qMax(1.0, grid.borderWidth()) + 2.0;
    return reached.adjusted(-reach, -reach, reach, reach).toAlignedRect();
}

} // namespace

struct DragFrame::Private
{
    std::unique_ptr<CellGrid> grid;
    // The grid as last painted: while only its selection differs, a selection
    // change repaints just the cells it touches.
    CellGrid painted;
    QPoint start;
    QPoint current;
    bool dragging = false;
    QRubberBand *rubberBand = nullptr;
    QRect selection;
    bool resetOnMouseup = true;
    bool draggable = true;
    bool followMouse = true;
    bool resetOnMouseLeave = true;
};

DragFrame::DragFrame(QWidget *parent, Qt::WindowFlags f)
    : QFrame(parent, f), d(std::make_unique<Private>())
{
    d->grid = std::make_unique<CellGrid>(QRect(), initialGridSize(), QRect());
    d->rubberBand = new QRubberBand(QRubberBand::Rectangle, this);
    setMouseTracking(true);

    const struct
    {
        const char *keys;
        void (DragFrame::*signal)();
    } shortcuts[] = {
        {"Shift+Alt+=", &DragFrame::addRowShortcut},
        {"Alt+=", &DragFrame::addColShortcut},
        {"Shift+Alt+-", &DragFrame::subRowShortcut},
        {"Alt+-", &DragFrame::subColShortcut},
    };
    for (const auto &s : shortcuts) {
        auto *shortcut = new QShortcut(QKeySequence(QString::fromLatin1(s.keys)), this);
        connect(shortcut, &QShortcut::activated, this, s.signal);
    }

    connect(this, &DragFrame::selectionChanged, this, &DragFrame::setSelection);
    resetRubberBand();
}

DragFrame::~DragFrame() = default;

CellGrid *DragFrame::cellGrid()
{
    return d->grid.get();
}
QSize DragFrame::dimensions() const
{
    return d->grid->dimensions();
}
bool DragFrame::dragging() const
{
    return d->dragging;
}
bool DragFrame::followMouse() const
{
    return d->followMouse;
}
bool DragFrame::resetOnMouseup() const
{
    return d->resetOnMouseup;
}
bool DragFrame::resetOnMouseLeave() const
{
    return d->resetOnMouseLeave;
}

void DragFrame::clearSelection()
{
    d->start = QPoint(0, 0);
    d->current = QPoint(0, 0);
    d->selection = QRect();
    d->grid->setSelection(QRect());
}

void DragFrame::resetRubberBand()
{
    d->dragging = false;
    d->rubberBand->setGeometry(0, 0, 0, 0);
    d->rubberBand->hide();
    update();
}

void DragFrame::setDraggable(bool draggable)
{
    d->draggable = draggable;
}
void DragFrame::setResetOnMouseup(bool reset)
{
    d->resetOnMouseup = reset;
}
void DragFrame::setFollowMouse(bool follow)
{
    d->followMouse = follow;
}
void DragFrame::setResetOnMouseLeave(bool reset)
{
    d->resetOnMouseLeave = reset;
}

void DragFrame::setDimensions(QSize size)
{
    d->grid->setDimensions(size);
    if (d->followMouse)
        updateSelection();
    if (!sameLook(*d->grid, d->painted))
        update();
}

void DragFrame::setSelection(QRect selection)
{
    const QRect before = d->grid->selection();
    d->grid->setSelection(selection);
    if (!sameLook(*d->grid, d->painted)) {
        update();
        return;
    }
    if (selection == before)
        return;
    update(QRegion(highlightReach(*d->grid, before)) + highlightReach(*d->grid, selection));
}

QRect DragFrame::calcSelectionPixels() const
{
    return QRect(qMin(d->start.x(), d->current.x()), qMin(d->start.y(), d->current.y()),
                 qMax(d->rubberBand->width(), 1), qMax(d->rubberBand->height(), 1));
}

QRect DragFrame::calcSelectionCells() const
{
    const QRectF pixels(calcSelectionPixels());
    const QList<QRectF> cells = d->grid->cells();
    int first = -1;
    int last = -1;
    for (int i = 0; i < cells.size(); ++i) {
        if (cells[i].intersects(pixels)) {
            if (first < 0)
                first = i;
            else
                last = i;
        }
    }
    const int cols = d->grid->dimensions().width();
    // Without a usable grid there are no cells to hit, and no column count to divide by.
    if (first < 0 || cols <= 0)
        return cols == 1 ? QRect(0, -1, 1, 1) : QRect(-1, 0, 1, 1);
    if (last < 0)
        last = first;
    const QPoint topLeft(first % cols, first / cols);
    const QPoint bottomRight(last % cols, last / cols);
    QRect result(topLeft, bottomRight);
    result.setWidth(qMax(result.width(), 1));
    result.setHeight(qMax(result.height(), 1));
    return result;
}

void DragFrame::updateSelection()
{
    d->rubberBand->setGeometry(QRect(d->start, d->current).normalized());
    const QRect cells = calcSelectionCells();
    if (cells != d->selection) {
        d->selection = cells;
        Q_EMIT selectionChanged(cells);
    }
}

void DragFrame::paintEvent(QPaintEvent *event)
{
    if (event->rect().isNull()) {
        QWidget::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const bool whole = event->region() == QRegion(rect());
    if (!whole)
        painter.setClipRegion(event->region());
    d->grid->paint(&painter);
    if (whole)
        d->painted = *d->grid;
}

void DragFrame::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (d->draggable) {
        d->dragging = true;
        d->start = d->current = event->position().toPoint();
        d->rubberBand->setGeometry(QRect(d->start, QSize(1, 1)));
        d->rubberBand->show();
    }
    Q_EMIT clicked();
}

void DragFrame::mouseMoveEvent(QMouseEvent *event)
{
    if (!d->draggable)
        return;
    d->current = event->position().toPoint();
    if (!d->dragging)
        d->start = d->current;
    if (d->dragging || d->followMouse)
        updateSelection();
}

void DragFrame::mouseReleaseEvent(QMouseEvent *event)
{
    if ((d->draggable && event->button() != Qt::LeftButton) || !d->dragging)
        return;
    const QRect cells = calcSelectionCells();
    const QSize dims = dimensions();
    if (d->resetOnMouseup)
        clearSelection();
    resetRubberBand();
    if (cells.x() >= 0 && cells.y() >= 0)
        Q_EMIT resizeWindow(dims, cells);
}

void DragFrame::leaveEvent(QEvent *event)
{
    QFrame::leaveEvent(event);
    if (d->dragging || !d->resetOnMouseLeave)
        return;
    clearSelection();
    resetRubberBand();
    update();
    Q_EMIT selectionChanged(QRect());
}

void DragFrame::hideEvent(QHideEvent *event)
{
    // Out of sight the grid's repaint pictures are only memory.
    d->grid->releasePictures();
    QFrame::hideEvent(event);
}

void DragFrame::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    d->grid->setPaintArea(QRect(QPoint(0, 0), event->size()));
    update();
}
