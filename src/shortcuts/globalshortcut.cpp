#include "globalshortcut.h"

#include "platform.h"
#include "varlolog.h"

#include <QHash>
#include <QPair>
#include <QPointer>

namespace {

using Combination = QPair<quint32, quint32>; // virtual key, MOD_* flags

// Every combination set by any GlobalShortcut of the process, registered or
// not: a press is looked up here. GUI thread only.
QHash<Combination, QPointer<GlobalShortcut>> &table()
{
    static QHash<Combination, QPointer<GlobalShortcut>> combinations;
    return combinations;
}

QList<GlobalShortcut *> g_live;

constexpr quint32 kModifierBits = 0x1E000000; // Shift, Control, Alt, Meta

void deliver(quint32 vk, quint32 modifiers)
{
    const QPointer<GlobalShortcut> target = table().value(Combination(vk, modifiers));
    if (!target)
        return;
    // Out of the backend's event handling: a receiver may open a modal box.
    QMetaObject::invokeMethod(
        target, [target] { Q_EMIT target->activated(target->id()); }, Qt::QueuedConnection);
}

QString portableText(int key, Qt::KeyboardModifiers modifiers)
{
    return QKeySequence(QKeyCombination(modifiers, Qt::Key(key))).toString(QKeySequence::PortableText);
}

} // namespace

struct GlobalShortcut::Private
{
    bool registered = false;
    int key = 0;
    Qt::KeyboardModifiers modifiers;
    int id = 0;
    // What the system granted this object (a digit's top-row key may be held
    // even though its keypad twin was refused).
    QList<Combination> held;
};

GlobalShortcut::GlobalShortcut(QObject *parent) : QObject(parent), d(std::make_unique<Private>())
{
    if (g_live.isEmpty())
        Platform::instance()->setHotKeyHandler(deliver);
    g_live.append(this);
}

GlobalShortcut::~GlobalShortcut()
{
    if (!d->held.isEmpty()) {
        unsetShortcut();
    } else if (d->key != 0) {
        // Refused: nothing to give back, and nothing worth a warning.
        dropFromTable();
    }
    g_live.removeOne(this);
    if (g_live.isEmpty())
        Platform::instance()->setHotKeyHandler(nullptr);
}

int GlobalShortcut::id() const
{
    return d->id;
}

QKeySequence GlobalShortcut::shortcut() const
{
    if (d->key == 0)
        return QKeySequence();
    return QKeySequence(QKeyCombination(d->modifiers, Qt::Key(d->key)));
}

bool GlobalShortcut::isRegistered() const
{
    return d->registered;
}

