#include "keycodes.h"

#include <iterator>

namespace {

struct Pair
{
    quint32 keysym;
    int vk;
};

// Where several keysyms share a code, the first one listed is what
// keysymFromVk() gives back.
constexpr Pair table[] = {
    {0xff08, 0x08}, // BackSpace
    {0xff09, 0x09}, // Tab
    {0xfe20, 0x09}, // ISO_Left_Tab: Shift+Tab on most layouts, even unshifted
    {0xff0b, 0x0C}, // Clear
    {0xff9d, 0x0C}, // KP_Begin
    {0xff0d, 0x0D}, // Return
    {0xff8d, 0x0D}, // KP_Enter
    {0xff13, 0x13}, // Pause
    {0xff6b, 0x03}, // Break
    {0xffe5, 0x14}, // Caps_Lock
    {0xff1b, 0x1B}, // Escape
    {0x0020, 0x20}, // space
    {0xff55, 0x21}, // Prior
    {0xff9a, 0x21}, // KP_Prior
    {0xff56, 0x22}, // Next
    {0xff9b, 0x22}, // KP_Next
    {0xff57, 0x23}, // End
    {0xff9c, 0x23}, // KP_End
    {0xff50, 0x24}, // Home
    {0xff95, 0x24}, // KP_Home
    {0xff51, 0x25}, // Left
    {0xff96, 0x25}, // KP_Left
    {0xff52, 0x26}, // Up
    {0xff97, 0x26}, // KP_Up
    {0xff53, 0x27}, // Right
    {0xff98, 0x27}, // KP_Right
    {0xff54, 0x28}, // Down
    {0xff99, 0x28}, // KP_Down
    {0xff60, 0x29}, // Select
    {0xff61, 0x2C}, // Print
    {0xff63, 0x2D}, // Insert
    {0xff9e, 0x2D}, // KP_Insert
    {0xffff, 0x2E}, // Delete
    {0xff9f, 0x2E}, // KP_Delete
    {0xff6a, 0x2F}, // Help
    {0xffeb, 0x5B}, // Super_L
    {0xffe7, 0x5B}, // Meta_L
    {0xffec, 0x5C}, // Super_R
    {0xffe8, 0x5C}, // Meta_R
    {0xff67, 0x5D}, // Menu: the context-menu key
    {0xffaa, 0x6A}, // KP_Multiply
    {0xffab, 0x6B}, // KP_Add
    {0xffac, 0x6C}, // KP_Separator
    {0xffad, 0x6D}, // KP_Subtract
    {0xffae, 0x6E}, // KP_Decimal
    {0xffaf, 0x6F}, // KP_Divide
    {0xff7f, 0x90}, // Num_Lock
    {0xff14, 0x91}, // Scroll_Lock
    {0xffe1, 0xA0}, // Shift_L
    {0xffe2, 0xA1}, // Shift_R
    {0xffe3, 0xA2}, // Control_L
    {0xffe4, 0xA3}, // Control_R
    {0xffe9, 0xA4}, // Alt_L
    {0xffea, 0xA5}, // Alt_R
    // AltGr: the right Alt key of most European layouts.
    {0xfe03, 0xA5},     // ISO_Level3_Shift
    {0x1008ff26, 0xA6}, // XF86Back
    {0x1008ff27, 0xA7}, // XF86Forward
    {0x1008ff12, 0xAD}, // XF86AudioMute
    {0x1008ff11, 0xAE}, // XF86AudioLowerVolume
    {0x1008ff13, 0xAF}, // XF86AudioRaiseVolume
    {0x1008ff17, 0xB0}, // XF86AudioNext
    {0x1008ff16, 0xB1}, // XF86AudioPrev
    {0x1008ff15, 0xB2}, // XF86AudioStop
    {0x1008ff14, 0xB3}, // XF86AudioPlay
    // Punctuation by its place on a US keyboard, as Windows names it.
    {0x003b, 0xBA}, // semicolon
    {0x003d, 0xBB}, // equal
    {0x002c, 0xBC}, // comma
    {0x002d, 0xBD}, // minus
    {0x002e, 0xBE}, // period
    {0x002f, 0xBF}, // slash
    {0x0060, 0xC0}, // grave
    {0x005b, 0xDB}, // bracketleft
    {0x005c, 0xDC}, // backslash
    {0x005d, 0xDD}, // bracketright
    {0x0027, 0xDE}, // apostrophe
    // Unshifted, "less" is the extra key beside the left Shift of ISO keyboards.
    {0x003c, 0xE2}, // less
};

// Codes that have no key of their own: hot keys name the generic modifier.
constexpr Pair genericModifiers[] = {
    {0xffe1, 0x10}, // VK_SHIFT: Shift_L
    {0xffe3, 0x11}, // VK_CONTROL: Control_L
    {0xffe9, 0x12}, // VK_MENU: Alt_L
};

// Runs of keysyms with consecutive codes: letters (lower case is what a key
// carries), digits, F1..F24, the keypad digits with NumLock on.
struct Run
{
    quint32 keysym;
    int vk;
    int length;
};
constexpr Run runs[] = {
    {0x61, 0x41, 26},
    {0x30, 0x30, 10},
    {0xffbe, 0x70, 24},
    {0xffb0, 0x60, 10},
};

} // namespace

namespace KeyCodes {

int vkFromKeysym(quint32 keysym)
{
    if (keysym >= 'A' && keysym <= 'Z')
        return int(keysym);
    for (const Run &r : runs) {
        if (keysym >= r.keysym && keysym < r.keysym + quint32(r.length))
            return r.vk + int(keysym - r.keysym);
    }
    for (const Pair &p : table) {
        if (p.keysym == keysym)
            return p.vk;
    }
    return 0;
}

quint32 keysymFromVk(int vk)
{
    for (const Run &r : runs) {
        if (vk >= r.vk && vk < r.vk + r.length)
            return r.keysym + quint32(vk - r.vk);
    }
    for (const Pair &p : genericModifiers) {
        if (p.vk == vk)
            return p.keysym;
    }
    for (const Pair &p : table) {
        if (p.vk == vk)
            return p.keysym;
    }
    return 0;
}

} // namespace KeyCodes
