#include "shortcutlist.h"
#include "shortcutlistdelegate.h"
#include "shortcutlistitem.h"

#include <QAbstractListModel>
#include <QPaintEngine>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

namespace {

// Shaped like the program's model: every row reaches its item through the
// index's internal pointer and data() answers nothing.
class ItemModel : public QAbstractListModel
{
public:
    explicit ItemModel(QObject *parent = nullptr) : QAbstractListModel(parent) {}

    void add(const QString &name, const QString &keys, QSize grid, QRect selection, bool global,
             bool enabled)
    {
        beginInsertRows(QModelIndex(), items.size(), items.size());
        items.append(new ShortcutListItem(items.size() + 1, name, keys, grid, selection, global,
                                          enabled, false, this));
        endInsertRows();
    }

    int rowCount(const QModelIndex & = QModelIndex()) const override { return items.size(); }
    QModelIndex index(int row, int column, const QModelIndex & = QModelIndex()) const override
    {
        if (row < 0 || row >= items.size() || column != 0)
            return QModelIndex();
        return createIndex(row, column, nullItems ? nullptr : items[row]);
    }
    QVariant data(const QModelIndex &, int) const override { return QVariant(); }
    bool removeRows(int row, int count, const QModelIndex &) override
    {
        removed.append(row);
        beginRemoveRows(QModelIndex(), row, row + count - 1);
        for (int i = 0; i < count; ++i)
            delete items.takeAt(row);
        endRemoveRows();
        return true;
    }

    QList<ShortcutListItem *> items;
    QList<int> removed;
    bool nullItems = false;
};

struct TextRun
{
    QPointF pos;
    qreal width;
    QString text;
};

// Records the text the delegate draws, so the tests read words, not glyph
// pixels, and counts whatever else it draws.
class TextRecorder : public QPaintEngine
{
public:
    TextRecorder() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &) override {}
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override { ++shapes; }
    void drawPath(const QPainterPath &) override { ++shapes; }
    void drawPolygon(const QPointF *, int, PolygonDrawMode) override { ++shapes; }
    void drawRects(const QRectF *, int) override { ++shapes; }
    void drawTextItem(const QPointF &p, const QTextItem &item) override
    {
        const QPointF at = painter()->transform().map(p);
        if (!runs.isEmpty() && qFuzzyCompare(runs.last().pos.y(), at.y()) &&
            qAbs(runs.last().pos.x() + runs.last().width - at.x()) < 0.5) {
            runs.last().text += item.text();
            runs.last().width += item.width();
            return;
        }
        runs.append({at, item.width(), item.text()});
    }
    Type type() const override { return User; }

    QList<TextRun> runs;
    int shapes = 0;
};

class RecordingDevice : public QPaintDevice
{
public:
    QPaintEngine *paintEngine() const override { return &engine; }
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
            return 800;
        case PdmHeight:
            return 200;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDepth:
            return 32;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        default:
            return 0;
        }
    }
    mutable TextRecorder engine;
};

int expectedDpi()
{
    return qEnvironmentVariableIntValue("VARLO_EXPECTED_DPI");
}

QStyleOptionViewItem rowOption(const QRect &rect, bool selected = false)
{
    QStyleOptionViewItem option;
    option.rect = rect;
    option.state = QStyle::State_Enabled | (selected ? QStyle::State_Selected : QStyle::State_None);
    return option;
}

} // namespace

class TestShortcutList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void rowHeightAndStep();
    void separators_data();
    void separators();
    void texts_data();
    void texts();
    void longNameStopsBeforeStatus();
    void rendering();
    void nothingToDraw_data();
    void nothingToDraw();
    void removeSelected();
};

void TestShortcutList::initTestCase()
{
    QVERIFY2(expectedDpi() > 0, "VARLO_EXPECTED_DPI is not set");
    QCOMPARE(qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchX()), expectedDpi());
}

void TestShortcutList::rowHeightAndStep()
{
    ItemModel model;
    model.add(QStringLiteral("Left half"), QStringLiteral("Ctrl+Alt+Left"), QSize(2, 1),
              QRect(0, 0, 1, 1), false, true);
    ShortcutListDelegate delegate;
    const int height =
        delegate.sizeHint(rowOption(QRect(0, 0, 300, 10)), model.index(0, 0)).height();
    // 50 + 2 x 3 at 96 DPI; 75 + 2 x 5 at 144 DPI, where 4.5 rounds away from zero.
    QCOMPARE(height, expectedDpi() == 144 ? 85 : 56);
    QCOMPARE(ShortcutList::separatorStep(), expectedDpi() == 144 ? 89 : 60);
}

