// The compiled-in artwork: every name the windows and style sheets ask for, at the size they
// lay it out at, and drawn so that Qt's nine-slice border images and icon scaling work.

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTest>

namespace {

QImage load(const QString &name)
{
    return QImage(QStringLiteral(":/images/") + name).convertToFormat(QImage::Format_ARGB32);
}

// Mean difference per channel (0..255), premultiplied so that invisible pixels count as
// equal whatever colour they carry.
double meanDifference(const QImage &a, const QImage &b)
{
    const QImage pa = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage pb = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    double sum = 0;
    for (int y = 0; y < pa.height(); ++y) {
        for (int x = 0; x < pa.width(); ++x) {
            const QRgb p = pa.pixel(x, y), q = pb.pixel(x, y);
            sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) +
                   qAbs(qBlue(p) - qBlue(q)) + qAbs(qAlpha(p) - qAlpha(q));
        }
    }
    return sum / (4.0 * pa.width() * pa.height());
}

const int kTiers[] = {96, 120, 144, 192};

} // namespace

class TestArtwork : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void imageSize_data();
    void imageSize();
    void frameSlices_data();
    void frameSlices();
    void tiersDrawTheSameArtwork_data();
    void tiersDrawTheSameArtwork();
    void programIconFile();
    void whiteTraySymbolReadsOnLightAndDarkTrays_data();
    void whiteTraySymbolReadsOnLightAndDarkTrays();
    void spinButtonBorder_data();
    void spinButtonBorder();
};

void TestArtwork::imageSize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");

    for (int px : {16, 20, 24, 32, 64, 80, 96, 128})
        QTest::addRow("varlo_%d", px) << QStringLiteral("varlo_%1.png").arg(px) << QSize(px, px);

    const QHash<int, int> button{{96, 19}, {120, 24}, {144, 28}, {192, 38}};
    const QHash<int, int> indicator{{96, 14}, {120, 18}, {144, 21}, {192, 28}};
    for (int tier : kTiers) {
        const QSize b(button[tier], button[tier]), c(indicator[tier], indicator[tier]);
        for (const char *glyph : {"close", "gear", "flip"})
            QTest::addRow("%s_%d", glyph, tier)
                << QStringLiteral("%1_%2.png").arg(QLatin1String(glyph)).arg(tier) << b;
        QTest::addRow("checkbox_%d", tier) << QStringLiteral("checkbox_%1.png").arg(tier) << c;
        QTest::addRow("checkbox_checked_%d", tier)
            << QStringLiteral("checkbox_checked_%1.png").arg(tier) << c;
        QTest::addRow("tray_%d", tier)
            << QStringLiteral("varlo_tray_%1.png").arg(tier) << QSize(tier, tier);
        QTest::addRow("tray_white_%d", tier)
            << QStringLiteral("varlo_tray_white_%1.png").arg(tier) << QSize(tier, tier);
        const int border = tier / 12;
        QTest::addRow("frame_%d", tier)
            << QStringLiteral("frame_%1.png").arg(tier) << QSize(4 * border, 4 * border);
    }
    for (const char *dir : {"up", "down"}) {
        for (const char *variant : {"", "_hover", "_pressed", "_off"})
            QTest::addRow("spin%s%s", dir, variant)
                << QStringLiteral("spin%1%2.png").arg(QLatin1String(dir), QLatin1String(variant))
                << QSize(14, 10);
        QTest::addRow("%s_arrow", dir)
            << QStringLiteral("%1_arrow.png").arg(QLatin1String(dir)) << QSize(7, 7);
        QTest::addRow("%s_arrow_disabled", dir)
            << QStringLiteral("%1_arrow_disabled.png").arg(QLatin1String(dir)) << QSize(7, 7);
    }
    QTest::newRow("shortcut_clear") << QStringLiteral("shortcut_clear.png") << QSize(19, 19);
}

void TestArtwork::imageSize()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);

    const QImage image = load(name);
    QVERIFY2(!image.isNull(), qPrintable(name + QStringLiteral(" is not in the resources")));
    QCOMPARE(image.size(), size);

    // A blank image would pass the size check and show nothing.
    bool visible = false;
    for (int y = 0; y < image.height() && !visible; ++y)
        for (int x = 0; x < image.width() && !visible; ++x)
            visible = qAlpha(image.pixel(x, y)) > 64;
    QVERIFY(visible);
}

void TestArtwork::frameSlices_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("border");

    // The widths the panel's and the settings window's style sheets slice at.
    QTest::newRow("96") << QStringLiteral("frame_96.png") << 8;
    QTest::newRow("120") << QStringLiteral("frame_120.png") << 10;
    QTest::newRow("144") << QStringLiteral("frame_144.png") << 12;
    QTest::newRow("192") << QStringLiteral("frame_192.png") << 16;
}

