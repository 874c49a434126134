#include "platform.h"
#include "xtestutil.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QtTest>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace {

// A hot key, the xdotool keys that press it and the keysym of its key.
struct Combo
{
    quint32 vk = 0;
    quint32 modifiers = 0;
    QString keys = {};
    xcb_keysym_t keysym = 0;
};
const quint32 Alt = Platform::ModAlt, Ctrl = Platform::ModControl, Shift = Platform::ModShift,
              Win = Platform::ModWin;
const Combo ctrlAltLeft{0x25, Ctrl | Alt, "ctrl+alt+Left", 0xff51};
const Combo winF12{0x7B, Win, "super+F12", 0xffc9};
// xdotool turns NumLock on for KP_3 by itself; KP_Next is the same key as it is.
const Combo keypad3{0x63, 0, "KP_Next", 0xff9b};

// The test desktop's keymap has NumLock on Mod2.
constexpr int NoLocks = 0, CapsLock = XCB_MOD_MASK_LOCK, NumLock = XCB_MOD_MASK_2;

using Presses = QList<QPair<quint32, quint32>>;

// An X client besides Qt: reads the keyboard, and holds grabs as another program would.
class OtherClient
{
public:
    OtherClient() : c(xcb_connect(nullptr, nullptr))
    {
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~OtherClient() { xcb_disconnect(c); }

    xcb_keycode_t keycode(xcb_keysym_t keysym) // read afresh: the layout may have changed
    {
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(c);
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym);
        const xcb_keycode_t first = codes ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
        return first;
    }
    uint16_t locks()
    {
        auto *reply = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
        const uint16_t mask = reply ? reply->mask & (CapsLock | NumLock) : 0;
        std::free(reply);
        return mask;
    }
    bool grab(xcb_keycode_t keycode, uint16_t mask)
    {
        xcb_generic_error_t *error =
            xcb_request_check(c, xcb_grab_key_checked(c, 1, root, mask, keycode,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return !error;
    }
    void ungrabAll()
    {
        xcb_ungrab_key(c, XCB_GRAB_ANY, root, XCB_MOD_MASK_ANY);
        xcb_flush(c);
    }
    bool pressed(xcb_keycode_t keycode)
    {
        bool seen = false;
        while (xcb_generic_event_t *e = xcb_poll_for_event(c)) {
            seen |= e->response_type == XCB_KEY_PRESS &&
                    reinterpret_cast<xcb_key_press_event_t *>(e)->detail == keycode;
            std::free(e);
        }
        return seen;
    }

private:
    xcb_connection_t *c;
    xcb_window_t root = 0;
};

// Counts the presses of one key that reach Qt's connection, repeats included.
struct PressCounter : QAbstractNativeEventFilter
{
    explicit PressCounter(xcb_keycode_t keycode) : keycode(keycode)
    {
        qApp->installNativeEventFilter(this);
    }
    ~PressCounter() override { qApp->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray &, void *message, qintptr *) override
    {
        const auto *e = static_cast<const xcb_key_press_event_t *>(message);
        count += e->response_type == XCB_KEY_PRESS && e->detail == keycode;
        return false;
    }
    xcb_keycode_t keycode;
    int count = 0;
};

} // namespace

Q_DECLARE_METATYPE(Combo)

class TestX11HotKeys : public QObject
{
    Q_OBJECT

private:
    Platform *platform() { return Platform::instance(); }
    OtherClient other;
    StartedWindow app; // focused; prints the keys that reach it
    Presses presses;
    Presses grabbed;
    qsizetype xErrors = 0;

    // Replaces itself while it runs, as a receiver that re-targets may. The
    // closure is big enough to live on the heap: had the backend not copied
    // it first, the sanitizer build would see it used after it was freed.
    Platform::HotKeyHandler recorder()
    {
        return [this, name = QStringLiteral("recorder")](quint32 vk, quint32 modifiers) {
            presses.append({vk, modifiers});
            platform()->setHotKeyHandler(recorder());
            QVERIFY(!name.isEmpty());
        };
    }

    bool grab(const Combo &c)
    {
        const bool ok = platform()->grabHotKey(c.vk, c.modifiers);
        if (ok)
            grabbed.append({c.vk, c.modifiers});
        return ok;
    }

