#include "x11hotkeys.h"

#include "keycodes.h"
#include "varlolog.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace {

struct Free
{
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, Free>;

constexpr uint16_t kLock = XCB_MOD_MASK_LOCK;
constexpr uint16_t kCombinationMods =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

constexpr xcb_keysym_t kNumLock = 0xff7f;

// XKB's event codes; its header is not needed for two numbers.
constexpr uint8_t xkbNewKeyboardNotify = 0;
constexpr uint8_t xkbMapNotify = 1;

// Auto-repeat starts no sooner than this after a press: a release and press
// of the same key in the same millisecond before it are typed (XTEST can be
// that fast), not repeated.
constexpr xcb_timestamp_t kShortestRepeatDelay = 100;

uint16_t maskOf(quint32 modifiers)
{
    uint16_t mask = 0;
    if (modifiers & Platform::ModShift)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Platform::ModControl)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Platform::ModAlt)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & Platform::ModWin)
        mask |= XCB_MOD_MASK_4;
    return mask;
}

QString describe(X11HotKeys::Combination c)
{
    QString text;
    if (c.modifiers & Platform::ModControl)
        text += QLatin1String("Ctrl+");
    if (c.modifiers & Platform::ModAlt)
        text += QLatin1String("Alt+");
    if (c.modifiers & Platform::ModShift)
        text += QLatin1String("Shift+");
    if (c.modifiers & Platform::ModWin)
        text += QLatin1String("Win+");
    return text + QStringLiteral("virtual key 0x%1").arg(c.vk, 2, 16, QLatin1Char('0'));
}

// KP_Space .. KP_Equal.
bool isKeypad(xcb_keysym_t keysym)
{
    return keysym >= 0xff80 && keysym <= 0xffbd;
}

// One passive grab: a keycode with the exact modifier state it is grabbed with.
quint32 grabOf(xcb_keycode_t keycode, uint16_t mask)
{
    return quint32(keycode) << 16 | mask;
}
xcb_keycode_t keycodeOf(quint32 grab)
{
    return xcb_keycode_t(grab >> 16);
}
uint16_t maskOfGrab(quint32 grab)
{
    return uint16_t(grab & 0xffff);
}

quint64 keyOf(X11HotKeys::Combination c)
{
    return quint64(c.vk) << 32 | c.modifiers;
}

struct Keymap
{
    bool valid = false;
    xcb_keycode_t first = 0;
    int count = 0;
    int perKeycode = 0;
    std::vector<xcb_keysym_t> keysyms;
    /** The modifier NumLock sets, 0 when the keyboard has none we can tell apart. */
    uint16_t numLock = 0;

    xcb_keysym_t at(xcb_keycode_t keycode, int column) const
    {
        const int row = keycode - first;
        if (row < 0 || row >= count || column < 0 || column >= perKeycode)
            return 0;
        return keysyms[size_t(row * perKeycode + column)];
    }

    /** The lowest column of keycode that holds keysym, -1 for none. */
    int columnOf(xcb_keycode_t keycode, xcb_keysym_t keysym) const
    {
        for (int column = 0; column < perKeycode; ++column) {
            if (at(keycode, column) == keysym)
                return column;
        }
        return -1;
    }
};

} // namespace

