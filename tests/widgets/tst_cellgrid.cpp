#include "cellgrid.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

namespace {

QImage render(const CellGrid &grid, QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    grid.paint(&painter);
    painter.end();
    return image;
}

bool untouched(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) != 0)
                return false;
        }
    }
    return true;
}

// Opaque, distinct colours so a pixel tells which rule painted it.
void useTestColours(CellGrid &grid)
{
    grid.setBorderColor(QColor(255, 0, 0));
    grid.setSelectedColor(QColor(0, 255, 0));
    grid.setEmptyFillColor(QColor(0, 0, 255));
}

Util::MarginMetrics_t margins(double gapX, double gapY, double left, double top, double right,
                              double bottom)
{
    Util::MarginMetrics_t m;
    m.cellWidth = gapX;
    m.cellHeight = gapY;
    m.screenLeft = left;
    m.screenTop = top;
    m.screenRight = right;
    m.screenBottom = bottom;
    return m;
}

} // namespace

class TestCellGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout_data();
    void layout();
    void selectionSpansGaps();
    void invalidDimensions_data();
    void invalidDimensions();
    void hairlineBelow150_data();
    void hairlineBelow150();
    void allCellsHighlighting_data();
    void allCellsHighlighting();
    void emptyCellFlags_data();
    void emptyCellFlags();
    void selectionOnly_data();
    void selectionOnly();
    void copyIsIndependent();
    void clippedPaintMatchesFull_data();
    void clippedPaintMatchesFull();
    void repaintMatchesFreshPaint_data();
    void repaintMatchesFreshPaint();
};

void TestCellGrid::layout_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QSize>("dimensions");
    QTest::addColumn<Util::MarginMetrics_t>("margins");
    QTest::addColumn<QList<QRectF>>("expected");

    QTest::newRow("3x2, no margins, row-major")
        << QRect(0, 0, 300, 200) << QSize(3, 2) << Util::MarginMetrics_t()
        << QList<QRectF>{{0, 0, 100, 100},   {100, 0, 100, 100},   {200, 0, 100, 100},
                         {0, 100, 100, 100}, {100, 100, 100, 100}, {200, 100, 100, 100}};

    const double w = (301.0 - 6 - 8) / 3;
    QTest::newRow("301 wide, gaps 4, sides 3")
        << QRect(0, 0, 301, 100) << QSize(3, 1) << margins(4, 0, 3, 0, 3, 0)
        << QList<QRectF>{{3, 0, w, 100}, {3 + w + 4, 0, w, 100}, {3 + 2 * (w + 4), 0, w, 100}};

    QTest::newRow("offset area, all margins")
        << QRect(10, 20, 110, 60) << QSize(2, 2) << margins(10, 4, 5, 6, 5, 10)
        << QList<QRectF>{{15, 26, 45, 20}, {70, 26, 45, 20}, {15, 50, 45, 20}, {70, 50, 45, 20}};
}

void TestCellGrid::layout()
{
    QFETCH(QRect, area);
    QFETCH(QSize, dimensions);
    QFETCH(Util::MarginMetrics_t, margins);
    QFETCH(QList<QRectF>, expected);

    // Dimensions, area and margins in every order must end in the same cache.
    CellGrid a(area, dimensions, QRect());
    a.setMarginMetrics(margins);
    CellGrid b;
    b.setMarginMetrics(margins);
    b.setPaintArea(area);
    b.setDimensions(dimensions);

    for (const CellGrid *grid : {&a, &b}) {
        const QList<QRectF> cells = grid->cells();
        QCOMPARE(cells.size(), expected.size());
        for (int i = 0; i < cells.size(); ++i) {
            QVERIFY2(qFuzzyCompare(cells[i].x() + 1, expected[i].x() + 1) &&
                         qFuzzyCompare(cells[i].y() + 1, expected[i].y() + 1) &&
                         qFuzzyCompare(cells[i].width(), expected[i].width()) &&
                         qFuzzyCompare(cells[i].height(), expected[i].height()),
                     qPrintable(QStringLiteral("cell %1").arg(i)));
        }
    }
}