    bool setLocks(int locks)
    {
        const int differ = other.locks() ^ locks;
        if (differ & CapsLock)
            XTestUtil::key(QStringLiteral("Caps_Lock"));
        if (differ & NumLock)
            XTestUtil::key(QStringLiteral("Num_Lock"));
        return XTestUtil::waitFor([&] { return other.locks() == locks; });
    }

    bool appGot(xcb_keysym_t keysym)
    {
        const QByteArray prefix = "key " + QByteArray::number(other.keycode(keysym)) + ' ';
        return !XTestUtil::waitForClientOutput(app.window, prefix).isEmpty();
    }

    bool pressedOnce(const Combo &c)
    {
        const qsizetype before = presses.size();
        return XTestUtil::key(c.keys) &&
               XTestUtil::waitFor([&] { return presses.size() > before; }) && XTestUtil::syncQt() &&
               presses.mid(before) == Presses{{c.vk, c.modifiers}};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(platform()->backendName(), QStringLiteral("x11"));
        XTestUtil::qtXErrors(); // counted from here on
        app = XTestUtil::startTestClient({"--events", "--title", "app"});
        QVERIFY2(app, qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::activate(app.window), qPrintable(XTestUtil::lastError()));
        platform()->setHotKeyHandler(recorder());
    }

    void cleanup()
    {
        for (const auto &[vk, modifiers] : std::as_const(grabbed))
            platform()->ungrabHotKey(vk, modifiers);
        grabbed.clear();
        presses.clear();
        other.ungrabAll();
        XTestUtil::run(QStringLiteral("setxkbmap"), {"us"});
        XTestUtil::run(QStringLiteral("xset"), {"r", "rate", "660", "25"});
        QVERIFY(setLocks(NoLocks));
        QVERIFY(XTestUtil::syncQt());
        // Refused grabs are checked requests: their errors must not reach Qt's log.
        const QStringList errors = XTestUtil::qtXErrors();
        QCOMPARE(errors.mid(xErrors), QStringList());
        xErrors = errors.size();
    }

    void cleanupTestCase() { XTestUtil::cleanup(); }

    void pressReachesTheHandlerOnce_data()
    {
        QTest::addColumn<Combo>("combo");
        QTest::addColumn<int>("locks");
        QTest::addColumn<bool>("fires");
        const Combo combos[] = {ctrlAltLeft,
                                {0x33, Ctrl, "ctrl+3"},
                                {0xC0, Shift, "shift+grave"},
                                winF12,
                                {'V', Alt | Shift, "alt+shift+v"}};
        for (const Combo &c : combos) {
            QTest::newRow(qPrintable(c.keys)) << c << NoLocks << true;
            QTest::addRow("%s, CapsLock", qPrintable(c.keys)) << c << CapsLock << true;
            QTest::addRow("%s, NumLock", qPrintable(c.keys)) << c << NumLock << true;
        }
        QTest::newRow("KP_3, NumLock") << Combo{0x63, 0, "KP_3"} << NumLock << true;
        QTest::newRow("keypad 3, NumLock, CapsLock") << keypad3 << (NumLock | CapsLock) << true;
        // Without NumLock the key is KP_Next, for the applications.
        QTest::newRow("keypad 3") << keypad3 << NoLocks << false;
        QTest::newRow("keypad 3, CapsLock") << keypad3 << CapsLock << false;
    }

    void pressReachesTheHandlerOnce()
    {
        QFETCH(Combo, combo);
        QFETCH(int, locks);
        QFETCH(bool, fires);
        QVERIFY2(grab(combo), qPrintable(platform()->lastErrorString()));
        QVERIFY(setLocks(locks));
        if (fires) {
            QVERIFY(pressedOnce(combo));
        } else {
            QVERIFY(XTestUtil::key(combo.keys));
            QVERIFY2(appGot(combo.keysym), qPrintable(XTestUtil::lastError()));
            QVERIFY(XTestUtil::syncQt());
            QCOMPARE(presses, Presses());
        }
    }

