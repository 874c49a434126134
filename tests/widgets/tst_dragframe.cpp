#include "cellgrid.h"
#include "dragframe.h"

#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(QList<QRect>)

namespace {

// 300 x 200 with 10-pixel screen margins and 20-pixel gaps: cells of 80 x 80,
// columns at x 10..90, 110..190, 210..290, rows at y 10..90, 110..190.
void layOut(DragFrame &frame, QSize dimensions = QSize(3, 2))
{
    Util::MarginMetrics_t m;
    m.cellWidth = m.cellHeight = 20;
    m.screenLeft = m.screenTop = m.screenRight = m.screenBottom = 10;
    frame.cellGrid()->setMarginMetrics(m);
    frame.setDimensions(dimensions);
    frame.resize(300, 200);
    frame.move(50, 50);
    frame.show();
}

QList<QRect> selections(const QSignalSpy &spy)
{
    QList<QRect> result;
    for (const QList<QVariant> &args : spy)
        result.append(args.at(0).toRect());
    return result;
}

void writeSettings(const QVariantMap &values)
{
    QSettings settings(QStringLiteral("Orrith LLC"), QStringLiteral("Varlo"));
    settings.clear();
    for (auto it = values.begin(); it != values.end(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
}

} // namespace

class TestDragFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void hover_data();
    void hover();
    void drag_data();
    void drag();
    void keepSelectionAfterRelease();
    void notDraggable();
    void leave_data();
    void leave();
    void setDimensionsFollowsMouse();
    void keyShortcuts_data();
    void keyShortcuts();
    void initialSizeFromSettings_data();
    void initialSizeFromSettings();
    void unusableDimensions_data();
    void unusableDimensions();
    void rendering();
    void repaintsOnlyWhatChanged_data();
    void repaintsOnlyWhatChanged();

private:
    QTemporaryDir m_config;
};

void TestDragFrame::initTestCase()
{
    QVERIFY(m_config.isValid());
    // Before the first QSettings, so the store lands in the temporary folder.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    writeSettings(
        {{QStringLiteral("grid/size"), QSize(3, 2)}, {QStringLiteral("grid/reset"), false}});
}

void TestDragFrame::hover_data()
{
    QTest::addColumn<bool>("followMouse");
    QTest::addColumn<QList<QRect>>("expected");
    QTest::newRow("follow mouse") << true
                                  << QList<QRect>{
                                         {0, 0, 1, 1}, {1, 0, 1, 1}, {-1, 0, 1, 1}, {2, 1, 1, 1}};
    QTest::newRow("without follow mouse") << false << QList<QRect>{};
}

void TestDragFrame::hover()
{
    QFETCH(bool, followMouse);
    QFETCH(QList<QRect>, expected);

    DragFrame frame;
    frame.setFollowMouse(followMouse);
    layOut(frame);
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QSignalSpy changed(&frame, &DragFrame::selectionChanged);
    QSignalSpy resized(&frame, &DragFrame::resizeWindow);

    // Two moves inside one cell, then the next cell, a gap, a cell of the second row.
    for (const QPoint &p :
         {QPoint(50, 50), QPoint(60, 60), QPoint(150, 50), QPoint(100, 50), QPoint(250, 150)})
        QTest::mouseMove(&frame, p);

    QCOMPARE(selections(changed), expected);
    QCOMPARE(frame.cellGrid()->selection(), expected.isEmpty() ? QRect() : expected.last());
    QVERIFY(!frame.dragging());
    QCOMPARE(resized.count(), 0);
}

void TestDragFrame::drag_data()
{
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<QList<QPoint>>("moves");
    QTest::addColumn<QList<QRect>>("changes");
    QTest::addColumn<QRect>("placed");

    QTest::newRow("down and right")
        << QPoint(50, 50) << QList<QPoint>{{60, 55}, {150, 50}, {250, 150}}
        << QList<QRect>{{0, 0, 2, 1}, {0, 0, 3, 2}} << QRect(0, 0, 3, 2);
    QTest::newRow("up and left") << QPoint(250, 150) << QList<QPoint>{{150, 50}, {50, 50}}
                                 << QList<QRect>{{1, 0, 2, 2}, {0, 0, 3, 2}} << QRect(0, 0, 3, 2);
    QTest::newRow("released over the margin") << QPoint(150, 150) << QList<QPoint>{{295, 195}}
                                              << QList<QRect>{{1, 1, 2, 1}} << QRect(1, 1, 2, 1);
    QTest::newRow("click in a cell")
        << QPoint(150, 150) << QList<QPoint>{} << QList<QRect>{} << QRect(1, 1, 1, 1);
    QTest::newRow("click in a gap")
        << QPoint(100, 50) << QList<QPoint>{} << QList<QRect>{} << QRect();
    QTest::newRow("drag from a gap into a cell") << QPoint(100, 50) << QList<QPoint>{{150, 50}}
                                                 << QList<QRect>{{1, 0, 1, 1}} << QRect(1, 0, 1, 1);
}