struct X11HotKeys::Private
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    Platform::HotKeyHandler handler;
    Keymap keymap;
    bool xkbAsked = false;
    uint8_t xkbFirstEvent = 0;

    struct Grab
    {
        quint32 grab;
        /** The column of the key that carries the keysym: the lower one wins a shared key. */
        int column;
    };
    struct Registration
    {
        Combination combination;
        QList<Grab> grabs;
        /** Every one of its grabs is held (false after a map change took a key away). */
        bool grabbed = false;
    };
    QHash<quint64, Registration> registrations;
    /** How many grabbed registrations use each grab. */
    QHash<quint32, int> users;
    /** The grabs the server holds for us. */
    QSet<quint32> onServer;
    /** Which combination a grabbed key press is, rebuilt when needed. */
    QHash<quint32, Combination> owners;
    bool ownersStale = true;

    // A batch: what its first grab takes along, and what was grabbed ahead
    // and not asked for yet.
    bool batching = false;
    QList<Combination> batchWanted;
    QSet<quint64> grabbedAhead;

    struct KeyState
    {
        bool down = false;
        xcb_timestamp_t pressed = 0;
    };
    std::array<KeyState, 256> keys{};
    struct
    {
        xcb_keycode_t keycode = 0;
        bool release = false;
        xcb_timestamp_t time = 0;
    } lastKey;

    bool readKeymap()
    {
        const xcb_setup_t *setup = xcb_get_setup(connection);
        const xcb_keycode_t first = setup->min_keycode;
        const int count = setup->max_keycode - setup->min_keycode + 1;
        // One round trip for the keysyms, the modifier map and XKB's event code.
        const xcb_get_keyboard_mapping_cookie_t mapCookie =
            xcb_get_keyboard_mapping(connection, first, uint8_t(count));
        const xcb_get_modifier_mapping_cookie_t modCookie = xcb_get_modifier_mapping(connection);
        xcb_query_extension_cookie_t xkbCookie{};
        if (!xkbAsked)
            xkbCookie = xcb_query_extension(connection, 9, "XKEYBOARD");
        Reply<xcb_get_keyboard_mapping_reply_t> map(
            xcb_get_keyboard_mapping_reply(connection, mapCookie, nullptr));
        Reply<xcb_get_modifier_mapping_reply_t> mods(
            xcb_get_modifier_mapping_reply(connection, modCookie, nullptr));
        if (!xkbAsked) {
            Reply<xcb_query_extension_reply_t> xkb(
                xcb_query_extension_reply(connection, xkbCookie, nullptr));
            xkbFirstEvent = xkb && xkb->present ? xkb->first_event : 0;
            xkbAsked = true;
        }
        keymap = Keymap();
        if (!map || !mods || map->keysyms_per_keycode == 0)
            return false;
        keymap.first = first;
        keymap.count = count;
        keymap.perKeycode = map->keysyms_per_keycode;
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(map.get());
        keymap.keysyms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(map.get()));
        keymap.keysyms.resize(size_t(count * keymap.perKeycode));

        // NumLock is whichever modifier holds a Num_Lock key; often Mod2, but
        // nothing says so.
        const xcb_keycode_t *modKeys = xcb_get_modifier_mapping_keycodes(mods.get());
        const int perModifier = mods->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8 && !keymap.numLock; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t keycode = modKeys[modifier * perModifier + i];
                if (keycode && keymap.columnOf(keycode, kNumLock) >= 0) {
                    keymap.numLock = uint16_t(1 << modifier);
                    break;
                }
            }
        }
        // On a modifier of the combinations (or Lock) it cannot be left out.
        if (keymap.numLock & (kCombinationMods | kLock))
            keymap.numLock = 0;
        keymap.valid = true;
        return true;
    }

    /** The grabs combination needs on the current keyboard; empty with reason set when none. */
    QList<Grab> grabsFor(Combination combination, QString *reason) const
    {
        const xcb_keysym_t keysym =
            combination.vk ? KeyCodes::keysymFromVk(int(combination.vk)) : 0;
        if (!keysym) {
            *reason = QStringLiteral("virtual key 0x%1 has no key symbol")
                          .arg(combination.vk, 2, 16, QLatin1Char('0'));
            return {};
        }
        const uint16_t mask = maskOf(combination.modifiers);
        const uint16_t numLock = keymap.numLock;
        QList<Grab> grabs;
        for (int row = 0; row < keymap.count; ++row) {
            const xcb_keycode_t keycode = xcb_keycode_t(keymap.first + row);
            const int column = keymap.columnOf(keycode, keysym);
            // Keycode 0 is AnyKey: a grab of it would take the whole keyboard.
            if (column < 0 || keycode == 0)
                continue;
            // A keypad digit is the NumLock level of a key whose first level
            // is KP_End and the like: without NumLock the key stays with the
            // applications.
            const xcb_keysym_t base = column % 2 ? keymap.at(keycode, column - 1) : 0;
            const bool numLockOnly =
                numLock && isKeypad(keysym) && isKeypad(base) && base != keysym;
            for (const uint16_t extra : {uint16_t(0), kLock, numLock, uint16_t(numLock | kLock)}) {
                if (numLockOnly && !(extra & numLock))
                    continue;
                const Grab grab{grabOf(keycode, mask | extra), column};
                if (std::none_of(grabs.cbegin(), grabs.cend(),
                                 [&](const Grab &g) { return g.grab == grab.grab; }))
                    grabs.append(grab);
            }
        }
        if (grabs.isEmpty())
            *reason = QStringLiteral("no key of this keyboard gives keysym 0x%1 (virtual key 0x%2)")
                          .arg(keysym, 0, 16)
                          .arg(combination.vk, 2, 16, QLatin1Char('0'));
        return grabs;
    }

    void hold(Registration &r, const QList<Grab> &grabs)
    {
        r.grabs = grabs;
        r.grabbed = true;
        for (const Grab &g : grabs)
            ++users[g.grab];
        ownersStale = true;
    }

    void letGo(Registration &r)
    {
        if (r.grabbed) {
            for (const Grab &g : std::as_const(r.grabs)) {
                if (--users[g.grab] == 0)
                    users.remove(g.grab);
            }
        }
        r.grabs.clear();
        r.grabbed = false;
        ownersStale = true;
    }

    /** Ungrabs those of candidates the server holds for us that no registration uses. */
    void releaseUnused(const QList<quint32> &candidates)
    {
        for (const quint32 grab : candidates) {
            if (users.contains(grab) || !onServer.remove(grab))
                continue;
            // Nobody waits for the outcome: an ungrab cannot be refused.
            xcb_discard_reply(connection, xcb_ungrab_key_checked(connection, keycodeOf(grab), root,
                                                                 maskOfGrab(grab))
                                              .sequence);
        }
    }

    /**
     * Grabs what each registration (none of them grabbed now) needs, all
     * requests first and every reply after them. A registration that cannot
     * have all of its grabs has none; its reason is put in reasons.
     */
    QList<bool> grabAll(const QList<Registration *> &batch, QStringList *reasons)
    {
        QList<QList<Grab>> wanted;
        QList<quint32> sent;
        std::vector<xcb_void_cookie_t> cookies;
        QSet<quint32> sentSet;
        for (Registration *r : batch) {
            QString reason;
            wanted.append(grabsFor(r->combination, &reason));
            reasons->append(reason);
            for (const Grab &g : std::as_const(wanted.last())) {
                if (onServer.contains(g.grab) || sentSet.contains(g.grab))
                    continue;
                sentSet.insert(g.grab);
                sent.append(g.grab);
                cookies.push_back(xcb_grab_key_checked(connection, 1, root, maskOfGrab(g.grab),
                                                       keycodeOf(g.grab), XCB_GRAB_MODE_ASYNC,
                                                       XCB_GRAB_MODE_ASYNC));
            }
        }
        // The first check waits for the server once; the others are answered by then.
        QHash<quint32, QString> refused;
        for (size_t i = 0; i < cookies.size(); ++i) {
            if (xcb_generic_error_t *error = xcb_request_check(connection, cookies[i])) {
                refused.insert(sent[qsizetype(i)],
                               error->error_code == XCB_ACCESS
                                   ? QStringLiteral("X error 10 (BadAccess): another client "
                                                    "grabbed %1 (keycode %2)")
                                   : QStringLiteral("X error %1 when grabbing %2 (keycode %3)")
                                         .arg(error->error_code));
                std::free(error);
            } else {
                onServer.insert(sent[qsizetype(i)]);
            }
        }
        QList<bool> results;
        for (qsizetype i = 0; i < batch.size(); ++i) {
            Registration *r = batch[i];
            const QList<Grab> &grabs = wanted[i];
            const auto failed = std::find_if(grabs.cbegin(), grabs.cend(), [&](const Grab &g) {
                return refused.contains(g.grab);
            });
            if (failed != grabs.cend()) {
                (*reasons)[i] = refused.value(failed->grab)
                                    .arg(describe(r->combination))
                                    .arg(keycodeOf(failed->grab));
            }
            const bool ok = !grabs.isEmpty() && failed == grabs.cend();
            if (ok)
                hold(*r, grabs);
            results.append(ok);
        }
        // The grabs of a refused registration go again, unless another uses them.
        releaseUnused(sent);
        xcb_flush(connection);
        return results;
    }

    /** Forgets a registration and ungrabs what nobody else uses of it. */
    void release(QHash<quint64, Registration>::iterator it)
    {
        QList<quint32> grabs;
        for (const Grab &g : std::as_const(it->grabs))
            grabs.append(g.grab);
        letGo(*it);
        registrations.erase(it);
        releaseUnused(grabs);
    }

    /** The keyboard map changed: each combination moves to the keys that carry it now. */
    void grabAgain()
    {
        if (registrations.isEmpty()) {
            keymap.valid = false; // read at the next grab
            return;
        }
        if (!readKeymap())
            return;
        const QList<quint32> before = onServer.values();
        QList<Registration *> batch;
        for (Registration &r : registrations) {
            letGo(r);
            batch.append(&r);
        }
        QStringList reasons;
        const QList<bool> results = grabAll(batch, &reasons);
        for (qsizetype i = 0; i < batch.size(); ++i) {
            // It stays registered and is tried again at the next change.
            if (!results[i])
                vWarning() << "Hot key" << describe(batch[i]->combination)
                           << "lost with the new keyboard map:" << reasons[i];
        }
        releaseUnused(before);
        xcb_flush(connection);
    }

    const Combination *ownerOf(xcb_keycode_t keycode, uint16_t state)
    {
        if (ownersStale) {
            owners.clear();
            QHash<quint32, int> columns;
            for (const Registration &r : std::as_const(registrations)) {
                if (!r.grabbed)
                    continue;
                for (const Grab &g : r.grabs) {
                    const auto it = columns.constFind(g.grab);
                    if (it != columns.cend() && *it <= g.column)
                        continue;
                    columns.insert(g.grab, g.column);
                    owners.insert(g.grab, r.combination);
                }
            }
            ownersStale = false;
        }
        const auto it = owners.constFind(grabOf(keycode, state));
        return it == owners.cend() ? nullptr : &*it;
    }

    void keyPressed(const xcb_key_press_event_t *e)
    {
        // A held key repeats as release and press pairs with one timestamp
        // (Qt does not ask for XKB's detectable auto-repeat), or with it as
        // presses without releases. Either way a hot key fires once per press.
        KeyState &key = keys[e->detail];
        const bool repeat =
            key.down || (lastKey.release && lastKey.keycode == e->detail &&
                         lastKey.time == e->time && e->time - key.pressed >= kShortestRepeatDelay);
        lastKey = {e->detail, false, e->time};
        // Only Lock and NumLock are left out, and those by the grabs' own
        // variants: AltGr (Mod5) or Mod3 held make another combination, which
        // is not grabbed.
        const Combination *owner = ownerOf(e->detail, e->state & 0xff);
        // Only our own presses are followed: their releases are sure to come to us.
        if (!owner)
            return;
        key.down = true;
        if (repeat)
            return;
        key.pressed = e->time;
        const Combination pressed = *owner;
        // Copied first: the receiver may replace the handler while it runs.
        if (const Platform::HotKeyHandler h = handler)
            h(pressed.vk, pressed.modifiers);
    }
};