    // Every variant the other client does not hold was ours for a moment;
    // none of them may stay.
    void refusedWhenAnotherClientHoldsIt_data()
    {
        QTest::addColumn<int>("heldWith");
        QTest::addColumn<int>("pressedWith");
        QTest::newRow("held plain") << NoLocks << CapsLock;
        QTest::newRow("held with CapsLock") << CapsLock << NoLocks;
        QTest::newRow("held with NumLock") << NumLock << (NumLock | CapsLock);
    }

    void refusedWhenAnotherClientHoldsIt()
    {
        QFETCH(int, heldWith);
        QFETCH(int, pressedWith);
        const xcb_keycode_t left = other.keycode(ctrlAltLeft.keysym);
        QVERIFY(other.grab(left, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | heldWith));
        QVERIFY(!grab(ctrlAltLeft));
        QVERIFY2(platform()->lastErrorString().contains(QLatin1String("BadAccess")),
                 qPrintable(platform()->lastErrorString()));
        QVERIFY(setLocks(heldWith));
        QVERIFY(XTestUtil::key(ctrlAltLeft.keys));
        QVERIFY(XTestUtil::waitFor([&] { return other.pressed(left); }));
        QVERIFY(setLocks(pressedWith));
        QVERIFY(XTestUtil::key(ctrlAltLeft.keys));
        QVERIFY2(appGot(ctrlAltLeft.keysym), qPrintable(XTestUtil::lastError()));
        QVERIFY(XTestUtil::syncQt());
        QCOMPARE(presses, Presses());
    }

    // A grab of keycode 0 would be AnyKey: the whole keyboard.
    void noKeyNoGrab_data()
    {
        QTest::addColumn<quint32>("vk");
        QTest::addColumn<quint32>("modifiers");
        QTest::newRow("virtual key 0") << 0u << 0u;
        QTest::newRow("virtual key 0 with Shift") << 0u << Shift;
        QTest::newRow("no keysym") << 0xFFu << 0u;
        QTest::newRow("no key for Help") << 0x2Fu << 0u;
    }

    void noKeyNoGrab()
    {
        QFETCH(quint32, vk);
        QFETCH(quint32, modifiers);
        QVERIFY(!grab({vk, modifiers}));
        QVERIFY2(platform()->lastErrorString().contains(QString::asprintf("0x%02x", vk)),
                 qPrintable(platform()->lastErrorString()));
        QVERIFY(XTestUtil::key(QStringLiteral("a")) && XTestUtil::key(QStringLiteral("shift+a")));
        QVERIFY2(appGot('a') && appGot('a'), qPrintable(XTestUtil::lastError()));
        QVERIFY2(grab(ctrlAltLeft), qPrintable(platform()->lastErrorString()));
        QVERIFY(pressedOnce(ctrlAltLeft));
    }

    // In the German layout Y and Z change places.
    void layoutSwitch_data()
    {
        QTest::addColumn<Combo>("combo");
        QTest::addColumn<Combo>("moved");
        const Combo y{'Y', Ctrl | Alt, "ctrl+alt+y", 'y'}, z{'Z', Ctrl | Alt, "ctrl+alt+z", 'z'};
        QTest::newRow("Y") << y << z;
        QTest::newRow("Z") << z << y;
    }

    void layoutSwitch()
    {
        QFETCH(Combo, combo);
        QFETCH(Combo, moved);
        QVERIFY2(grab(combo), qPrintable(platform()->lastErrorString()));
        QVERIFY(XTestUtil::run(QStringLiteral("setxkbmap"), {"de"}).ok());
        QVERIFY(XTestUtil::syncQt());
        QVERIFY(pressedOnce(combo));
        // The key it left carries the other letter now, for the applications.
        QVERIFY(XTestUtil::key(moved.keys));
        QVERIFY2(appGot(moved.keysym), qPrintable(XTestUtil::lastError()));
        QVERIFY(XTestUtil::run(QStringLiteral("setxkbmap"), {"us"}).ok());
        QVERIFY(XTestUtil::syncQt());
        QVERIFY(pressedOnce(combo));
    }

