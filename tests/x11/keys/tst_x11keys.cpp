#include "keyboardhook.h"
#include "platform.h"
#include "xtestutil.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <memory>

namespace {

xcb_connection_t *connection()
{
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

bool directlyBelow(WId window, WId sibling)
{
    const QList<quint32> children = XTestUtil::rootChildren(); // bottom first
    const int w = children.indexOf(XTestUtil::topLevelOf(quint32(window)));
    const int s = children.indexOf(XTestUtil::topLevelOf(quint32(sibling)));
    return w >= 0 && s >= 0 && w + 1 == s;
}

// This client's XInput selection on the root for all master devices.
uint32_t selectedOnRoot()
{
    xcb_connection_t *c = connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    auto *reply = xcb_input_xi_get_selected_events_reply(
        c, xcb_input_xi_get_selected_events(c, root), nullptr);
    uint32_t bits = 0;
    for (auto it = xcb_input_xi_get_selected_events_masks_iterator(reply); reply && it.rem;
         xcb_input_event_mask_next(&it)) {
        if (it.data->deviceid == XCB_INPUT_DEVICE_ALL_MASTER && it.data->mask_len > 0)
            bits = *xcb_input_event_mask_mask(it.data);
    }
    std::free(reply);
    return bits;
}

bool selectOnRoot(uint32_t bits)
{
    xcb_connection_t *c = connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    struct
    {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, bits};
    xcb_generic_error_t *error =
        xcb_request_check(c, xcb_input_xi_select_events_checked(c, root, 1, &mask.head));
    std::free(error);
    return !error;
}

} // namespace

class TestX11Keys : public QObject
{
    Q_OBJECT

private:
    KeyboardHook *hook() { return KeyboardHook::instance(); }

    // Raw events come in order: once Escape has been seen, everything typed
    // before it has been, too.
    bool drain()
    {
        QSignalSpy escape(hook(), &KeyboardHook::escape);
        return XTestUtil::key(QStringLiteral("Escape")) &&
               XTestUtil::waitFor([&] { return escape.count() > 0; });
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(Platform::instance()->backendName(), QStringLiteral("x11"));
        QVERIFY(hook()->install());
        QVERIFY(drain());
        XTestUtil::qtXErrors(); // counted from here on
        // The dummy server's keymap has no Help key. Giving it one now also
        // checks that a changed keymap is read again.
        QVERIFY(XTestUtil::run(QStringLiteral("xmodmap"), {"-e", "keycode 245 = Help"}).ok());
    }

    void cleanupTestCase()
    {
        XTestUtil::cleanup();
        KeyboardHook::destroyInstance();
    }

    void patterns_data()
    {
        QTest::addColumn<QStringList>("xdotool");
        QTest::addColumn<int>("altUps");
        QTest::addColumn<int>("helps");

        QTest::newRow("alt alone") << QStringList{"key", "alt"} << 1 << 0;
        QTest::newRow("right alt alone") << QStringList{"key", "Alt_R"} << 1 << 0;
        QTest::newRow("alt+tab") << QStringList{"keydown", "alt", "key", "Tab", "keyup", "alt"} << 0
                                 << 0;
        QTest::newRow("alt+unknown key")
            << QStringList{"keydown", "alt", "key", "udiaeresis", "keyup", "alt"} << 0 << 0;
        QTest::newRow("ctrl+alt") << QStringList{"key", "ctrl+alt"} << 0 << 0;
        QTest::newRow("f1") << QStringList{"key", "F1"} << 0 << 1;
        // xdotool's "shift+F1" lets go of Shift first; a user lets go of F1 first.
        QTest::newRow("shift+f1") << QStringList{"keydown", "shift", "key", "F1", "keyup", "shift"}
                                  << 0 << 0;
        QTest::newRow("super+f1") << QStringList{"keydown", "super", "key", "F1", "keyup", "super"}
                                  << 0 << 0;
        // xdotool does not know the name "Help".
        QTest::newRow("help key") << QStringList{"key", "0xff6a"} << 0 << 1;
    }

