#include "ontopmessagebox.h"

#include <QApplication>
#include <QTest>

class TestOnTopMessageBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void staysOnTopWithTheProgramsIcon()
    {
        OnTopMessageBox box;
        QVERIFY(box.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(box.windowFlags() & Qt::WindowContextHelpButtonHint));
        QCOMPARE(box.icon(), QMessageBox::Warning);
        // The program's icon in each of its small sizes.
        QCOMPARE(box.windowIcon().availableSizes(),
                 (QList<QSize>{{16, 16}, {20, 20}, {24, 24}, {32, 32}}));
        QCOMPARE(box.parentWidget(), nullptr); // nothing of ours is active
        QCOMPARE(QByteArray(box.metaObject()->className()), QByteArray("OnTopMessageBox"));
    }

    void childOfTheActiveWindow()
    {
        QWidget window;
        window.show();
        QApplication::setActiveWindow(&window);
        QTRY_COMPARE(QApplication::activeWindow(), &window);
        OnTopMessageBox box;
        QCOMPARE(box.parentWidget(), &window);
        QVERIFY(box.windowFlags() & Qt::WindowStaysOnTopHint);
    }

    void answeredInAdvanceNeverBlocks()
    {
        OnTopMessageBox::answerNext(QMessageBox::Yes);
        OnTopMessageBox::answerNext(QMessageBox::No);
        OnTopMessageBox first;
        first.setText("first");
        QCOMPARE(first.exec(), int(QMessageBox::Yes));
        QCOMPARE(OnTopMessageBox::lastAnsweredText(), QString("first"));
        OnTopMessageBox second;
        second.setText("second");
        QCOMPARE(second.exec(), int(QMessageBox::No));
        QCOMPARE(OnTopMessageBox::pendingAnswers(), 0);
        QCOMPARE(OnTopMessageBox::lastAnsweredText(), QString("second"));
    }
};

QTEST_MAIN(TestOnTopMessageBox)
#include "tst_ontopmessagebox.moc"