X11HotKeys::X11HotKeys(xcb_connection_t *connection, quint32 root) : d(std::make_unique<Private>())
{
    d->connection = connection;
    d->root = root;
}

X11HotKeys::~X11HotKeys()
{
    // Qt's connection is gone once the application object is.
    if (!QCoreApplication::instance() || d->onServer.isEmpty())
        return;
    d->users.clear();
    d->releaseUnused(d->onServer.values());
    xcb_flush(d->connection);
}

QList<bool> X11HotKeys::grab(const QList<Combination> &combinations, QString *reason)
{
    const QList<bool> none(combinations.size(), false);
    if (!d->connection) {
        *reason = QStringLiteral("no X11 connection");
        return none;
    }
    if (!d->keymap.valid && !d->readKeymap()) {
        *reason = QStringLiteral("the keyboard map could not be read");
        return none;
    }
    if (!d->batchWanted.isEmpty()) {
        // Those held already are somebody's: never ours to release at the end.
        QList<Combination> ahead;
        for (const Combination &c : std::exchange(d->batchWanted, {})) {
            const auto it = d->registrations.constFind(keyOf(c));
            if (it == d->registrations.cend() || !it->grabbed)
                ahead.append(c);
        }
        QString ignored; // a refused one is asked for again below and gets its reason then
        const QList<bool> results = grab(ahead, &ignored);
        for (qsizetype i = 0; i < ahead.size(); ++i) {
            if (results[i])
                d->grabbedAhead.insert(keyOf(ahead[i]));
        }
    }
    for (const Combination &c : combinations)
        d->grabbedAhead.remove(keyOf(c));
    // Pointers into the hash only once nothing is added: an insertion may move its entries.
    for (const Combination &c : combinations) {
        if (!d->registrations.contains(keyOf(c)))
            d->registrations.insert(keyOf(c), {c, {}, false});
    }
    QList<Private::Registration *> batch;
    for (const Combination &c : combinations) {
        Private::Registration *r = &d->registrations[keyOf(c)];
        if (!r->grabbed && !batch.contains(r))
            batch.append(r);
    }
    QStringList reasons;
    const QList<bool> grabbed = d->grabAll(batch, &reasons);
    QSet<quint64> refused;
    for (qsizetype b = 0; b < batch.size(); ++b) {
        if (!grabbed[b]) {
            *reason = reasons[b];
            refused.insert(keyOf(batch[b]->combination));
        }
    }
    // A refused combination is not kept for later map changes either.
    for (const quint64 key : std::as_const(refused))
        d->registrations.remove(key);
    QList<bool> results;
    for (const Combination &c : combinations)
        results.append(!refused.contains(keyOf(c)));
    return results;
}

