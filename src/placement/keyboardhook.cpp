#include "keyboardhook.h"

#include "platform.h"

namespace {
KeyboardHook *g_instance = nullptr;

enum Group { Other, Alt, Control, Shift, Windows, Escape, Help };

Group groupOf(int vk)
{
    switch (vk) {
    case KeyboardHook::VkMenu:
    case KeyboardHook::VkLMenu:
    case KeyboardHook::VkRMenu:
        return Alt;
    case KeyboardHook::VkControl:
    case KeyboardHook::VkLControl:
    case KeyboardHook::VkRControl:
        return Control;
    case KeyboardHook::VkShift:
    case KeyboardHook::VkLShift:
    case KeyboardHook::VkRShift:
        return Shift;
    case KeyboardHook::VkLWin:
    case KeyboardHook::VkRWin:
        return Windows;
    case KeyboardHook::VkEscape:
        return Escape;
    case KeyboardHook::VkF1:
    case KeyboardHook::VkHelp:
        return Help;
    default:
        return Other;
    }
}
} // namespace

struct KeyboardHook::Private
{
    bool installed = false;
    bool altDown = false;
    bool shiftDown = false;
    bool ctrlDown = false;
    bool winDown = false;
    bool altAlone = false;
};

KeyboardHook::KeyboardHook()
    : d(std::make_unique<Private>())
{
}

KeyboardHook::~KeyboardHook()
{
    remove();
    if (g_instance == this)
        g_instance = nullptr;
}

KeyboardHook *KeyboardHook::instance()
{
    if (!g_instance)
        g_instance = new KeyboardHook();
    return g_instance;
}

void KeyboardHook::destroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

bool KeyboardHook::isShiftDown() const
{
    return d->shiftDown;
}

bool KeyboardHook::isInstalled() const
{
    return d->installed;
}

bool KeyboardHook::install()
{
    if (d->installed)
        return false;
    Platform::KeyWatcher watcher;
    watcher.key = [this](int vk, bool isUp) { processKey(vk, isUp); };
    watcher.modifiers = [this](bool shift, bool control, bool alt, bool win) {
        syncModifiers(shift, control, alt, win);
    };
    d->installed = Platform::instance()->watchKeys(watcher);
    return d->installed;
}

bool KeyboardHook::remove()
{
    if (!d->installed)
        return false;
    Platform::instance()->stopWatchingKeys();
    d->installed = false;
    return true;
}

void KeyboardHook::processKey(int vk, bool isUp)
{
    const Group group = groupOf(vk);
    // Alt up right after an Alt press made with no other modifier: anything
    // in between (Alt+Tab, Alt+F4) cancels it.
    if (group == Alt && isUp && d->altAlone)
        Q_EMIT altUp();
    d->altAlone = false;

    switch (group) {
    case Alt:
        d->altAlone = !isUp && !d->shiftDown && !d->ctrlDown && !d->winDown;
        d->altDown = !isUp;
        break;
    case Control:
        d->ctrlDown = !isUp;
        break;
    case Shift:
        d->shiftDown = !isUp;
        break;
    case Windows:
        d->winDown = !isUp;
        break;
    case Escape:
        if (isUp)
            Q_EMIT escape();
        break;
    case Help:
        if (isUp && !d->altDown && !d->shiftDown && !d->ctrlDown && !d->winDown)
            Q_EMIT help();
        break;
    case Other:
        break;
    }
}

void KeyboardHook::syncModifiers(bool shift, bool control, bool alt, bool win)
{
    d->shiftDown = shift;
    d->ctrlDown = control;
    d->altDown = alt;
    d->winDown = win;
}
