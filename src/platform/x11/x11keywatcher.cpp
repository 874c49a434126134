#include "x11keywatcher.h"

#include "keycodes.h"

#include <QCoreApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xinput.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

enum Modifier
{
    None,
    Shift,
    Control,
    Alt,
    Win
};

Modifier modifierOf(int vk)
{
    switch (vk) {
    case 0x10:
    case 0xA0:
    case 0xA1:
        return Shift;
    case 0x11:
    case 0xA2:
    case 0xA3:
        return Control;
    case 0x12:
    case 0xA4:
    case 0xA5:
        return Alt;
    case 0x5B:
    case 0x5C:
        return Win;
    default:
        return None;
    }
}

// XKB's event codes; its header is not needed for two numbers.
constexpr uint8_t xkbNewKeyboardNotify = 0;
constexpr uint8_t xkbMapNotify = 1;

constexpr uint32_t kRawKeys =
    XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;

} // namespace

struct X11KeyWatcher::Private
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    Platform::KeyWatcher watcher;
    bool watching = false;
    uint8_t xinputOpcode = 0;
    uint8_t xkbFirstEvent = 0;
    xcb_key_symbols_t *symbols = nullptr;

    ~Private()
    {
        if (symbols)
            xcb_key_symbols_free(symbols);
    }

    int vkOf(uint32_t keycode)
    {
        if (keycode > 255)
            return 0;
        if (!symbols)
            symbols = xcb_key_symbols_alloc(connection);
        return symbols ? KeyCodes::vkFromKeysym(
                             xcb_key_symbols_get_keysym(symbols, xcb_keycode_t(keycode), 0))
                       : 0;
    }

    void forgetSymbols()
    {
        if (symbols)
            xcb_key_symbols_free(symbols);
        symbols = nullptr;
    }

    // This client's XInput event mask on the root for all master devices,
    // as many 32-bit words as the server keeps.
    std::vector<uint32_t> selectedEvents()
    {
        std::vector<uint32_t> words;
        xcb_input_xi_get_selected_events_reply_t *reply = xcb_input_xi_get_selected_events_reply(
            connection, xcb_input_xi_get_selected_events(connection, root), nullptr);
        if (!reply)
            return words;
        for (auto it = xcb_input_xi_get_selected_events_masks_iterator(reply); it.rem;
             xcb_input_event_mask_next(&it)) {
            if (it.data->deviceid == XCB_INPUT_DEVICE_ALL_MASTER) {
                const uint32_t *bits = xcb_input_event_mask_mask(it.data);
                words.assign(bits, bits + it.data->mask_len);
            }
        }
        std::free(reply);
        return words;
    }

    // Our raw key bits added to (or taken from) this client's selection. A
    // selection replaces the client's earlier one for the same device, so
    // whatever else was selected there is carried over.
    bool selectRawKeys(bool on)
    {
        std::vector<uint32_t> words = selectedEvents();
        if (words.empty())
            words.push_back(0);
        words[0] = on ? words[0] | kRawKeys : words[0] & ~kRawKeys;
        // All master devices, not all devices: Qt keeps a selection of its own
        // for all devices on the root.
        std::vector<uint32_t> request(1 + words.size()); // the 4-byte head, then the mask
        auto *head = reinterpret_cast<xcb_input_event_mask_t *>(request.data());
        head->deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
        head->mask_len = uint16_t(words.size());
        std::copy(words.begin(), words.end(), request.begin() + 1);
        xcb_generic_error_t *error = xcb_request_check(
            connection, xcb_input_xi_select_events_checked(connection, root, 1, head));
        const bool ok = !error;
        std::free(error);
        return ok;
    }

    // The watcher is copied first: a slot behind it may stop or re-target the
    // watching, which replaces the function while it runs.
    void deliverKey(int vk, bool isUp)
    {
        const Platform::KeyWatcher w = watcher;
        if (w.key)
            w.key(vk, isUp);
    }

    void deliverModifiers(bool shift, bool control, bool alt, bool win)
    {
        const Platform::KeyWatcher w = watcher;
        if (w.modifiers)
            w.modifiers(shift, control, alt, win);
    }

    void resyncFromKeymap()
    {
        xcb_generic_error_t *error = nullptr;
        xcb_query_keymap_reply_t *keymap =
            xcb_query_keymap_reply(connection, xcb_query_keymap(connection), &error);
        std::free(error);
        if (!keymap)
            return;
        bool held[5] = {};
        for (int keycode = 8; keycode < 256; ++keycode) {
            if (keymap->keys[keycode / 8] & (1 << (keycode % 8)))
                held[modifierOf(vkOf(uint32_t(keycode)))] = true;
        }
        std::free(keymap);
        deliverModifiers(held[Shift], held[Control], held[Alt], held[Win]);
    }

    void resyncFromCoreKey(const xcb_key_press_event_t *event)
    {
        // The state is the one before the event. For a modifier key that is
        // stale by the key itself, and with both Shift keys held one release
        // does not end Shift: ask the server instead.
        if (modifierOf(vkOf(event->detail)) != None) {
            resyncFromKeymap();
            return;
        }
        const uint16_t s = event->state;
        // Mod5 is AltGr, which the key table counts as the right Alt.
        deliverModifiers(s & XCB_MOD_MASK_SHIFT, s & XCB_MOD_MASK_CONTROL,
                         s & (XCB_MOD_MASK_1 | XCB_MOD_MASK_5), s & XCB_MOD_MASK_4);
    }
};

