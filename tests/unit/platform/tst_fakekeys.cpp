#include "fake/fakeplatform.h"
#include "keyboardhook.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>

using K = KeyboardHook;

// The keyboard hook fed through the fake desktop, the way the X11 backend
// feeds it.
class TestFakeKeys : public QObject
{
    Q_OBJECT

private:
    FakePlatform *m_fake = nullptr;

private Q_SLOTS:
    void init()
    {
        m_fake = new FakePlatform;
        Platform::setInstance(m_fake);
    }
    void cleanup()
    {
        KeyboardHook::destroyInstance();
        Platform::setInstance(nullptr);
        m_fake = nullptr;
    }

    void altAloneEndToEnd()
    {
        KeyboardHook *hook = KeyboardHook::instance();
        QVERIFY(hook->install());
        QVERIFY(m_fake->isWatchingKeys());
        QSignalSpy altUp(hook, &KeyboardHook::altUp);
        m_fake->pressKey(K::VkLMenu);
        m_fake->releaseKey(K::VkLMenu);
        QCOMPARE(altUp.count(), 1);
        // An unknown key still counts as another key.
        m_fake->pressKey(K::VkLMenu);
        m_fake->pressKey(0);
        m_fake->releaseKey(0);
        m_fake->releaseKey(K::VkLMenu);
        QCOMPARE(altUp.count(), 1);
    }

    void nothingArrivesAfterRemove()
    {
        KeyboardHook *hook = KeyboardHook::instance();
        QVERIFY(hook->install());
        QVERIFY(!hook->install());
        QVERIFY(hook->remove());
        QVERIFY(!m_fake->isWatchingKeys());
        QSignalSpy escape(hook, &KeyboardHook::escape);
        m_fake->releaseKey(K::VkEscape);
        QCOMPARE(escape.count(), 0);
    }

    void desktopWithoutRawEvents()
    {
        m_fake->setKeysWatchable(false);
        KeyboardHook *hook = KeyboardHook::instance();
        QVERIFY(!hook->install());
        QVERIFY(!hook->isInstalled());
    }

    void modifierStateIsToldAtStartAndOnResync()
    {
        m_fake->setModifierState(true, false, false, false);
        KeyboardHook *hook = KeyboardHook::instance();
        QVERIFY(hook->install());
        QVERIFY(hook->isShiftDown());
        QSignalSpy help(hook, &KeyboardHook::help);
        m_fake->releaseKey(K::VkF1);
        QCOMPARE(help.count(), 0);
        m_fake->setModifierState(false, false, false, false);
        QVERIFY(!hook->isShiftDown());
        m_fake->releaseKey(K::VkF1);
        QCOMPARE(help.count(), 1);
    }

    void slotMayStopWatchingWhileAKeyIsDelivered()
    {
        KeyboardHook *hook = KeyboardHook::instance();
        QVERIFY(hook->install());
        connect(hook, &KeyboardHook::escape, hook, [hook] { hook->remove(); });
        m_fake->releaseKey(K::VkEscape);
        QVERIFY(!hook->isInstalled());
        QVERIFY(hook->install());
    }

    void stackBelowReordersTheFakeStack()
    {
        FakePlatform::Window a, b, c;
        a.id = 1;
        b.id = 2;
        c.id = 3;
        m_fake->addWindow(a);
        m_fake->addWindow(b);
        m_fake->addWindow(c); // top first: 3 2 1
        m_fake->stackBelow(3, 1);
        QCOMPARE(m_fake->windowsTopFirst(), (QList<WId>{2, 1, 3}));
        m_fake->stackBelow(2, 2);
        QCOMPARE(m_fake->windowsTopFirst(), (QList<WId>{2, 1, 3}));
        QCOMPARE(m_fake->requests(), QStringLiteral("stackBelow stackBelow"));
    }

    // The hot-key script the shortcut tests stand on: only grabbed
    // combinations arrive, and the X server's refusals are there.
    void scriptedHotKeys()
    {
        const quint32 ctrlAlt = Platform::ModControl | Platform::ModAlt;
        QList<QPair<quint32, quint32>> pressed;
        m_fake->setHotKeyHandler([&](quint32 vk, quint32 mods) { pressed.append({vk, mods}); });

        QVERIFY(m_fake->grabHotKey(0x25, ctrlAlt));
        QVERIFY(m_fake->pressHotKey(0x25, ctrlAlt));
        QVERIFY(!m_fake->pressHotKey(0x25, Platform::ModControl));
        QCOMPARE(pressed, (QList<QPair<quint32, quint32>>{{0x25, ctrlAlt}}));

        m_fake->setHotKeyHeldElsewhere(0x26, ctrlAlt);
        QVERIFY(!m_fake->grabHotKey(0x26, ctrlAlt));
        QVERIFY(m_fake->lastErrorString().contains("BadAccess"));
        QVERIFY(!m_fake->grabHotKey(0, ctrlAlt));

        QVERIFY(m_fake->ungrabHotKey(0x25, ctrlAlt));
        QVERIFY(!m_fake->ungrabHotKey(0x25, ctrlAlt));
        QVERIFY(!m_fake->pressHotKey(0x25, ctrlAlt));
        QCOMPARE(pressed.size(), 1);
        QVERIFY(m_fake->grabbedHotKeys().isEmpty());
    }
};

QTEST_MAIN(TestFakeKeys)
#include "tst_fakekeys.moc"