void TestCellGrid::selectionSpansGaps()
{
    CellGrid grid(QRect(0, 0, 301, 100), QSize(3, 1), QRect());
    grid.setMarginMetrics(margins(4, 0, 3, 0, 3, 0));
    const QList<QRectF> cells = grid.cells();
    const QRectF span = grid.cellRect(QRect(1, 0, 2, 1));
    QCOMPARE(span.left(), cells[1].left());
    QVERIFY(qFuzzyCompare(span.right(), cells[2].right()));
    QVERIFY(qFuzzyCompare(span.width(), 2 * cells[1].width() + 4));
}

void TestCellGrid::invalidDimensions_data()
{
    QTest::addColumn<QSize>("dimensions");
    QTest::newRow("default") << QSize();
    QTest::newRow("no columns") << QSize(0, 4);
    QTest::newRow("no rows") << QSize(4, 0);
    QTest::newRow("negative") << QSize(-3, -2);
    QTest::newRow("101 columns") << QSize(101, 2);
    QTest::newRow("thousands") << QSize(5000, 5000);
}

void TestCellGrid::invalidDimensions()
{
    QFETCH(QSize, dimensions);
    for (const CellGrid::DrawMode mode : {CellGrid::DrawAllCells, CellGrid::DrawSelectionOnly}) {
        CellGrid grid(QRect(0, 0, 200, 200), dimensions, QRect(0, 0, 1, 1));
        grid.setDrawMode(mode);
        grid.setFillEmptyCells(true);
        QVERIFY(grid.cells().isEmpty());
        QVERIFY(grid.cellRect(QRect(0, 0, 1, 1)).isNull());
        QVERIFY(untouched(render(grid, QSize(200, 200))));
    }
    // The largest grid that is still accepted.
    CellGrid big(QRect(0, 0, 200, 200), QSize(100, 100), QRect());
    QCOMPARE(big.cells().size(), 10000);
}

void TestCellGrid::hairlineBelow150_data()
{
    QTest::addColumn<QSize>("area");
    QTest::addColumn<bool>("hairline");
    QTest::newRow("149 wide") << QSize(149, 300) << true;
    QTest::newRow("149 high") << QSize(300, 149) << true;
    QTest::newRow("150 x 150") << QSize(150, 150) << false;
}

void TestCellGrid::hairlineBelow150()
{
    QFETCH(QSize, area);
    QFETCH(bool, hairline);

    CellGrid grid(QRect(QPoint(0, 0), area), QSize(1, 1), QRect());
    useTestColours(grid);
    grid.setRadius(0);
    grid.setBorderWidth(6);
    const QImage image = render(grid, area + QSize(10, 10));

    // Count the painted pixels across the left border, half way down.
    const int y = area.height() / 2;
    int painted = 0;
    for (int x = 0; x < 20; ++x)
        painted += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    if (hairline)
        QVERIFY2(painted <= 2, qPrintable(QString::number(painted)));
    else
        QVERIFY2(painted >= 3, qPrintable(QString::number(painted)));
}

void TestCellGrid::allCellsHighlighting_data()
{
    QTest::addColumn<QRect>("selection");
    QTest::addColumn<QList<bool>>("highlighted");
    QTest::newRow("null selection")
        << QRect() << QList<bool>{false, false, false, false, false, false};
    QTest::newRow("middle cell only, neighbours touch")
        << QRect(1, 0, 1, 1) << QList<bool>{false, true, false, false, false, false};
    QTest::newRow("two by two") << QRect(1, 0, 2, 2)
                                << QList<bool>{false, true, true, false, true, true};
    QTest::newRow("hanging over the edge")
        << QRect(2, 1, 5, 5) << QList<bool>{false, false, false, false, false, true};
}

