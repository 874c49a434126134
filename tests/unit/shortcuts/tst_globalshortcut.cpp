#include "fake/fakeplatform.h"
#include "globalshortcut.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using Grabs = QList<QPair<quint32, quint32>>;

// Global hot keys on the fake desktop: which combinations reach the system,
// which presses come back, and what happens when two want the same keys.
class TestGlobalShortcut : public QObject
{
    Q_OBJECT

private:
    FakePlatform *m_fake = nullptr;

    static constexpr quint32 Ctrl = Platform::ModControl;
    static constexpr quint32 Alt = Platform::ModAlt;
    static constexpr quint32 Shift = Platform::ModShift;
    static constexpr quint32 Win = Platform::ModWin;

    // The press arrives inside the backend's event handling; the signal only
    // once the event loop runs.
    static int pressAndCount(FakePlatform *fake, QSignalSpy &spy, quint32 vk, quint32 mods)
    {
        const int before = int(spy.count());
        fake->pressHotKey(vk, mods);
        if (spy.count() != before)
            return -1;
        QCoreApplication::sendPostedEvents();
        return int(spy.count()) - before;
    }

private Q_SLOTS:
    void init()
    {
        m_fake = new FakePlatform;
        Platform::setInstance(m_fake);
    }
    void cleanup() { Platform::setInstance(nullptr); }