void TestShortcutList::separators_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("scroll");
    QTest::newRow("empty list") << 0 << 0;
    QTest::newRow("three rows") << 3 << 0;
    QTest::newRow("scrolled by 25 pixels") << 12 << 25;
}

void TestShortcutList::separators()
{
    QFETCH(int, rows);
    QFETCH(int, scroll);

    ItemModel model;
    for (int i = 0; i < rows; ++i)
        model.add(QStringLiteral("Shortcut %1").arg(i), QStringLiteral("Ctrl+%1").arg(i),
                  QSize(3, 3), QRect(1, 1, 1, 1), false, true);
    ShortcutList list;
    list.setModel(&model);
    list.setSpacing(2);
    list.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list.resize(400, 3 * ShortcutList::separatorStep() + 40);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.verticalScrollBar()->setValue(scroll);
    QCOMPARE(list.verticalScrollBar()->value(), scroll);

    const QImage image = list.viewport()->grab().toImage();
    if (rows == 3)
        image.save(QStringLiteral("shortcutlist.png"));
    const QColor line(100, 100, 100);
    const int step = ShortcutList::separatorStep();
    int lines = 0;
    for (int y = 0; y < image.height(); ++y) {
        const bool isLine = image.pixelColor(4, y) == line;
        QCOMPARE(isLine, y >= 1 && (y + scroll) % step == 0);
        if (!isLine)
            continue;
        ++lines;
        // In the gap between two rows, never across one.
        for (int r = 0; r < rows; ++r)
            QVERIFY(!list.visualRect(model.index(r, 0)).contains(QPoint(4, y)));
    }
    QVERIFY(lines >= 3);
}

void TestShortcutList::texts_data()
{
    QTest::addColumn<bool>("global");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("status");
    QTest::newRow("disabled, though global") << true << false << QStringLiteral("(disabled)");
    QTest::newRow("disabled") << false << false << QStringLiteral("(disabled)");
    QTest::newRow("enabled and global") << true << true << QStringLiteral("(global)");
    QTest::newRow("enabled, not global") << false << true << QString();
}

void TestShortcutList::texts()
{
    QFETCH(bool, global);
    QFETCH(bool, enabled);
    QFETCH(QString, status);

    ItemModel model;
    model.add(QStringLiteral("Left half"), QStringLiteral("Ctrl+Alt+Left"), QSize(2, 1),
              QRect(0, 0, 1, 1), global, enabled);
    ShortcutListDelegate delegate;
    RecordingDevice device;
    {
        QPainter painter(&device);
        delegate.paint(&painter, rowOption(QRect(0, 0, 500, 56)), model.index(0, 0));
    }
    QStringList texts;
    for (const TextRun &run : device.engine.runs)
        texts.append(run.text);
    QStringList expected{QStringLiteral("Left half"), QStringLiteral("Ctrl + Alt + \u21E6")};
    if (!status.isEmpty())
        expected.prepend(status);
    QCOMPARE(texts, expected);
    QVERIFY(device.engine.shapes > 0); // the miniature
}

void TestShortcutList::longNameStopsBeforeStatus()
{
    ItemModel model;
    const QString name =
        QStringLiteral("Move the window to the upper left quarter of the second screen please");
    model.add(name, QStringLiteral("Meta+Up"), QSize(2, 2), QRect(0, 0, 1, 1), true, true);
    ShortcutListDelegate delegate;
    RecordingDevice device;
    {
        QPainter painter(&device);
        delegate.paint(&painter, rowOption(QRect(0, 0, 400, 56)), model.index(0, 0));
    }
    const QList<TextRun> &runs = device.engine.runs;
    QCOMPARE(runs.size(), 3);
    const TextRun &statusRun = runs[0];
    const TextRun &nameRun = runs[1];
    QCOMPARE(statusRun.text, QStringLiteral("(global)"));
    QVERIFY(nameRun.text.endsWith(QChar(0x2026)));
    QVERIFY(name.startsWith(nameRun.text.chopped(1)));
    QVERIFY2(nameRun.pos.x() + nameRun.width < statusRun.pos.x(),
             qPrintable(QStringLiteral("%1 + %2 vs %3")
                            .arg(nameRun.pos.x())
                            .arg(nameRun.width)
                            .arg(statusRun.pos.x())));
    QCOMPARE(runs[2].text, QStringLiteral("Win + \u21E7"));
}

