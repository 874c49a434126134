#include "elidedlabel.h"

#include <QtTest>

namespace {
QFont pointFont(int points)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(points);
    return font;
}
} // namespace

class TestElidedLabel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fitting_data();
    void fitting();
    void pixelSizedBaseFont();
    void newBaseFontWaitsForNextText();
    void plainTextOnly();
    void sameTextRefitsOnlyAfterAResize();
};

void TestElidedLabel::fitting_data()
{
    QTest::addColumn<QFont>("base");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("minPoints");
    QTest::addColumn<int>("maxPoints");
    QTest::addColumn<bool>("elided");

    const QString longName =
        QStringLiteral("An application with a really remarkably long descriptive name");
    QTest::newRow("fits at the base font")
        << pointFont(14) << QSize(400, 40) << QStringLiteral("Terminal") << 14 << 14 << false;
    QTest::newRow("shrinks but fits") << pointFont(24) << QSize(200, 60)
                                      << QStringLiteral("Text Editor Pro") << 11 << 23 << false;
    QTest::newRow("too long: 10 points and elided")
        << pointFont(14) << QSize(200, 40) << longName << 10 << 10 << true;
    QTest::newRow("small base raised to 10, fitting text not elided")
        << pointFont(7) << QSize(80, 40) << QStringLiteral("Terminal") << 10 << 10 << false;
    // Too low for any size: the smallest, and a short text stays whole, as only width cuts.
    QTest::newRow("too low for any size")
        << pointFont(14) << QSize(400, 6) << QStringLiteral("Terminal") << 10 << 10 << false;
}

void TestElidedLabel::fitting()
{
    QFETCH(QFont, base);
    QFETCH(QSize, size);
    QFETCH(QString, text);
    QFETCH(int, minPoints);
    QFETCH(int, maxPoints);
    QFETCH(bool, elided);

    ElidedLabel label;
    label.resize(size);
    label.setFont(base);
    label.setText(text);

    QCOMPARE(label.toolTip(), text);
    QVERIFY2(label.font().pointSize() >= minPoints && label.font().pointSize() <= maxPoints,
             qPrintable(QString::number(label.font().pointSize())));
    if (elided) {
        QVERIFY(label.text() != text);
        QVERIFY(label.text().endsWith(QChar(0x2026)));
        QVERIFY(QFontMetrics(label.font()).horizontalAdvance(label.text()) <= size.width() - 20);
    } else {
        QCOMPARE(label.text(), text);
    }
    if (!elided && minPoints < maxPoints)
        QVERIFY(QFontMetrics(label.font()).horizontalAdvance(text) <= size.width() - 20);
}

void TestElidedLabel::pixelSizedBaseFont()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(30);
    ElidedLabel label;
    label.resize(150, 40);
    label.setFont(font);
    label.setText(QStringLiteral("A name far too long for this narrow label"));
    QCOMPARE(label.font().pointSize(), 10);
    QVERIFY(label.text().endsWith(QChar(0x2026)));
}

void TestElidedLabel::newBaseFontWaitsForNextText()
{
    ElidedLabel label;
    label.resize(400, 60);
    label.setFont(pointFont(12));
    label.setText(QStringLiteral("Files"));
    label.setFont(pointFont(16));
    QCOMPARE(label.text(), QStringLiteral("Files"));
    label.setText(QStringLiteral("Files"));
    QCOMPARE(label.font().pointSize(), 16);

    // The fitted size never becomes the base: a shorter text grows back.
    label.resize(120, 60);
    label.setText(QStringLiteral("A very long name indeed"));
    QCOMPARE(label.font().pointSize(), 10);
    label.setText(QStringLiteral("Ok"));
    QCOMPARE(label.font().pointSize(), 16);
}

void TestElidedLabel::sameTextRefitsOnlyAfterAResize()
{
    // The panels set the same name twice a second; a new size must still count.
    ElidedLabel label;
    label.setFont(pointFont(14));
    label.resize(400, 60);
    const QString name = QStringLiteral("A fairly long application name");
    label.setText(name);
    QCOMPARE(label.text(), name);
    label.resize(90, 60);
    label.setText(name);
    QVERIFY(label.text() != name);
    QVERIFY(label.text().endsWith(QChar(0x2026)));
    label.resize(400, 60);
    label.setText(name);
    QCOMPARE(label.text(), name);
}

void TestElidedLabel::plainTextOnly()
{
    ElidedLabel label;
    label.resize(400, 40);
    label.setText(QStringLiteral("<b>bold</b>"));
    QCOMPARE(label.textFormat(), Qt::PlainText);
    QCOMPARE(label.text(), QStringLiteral("<b>bold</b>"));
}

QTEST_MAIN(TestElidedLabel)
#include "tst_elidedlabel.moc"
