#include "keycodes.h"

#include <QTest>

class TestKeyCodes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fromKeysym_data();
    void fromKeysym();
    void roundTrip_data();
    void roundTrip();
    void genericModifiersGiveTheLeftKey();
};

void TestKeyCodes::fromKeysym_data()
{
    QTest::addColumn<quint32>("keysym");
    QTest::addColumn<int>("vk");

    QTest::newRow("a") << quint32(0x61) << 0x41;
    QTest::newRow("A") << quint32(0x41) << 0x41;
    QTest::newRow("z") << quint32(0x7a) << 0x5A;
    QTest::newRow("0") << quint32(0x30) << 0x30;
    QTest::newRow("9") << quint32(0x39) << 0x39;
    QTest::newRow("F1") << quint32(0xffbe) << 0x70;
    QTest::newRow("F12") << quint32(0xffc9) << 0x7B;
    QTest::newRow("F24") << quint32(0xffd5) << 0x87;
    QTest::newRow("F25 has no code") << quint32(0xffd6) << 0;
    QTest::newRow("Escape") << quint32(0xff1b) << 0x1B;
    QTest::newRow("Tab") << quint32(0xff09) << 0x09;
    QTest::newRow("ISO_Left_Tab") << quint32(0xfe20) << 0x09;
    QTest::newRow("Return") << quint32(0xff0d) << 0x0D;
    QTest::newRow("space") << quint32(0x20) << 0x20;
    QTest::newRow("BackSpace") << quint32(0xff08) << 0x08;
    QTest::newRow("Left") << quint32(0xff51) << 0x25;
    QTest::newRow("Down") << quint32(0xff54) << 0x28;
    QTest::newRow("Prior") << quint32(0xff55) << 0x21;
    QTest::newRow("Next") << quint32(0xff56) << 0x22;
    QTest::newRow("Delete") << quint32(0xffff) << 0x2E;
    QTest::newRow("Help") << quint32(0xff6a) << 0x2F;
    QTest::newRow("Shift_L") << quint32(0xffe1) << 0xA0;
    QTest::newRow("Shift_R") << quint32(0xffe2) << 0xA1;
    QTest::newRow("Control_L") << quint32(0xffe3) << 0xA2;
    QTest::newRow("Control_R") << quint32(0xffe4) << 0xA3;
    QTest::newRow("Alt_L") << quint32(0xffe9) << 0xA4;
    QTest::newRow("Alt_R") << quint32(0xffea) << 0xA5;
    QTest::newRow("ISO_Level3_Shift") << quint32(0xfe03) << 0xA5;
    QTest::newRow("Super_L") << quint32(0xffeb) << 0x5B;
    QTest::newRow("Meta_L") << quint32(0xffe7) << 0x5B;
    QTest::newRow("Super_R") << quint32(0xffec) << 0x5C;
    QTest::newRow("Meta_R") << quint32(0xffe8) << 0x5C;
    QTest::newRow("KP_0") << quint32(0xffb0) << 0x60;
    QTest::newRow("KP_9") << quint32(0xffb9) << 0x69;
    QTest::newRow("KP_Home (NumLock off)") << quint32(0xff95) << 0x24;
    QTest::newRow("KP_Enter") << quint32(0xff8d) << 0x0D;
    QTest::newRow("KP_Add") << quint32(0xffab) << 0x6B;
    QTest::newRow("KP_Divide") << quint32(0xffaf) << 0x6F;
    QTest::newRow("semicolon") << quint32(0x3b) << 0xBA;
    QTest::newRow("minus") << quint32(0x2d) << 0xBD;
    QTest::newRow("grave") << quint32(0x60) << 0xC0;
    QTest::newRow("apostrophe") << quint32(0x27) << 0xDE;
    QTest::newRow("less (ISO key)") << quint32(0x3c) << 0xE2;
    QTest::newRow("NoSymbol") << quint32(0) << 0;
    QTest::newRow("dead_acute") << quint32(0xfe51) << 0;
    QTest::newRow("udiaeresis") << quint32(0xfc) << 0;
    QTest::newRow("Cyrillic_a") << quint32(0x6c1) << 0;
}

void TestKeyCodes::fromKeysym()
{
    QFETCH(quint32, keysym);
    QFETCH(int, vk);
    QCOMPARE(KeyCodes::vkFromKeysym(keysym), vk);
}

// The keys a hot key can be made of: the grab looks up the keysym's keycode,
// so the keysym must be the one the key really carries.
void TestKeyCodes::roundTrip_data()
{
    QTest::addColumn<int>("vk");
    QTest::addColumn<quint32>("keysym");

    QTest::newRow("A") << 0x41 << quint32(0x61);
    QTest::newRow("Q") << 0x51 << quint32(0x71);
    QTest::newRow("5") << 0x35 << quint32(0x35);
    QTest::newRow("F1") << 0x70 << quint32(0xffbe);
    QTest::newRow("F24") << 0x87 << quint32(0xffd5);
    QTest::newRow("Left") << 0x25 << quint32(0xff51);
    QTest::newRow("Home") << 0x24 << quint32(0xff50);
    QTest::newRow("Prior") << 0x21 << quint32(0xff55);
    QTest::newRow("Return") << 0x0D << quint32(0xff0d);
    QTest::newRow("Tab") << 0x09 << quint32(0xff09);
    QTest::newRow("Delete") << 0x2E << quint32(0xffff);
    QTest::newRow("numpad 1") << 0x61 << quint32(0xffb1);
    QTest::newRow("numpad add") << 0x6B << quint32(0xffab);
    QTest::newRow("right alt") << 0xA5 << quint32(0xffea);
    QTest::newRow("left win") << 0x5B << quint32(0xffeb);
    QTest::newRow("comma") << 0xBC << quint32(0x2c);
    QTest::newRow("volume up") << 0xAF << quint32(0x1008ff13);
}

void TestKeyCodes::roundTrip()
{
    QFETCH(int, vk);
    QFETCH(quint32, keysym);
    QCOMPARE(KeyCodes::keysymFromVk(vk), keysym);
    QCOMPARE(KeyCodes::vkFromKeysym(keysym), vk);
}

void TestKeyCodes::genericModifiersGiveTheLeftKey()
{
    QCOMPARE(KeyCodes::keysymFromVk(0x10), quint32(0xffe1));
    QCOMPARE(KeyCodes::keysymFromVk(0x11), quint32(0xffe3));
    QCOMPARE(KeyCodes::keysymFromVk(0x12), quint32(0xffe9));
    QCOMPARE(KeyCodes::keysymFromVk(0), quint32(0));
    QCOMPARE(KeyCodes::keysymFromVk(0xFF), quint32(0));
}

QTEST_APPLESS_MAIN(TestKeyCodes)
#include "tst_keycodes.moc"