void TestShortcutList::rendering()
{
    ItemModel model;
    model.add(QStringLiteral("Right half"), QStringLiteral("Ctrl+Alt+Right"), QSize(2, 1),
              QRect(1, 0, 1, 1), true, true);
    ShortcutListDelegate delegate;
    const int rowHeight =
        delegate.sizeHint(rowOption(QRect(0, 0, 400, 10)), model.index(0, 0)).height();

    for (const bool selected : {false, true}) {
        QImage image(400, rowHeight, QImage::Format_ARGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            delegate.paint(&painter, rowOption(image.rect(), selected), model.index(0, 0));
        }
        if (selected)
            image.save(QStringLiteral("shortcutlist-row.png"));

        // The miniature sits at the right: a black empty cell, then the light grey selected one.
        const int inset = (rowHeight - 50 * expectedDpi() / 96) / 2;
        const QRect inner = image.rect().adjusted(inset, inset, -inset, -inset);
        const int w = 70 * expectedDpi() / 96, h = 50 * expectedDpi() / 96;
        const QRect grid(inner.right() - w, inner.top(), w, h);
        QCOMPARE(image.pixelColor(grid.left() + w / 4, grid.center().y()), QColor(Qt::black));
        QCOMPARE(image.pixelColor(grid.left() + 3 * w / 4, grid.center().y()),
                 QColor(200, 200, 200));

        // A selected row is translucent grey behind everything; an unselected one is left alone.
        const QColor corner = image.pixelColor(1, 1);
        if (selected) {
            QVERIFY(qAbs(corner.red() - 196) <= 2 && corner.red() == corner.green() &&
                    corner.green() == corner.blue());
        } else {
            QCOMPARE(corner, QColor(Qt::white));
        }
    }
}

void TestShortcutList::nothingToDraw_data()
{
    QTest::addColumn<bool>("nullItem");
    QTest::addColumn<QSize>("grid");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<bool>("texts");
    QTest::newRow("index without an item") << true << QSize(2, 2) << QRect(0, 0, 400, 56) << false;
    QTest::newRow("empty row rectangle") << false << QSize(2, 2) << QRect(0, 0, 0, 0) << false;
    QTest::newRow("no columns") << false << QSize(0, 4) << QRect(0, 0, 400, 56) << true;
    QTest::newRow("absurd grid") << false << QSize(100000, 100000) << QRect(0, 0, 400, 56) << true;
}

void TestShortcutList::nothingToDraw()
{
    QFETCH(bool, nullItem);
    QFETCH(QSize, grid);
    QFETCH(QRect, rect);
    QFETCH(bool, texts);

    ItemModel model;
    model.add(QStringLiteral("Broken"), QStringLiteral("Ctrl+B"), grid, QRect(0, 0, 1, 1), false,
              true);
    model.nullItems = nullItem;
    ShortcutListDelegate delegate;
    QImage image(400, 56, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        delegate.paint(&painter, rowOption(rect), model.index(0, 0));
        delegate.paint(nullptr, rowOption(rect), model.index(0, 0));
    }
    // The miniature's corner area stays untouched; texts may still be drawn for a real item.
    const QRect miniature(400 - 70 * expectedDpi() / 96, 0, 70 * expectedDpi() / 96 - 4, 56);
    bool untouched = true;
    for (int y = miniature.top() + 8; y < miniature.bottom() - 8; ++y)
        untouched = untouched && image.pixelColor(miniature.center().x(), y) == QColor(Qt::white);
    QVERIFY(untouched);

    // Wherever the rectangle is: no miniature at all, and texts only for a real row.
    RecordingDevice device;
    {
        QPainter painter(&device);
        delegate.paint(&painter, rowOption(rect), model.index(0, 0));
    }
    QCOMPARE(device.engine.shapes, 0);
    QCOMPARE(!device.engine.runs.isEmpty(), texts);
}

void TestShortcutList::removeSelected()
{
    ItemModel model;
    for (int i = 0; i < 4; ++i)
        model.add(QStringLiteral("Shortcut %1").arg(i), QStringLiteral("Ctrl+%1").arg(i),
                  QSize(2, 2), QRect(0, 0, 1, 1), false, true);
    ShortcutList list;
    list.setModel(&model);
    list.setSelectionMode(QAbstractItemView::ExtendedSelection);
    list.resize(400, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    list.removeSelected();
    QVERIFY(model.removed.isEmpty());

    // Row 2 first, then row 0 added with Ctrl: the selection's order, not the rows', decides.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier,
                      list.visualRect(model.index(2, 0)).center());
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list.visualRect(model.index(0, 0)).center());
    QCOMPARE(list.selectionModel()->selectedIndexes().size(), 2);
    list.removeSelected();
    QCOMPARE(model.removed, QList<int>{2});
    QCOMPARE(model.rowCount(), 3);
}

QTEST_MAIN(TestShortcutList)
#include "tst_shortcutlist.moc"