void TestCellGrid::allCellsHighlighting()
{
    QFETCH(QRect, selection);
    QFETCH(QList<bool>, highlighted);

    CellGrid grid(QRect(0, 0, 300, 200), QSize(3, 2), selection);
    useTestColours(grid);
    const QImage image = render(grid, QSize(300, 200));
    const QList<QRectF> cells = grid.cells();
    for (int i = 0; i < cells.size(); ++i) {
        const QColor centre = image.pixelColor(cells[i].center().toPoint());
        if (highlighted[i])
            QCOMPARE(centre, QColor(0, 255, 0));
        else
            QCOMPARE(centre.alpha(), 0);
    }
}

void TestCellGrid::emptyCellFlags_data()
{
    QTest::addColumn<bool>("fill");
    QTest::addColumn<bool>("border");
    QTest::addColumn<QColor>("centre");
    QTest::addColumn<QColor>("edge");
    const QColor none(0, 0, 0, 0);
    QTest::newRow("border only") << false << true << none << QColor(255, 0, 0);
    QTest::newRow("fill only") << true << false << QColor(0, 0, 255) << QColor(0, 0, 255);
    QTest::newRow("fill and border") << true << true << QColor(0, 0, 255) << QColor(255, 0, 0);
    QTest::newRow("neither") << false << false << none << none;
}

void TestCellGrid::emptyCellFlags()
{
    QFETCH(bool, fill);
    QFETCH(bool, border);
    QFETCH(QColor, centre);
    QFETCH(QColor, edge);

    CellGrid grid(QRect(0, 0, 200, 200), QSize(2, 2), QRect());
    useTestColours(grid);
    grid.setRadius(0);
    grid.setBorderWidth(4);
    grid.setFillEmptyCells(fill);
    grid.setBorderEmptyCells(border);
    const QImage image = render(grid, QSize(200, 200));
    QCOMPARE(image.pixelColor(50, 50), centre);
    // The left edge of cell (1, 0), inside the 4-pixel pen.
    QCOMPARE(image.pixelColor(100, 50), edge);
}

void TestCellGrid::selectionOnly_data()
{
    QTest::addColumn<QRect>("selection");
    QTest::addColumn<bool>("drawn");
    QTest::newRow("one cell") << QRect(1, 1, 1, 1) << true;
    QTest::newRow("negative left (gap)") << QRect(-1, 0, 1, 1) << false;
    QTest::newRow("negative top") << QRect(0, -1, 1, 1) << false;
    QTest::newRow("zero width") << QRect(0, 0, 0, 1) << false;
    QTest::newRow("zero height") << QRect(0, 0, 1, 0) << false;
    QTest::newRow("null") << QRect() << false;
}

void TestCellGrid::selectionOnly()
{
    QFETCH(QRect, selection);
    QFETCH(bool, drawn);

    CellGrid grid(QRect(0, 0, 300, 300), QSize(3, 3), selection);
    useTestColours(grid);
    grid.setDrawMode(CellGrid::DrawSelectionOnly);
    grid.setFillEmptyCells(true);
    const QImage image = render(grid, QSize(300, 300));
    if (!drawn) {
        QVERIFY(untouched(image));
        return;
    }
    QCOMPARE(image.pixelColor(150, 150), QColor(0, 255, 0));
    // Only the selection: the other cells are not even outlined.
    QCOMPARE(image.pixelColor(50, 50).alpha(), 0);
    QCOMPARE(image.pixelColor(0, 150).alpha(), 0);
}

void TestCellGrid::copyIsIndependent()
{
    CellGrid a(QRect(0, 0, 100, 100), QSize(2, 2), QRect(0, 0, 1, 1));
    CellGrid b(a);
    b.setDimensions(QSize(4, 4));
    b.setSelection(QRect(1, 1, 1, 1));
    QCOMPARE(a.cells().size(), 4);
    QCOMPARE(a.selection(), QRect(0, 0, 1, 1));
    a = b;
    QCOMPARE(a.cells().size(), 16);
}

