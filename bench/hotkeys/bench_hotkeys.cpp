// Figures of the global hot keys on a real X server (run it under
// tests/support/xrun):
//  - grabbing 100 combinations (each grabbed with and without Lock and
//    NumLock: 400 GrabKey requests), one grabHotKey() call each and as one
//    batch, next to a bare round trip and the same 400 requests sent by a
//    bare client;
//  - a press typed through XTEST (from a connection of its own) to the call
//    of the handler, over 200 presses.

#include "platform.h"
#include "x11/x11hotkeys.h"
#include "x11/x11platform.h"
#include "xtestutil.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QList<X11HotKeys::Combination> combinations(int count)
{
    QList<X11HotKeys::Combination> list;
    const quint32 modifierSets[] = {Platform::ModControl | Platform::ModAlt,
                                    Platform::ModControl | Platform::ModAlt | Platform::ModShift,
                                    Platform::ModWin | Platform::ModAlt};
    for (const quint32 modifiers : modifierSets) {
        for (quint32 vk = 'A'; vk <= 'Z'; ++vk)
            list.append({vk, modifiers});
        for (quint32 vk = 0x70; vk <= 0x7B; ++vk) // F1..F12
            list.append({vk, modifiers});
    }
    return list.mid(0, count);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    auto *platform = dynamic_cast<X11Platform *>(Platform::instance());
    if (!platform) {
        std::fprintf(stderr, "bench_hotkeys needs an X server (run it under xrun)\n");
        return 1;
    }
    xcb_connection_t *qt = platform->connection();
    const QList<X11HotKeys::Combination> hundred = combinations(100);

    std::vector<double> roundTrips;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer t;
        t.start();
        std::free(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
        roundTrips.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("round trip to the server: median %.3f ms\n", median(roundTrips));

    // The server's own share: the same 400 requests from a bare client.
    {
        xcb_connection_t *bare = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(bare)).data->root;
        std::vector<double> floor;
        for (int run = 0; run < 20; ++run) {
            QElapsedTimer t;
            t.start();
            std::vector<xcb_void_cookie_t> cookies;
            for (int keycode = 10; keycode < 110; ++keycode) {
                for (const int extra : {0, int(XCB_MOD_MASK_LOCK), int(XCB_MOD_MASK_2),
                                        int(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)})
                    cookies.push_back(xcb_grab_key_checked(
                        bare, 1, root, uint16_t(XCB_MOD_MASK_CONTROL | extra),
                        xcb_keycode_t(keycode), XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
            }
            for (const xcb_void_cookie_t cookie : cookies)
                std::free(xcb_request_check(bare, cookie));
            floor.push_back(t.nsecsElapsed() / 1e6);
            xcb_ungrab_key(bare, XCB_GRAB_ANY, root, XCB_MOD_MASK_ANY);
            std::free(xcb_get_input_focus_reply(bare, xcb_get_input_focus(bare), nullptr));
        }
        xcb_disconnect(bare);
        std::printf("400 GrabKey from a bare client, replies after all of them: median %.2f ms\n",
                    median(floor));
    }

    std::vector<double> oneByOne;
    for (int run = 0; run < 20; ++run) {
        QElapsedTimer t;
        t.start();
        int grabbed = 0;
        for (const X11HotKeys::Combination &c : hundred)
            grabbed += platform->grabHotKey(c.vk, c.modifiers);
        oneByOne.push_back(t.nsecsElapsed() / 1e6);
        if (grabbed != hundred.size()) {
            std::fprintf(stderr, "only %d of 100 grabbed: %s\n", grabbed,
                         qPrintable(platform->lastErrorString()));
            return 1;
        }
        for (const X11HotKeys::Combination &c : hundred)
            platform->ungrabHotKey(c.vk, c.modifiers);
        // The server handles the ungrabs now, not in the next run's time.
        std::free(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
    }
    std::printf("100 combinations (400 GrabKey), one grabHotKey() each: median %.2f ms over "
                "%zu runs\n",
                median(oneByOne), oneByOne.size());

    std::vector<double> batch;
    for (int run = 0; run < 20; ++run) {
        std::free(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
        X11HotKeys keys(qt, platform->rootWindow());
        QString reason;
        QElapsedTimer t;
        t.start();
        const QList<bool> results = keys.grab(hundred, &reason);
        batch.push_back(t.nsecsElapsed() / 1e6);
        if (results.count(true) != hundred.size()) {
            std::fprintf(stderr, "batch refused: %s\n", qPrintable(reason));
            return 1;
        }
    }
    std::printf("100 combinations as one batch (keyboard map read included): median %.2f ms\n",
                median(batch));

    // Latency: Ctrl+Alt held through XTEST, Left pressed and released 200
    // times. Not F12: Ctrl+Alt+F1..F12 switch the virtual terminal in Xorg's
    // keymap, and the server keeps the press to itself.
    constexpr quint32 control = 0xffe3, alt = 0xffe9, left = 0xff51;

    const quint32 mods = Platform::ModControl | Platform::ModAlt;
    if (!platform->grabHotKey(0x25, mods)) {
        std::fprintf(stderr, "Ctrl+Alt+Left: %s\n", qPrintable(platform->lastErrorString()));
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    qint64 handled = -1;
    platform->setHotKeyHandler([&](quint32, quint32) { handled = clock.nsecsElapsed(); });
    // Keys reach no one while the focus is None, as on a desktop without windows.
    xcb_set_input_focus(qt, XCB_INPUT_FOCUS_POINTER_ROOT, XCB_INPUT_FOCUS_POINTER_ROOT,
                        XCB_CURRENT_TIME);
    xcb_flush(qt);
    if (!XTestUtil::fakeKey(control, true) || !XTestUtil::fakeKey(alt, true)) {
        std::fprintf(stderr, "%s\n", qPrintable(XTestUtil::lastError()));
        return 1;
    }
    std::vector<double> latencies;
    int missed = 0;
    for (int i = 0; i < 200 && missed < 3; ++i) {
        handled = -1;
        const qint64 sent = clock.nsecsElapsed();
        XTestUtil::fakeKey(left, true);
        XTestUtil::fakeKey(left, false);
        const QDeadlineTimer deadline(1000);
        while (handled < 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (handled < 0)
            ++missed;
        else
            latencies.push_back((handled - sent) / 1e6);
    }
    XTestUtil::fakeKey(alt, false);
    XTestUtil::fakeKey(control, false);
    std::sort(latencies.begin(), latencies.end());
    std::printf("XTEST press to handler: median %.3f ms, 90th percentile %.3f ms, slowest %.3f ms "
                "(%zu presses, %d missed)\n",
                median(latencies), latencies.empty() ? 0.0 : latencies[latencies.size() * 9 / 10],
                latencies.empty() ? 0.0 : latencies.back(), latencies.size(), missed);
    return missed ? 1 : 0;
}