    void patterns()
    {
        QFETCH(QStringList, xdotool);
        QFETCH(int, altUps);
        QFETCH(int, helps);
        QSignalSpy altUp(hook(), &KeyboardHook::altUp);
        QSignalSpy help(hook(), &KeyboardHook::help);
        const CommandResult r = XTestUtil::run(QStringLiteral("xdotool"), xdotool);
        QVERIFY2(r.ok(), r.standardError.constData());
        QVERIFY(drain());
        QCOMPARE(altUp.count(), altUps);
        QCOMPARE(help.count(), helps);
        QVERIFY(!hook()->isShiftDown());
    }

    void escapeOnRelease()
    {
        QSignalSpy escape(hook(), &KeyboardHook::escape);
        QVERIFY(XTestUtil::keyDown(QStringLiteral("Escape")));
        // Shift pressed after it: once the hook sees Shift, it has seen the press.
        QVERIFY(XTestUtil::keyDown(QStringLiteral("shift")));
        QVERIFY(XTestUtil::waitFor([&] { return hook()->isShiftDown(); }));
        QCOMPARE(escape.count(), 0);
        QVERIFY(XTestUtil::keyUp(QStringLiteral("shift")));
        QVERIFY(XTestUtil::keyUp(QStringLiteral("Escape")));
        QVERIFY(XTestUtil::waitFor([&] { return escape.count() == 1; }));
    }

    void shiftHeld()
    {
        QVERIFY(XTestUtil::keyDown(QStringLiteral("shift")));
        QVERIFY(XTestUtil::waitFor([&] { return hook()->isShiftDown(); }));
        QVERIFY(XTestUtil::keyUp(QStringLiteral("shift")));
        QVERIFY(XTestUtil::waitFor([&] { return !hook()->isShiftDown(); }));
    }

    void reinstallTellsTheModifiersHeld()
    {
        QVERIFY(hook()->remove());
        QVERIFY(XTestUtil::keyDown(QStringLiteral("shift")));
        // Every event the press caused has reached Qt by now.
        QVERIFY2(XTestUtil::syncQt(), qPrintable(XTestUtil::lastError()));
        QVERIFY(!hook()->isShiftDown());
        QVERIFY(hook()->install());
        const bool shiftSeen = hook()->isShiftDown();
        QVERIFY(XTestUtil::keyUp(QStringLiteral("shift")));
        QVERIFY(shiftSeen);
        QVERIFY(XTestUtil::waitFor([&] { return !hook()->isShiftDown(); }));
    }

    // While a passive grab of ours is active the keys go to us as core
    // events; the modifiers must not stay held when their raw releases are
    // missing.
    void modifiersDoNotStickThroughAGrabOfOurs()
    {
        xcb_connection_t *c = connection();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const xcb_keycode_t f12 = 96; // evdev keycodes, as the dummy server uses
        xcb_generic_error_t *error =
            xcb_request_check(c, xcb_grab_key_checked(c, 1, root, XCB_MOD_MASK_SHIFT, f12,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        QVERIFY(!error);
        const CommandResult r =
            XTestUtil::run(QStringLiteral("xdotool"), {"keydown", "shift", "keydown", "F12",
                                                       "keyup", "shift", "keyup", "F12"});
        QVERIFY(r.ok());
        QVERIFY(drain());
        xcb_ungrab_key(c, f12, root, XCB_MOD_MASK_SHIFT);
        xcb_flush(c);
        QVERIFY(!hook()->isShiftDown());
        QSignalSpy help(hook(), &KeyboardHook::help);
        QVERIFY(XTestUtil::key(QStringLiteral("F1")));
        QVERIFY(XTestUtil::waitFor([&] { return help.count() == 1; }));
    }

    void keysStillReachOtherPrograms()
    {
        if (qEnvironmentVariableIsSet("VARLO_TEST_NO_WM"))
            QSKIP("needs a window manager to focus the xterm");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("typed"));
        const StartedWindow xterm =
            XTestUtil::startXterm(QStringLiteral("keys"),
                                  {QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
                                   QStringLiteral("read x; echo \"$x\" > '%1'").arg(file)});
        QVERIFY2(xterm, qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::activate(xterm.window), qPrintable(XTestUtil::lastError()));
        QSignalSpy escape(hook(), &KeyboardHook::escape);
        // Escape first: a key the hook acts on must get through as well as any.
        QVERIFY(XTestUtil::key(QStringLiteral("Escape")));
        QVERIFY(XTestUtil::waitFor([&] { return escape.count() == 1; }));
        QVERIFY(XTestUtil::key(QStringLiteral("ctrl+u")));
        QVERIFY(XTestUtil::typeText(QStringLiteral("varlo")));
        QVERIFY(XTestUtil::key(QStringLiteral("Return")));
        QVERIFY(XTestUtil::waitFor([&] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) && f.readAll() == "varlo\n";
        }));
    }