void TestCellGrid::clippedPaintMatchesFull_data()
{
    QTest::addColumn<QRect>("clip");
    QTest::newRow("inside one cell") << QRect(120, 20, 30, 30);
    QTest::newRow("across a gap and borders") << QRect(85, 85, 40, 40);
    QTest::newRow("just beside a cell's outline") << QRect(101, 0, 3, 300);
}

// A partial repaint skips the cells outside the clip; what it does paint must
// be exactly what a whole repaint puts there.
void TestCellGrid::clippedPaintMatchesFull()
{
    QFETCH(QRect, clip);
    CellGrid grid(QRect(0, 0, 300, 300), QSize(3, 3), QRect(1, 1, 1, 1));
    Util::MarginMetrics_t m = margins(6, 6, 2, 2, 2, 2);
    grid.setMarginMetrics(m);
    grid.setBorderWidth(3);
    grid.setFillEmptyCells(true);
    useTestColours(grid);
    const QImage full = render(grid, QSize(300, 300));

    QImage partial(300, 300, QImage::Format_ARGB32);
    partial.fill(Qt::transparent);
    {
        QPainter painter(&partial);
        painter.setClipRect(clip);
        grid.paint(&painter);
    }
    for (int y = clip.top(); y <= clip.bottom(); ++y) {
        for (int x = clip.left(); x <= clip.right(); ++x)
            QCOMPARE(partial.pixel(x, y), full.pixel(x, y));
    }
}

namespace {

// What a widget repaint hands the grid: the same background every time,
// opaque and uneven, so that a picture pasted at the wrong place or over the
// wrong background shows.
QImage background(QSize size, qreal ratio, int shade)
{
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(shade, 90, 30));
    gradient.setColorAt(1, QColor(20, 60, 255 - shade));
    painter.fillRect(QRect(QPoint(0, 0), size), gradient);
    return image;
}

QImage repaint(const CellGrid &grid, const QImage &under, const QRect &clip = QRect())
{
    QImage image = under.copy();
    QPainter painter(&image);
    if (clip.isValid())
        painter.setClipRect(clip);
    grid.paint(&painter);
    painter.end();
    return image;
}

enum Change
{
    NoChange,
    PaintArea,
    Dimensions,
    Margins,
    BorderColour,
    SelectedColour,
    EmptyColour,
    BorderWidth,
    Radius,
    FillEmpty,
    BorderEmpty,
    PixelRatio,
    Background
};

} // namespace

void TestCellGrid::repaintMatchesFreshPaint_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<double>("gap");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QSize>("size");
    const QSize panel(260, 200);

    // No gap: neighbouring cells share pixels, which the pictures cannot give.
    QTest::newRow("selection only, no gap") << int(NoChange) << 0.0 << qreal(1) << panel;
    QTest::newRow("selection only, wide gap") << int(NoChange) << 12.0 << qreal(1) << panel;
    QTest::newRow("selection only, 1.5x") << int(NoChange) << 3.0 << qreal(1.5) << panel;
    QTest::newRow("paint area") << int(PaintArea) << 0.0 << qreal(1) << panel;
    QTest::newRow("dimensions") << int(Dimensions) << 4.0 << qreal(1) << panel;
    QTest::newRow("margins") << int(Margins) << 0.0 << qreal(1) << panel;
    QTest::newRow("border colour") << int(BorderColour) << 4.0 << qreal(1) << panel;
    QTest::newRow("selected colour") << int(SelectedColour) << 0.0 << qreal(1) << panel;
    QTest::newRow("empty cell colour") << int(EmptyColour) << 4.0 << qreal(1) << panel;
    QTest::newRow("border width") << int(BorderWidth) << 4.0 << qreal(1) << panel;
    QTest::newRow("radius") << int(Radius) << 0.0 << qreal(1) << panel;
    QTest::newRow("fill empty cells") << int(FillEmpty) << 4.0 << qreal(1) << panel;
    QTest::newRow("border empty cells") << int(BorderEmpty) << 4.0 << qreal(1) << panel;
    QTest::newRow("device pixel ratio") << int(PixelRatio) << 4.0 << qreal(1) << panel;
    QTest::newRow("background") << int(Background) << 4.0 << qreal(2) << panel;
    // Too big for the pictures of every other cell selected: shared pixels are painted.
    QTest::newRow("large, no gap") << int(NoChange) << 0.0 << qreal(1) << QSize(1100, 800);
    // A damaged store's negative gap: three cells reach the same pixels.
    QTest::newRow("overlapping cells") << int(NoChange) << -40.0 << qreal(1) << panel;
}

