#include "cellgrid.h"
#include "dragframe.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

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

} // namespace

class BenchDragFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dragAcross12x12();
};

// A drag sends a move for every pixel; only a change of the covered cells
// should cost a repaint of the grid.
void BenchDragFrame::dragAcross12x12()
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));

    DragFrame frame;
    Util::MarginMetrics_t margins;
    margins.cellWidth = margins.cellHeight = 6;
    frame.cellGrid()->setMarginMetrics(margins);
    frame.setDimensions(QSize(12, 12));
    frame.resize(600, 600);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QCoreApplication::processEvents();

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
    // The grid itself is repainted for selection changes only (and once for the release).
    QVERIFY(counter.full <= changes.count() + 1);
}

QTEST_MAIN(BenchDragFrame)
#include "bench_dragframe.moc"