    void registration_data()
    {
        QTest::addColumn<QKeySequence>("sequence");
        QTest::addColumn<Grabs>("grabs");
        QTest::addColumn<bool>("registered");

        QTest::newRow("Ctrl+Alt+Left") << QKeySequence("Ctrl+Alt+Left") << Grabs{{0x25, Ctrl | Alt}} << true;
        QTest::newRow("digit and its keypad twin") << QKeySequence("Ctrl+3") << Grabs{{0x33, Ctrl}, {0x63, Ctrl}} << true;
        QTest::newRow("grave accent") << QKeySequence(QKeyCombination(Qt::ShiftModifier, Qt::Key_QuoteLeft)) << Grabs{{0xC0, Shift}} << true;
        QTest::newRow("tilde") << QKeySequence(QKeyCombination(Qt::ShiftModifier, Qt::Key_AsciiTilde)) << Grabs{{0xC0, Shift}} << true;
        QTest::newRow("Win+F12") << QKeySequence("Meta+F12") << Grabs{{0x7B, Win}} << true;
        QTest::newRow("keypad bit stays in the key")
            << QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_5)) << Grabs{} << false;
        QTest::newRow("only the first key counts")
            << QKeySequence("Ctrl+Alt+Up, Ctrl+X") << Grabs{{0x26, Ctrl | Alt}} << true;
        QTest::newRow("a key outside the table") << QKeySequence(QKeyCombination(Qt::ControlModifier, Qt::Key_Adiaeresis)) << Grabs{} << false;
        QTest::newRow("empty") << QKeySequence() << Grabs{} << false;
    }

    void registration()
    {
        QFETCH(QKeySequence, sequence);
        QFETCH(Grabs, grabs);
        QFETCH(bool, registered);
        GlobalShortcut shortcut;
        if (!registered)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("GlobalShortcut failed to register:"));
        QCOMPARE(shortcut.setShortcut(5, sequence), registered);
        QCOMPARE(shortcut.isRegistered(), registered);
        QCOMPARE(m_fake->grabbedHotKeys(), grabs);
        QCOMPARE(shortcut.id(), 5);

        QSignalSpy activated(&shortcut, &GlobalShortcut::activated);
        for (const auto &[vk, mods] : grabs)
            QCOMPARE(pressAndCount(m_fake, activated, vk, mods), 1);
        if (!grabs.isEmpty())
            QCOMPARE(activated.first().first().toInt(), 5);

        // A refused combination is kept until withdrawn, as one that worked is.
        QCOMPARE(shortcut.shortcut(), sequence.isEmpty() ? QKeySequence() : QKeySequence(sequence[0]));
        if (!registered)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("GlobalShortcut failed to unregister:"));
        QCOMPARE(shortcut.unsetShortcut(), registered);
        QVERIFY(m_fake->grabbedHotKeys().isEmpty());
        QVERIFY(shortcut.shortcut().isEmpty());
    }

    void settingAgainWithdrawsTheFirstCombination()
    {
        GlobalShortcut shortcut;
        QVERIFY(shortcut.setShortcut(1, QKeySequence("Ctrl+Alt+Left")));
        QVERIFY(shortcut.setShortcut(2, QKeySequence("Ctrl+Alt+Right")));
        QCOMPARE(m_fake->grabbedHotKeys(), (Grabs{{0x27, Ctrl | Alt}}));
        QSignalSpy activated(&shortcut, &GlobalShortcut::activated);
        QCOMPARE(pressAndCount(m_fake, activated, 0x27, Ctrl | Alt), 1);
        QCOMPARE(activated.first().first().toInt(), 2);
    }

    void heldByAnotherProgram()
    {
        m_fake->setHotKeyHeldElsewhere(0x25, Ctrl | Alt);
        GlobalShortcut shortcut;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("GlobalShortcut failed to register: Ctrl\\+Alt\\+Left$"));
        QVERIFY(!shortcut.setShortcut(1, QKeySequence("Ctrl+Alt+Left")));
        QVERIFY(!shortcut.isRegistered());
        // Set again: nothing was withdrawn, so nothing failed to be.
        QTest::failOnWarning(QRegularExpression("failed to unregister"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("GlobalShortcut failed to register: Ctrl\\+Alt\\+Left$"));
        QVERIFY(!shortcut.setShortcut(1, QKeySequence("Ctrl+Alt+Left")));
        // The other program's key is not taken from it when ours is withdrawn.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("GlobalShortcut failed to unregister: Ctrl\\+Alt\\+Left$"));
        QVERIFY(!shortcut.unsetShortcut());
    }

    // The keypad twin refused: the top-row key stays until the object lets go.
    void keypadTwinRefused()
    {
        m_fake->setHotKeyHeldElsewhere(0x63, Ctrl);
        {
            GlobalShortcut shortcut;
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("failed to register: Ctrl\\+3"));
            QVERIFY(!shortcut.setShortcut(7, QKeySequence("Ctrl+3")));
            QCOMPARE(m_fake->grabbedHotKeys(), (Grabs{{0x33, Ctrl}}));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("failed to unregister: Ctrl\\+3"));
        }
        QVERIFY(m_fake->grabbedHotKeys().isEmpty());
    }

    // Two of ours want the same keys: the second is refused but takes the
    // presses; once it lets go they reach the first again.
    void twoShortcutsOneCombination()
    {
        GlobalShortcut first, second;
        QSignalSpy toFirst(&first, &GlobalShortcut::activated);
        QSignalSpy toSecond(&second, &GlobalShortcut::activated);
        QVERIFY(first.setShortcut(1, QKeySequence("Ctrl+Alt+D")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("failed to register"));
        QVERIFY(!second.setShortcut(2, QKeySequence("Ctrl+Alt+D")));
        QCOMPARE(pressAndCount(m_fake, toSecond, 0x44, Ctrl | Alt), 1);
        QCOMPARE(toFirst.count(), 0);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("failed to unregister"));
        QVERIFY(!second.unsetShortcut());
        QCOMPARE(m_fake->grabbedHotKeys(), (Grabs{{0x44, Ctrl | Alt}})); // still the first's
        QCOMPARE(pressAndCount(m_fake, toFirst, 0x44, Ctrl | Alt), 1);
    }

    void destroyedBeforeThePressIsDelivered()
    {
        auto *shortcut = new GlobalShortcut;
        QVERIFY(shortcut->setShortcut(1, QKeySequence("Ctrl+Alt+Left")));
        m_fake->pressHotKey(0x25, Ctrl | Alt);
        delete shortcut;
        QCoreApplication::sendPostedEvents(); // nothing left to deliver to
        QVERIFY(m_fake->grabbedHotKeys().isEmpty());
    }
};

QTEST_MAIN(TestGlobalShortcut)
#include "tst_globalshortcut.moc"