void TestDragFrame::drag()
{
    QFETCH(QPoint, press);
    QFETCH(QList<QPoint>, moves);
    QFETCH(QList<QRect>, changes);
    QFETCH(QRect, placed);

    DragFrame frame;
    layOut(frame);
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QTest::mouseMove(&frame, press);

    QSignalSpy changed(&frame, &DragFrame::selectionChanged);
    QSignalSpy resized(&frame, &DragFrame::resizeWindow);
    QSignalSpy clicked(&frame, &DragFrame::clicked);

    QTest::mousePress(&frame, Qt::LeftButton, Qt::NoModifier, press);
    QVERIFY(frame.dragging());
    QPoint last = press;
    for (const QPoint &p : moves) {
        QTest::mouseMove(&frame, p);
        last = p;
    }
    QCOMPARE(selections(changed), changes);
    QTest::mouseRelease(&frame, Qt::LeftButton, Qt::NoModifier, last);

    QCOMPARE(clicked.count(), 1);
    QVERIFY(!frame.dragging());
    if (placed.isNull()) {
        QCOMPARE(resized.count(), 0);
    } else {
        QCOMPARE(resized.count(), 1);
        QCOMPARE(resized.at(0).at(0).toSize(), QSize(3, 2));
        QCOMPARE(resized.at(0).at(1).toRect(), placed);
    }
    // The release clears what was shown without announcing it.
    QCOMPARE(changed.count(), changes.size());
    QCOMPARE(frame.cellGrid()->selection(), QRect());
}

void TestDragFrame::keepSelectionAfterRelease()
{
    DragFrame frame;
    frame.setResetOnMouseup(false);
    layOut(frame);
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QTest::mousePress(&frame, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseMove(&frame, QPoint(150, 150));
    QTest::mouseRelease(&frame, Qt::LeftButton, Qt::NoModifier, QPoint(150, 150));
    QCOMPARE(frame.cellGrid()->selection(), QRect(0, 0, 2, 2));
}

void TestDragFrame::notDraggable()
{
    DragFrame frame;
    frame.setDraggable(false);
    layOut(frame);
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QSignalSpy changed(&frame, &DragFrame::selectionChanged);
    QSignalSpy resized(&frame, &DragFrame::resizeWindow);
    QSignalSpy clicked(&frame, &DragFrame::clicked);

    QTest::mouseMove(&frame, QPoint(50, 50));
    QTest::mousePress(&frame, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseMove(&frame, QPoint(250, 150));
    QTest::mouseRelease(&frame, Qt::LeftButton, Qt::NoModifier, QPoint(250, 150));
    // Other buttons do not even count as clicks.
    QTest::mouseClick(&frame, Qt::RightButton, Qt::NoModifier, QPoint(50, 50));

    QCOMPARE(clicked.count(), 1);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(resized.count(), 0);
    QVERIFY(!frame.dragging());
}

void TestDragFrame::leave_data()
{
    QTest::addColumn<bool>("duringDrag");
    QTest::addColumn<bool>("resetOnLeave");
    QTest::addColumn<bool>("cleared");
    QTest::newRow("hovering") << false << true << true;
    QTest::newRow("hovering, reset on leave off") << false << false << false;
    QTest::newRow("during a drag") << true << true << false;
}

void TestDragFrame::leave()
{
    QFETCH(bool, duringDrag);
    QFETCH(bool, resetOnLeave);
    QFETCH(bool, cleared);

    DragFrame frame;
    frame.setResetOnMouseLeave(resetOnLeave);
    layOut(frame);
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QTest::mouseMove(&frame, QPoint(150, 50));
    if (duringDrag) {
        QTest::mousePress(&frame, Qt::LeftButton, Qt::NoModifier, QPoint(150, 50));
        QTest::mouseMove(&frame, QPoint(250, 150));
    }
    const QRect before = frame.cellGrid()->selection();
    QSignalSpy changed(&frame, &DragFrame::selectionChanged);
    if (duringDrag) {
        // The button is held, so no real pointer crossing is generated; tell the widget directly.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&frame, &leave);
    } else {
        QTest::mouseMove(&frame, QPoint(-40, -40));
    }

    if (cleared) {
        QCOMPARE(selections(changed), QList<QRect>{QRect()});
        QCOMPARE(frame.cellGrid()->selection(), QRect());
    } else {
        QCOMPARE(changed.count(), 0);
        QCOMPARE(frame.cellGrid()->selection(), before);
        QCOMPARE(frame.dragging(), duringDrag);
    }
    if (duringDrag) {
        // The drag goes on and still places the window on release.
        QSignalSpy resized(&frame, &DragFrame::resizeWindow);
        QTest::mouseRelease(&frame, Qt::LeftButton, Qt::NoModifier, QPoint(250, 150));
        QCOMPARE(resized.count(), 1);
    }
}

void TestDragFrame::setDimensionsFollowsMouse()
{
    DragFrame frame;
    layOut(frame);
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QTest::mouseMove(&frame, QPoint(120, 50));
    QCOMPARE(frame.cellGrid()->selection(), QRect(1, 0, 1, 1));

    QSignalSpy changed(&frame, &DragFrame::selectionChanged);
    // Two columns of 130: x = 120 now lies in the first one.
    frame.setDimensions(QSize(2, 2));
    QCOMPARE(frame.dimensions(), QSize(2, 2));
    QCOMPARE(selections(changed), QList<QRect>{QRect(0, 0, 1, 1)});

    frame.setFollowMouse(false);
    frame.setDimensions(QSize(3, 2));
    QCOMPARE(changed.count(), 1);
}

void TestDragFrame::keyShortcuts_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("which");
    QTest::newRow("Shift+Alt+= adds a row")
        << int(Qt::Key_Equal) << int(Qt::ShiftModifier | Qt::AltModifier) << 0;
    QTest::newRow("Alt+= adds a column") << int(Qt::Key_Equal) << int(Qt::AltModifier) << 1;
    QTest::newRow("Shift+Alt+- removes a row")
        << int(Qt::Key_Minus) << int(Qt::ShiftModifier | Qt::AltModifier) << 2;
    QTest::newRow("Alt+- removes a column") << int(Qt::Key_Minus) << int(Qt::AltModifier) << 3;
}

void TestDragFrame::keyShortcuts()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, which);

    DragFrame frame;
    layOut(frame);
    frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&frame));
    QSignalSpy addRow(&frame, &DragFrame::addRowShortcut);
    QSignalSpy addCol(&frame, &DragFrame::addColShortcut);
    QSignalSpy subRow(&frame, &DragFrame::subRowShortcut);
    QSignalSpy subCol(&frame, &DragFrame::subColShortcut);

    QTest::keyClick(&frame, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    const QList<int> counts{int(addRow.count()), int(addCol.count()), int(subRow.count()),
                            int(subCol.count())};
    QList<int> expected{0, 0, 0, 0};
    expected[which] = 1;
    QCOMPARE(counts, expected);
    // The owner changes the grid, not the frame.
    QCOMPARE(frame.dimensions(), QSize(3, 2));
}