quint32 GlobalShortcut::nativeKeycode(int key)
{
    if ((key >= 0x30 && key <= 0x39) || (key >= 0x41 && key <= 0x5A))
        return quint32(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return quint32(0x70 + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Space:
        return 0x20;
    case Qt::Key_Asterisk:
        return 0x6A;
    case Qt::Key_Plus:
        return 0x6B;
    case Qt::Key_Comma:
        return 0x6C;
    case Qt::Key_Minus:
        return 0x6D;
    case Qt::Key_Slash:
        return 0x6F;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
        return 0xC0;
    case Qt::Key_Escape:
        return 0x1B;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 0x09;
    case Qt::Key_Backspace:
        return 0x08;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 0x0D;
    case Qt::Key_Insert:
        return 0x2D;
    case Qt::Key_Delete:
        return 0x2E;
    case Qt::Key_Pause:
        return 0x13;
    case Qt::Key_Print:
        return 0x2A;
    case Qt::Key_Clear:
        return 0x0C;
    case Qt::Key_Home:
        return 0x24;
    case Qt::Key_End:
        return 0x23;
    case Qt::Key_Left:
        return 0x25;
    case Qt::Key_Up:
        return 0x26;
    case Qt::Key_Right:
        return 0x27;
    case Qt::Key_Down:
        return 0x28;
    case Qt::Key_PageUp:
        return 0x21;
    case Qt::Key_PageDown:
        return 0x22;
    default:
        return 0;
    }
}

quint32 GlobalShortcut::nativeModifiers(Qt::KeyboardModifiers modifiers)
{
    quint32 flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= Platform::ModShift;
    if (modifiers & Qt::ControlModifier)
        flags |= Platform::ModControl;
    if (modifiers & Qt::AltModifier)
        flags |= Platform::ModAlt;
    if (modifiers & Qt::MetaModifier)
        flags |= Platform::ModWin;
    return flags;
}

quint32 GlobalShortcut::keypadKeycode(int key)
{
    return key >= 0x30 && key <= 0x39 ? quint32(0x60 + (key - 0x30)) : 0;
}

QList<QPair<quint32, quint32>> GlobalShortcut::nativeCombinations(const QKeySequence &shortcut)
{
    if (shortcut.isEmpty())
        return {};
    const int combined = shortcut[0].toCombined();
    const int key = combined & ~int(kModifierBits);
    const quint32 mods = nativeModifiers(Qt::KeyboardModifiers(combined & int(kModifierBits)));
    QList<QPair<quint32, quint32>> result;
    for (const quint32 vk : {nativeKeycode(key), keypadKeycode(key)}) {
        if (vk != 0)
            result.append({vk, mods});
    }
    return result;
}

bool GlobalShortcut::setShortcut(int id, const QKeySequence &shortcut)
{
    d->id = id;
    if (d->registered) {
        unsetShortcut();
    } else if (d->key != 0) {
        // Refused last time: nothing to withdraw, and nothing worth a warning;
        // a keypad twin's top-row key held meanwhile goes back.
        for (const Combination &c : std::as_const(d->held))
            Platform::instance()->ungrabHotKey(c.first, c.second);
        d->held.clear();
        dropFromTable();
    }

    if (shortcut.isEmpty()) {
        d->key = 0;
        d->modifiers = {};
    } else {
        const int combined = shortcut[0].toCombined();
        d->modifiers = Qt::KeyboardModifiers(combined & int(kModifierBits));
        d->key = combined & ~int(kModifierBits);
    }
    const quint32 nativeKey = nativeKeycode(d->key);
    const quint32 nativeMods = nativeModifiers(d->modifiers);

    // A combination another of ours holds is taken, as one another program
    // holds would be; the table still names the newcomer, as the last to ask.
    auto grab = [this](quint32 vk, quint32 mods) {
        const QPointer<GlobalShortcut> holder = table().value(Combination(vk, mods));
        const bool taken = holder && holder != this && holder->isRegistered();
        table().insert(Combination(vk, mods), this);
        // Virtual key 0 stays away from the backend: on X11 keycode 0 grabs the whole keyboard.
        const bool granted = !taken && vk != 0 && Platform::instance()->grabHotKey(vk, mods);
        if (granted)
            d->held.append(Combination(vk, mods));
        return granted;
    };
    bool result = grab(nativeKey, nativeMods);
    const quint32 keypad = keypadKeycode(d->key);
    if (result && keypad != 0)
        result = grab(keypad, nativeMods);

    if (result)
        d->registered = true;
    else
        vWarning() << "GlobalShortcut failed to register:" << portableText(d->key, d->modifiers);
    return result;
}

void GlobalShortcut::dropFromTable()
{
    const Combination main(nativeKeycode(d->key), nativeModifiers(d->modifiers));
    for (const Combination &c : {main, Combination(keypadKeycode(d->key), main.second)}) {
        if (table().value(c) && table().value(c) != this)
            continue;
        table().remove(c);
        // Another of ours may still hold it (this one was refused): presses go there again.
        for (GlobalShortcut *other : std::as_const(g_live)) {
            if (other != this && other->d->held.contains(c))
                table().insert(c, other);
        }
    }
}

bool GlobalShortcut::unsetShortcut()
{
    const Combination main(nativeKeycode(d->key), nativeModifiers(d->modifiers));
    const Combination keypad(keypadKeycode(d->key), main.second);
    // Only what this object holds goes back: a combination it was refused
    // belongs to someone else, possibly another of ours.
    bool result = !d->held.isEmpty();
    for (const Combination &c : std::as_const(d->held))
        result = Platform::instance()->ungrabHotKey(c.first, c.second) && result;
    if (result && keypad.first != 0 && !d->held.contains(keypad))
        result = false;
    d->held.clear();
    dropFromTable();

    if (result)
        d->registered = false;
    else
        vWarning() << "GlobalShortcut failed to unregister:" << portableText(d->key, d->modifiers);
    d->key = 0;
    d->modifiers = {};
    return result;
}