// Qt stretches the edges and the centre of a border image; anything that varies along a
// stretched direction (a corner radius larger than the slice, a gradient, a shadow) turns
// into smears or steps on a panel hundreds of pixels wide.
void TestArtwork::frameSlices()
{
    QFETCH(QString, name);
    QFETCH(int, border);

    const QImage img = load(name);
    const int w = img.width(), h = img.height();
    QVERIFY(w > 2 * border && h > 2 * border);

    for (int y = 0; y < h; ++y) {
        const bool edgeRow = y < border || y >= h - border;
        for (int x = border; x < w - border; ++x) {
            const QRgb expected = img.pixel(border, edgeRow ? y : border);
            if (img.pixel(x, y) != expected)
                QFAIL(qPrintable(
                    QStringLiteral("pixel %1,%2 breaks the horizontal stretch").arg(x).arg(y)));
        }
    }
    for (int x = 0; x < w; ++x) {
        for (int y = border; y < h - border; ++y) {
            if (img.pixel(x, y) != img.pixel(x, border))
                QFAIL(qPrintable(
                    QStringLiteral("pixel %1,%2 breaks the vertical stretch").arg(x).arg(y)));
        }
    }

    // Rounded outer corners, and a dark, translucent body behind the white panel text.
    QCOMPARE(qAlpha(img.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(img.pixel(w - 1, h - 1)), 0);
    const QColor body = QColor::fromRgba(img.pixel(w / 2, h / 2));
    QVERIFY2(body.alpha() >= 170 && body.alpha() <= 245, qPrintable(QString::number(body.alpha())));
    QVERIFY(body.lightness() < 60);
    // The rim is drawn inside the border, so the edge rows differ from the body.
    QVERIFY(img.pixel(w / 2, 0) != img.pixel(w / 2, h / 2));
}

void TestArtwork::tiersDrawTheSameArtwork_data()
{
    QTest::addColumn<QString>("family");
    for (const char *family : {"close_", "gear_", "flip_", "checkbox_", "checkbox_checked_",
                               "frame_", "varlo_tray_", "varlo_tray_white_"})
        QTest::newRow(family) << QString::fromLatin1(family);
}

// Each DPI tier is the 96-DPI artwork at a larger size; a file rendered from the wrong source
// would look right in isolation and wrong only on a high-DPI screen.
void TestArtwork::tiersDrawTheSameArtwork()
{
    QFETCH(QString, family);

    const QImage base = load(family + QStringLiteral("96.png"));
    for (int tier : kTiers) {
        if (tier == 96)
            continue;
        const QImage scaled =
            load(family + QStringLiteral("%1.png").arg(tier))
                .scaled(base.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const double diff = meanDifference(base, scaled);
        QVERIFY2(diff < 14,
                 qPrintable(QStringLiteral("tier %1 differs by %2").arg(tier).arg(diff)));
    }

    // The measure tells different artwork apart at all.
    const QString other =
        family == QLatin1String("gear_") ? QStringLiteral("close_") : QStringLiteral("gear_");
    const QImage unlike = load(other + QStringLiteral("96.png"))
                              .scaled(base.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QVERIFY(meanDifference(base, unlike) >= 14);
}

void TestArtwork::programIconFile()
{
    QImageReader reader(QStringLiteral(":/images/Varlo.ico"));
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QList<int> widths;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage entry = reader.read();
        QVERIFY2(!entry.isNull(),
                 qPrintable(QStringLiteral("entry %1: %2").arg(i).arg(reader.errorString())));
        QCOMPARE(entry.width(), entry.height());
        QVERIFY(entry.hasAlphaChannel());
        widths << entry.width();
    }
    for (int px : {16, 24, 32, 48, 256})
        QVERIFY2(widths.contains(px), qPrintable(QStringLiteral("no %1 px entry").arg(px)));

    // The small entries are the pixel-fitted drawings, not the large one shrunk.
    const QIcon icon(QStringLiteral(":/images/Varlo.ico"));
    QCOMPARE(icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32),
             load("varlo_16.png"));
}

void TestArtwork::whiteTraySymbolReadsOnLightAndDarkTrays_data()
{
    QTest::addColumn<int>("tier");
    for (int tier : kTiers)
        QTest::addRow("%d", tier) << tier;
}

// The tray picks the white symbol on every current desktop, whose panels may be light or dark.
void TestArtwork::whiteTraySymbolReadsOnLightAndDarkTrays()
{
    QFETCH(int, tier);

    const QImage symbol = load(QStringLiteral("varlo_tray_white_%1.png").arg(tier));
    auto contrast = [&](QColor tray) {
        QImage shown(symbol.size(), QImage::Format_ARGB32);
        shown.fill(tray);
        QPainter(&shown).drawImage(0, 0, symbol);
        int darker = 0, lighter = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const int l = QColor(shown.pixel(x, y)).lightness();
                darker += l < tray.lightness() - 60;
                lighter += l > tray.lightness() + 60;
            }
        }
        return qMax(darker, lighter) * 100 / (shown.width() * shown.height());
    };
    QVERIFY(contrast(QColor(32, 32, 32)) >= 15);
    QVERIFY(contrast(QColor(236, 236, 236)) >= 5);

    // Where it is opaque it is white: no colour cast on a coloured panel.
    for (int y = 0; y < symbol.height(); ++y) {
        for (int x = 0; x < symbol.width(); ++x) {
            const QRgb p = symbol.pixel(x, y);
            if (qAlpha(p) == 255)
                QCOMPARE(QColor(p).lightness(), 255);
        }
    }
}

void TestArtwork::spinButtonBorder_data()
{
    QTest::addColumn<QString>("name");
    for (const char *dir : {"up", "down"})
        for (const char *variant : {"", "_hover", "_pressed", "_off"})
            QTest::addRow("spin%s%s", dir, variant)
                << QStringLiteral("spin%1%2.png").arg(QLatin1String(dir), QLatin1String(variant));
}

// The style sheet slices one pixel off each side as the button's border; it has to be the
// spin box's own border colour or the buttons look pasted on.
void TestArtwork::spinButtonBorder()
{
    QFETCH(QString, name);

    const QImage img = load(name);
    const QRgb border = qRgb(0x97, 0x97, 0x97);
    for (int x = 0; x < img.width(); ++x) {
        QCOMPARE(img.pixel(x, 0), border);
        QCOMPARE(img.pixel(x, img.height() - 1), border);
    }
    for (int y = 0; y < img.height(); ++y) {
        QCOMPARE(img.pixel(0, y), border);
        QCOMPARE(img.pixel(img.width() - 1, y), border);
    }
}

QTEST_MAIN(TestArtwork)
#include "tst_artwork.moc"