bool X11HotKeys::ungrab(Combination combination, QString *reason)
{
    const auto it = d->registrations.find(keyOf(combination));
    if (it == d->registrations.end() || d->grabbedAhead.contains(it.key())) {
        *reason = QStringLiteral("%1 was not grabbed").arg(describe(combination));
        return false;
    }
    const bool wantedAgain = std::any_of(d->batchWanted.cbegin(), d->batchWanted.cend(),
                                         [&](const Combination &c) { return keyOf(c) == it.key(); });
    if (wantedAgain) {
        // The batch grabs it again soon: the server keeps it until the end,
        // where it goes unless somebody asked for it meanwhile.
        d->grabbedAhead.insert(it.key());
        return true;
    }
    d->release(it);
    if (!d->batching)
        xcb_flush(d->connection);
    return true;
}

void X11HotKeys::beginBatch(const QList<Combination> &combinations)
{
    d->batching = true;
    d->batchWanted = combinations;
    d->grabbedAhead.clear();
}

void X11HotKeys::endBatch()
{
    d->batching = false;
    d->batchWanted.clear();
    for (const quint64 key : std::exchange(d->grabbedAhead, {})) {
        const auto it = d->registrations.find(key);
        if (it != d->registrations.end())
            d->release(it);
    }
    if (d->connection)
        xcb_flush(d->connection);
}

