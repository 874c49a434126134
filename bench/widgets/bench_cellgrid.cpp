#include "cellgrid.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QtTest>

#include <algorithm>
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

} // namespace

// The medians, printed once; QBENCHMARK below repeats its body, so it cannot print.
void BenchCellGrid::figures()
{
    qInfo("CellGrid::paint, 20 x 20, DrawAllCells, 3840 x 2160: median %.1f us (target < 1000 us)",
          medianPaint(QSize(3840, 2160), QSize(20, 20)));
    qInfo("CellGrid::paint, 20 x 20, DrawAllCells, 800 x 800 (a large panel): median %.1f us",
          medianPaint(QSize(800, 800), QSize(20, 20)));
    qInfo("CellGrid::paint, 6 x 6, DrawAllCells, 400 x 400 (the default panel): median %.1f us",
          medianPaint(QSize(400, 400), QSize(6, 6)));

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
