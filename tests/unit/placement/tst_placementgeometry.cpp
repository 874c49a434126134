#include "placementgeometry.h"
#include "settingsstore.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(Util::MarginMetrics_t)

namespace {
Util::MarginMetrics_t uniform(double v)
{
    return {v, v, v, v, v, v};
}
const QRect kWorkArea(0, 0, 1920, 1040);
} // namespace

class TestPlacementGeometry : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_store = 0;
    std::unique_ptr<QSettings> freshSettings()
    {
        auto s = std::make_unique<QSettings>(m_dir.filePath(QString("s%1.conf").arg(++m_store)), QSettings::IniFormat);
        SettingsStore::writeSettingsDefaults(*s);
        return s;
    }

private Q_SLOTS:
    void rectangles_data();
    void rectangles();
    void maximise_data();
    void maximise();
    void marginsReadFromSettings();
    void roomlessRequestsAreRefused_data();
    void roomlessRequestsAreRefused();
};

void TestPlacementGeometry::rectangles_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<bool>("marginsEnabled");
    QTest::addColumn<QSize>("dim");
    QTest::addColumn<QRect>("selection");
    QTest::addColumn<QRect>("expected");

    QTest::newRow("left half, no margins")
        << kWorkArea << false << QSize(6, 6) << QRect(0, 0, 3, 6) << QRect(0, 0, 960, 1040);
    QTest::newRow("fractional cells round per edge")
        << kWorkArea << true << QSize(6, 6) << QRect(1, 0, 2, 3) << QRect(328, 10, 627, 505);
    QTest::newRow("second screen, fine grid")
        << QRect(1920, 0, 1280, 1024) << true << QSize(12, 12) << QRect(6, 6, 6, 6)
        << QRect(2565, 517, 625, 497);
    QTest::newRow("whole grid with margins")
        << kWorkArea << true << QSize(6, 6) << QRect(0, 0, 6, 6) << QRect(10, 10, 1900, 1020);
    QTest::newRow("one cell of a 1x1 grid")
        << QRect(-1280, 200, 1280, 800) << false << QSize(1, 1) << QRect(0, 0, 1, 1)
        << QRect(-1280, 200, 1280, 800);
}

void TestPlacementGeometry::rectangles()
{
    QFETCH(QRect, area);
    QFETCH(bool, marginsEnabled);
    QFETCH(QSize, dim);
    QFETCH(QRect, selection);
    QFETCH(QRect, expected);

    auto settings = freshSettings();
    settings->setValue("margins/enabled", marginsEnabled);
    const PlacementDecision d = decidePlacement(*settings, area, dim, selection);
    QVERIFY(d.valid);
    QCOMPARE(d.rect, expected);
    QVERIFY(d.adjustChrome);

    // The unrounded rule, for the case worked out by hand.
    if (QByteArray(QTest::currentDataTag()) == "fractional cells round per edge") {
        const QRectF r = placementRect(area, uniform(10), dim, selection);
        QCOMPARE(r.left(), 328.0 + 1.0 / 3.0);
        QCOMPARE(r.top(), 10.0);
        QCOMPARE(r.width(), 626.0 + 2.0 / 3.0);
        QCOMPARE(r.height(), 505.0);
    }
}

void TestPlacementGeometry::maximise_data()
{
    QTest::addColumn<bool>("marginsEnabled");
    QTest::addColumn<double>("screenMargin");
    QTest::addColumn<bool>("maximizeFullscreen");
    QTest::addColumn<QRect>("selection");
    QTest::addColumn<bool>("maximize");

    const QRect all(0, 0, 6, 6);
    QTest::newRow("whole grid, no margins") << false << 10.0 << true << all << true;
    QTest::newRow("whole grid, setting off") << false << 10.0 << false << all << false;
    QTest::newRow("screen margins prevent it") << true << 10.0 << true << all << false;
    QTest::newRow("cell gaps do not") << true << 0.0 << true << all << true;
    QTest::newRow("not every row") << false << 0.0 << true << QRect(0, 0, 6, 5) << false;
    QTest::newRow("not every column") << false << 0.0 << true << QRect(1, 0, 5, 6) << false;
}

void TestPlacementGeometry::maximise()
{
    QFETCH(bool, marginsEnabled);
    QFETCH(double, screenMargin);
    QFETCH(bool, maximizeFullscreen);
    QFETCH(QRect, selection);
    QFETCH(bool, maximize);

    auto settings = freshSettings();
    settings->setValue("margins/enabled", marginsEnabled);
    for (const char *key : {"margins/screen_left", "margins/screen_top", "margins/screen_right", "margins/screen_bottom"})
        settings->setValue(key, screenMargin);
    settings->setValue("maximize_fullscreen", maximizeFullscreen);
    const PlacementDecision d = decidePlacement(*settings, kWorkArea, QSize(6, 6), selection);
    QVERIFY(d.valid);
    QCOMPARE(d.maximize, maximize);
    if (!maximize && selection == QRect(0, 0, 6, 6) && !marginsEnabled)
        QCOMPARE(d.rect, kWorkArea); // sized to the whole work area instead

    settings->setValue("factor_chrome", false);
    QVERIFY(!decidePlacement(*settings, kWorkArea, QSize(6, 6), selection).adjustChrome);
}

void TestPlacementGeometry::marginsReadFromSettings()
{
    auto settings = freshSettings();
    settings->setValue("margins/cell_width", 4);
    settings->setValue("margins/screen_bottom", "7.5");
    settings->setValue("margins/enabled", false); // not looked at
    const Util::MarginMetrics_t m = readMarginMetrics(*settings);
    QCOMPARE(m.cellWidth, 4.0);
    QCOMPARE(m.cellHeight, 10.0);
    QCOMPARE(m.screenLeft, 10.0);
    QCOMPARE(m.screenBottom, 7.5);
}

void TestPlacementGeometry::roomlessRequestsAreRefused_data()
{
    QTest::addColumn<double>("margin");
    QTest::addColumn<QSize>("dim");
    QTest::addColumn<QRect>("selection");

    QTest::newRow("margins wider than the screen") << 2000.0 << QSize(6, 6) << QRect(0, 0, 1, 1);
    QTest::newRow("gaps eat the cells") << 400.0 << QSize(6, 6) << QRect(2, 2, 1, 1);
    QTest::newRow("no columns") << 0.0 << QSize(0, 6) << QRect(0, 0, 1, 1);
    QTest::newRow("negative grid") << 0.0 << QSize(-3, 6) << QRect(0, 0, 1, 1);
    QTest::newRow("absurd grid") << 0.0 << QSize(5000, 5000) << QRect(0, 0, 1, 1);
    QTest::newRow("no cell selected") << 0.0 << QSize(6, 6) << QRect(-1, -1, 1, 1);
    QTest::newRow("empty selection") << 0.0 << QSize(6, 6) << QRect(0, 0, 0, 0);
}

void TestPlacementGeometry::roomlessRequestsAreRefused()
{
    QFETCH(double, margin);
    QFETCH(QSize, dim);
    QFETCH(QRect, selection);
    auto settings = freshSettings();
    settings->setValue("margins/enabled", true);
    for (const char *key : {"margins/cell_width", "margins/cell_height", "margins/screen_left",
                            "margins/screen_top", "margins/screen_right", "margins/screen_bottom"})
        settings->setValue(key, margin);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Placement ignored"));
    QVERIFY(!decidePlacement(*settings, kWorkArea, dim, selection).valid);
}

QTEST_GUILESS_MAIN(TestPlacementGeometry)
#include "tst_placementgeometry.moc"