void X11HotKeys::setHandler(const Platform::HotKeyHandler &handler)
{
    d->handler = handler;
}

void X11HotKeys::handleEvent(const xcb_generic_event_t *event)
{
    const uint8_t type = event->response_type & 0x7f;
    switch (type) {
    case XCB_KEY_PRESS:
        // A press another client sent is no press of the keyboard.
        if (!(event->response_type & 0x80))
            d->keyPressed(reinterpret_cast<const xcb_key_press_event_t *>(event));
        break;
    case XCB_KEY_RELEASE: {
        const auto *e = reinterpret_cast<const xcb_key_release_event_t *>(event);
        d->keys[e->detail].down = false;
        d->lastKey = {e->detail, true, e->time};
        break;
    }
    case XCB_MAPPING_NOTIFY: {
        const auto *e = reinterpret_cast<const xcb_mapping_notify_event_t *>(event);
        if (e->request == XCB_MAPPING_KEYBOARD || e->request == XCB_MAPPING_MODIFIER)
            d->grabAgain();
        break;
    }
    default:
        // An XKB-aware client like Qt gets XKB's notices instead of MappingNotify.
        if (d->xkbFirstEvent && type == d->xkbFirstEvent) {
            const uint8_t xkbType = reinterpret_cast<const uint8_t *>(event)[1];
            if (xkbType == xkbNewKeyboardNotify || xkbType == xkbMapNotify)
                d->grabAgain();
        }
        break;
    }
}
