#include "cellgrid.h"
#include "commonbehavior.h"
#include "dragframe.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <vector>

namespace {

// Tells whole repaints of the grid from the partial ones the moving rubber band causes.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *watched) : m_watched(watched) {}
    int full = 0;
    int partial = 0;
    qint64 partialPixels = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        const QRegion region = static_cast<QPaintEvent *>(event)->region();
        if (region == QRegion(m_watched->rect())) {
            ++full;
        } else {
            ++partial;
            for (const QRect &r : region)
                partialPixels += qint64(r.width()) * r.height();
        }
        return false;
    }

private:
    QWidget *m_watched;
};

// Times the frame's own painting apart from the toolkit's work around it.
class TimedFrame : public DragFrame
{
public:
    qint64 paintNanoseconds = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QElapsedTimer timer;
        timer.start();
        DragFrame::paintEvent(event);
        paintNanoseconds += timer.nsecsElapsed();
    }
};

} // namespace

class BenchDragFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dragAcross12x12();
    void previewFollowsSelection();
};

// A drag sends a move for every pixel; only a change of the covered cells
// should cost a repaint of the grid.
void BenchDragFrame::dragAcross12x12()
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));

    TimedFrame frame;
    Util::MarginMetrics_t margins;
    margins.cellWidth = margins.cellHeight = 6;
    frame.cellGrid()->setMarginMetrics(margins);
    frame.setDimensions(QSize(12, 12));
    frame.resize(600, 600);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QCoreApplication::processEvents();

    frame.paintNanoseconds = 0;
    PaintCounter counter(&frame);
    frame.installEventFilter(&counter);
    QSignalSpy changes(&frame, &DragFrame::selectionChanged);

    QElapsedTimer timer;
    timer.start();
    int moves = 0;
    QTest::mousePress(&frame, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    for (int i = 6; i < 595; ++i) {
        QTest::mouseMove(&frame, QPoint(i, i));
        QCoreApplication::processEvents();
        ++moves;
    }
    QTest::mouseRelease(&frame, Qt::LeftButton, Qt::NoModifier, QPoint(594, 594));
    const qint64 elapsed = timer.elapsed();

    qInfo("DragFrame, 12 x 12 grid, 600 x 600, diagonal drag: %d moves, %d selection changes, "
          "%d whole repaints of the grid, %d partial repaints under the rubber band (%.0f pixels "
          "on average), %.1f ms per move",
          moves, int(changes.count()), counter.full, counter.partial,
          counter.partial ? double(counter.partialPixels) / counter.partial : 0.0,
          double(elapsed) / moves);
    qInfo("DragFrame, 12 x 12 diagonal drag: %.3f ms per move in the frame's paint events "
          "(target < 1 ms)",
          frame.paintNanoseconds / 1e6 / moves);
    // The grid itself is repainted for selection changes only (and once for the release).
    QVERIFY(counter.full <= changes.count() + 1);
}

// The preview over a 1920 x 1080 work area: a translucent frame that draws the
// selection only, told margins, dimensions and selection for every change.
void BenchDragFrame::previewFollowsSelection()
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));

    DragFrame preview(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                   Qt::WindowDoesNotAcceptFocus);
    preview.setAttribute(Qt::WA_TranslucentBackground);
    preview.setDraggable(false);
    preview.setFollowMouse(false);
    CellGrid *grid = preview.cellGrid();
    CommonBehavior::stylePreviewGrid(grid);
    preview.setGeometry(0, 0, 1920, 1080);
    preview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&preview));
    QCoreApplication::processEvents();

    Util::MarginMetrics_t margins;
    margins.cellWidth = margins.cellHeight = 10;
    const QRect selections[] = {QRect(0, 0, 1, 1), QRect(0, 0, 2, 1), QRect(1, 1, 2, 2),
                                QRect(2, 0, 1, 3), QRect(3, 3, 3, 3)};
    std::vector<double> samples;
    QElapsedTimer timer;
    for (int i = 0; i < 101; ++i) {
        timer.start();
        grid->setMarginMetrics(margins);
        preview.setDimensions(QSize(6, 6));
        preview.setSelection(selections[i % 5]);
        QCoreApplication::processEvents();
        samples.push_back(timer.nsecsElapsed() / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    qInfo("DragFrame preview, 1920 x 1080, selection only: median %.1f us per selection change "
          "(target < 2000 us)",
          samples[samples.size() / 2]);
}

QTEST_MAIN(BenchDragFrame)
#include "bench_dragframe.moc"
