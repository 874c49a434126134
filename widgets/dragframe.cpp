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

} // namespace

struct DragFrame::Private
{
    std::unique_ptr<CellGrid> grid;
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
    update();
}

void DragFrame::setSelection(QRect selection)
{
    d->grid->setSelection(selection);
    update();
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
    if (event->region() != QRegion(rect()))
        painter.setClipRegion(event->region());
    d->grid->paint(&painter);
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

void DragFrame::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    d->grid->setPaintArea(QRect(QPoint(0, 0), event->size()));
    update();
}
