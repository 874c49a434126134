#include "cellgrid.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

template <typename F> double medianMicroseconds(int runs, F &&work)
{
    std::vector<double> samples;
    samples.reserve(runs);
    QElapsedTimer timer;
    for (int i = 0; i < runs; ++i) {
        timer.start();
        work();
        samples.push_back(timer.nsecsElapsed() / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

class BenchCellGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void figures();
    void paintAllCells4k();
    void setDimensions20x20();
};

namespace {

double medianPaint(QSize imageSize, QSize dimensions)
{
    QImage image(imageSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    CellGrid grid(image.rect(), dimensions, QRect(4, 3, 6, 5));
    grid.setRadius(6);
    grid.setBorderWidth(2);
    QPainter painter(&image);
    return medianMicroseconds(51, [&] { grid.paint(&painter); });
}

// What a panel repaint costs once the selection changed: the background is put
// back untimed, as the window system does before the frame paints, and the
// selection moves to the next of a few on every paint. A fresh copy of the
// grid paints as a grid without cached pictures does.
double medianSelectionRepaint(CellGrid &grid, QSize imageSize, bool fresh)
{
    QImage background(imageSize, QImage::Format_ARGB32_Premultiplied);
    background.fill(QColor(239, 239, 239));
    QImage image = background.copy();
    const QRect selections[] = {QRect(0, 0, 1, 1), QRect(1, 1, 2, 2), QRect(2, 0, 1, 3),
                                QRect(0, 2, 3, 1), QRect(1, 0, 2, 1)};
    int next = 0;
    QElapsedTimer timer;
    std::vector<double> samples;
    for (int i = 0; i < 101; ++i) {
        std::memcpy(image.bits(), background.constBits(), background.sizeInBytes());
        grid.setSelection(selections[next++ % 5]);
        QPainter painter(&image);
        timer.start();
        if (fresh)
            CellGrid(grid).paint(&painter);
        else
            grid.paint(&painter);
        samples.push_back(timer.nsecsElapsed() / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

void printSelectionRepaint(const char *what, CellGrid &grid, QSize imageSize, double target)
{
    const double before = medianSelectionRepaint(grid, imageSize, true);
    const double after = medianSelectionRepaint(grid, imageSize, false);
    qInfo("CellGrid repaint after a selection change, %s: median %.1f us, %.1f us painting every "
          "cell (target < %.0f us)",
          what, after, before, target);
}

} // namespace

// The medians, printed once; QBENCHMARK below repeats its body, so it cannot print.
void BenchCellGrid::figures()
{
    qInfo("CellGrid::paint, 20 x 20, DrawAllCells, 3840 x 2160: median %.1f us (for information)",
          medianPaint(QSize(3840, 2160), QSize(20, 20)));
    qInfo("CellGrid::paint, 20 x 20, DrawAllCells, 800 x 800 (a large panel): median %.1f us",
          medianPaint(QSize(800, 800), QSize(20, 20)));
    qInfo("CellGrid::paint, 6 x 6, DrawAllCells, 400 x 400 (the default panel): median %.1f us",
          medianPaint(QSize(400, 400), QSize(6, 6)));

    {
        CellGrid grid(QRect(0, 0, 400, 400), QSize(6, 6), QRect());
        grid.setRadius(6);
        grid.setBorderWidth(2);
        printSelectionRepaint("6 x 6, 400 x 400, no gaps", grid, QSize(400, 400), 500);
    }
    {
        // The panel's own look at 96 DPI, and subdivided at 144 DPI.
        CellGrid grid(QRect(0, 0, 400, 400), QSize(6, 6), QRect());
        grid.setMarginMetrics({3, 3, 3, 3, 3, 3});
        printSelectionRepaint("6 x 6, 400 x 400, the panel at 96 DPI", grid, QSize(400, 400), 500);
        grid.setPaintArea(QRect(0, 0, 600, 600));
        grid.setDimensions(QSize(12, 12));
        grid.setMarginMetrics({4.5, 4.5, 4.5, 4.5, 4.5, 4.5});
        grid.setBorderWidth(1.5);
        grid.setRadius(3);
        printSelectionRepaint("12 x 12, 600 x 600, the subdivided panel at 144 DPI", grid,
                              QSize(600, 600), 500);
    }
    {
        CellGrid grid(QRect(0, 0, 800, 800), QSize(20, 20), QRect());
        grid.setRadius(6);
        grid.setBorderWidth(2);
        printSelectionRepaint("20 x 20, 800 x 800, no gaps", grid, QSize(800, 800), 2000);
    }

    CellGrid grid(QRect(0, 0, 3840, 2160), QSize(6, 6), QRect());
    bool flip = false;
    const double median = medianMicroseconds(1001, [&] {
        // Alternate so every call really changes the layout.
        grid.setDimensions(flip ? QSize(20, 20) : QSize(20, 19));
        flip = !flip;
    });
    qInfo("CellGrid::setDimensions + rebuild, 20 x 20: median %.2f us (target < 50 us)", median);
}

// A 4K panel with the biggest grid anyone sets by hand.
void BenchCellGrid::paintAllCells4k()
{
    QImage image(3840, 2160, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    CellGrid grid(image.rect(), QSize(20, 20), QRect(4, 3, 6, 5));
    grid.setRadius(6);
    grid.setBorderWidth(2);
    QPainter painter(&image);
    QBENCHMARK
    {
        grid.paint(&painter);
    }
}

void BenchCellGrid::setDimensions20x20()
{
    CellGrid grid(QRect(0, 0, 3840, 2160), QSize(6, 6), QRect());
    QBENCHMARK
    {
        grid.setDimensions(QSize(20, 20));
    }
}

QTEST_GUILESS_MAIN(BenchCellGrid)
#include "bench_cellgrid.moc"