    void ungrabReleasesOnlyThatCombination_data()
    {
        QTest::addColumn<Combo>("combo");
        QTest::addColumn<Combo>("kept");
        QTest::newRow("beside another key")
            << ctrlAltLeft << Combo{0x27, Ctrl | Alt, "ctrl+alt+Right"};
        QTest::newRow("same key, more modifiers")
            << Combo{0x33, Ctrl, "ctrl+3", '3'} << Combo{0x33, Ctrl | Shift, "ctrl+shift+3"};
        QTest::newRow("same key, fewer modifiers")
            << Combo{0x7B, Win | Shift, "super+shift+F12", 0xffc9} << winF12;
        // "less" is the shifted comma too: the comma key is grabbed for both,
        // and a comma stays the comma's.
        QTest::newRow("sharing a key") << Combo{0xE2, Ctrl} << Combo{0xBC, Ctrl, "ctrl+comma"};
    }

    void ungrabReleasesOnlyThatCombination()
    {
        QFETCH(Combo, combo);
        QFETCH(Combo, kept);
        QVERIFY2(grab(combo) && grab(kept), qPrintable(platform()->lastErrorString()));
        QVERIFY(pressedOnce(kept));
        QVERIFY(platform()->ungrabHotKey(combo.vk, combo.modifiers));
        QVERIFY(!platform()->ungrabHotKey(combo.vk, combo.modifiers));
        QVERIFY(setLocks(CapsLock | NumLock));
        if (!combo.keys.isEmpty()) {
            QVERIFY(XTestUtil::key(combo.keys));
            QVERIFY2(appGot(combo.keysym), qPrintable(XTestUtil::lastError()));
        }
        QVERIFY(pressedOnce(kept));
    }

    void autoRepeatFiresOnce_data()
    {
        QTest::addColumn<Combo>("combo");
        QTest::newRow("ctrl+alt+Left") << ctrlAltLeft;
        QTest::newRow("super+F12") << winF12;
    }

    void autoRepeatFiresOnce()
    {
        QFETCH(Combo, combo);
        QVERIFY(XTestUtil::run(QStringLiteral("xset"), {"r", "rate", "200", "50"}).ok());
        QVERIFY2(grab(combo), qPrintable(platform()->lastErrorString()));
        PressCounter counter(other.keycode(combo.keysym));
        QVERIFY(XTestUtil::keyDown(combo.keys));
        const bool repeated = XTestUtil::waitFor([&] { return counter.count >= 4; });
        QVERIFY(XTestUtil::keyUp(combo.keys));
        QVERIFY(repeated);
        QVERIFY(XTestUtil::syncQt());
        QCOMPARE(presses, Presses({{combo.vk, combo.modifiers}}));
        QVERIFY(pressedOnce(combo)); // the next press is a press again
        QCOMPARE(presses.size(), 2);
    }

    // Grabbed ahead in a batch: what was asked for stays, what another client
    // holds is refused as ever, what was ours before stays ours, the rest
    // goes back at the end.
    void batchKeepsOnlyWhatWasAskedFor()
    {
        const Combo right{0x27, Ctrl | Alt, "ctrl+alt+Right", 0xff53};
        const Combo ctrl3{0x33, Ctrl, "ctrl+3", '3'};
        QVERIFY2(grab(winF12), qPrintable(platform()->lastErrorString()));
        QVERIFY(other.grab(other.keycode(ctrlAltLeft.keysym), XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
        platform()->beginHotKeyBatch({{ctrlAltLeft.vk, ctrlAltLeft.modifiers}, {right.vk, right.modifiers},
                                      {ctrl3.vk, ctrl3.modifiers}, {winF12.vk, winF12.modifiers}});
        QVERIFY(grab(right));
        QVERIFY(!grab(ctrlAltLeft));
        QVERIFY2(platform()->lastErrorString().contains(QLatin1String("BadAccess")),
                 qPrintable(platform()->lastErrorString()));
        platform()->endHotKeyBatch();
        QVERIFY(pressedOnce(right));
        QVERIFY(pressedOnce(winF12));
        QVERIFY(other.grab(other.keycode(ctrl3.keysym), XCB_MOD_MASK_CONTROL));
    }
};

QTEST_MAIN(TestX11HotKeys)
#include "tst_x11hotkeys.moc"