// A grid repainted again and again must put down exactly what a fresh copy of
// it paints once, over every selection and after every setting that changes
// how its cells look.
void TestCellGrid::repaintMatchesFreshPaint()
{
    QFETCH(int, change);
    QFETCH(double, gap);
    QFETCH(qreal, ratio);
    QFETCH(QSize, size);

    CellGrid grid(QRect(5, 3, size.width() - 10, size.height() - 10), QSize(5, 4), QRect());
    grid.setMarginMetrics(margins(gap, gap, 4, 4, 4, 4));
    grid.setBorderWidth(2);
    grid.setRadius(5);
    grid.setFillEmptyCells(true);
    QImage under = background(size, ratio, 200);

    const QList<QRect> selections = {QRect(1, 1, 2, 2), QRect(0, 0, 1, 1), QRect(4, 3, 1, 1),
                                     QRect(0, 0, 5, 4), QRect(),           QRect(2, 0, 1, 4),
                                     QRect(1, 2, 4, 1)};
    const auto checkSelections = [&](const char *when) {
        for (const QRect &selection : selections) {
            grid.setSelection(selection);
            // Twice: the first paint of a new background only learns it.
            for (int pass = 0; pass < 2; ++pass) {
                const CellGrid fresh(grid);
                const QImage expected = repaint(fresh, under);
                if (repaint(grid, under) != expected) {
                    QFAIL(qPrintable(QStringLiteral("%1, selection %2,%3 %4x%5, pass %6")
                                         .arg(QLatin1String(when))
                                         .arg(selection.x())
                                         .arg(selection.y())
                                         .arg(selection.width())
                                         .arg(selection.height())
                                         .arg(pass)));
                }
            }
        }
        // A partial repaint over the same background matches the whole one there.
        grid.setSelection(QRect(1, 1, 3, 2));
        const QImage whole = repaint(CellGrid(grid), under);
        const QRect clip(40, 30, 90, 70);
        const QImage part = repaint(grid, under, clip);
        const qreal scale = under.devicePixelRatio();
        const QRect pixels(clip.topLeft() * scale, clip.size() * scale);
        QCOMPARE(part.copy(pixels), whole.copy(pixels));
    };

    checkSelections("before the change");
    if (QTest::currentTestFailed())
        return;
    switch (Change(change)) {
    case NoChange:
        break;
    case PaintArea:
        grid.setPaintArea(QRect(0, 0, 240, 200));
        break;
    case Dimensions:
        grid.setDimensions(QSize(5, 5));
        break;
    case Margins:
        grid.setMarginMetrics(margins(7, 2, 10, 0, 3, 8));
        break;
    case BorderColour:
        grid.setBorderColor(QColor(10, 250, 10, 200));
        break;
    case SelectedColour:
        grid.setSelectedColor(QColor(250, 250, 0, 40));
        break;
    case EmptyColour:
        grid.setEmptyFillColor(QColor(0, 0, 0, 90));
        break;
    case BorderWidth:
        grid.setBorderWidth(5);
        break;
    case Radius:
        grid.setRadius(15);
        break;
    case FillEmpty:
        grid.setFillEmptyCells(false);
        break;
    case BorderEmpty:
        grid.setBorderEmptyCells(false);
        break;
    case PixelRatio:
        under = background(size, 1.5, 200);
        break;
    case Background:
        under = background(size, ratio, 40);
        break;
    }
    checkSelections("after the change");
}

QTEST_GUILESS_MAIN(TestCellGrid)
#include "tst_cellgrid.moc"