    // The selection on the root is shared with the rest of the program:
    // watching keys adds its bits and stopping takes away only those.
    void otherSelectionsOnTheRootStay()
    {
        const uint32_t rawKeys =
            XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
        const uint32_t other = XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
        QCOMPARE(selectedOnRoot() & rawKeys, rawKeys);
        QVERIFY(selectOnRoot(selectedOnRoot() | other));
        QVERIFY(hook()->remove());
        QCOMPARE(selectedOnRoot() & (rawKeys | other), other);
        QVERIFY(hook()->install());
        QCOMPARE(selectedOnRoot() & (rawKeys | other), rawKeys | other);
        QVERIFY(selectOnRoot(selectedOnRoot() & ~other));
        QVERIFY(drain());
    }

    void stackBelow()
    {
        auto makeWindow = [](const QString &title, const QPoint &at) {
            auto w = std::make_unique<QWidget>();
            w->setWindowTitle(title);
            w->setGeometry(QRect(at, QSize(200, 150)));
            w->show();
            return w;
        };
        std::unique_ptr<QWidget> a = makeWindow(QStringLiteral("a"), QPoint(100, 100));
        std::unique_ptr<QWidget> b = makeWindow(QStringLiteral("b"), QPoint(150, 150));
        QVERIFY(QTest::qWaitForWindowExposed(a.get()));
        QVERIFY(QTest::qWaitForWindowExposed(b.get()));
        const bool wm = !qEnvironmentVariableIsSet("VARLO_TEST_NO_WM");
        QVERIFY(!wm || XTestUtil::waitForClientListed(quint32(a->winId())));
        QVERIFY(!wm || XTestUtil::waitForClientListed(quint32(b->winId())));
        // A third window on top, so that "below b" is not "the bottom".
        std::unique_ptr<QWidget> c = makeWindow(QStringLiteral("c"), QPoint(200, 200));
        QVERIFY(QTest::qWaitForWindowExposed(c.get()));
        QVERIFY(!wm || XTestUtil::waitForClientListed(quint32(c->winId())));

        Platform::instance()->stackBelow(c->winId(), b->winId());
        QVERIFY(XTestUtil::waitFor([&] { return directlyBelow(c->winId(), b->winId()); }));
        Platform::instance()->stackBelow(a->winId(), c->winId());
        QVERIFY(XTestUtil::waitFor([&] { return directlyBelow(a->winId(), c->winId()); }));
        // Below itself is no request at all, and raises no X error.
        const qsizetype errors = XTestUtil::qtXErrors().size();
        Platform::instance()->stackBelow(a->winId(), a->winId());
        QVERIFY2(XTestUtil::syncWindowManager(), qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::syncQt(), qPrintable(XTestUtil::lastError()));
        QVERIFY(directlyBelow(a->winId(), c->winId()));
        QCOMPARE(XTestUtil::qtXErrors().mid(errors), QStringList());
    }
};

QTEST_MAIN(TestX11Keys)
#include "tst_x11keys.moc"
