#include "keyboardhook.h"

#include <QSignalSpy>
#include <QTest>

using K = KeyboardHook;

// A key event script: "+" presses, "-" releases, then the key.
struct Step
{
    int vk;
    bool up;
};
Q_DECLARE_METATYPE(QList<Step>)

static Step down(int vk) { return {vk, false}; }
static Step up(int vk) { return {vk, true}; }

class TestKeyboardHook : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void patterns_data();
    void patterns();
    void installAndRemove();
    void modifiersCanBeResynchronised();
};

void TestKeyboardHook::patterns_data()
{
    QTest::addColumn<QList<Step>>("steps");
    QTest::addColumn<int>("altUps");
    QTest::addColumn<int>("escapes");
    QTest::addColumn<int>("helps");
    QTest::addColumn<bool>("shiftDown");

    QTest::newRow("alt alone") << QList<Step>{down(K::VkLMenu), up(K::VkLMenu)} << 1 << 0 << 0 << false;
    QTest::newRow("right alt alone") << QList<Step>{down(K::VkRMenu), up(K::VkRMenu)} << 1 << 0 << 0 << false;
    QTest::newRow("alt with auto-repeat")
        << QList<Step>{down(K::VkLMenu), down(K::VkLMenu), down(K::VkLMenu), up(K::VkLMenu)} << 1 << 0 << 0 << false;
    QTest::newRow("alt+tab") << QList<Step>{down(K::VkLMenu), down(0x09), up(0x09), up(K::VkLMenu)} << 0 << 0 << 0 << false;
    QTest::newRow("ctrl then alt")
        << QList<Step>{down(K::VkLControl), down(K::VkLMenu), up(K::VkLMenu), up(K::VkLControl)} << 0 << 0 << 0 << false;
    QTest::newRow("win held") << QList<Step>{down(K::VkLWin), down(K::VkMenu), up(K::VkMenu)} << 0 << 0 << 0 << false;
    QTest::newRow("escape on release only") << QList<Step>{down(K::VkEscape)} << 0 << 0 << 0 << false;
    QTest::newRow("escape with modifiers")
        << QList<Step>{down(K::VkLShift), down(K::VkEscape), up(K::VkEscape)} << 0 << 1 << 0 << true;
    QTest::newRow("f1") << QList<Step>{down(K::VkF1), up(K::VkF1)} << 0 << 0 << 1 << false;
    QTest::newRow("help key") << QList<Step>{down(K::VkHelp), up(K::VkHelp)} << 0 << 0 << 1 << false;
    QTest::newRow("shift+f1") << QList<Step>{down(K::VkRShift), down(K::VkF1), up(K::VkF1)} << 0 << 0 << 0 << true;
    QTest::newRow("f1 after shift released")
        << QList<Step>{down(K::VkLShift), up(K::VkLShift), down(K::VkF1), up(K::VkF1)} << 0 << 0 << 1 << false;
    QTest::newRow("alt+f1") << QList<Step>{down(K::VkLMenu), down(K::VkF1), up(K::VkF1)} << 0 << 0 << 0 << false;
}

void TestKeyboardHook::patterns()
{
    QFETCH(QList<Step>, steps);
    QFETCH(int, altUps);
    QFETCH(int, escapes);
    QFETCH(int, helps);
    QFETCH(bool, shiftDown);

    KeyboardHook *hook = KeyboardHook::instance();
    hook->syncModifiers(false, false, false, false);
    hook->processKey(0x41, true); // a plain key resets the Alt pattern
    QSignalSpy alt(hook, &KeyboardHook::altUp);
    QSignalSpy esc(hook, &KeyboardHook::escape);
    QSignalSpy help(hook, &KeyboardHook::help);
    for (const Step &s : steps)
        hook->processKey(s.vk, s.up);
    QCOMPARE(alt.count(), altUps);
    QCOMPARE(esc.count(), escapes);
    QCOMPARE(help.count(), helps);
    QCOMPARE(hook->isShiftDown(), shiftDown);
}

void TestKeyboardHook::installAndRemove()
{
    // The offscreen platform gets the fake desktop, whose keyboard can be watched.
    KeyboardHook *hook = KeyboardHook::instance();
    QVERIFY(!hook->remove());
    QVERIFY(hook->install());
    QVERIFY(!hook->install()); // the first stays
    QVERIFY(hook->isInstalled());
    QVERIFY(hook->remove());
    QVERIFY(!hook->remove());
}

void TestKeyboardHook::modifiersCanBeResynchronised()
{
    KeyboardHook *hook = KeyboardHook::instance();
    hook->processKey(K::VkLShift, false);
    QVERIFY(hook->isShiftDown());
    // The release was swallowed somewhere; the real keyboard says otherwise.
    hook->syncModifiers(false, false, false, false);
    QVERIFY(!hook->isShiftDown());
    QSignalSpy help(hook, &KeyboardHook::help);
    hook->processKey(K::VkF1, true);
    QCOMPARE(help.count(), 1);
}

QTEST_MAIN(TestKeyboardHook)
#include "tst_keyboardhook.moc"