void TestDragFrame::initialSizeFromSettings_data()
{
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<QSize>("expected");
    const QString size = QStringLiteral("grid/size");
    const QString reset = QStringLiteral("grid/reset");
    const QString resetSize = QStringLiteral("grid/reset_size");
    QTest::newRow("current size") << QVariantMap{{size, QSize(4, 3)},
                                                 {reset, false},
                                                 {resetSize, QSize(5, 5)}}
                                  << QSize(4, 3);
    QTest::newRow("reset size") << QVariantMap{{size, QSize(4, 3)},
                                               {reset, true},
                                               {resetSize, QSize(5, 5)}}
                                << QSize(5, 5);
    QTest::newRow("typed by hand")
        << QVariantMap{{size, QStringLiteral("7x2")}, {reset, QStringLiteral("false")}}
        << QSize(7, 2);
    QTest::newRow("damaged size") << QVariantMap{{size, QStringLiteral("garbage")}} << QSize(6, 6);
    QTest::newRow("damaged flag and size")
        << QVariantMap{{reset, QStringLiteral("maybe")}, {size, 17}} << QSize(6, 6);
    QTest::newRow("empty store") << QVariantMap{} << QSize(6, 6);
}

void TestDragFrame::initialSizeFromSettings()
{
    QFETCH(QVariantMap, settings);
    QFETCH(QSize, expected);
    writeSettings(settings);
    DragFrame frame;
    QCOMPARE(frame.dimensions(), expected);
    writeSettings({{QStringLiteral("grid/size"), QSize(3, 2)}});
}

void TestDragFrame::unusableDimensions_data()
{
    QTest::addColumn<QSize>("dimensions");
    QTest::newRow("zero") << QSize(0, 0);
    QTest::newRow("no columns") << QSize(0, 3);
    QTest::newRow("negative") << QSize(-2, 3);
    QTest::newRow("absurd") << QSize(4000, 4000);
}