X11KeyWatcher::X11KeyWatcher(xcb_connection_t *connection, quint32 root)
    : d(std::make_unique<Private>())
{
    d->connection = connection;
    d->root = root;
}

X11KeyWatcher::~X11KeyWatcher()
{
    // Qt's connection is gone once the application object is.
    if (d->watching && QCoreApplication::instance())
        stop();
}

bool X11KeyWatcher::isWatching() const
{
    return d->watching;
}

bool X11KeyWatcher::start(const Platform::KeyWatcher &watcher, QString *reason)
{
    auto fail = [reason](const QString &text) {
        if (reason)
            *reason = text;
        return false;
    };
    if (!d->connection)
        return fail(QStringLiteral("no X11 connection"));

    if (!d->watching) {
        const xcb_query_extension_reply_t *xinput =
            xcb_get_extension_data(d->connection, &xcb_input_id);
        if (!xinput || !xinput->present)
            return fail(QStringLiteral("the X server has no XInput extension"));
        // Asking for less than Qt already agreed on is an error, asking for
        // more gets the version agreed before: ask for the newest.
        xcb_generic_error_t *error = nullptr;
        xcb_input_xi_query_version_reply_t *version = xcb_input_xi_query_version_reply(
            d->connection, xcb_input_xi_query_version(d->connection, 2, 4), &error);
        std::free(error);
        const int major = version ? version->major_version : 0;
        std::free(version);
        if (major < 2)
            return fail(QStringLiteral("the X server has no XInput 2"));
        d->xinputOpcode = xinput->major_opcode;

        xcb_query_extension_reply_t *xkb = xcb_query_extension_reply(
            d->connection, xcb_query_extension(d->connection, 9, "XKEYBOARD"), nullptr);
        d->xkbFirstEvent = xkb && xkb->present ? xkb->first_event : 0;
        std::free(xkb);

        if (!d->selectRawKeys(true))
            return fail(QStringLiteral("the X server refused raw key events"));
        // The layout may have changed while nobody listened.
        d->forgetSymbols();
    }
    d->watcher = watcher;
    d->watching = true;
    d->resyncFromKeymap();
    return true;
}

void X11KeyWatcher::stop()
{
    if (!d->watching)
        return;
    d->watching = false;
    d->watcher = Platform::KeyWatcher();
    d->selectRawKeys(false);
}

void X11KeyWatcher::handleEvent(const xcb_generic_event_t *event)
{
    if (!d->watching || !event)
        return;
    const void *message = event;
    const uint8_t type = event->response_type & 0x7f;
    switch (type) {
    case XCB_GE_GENERIC: {
        const auto *ge = static_cast<const xcb_ge_generic_event_t *>(message);
        if (ge->extension != d->xinputOpcode)
            break;
        if (ge->event_type != XCB_INPUT_RAW_KEY_PRESS &&
            ge->event_type != XCB_INPUT_RAW_KEY_RELEASE)
            break;
        // Auto-repeat comes as further presses (XIKeyRepeat set): a press
        // is what the hook expects of it.
        const auto *raw = static_cast<const xcb_input_raw_key_press_event_t *>(message);
        d->deliverKey(d->vkOf(raw->detail), ge->event_type == XCB_INPUT_RAW_KEY_RELEASE);
        break;
    }
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
        // Core key events reach us only for our own windows or grabs; while a
        // grab of ours is active the raw releases may never come.
        d->resyncFromCoreKey(static_cast<const xcb_key_press_event_t *>(message));
        break;
    case XCB_FOCUS_IN:
        d->resyncFromKeymap();
        break;
    case XCB_MAPPING_NOTIFY: {
        const auto *mapping = static_cast<const xcb_mapping_notify_event_t *>(message);
        if (mapping->request == XCB_MAPPING_KEYBOARD)
            d->forgetSymbols();
        break;
    }
    default:
        // An XKB-aware client like Qt gets XKB's notices instead of MappingNotify.
        if (d->xkbFirstEvent && type == d->xkbFirstEvent) {
            const uint8_t xkbType = reinterpret_cast<const uint8_t *>(message)[1];
            if (xkbType == xkbNewKeyboardNotify || xkbType == xkbMapNotify)
                d->forgetSymbols();
        }
        break;
    }
}
