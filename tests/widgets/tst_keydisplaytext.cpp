#include "keydisplaytext.h"

#include <QKeySequence>
#include <QtTest>

class TestKeyDisplayText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void displayText_data();
    void displayText();
};

void TestKeyDisplayText::displayText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("arrows and modifiers")
        << QStringLiteral("Ctrl+Alt+Left") << QStringLiteral("Ctrl + Alt + \u21E6");
    QTest::newRow("all four arrows") << QStringLiteral("Left, Right, Up, Down")
                                     << QStringLiteral("\u21E6, \u21E8, \u21E7, \u21E9");
    QTest::newRow("Meta is Win") << QStringLiteral("Meta+D") << QStringLiteral("Win + D");
    QTest::newRow("inside key names")
        << QStringLiteral("Shift+PgUp") << QStringLiteral("Shift + Pg\u21E7");
    QTest::newRow("page down") << QStringLiteral("PgDown") << QStringLiteral("Pg\u21E9");
    QTest::newRow("case-sensitive") << QStringLiteral("left+UP") << QStringLiteral("left + UP");
    QTest::newRow("plus key") << QStringLiteral("Ctrl++") << QStringLiteral("Ctrl +  + ");
    QTest::newRow("empty") << QString() << QString();
    // What the editor and the list are handed: the sequence's own text.
    QTest::newRow("from a sequence")
        << QKeySequence(Qt::META | Qt::SHIFT | Qt::Key_Right).toString(QKeySequence::NativeText)
        << QStringLiteral("Win + Shift + \u21E8");
}

void TestKeyDisplayText::displayText()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(VarloWidgets::displayText(text), expected);
}

QTEST_GUILESS_MAIN(TestKeyDisplayText)
#include "tst_keydisplaytext.moc"