void TestDragFrame::unusableDimensions()
{
    QFETCH(QSize, dimensions);
    // As a damaged store would hand it over.
    writeSettings({{QStringLiteral("grid/size"), dimensions}});
    DragFrame frame;
    writeSettings({{QStringLiteral("grid/size"), QSize(3, 2)}});
    layOut(frame, dimensions);
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QSignalSpy resized(&frame, &DragFrame::resizeWindow);

    QTest::mouseMove(&frame, QPoint(50, 50));
    QTest::mousePress(&frame, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseMove(&frame, QPoint(250, 150));
    QTest::mouseRelease(&frame, Qt::LeftButton, Qt::NoModifier, QPoint(250, 150));

    QCOMPARE(resized.count(), 0);
    QVERIFY(frame.cellGrid()->cells().isEmpty());
    QVERIFY(frame.cellGrid()->selection().x() < 0 || frame.cellGrid()->selection().isNull());
    const QImage image = frame.grab().toImage();
    QCOMPARE(image.pixelColor(50, 50), frame.palette().color(QPalette::Window));
}

void TestDragFrame::rendering()
{
    DragFrame frame;
    layOut(frame);
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    frame.setSelection(QRect(1, 0, 1, 1));
    // Kept for a look by eye at the default colours.
    frame.grab().save(QStringLiteral("dragframe-default.png"));

    CellGrid *grid = frame.cellGrid();
    grid->setSelectedColor(QColor(0, 200, 0));
    grid->setBorderColor(QColor(200, 0, 0));
    grid->setBorderWidth(4);
    const QImage image = frame.grab().toImage();
    const QColor background = frame.palette().color(QPalette::Window);

    QCOMPARE(image.pixelColor(150, 50), QColor(0, 200, 0)); // selected fill
    QCOMPARE(image.pixelColor(50, 50), background);         // empty cell: not filled
    QCOMPARE(image.pixelColor(10, 50), QColor(200, 0, 0));  // but outlined
    QCOMPARE(image.pixelColor(100, 50), background);        // gap
    QCOMPARE(image.pixelColor(190, 50), QColor(200, 0, 0)); // the selection has the outline too
}

void TestDragFrame::repaintsOnlyWhatChanged_data()
{
    QTest::addColumn<bool>("selectionOnly");
    QTest::addColumn<double>("gap");
    QTest::addColumn<bool>("recolour");
    QTest::addColumn<bool>("hideAndShow");

    QTest::newRow("all cells, gaps") << false << 20.0 << false << false;
    QTest::newRow("all cells, no gaps") << false << 0.0 << false << false;
    QTest::newRow("selection only") << true << 20.0 << false << false;
    QTest::newRow("recoloured behind the frame's back") << false << 0.0 << true << false;
    // Hiding drops the repaint pictures; the next repaints make them again.
    QTest::newRow("hidden and shown again") << false << 0.0 << false << true;
}

// A selection change repaints only the cells it touches; what ends up on the
// screen must be what a whole repaint of the frame paints.
void TestDragFrame::repaintsOnlyWhatChanged()
{
    QFETCH(bool, selectionOnly);
    QFETCH(double, gap);
    QFETCH(bool, recolour);
    QFETCH(bool, hideAndShow);

    DragFrame frame;
    frame.setFollowMouse(false);
    layOut(frame, QSize(4, 3));
    Util::MarginMetrics_t m = frame.cellGrid()->marginMetrics();
    m.cellWidth = m.cellHeight = gap;
    frame.cellGrid()->setMarginMetrics(m);
    frame.cellGrid()->setBorderWidth(3);
    frame.cellGrid()->setFillEmptyCells(true);
    if (selectionOnly)
        frame.cellGrid()->setDrawMode(CellGrid::DrawSelectionOnly);
    frame.update();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QCoreApplication::processEvents();

    const QList<QRect> steps = {QRect(0, 0, 1, 1), QRect(1, 0, 2, 2), QRect(3, 2, 1, 1),
                                QRect(0, 0, 4, 3), QRect(), QRect(2, 1, 1, 1)};
    for (const QRect &selection : steps) {
        if (recolour && selection == steps.last())
            frame.cellGrid()->setEmptyFillColor(QColor(200, 30, 30));
        if (hideAndShow && selection == steps[2]) {
            frame.hide();
            frame.show();
            QVERIFY(QTest::qWaitForWindowExposed(&frame));
        }
        frame.setSelection(selection);
        QCoreApplication::processEvents();
        const QImage onScreen = frame.screen()->grabWindow(frame.winId()).toImage().convertToFormat(
            QImage::Format_ARGB32);
        const QImage whole = frame.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(onScreen.size(), whole.size());
        QVERIFY2(onScreen == whole, qPrintable(QStringLiteral("after selecting %1,%2 %3x%4")
                                                   .arg(selection.x())
                                                   .arg(selection.y())
                                                   .arg(selection.width())
                                                   .arg(selection.height())));
    }
}

QTEST_MAIN(TestDragFrame)
#include "tst_dragframe.moc"
