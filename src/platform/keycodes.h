#pragma once

#include <QtGlobal>

// Translation between X keysyms and the Win32 virtual-key codes the keyboard
// hook and the global hot keys are written in. Kept free of X headers so the
// table can be checked on its own.
namespace KeyCodes {

/**
 * The virtual-key code of a keysym as found in the unshifted column of a key
 * (lower- and upper-case letters both give the letter); 0 for keysyms that
 * have no code here (dead keys, letters of other alphabets).
 */
int vkFromKeysym(quint32 keysym);

/**
 * The keysym a key for vk carries, for looking up the keycodes to grab; the
 * generic Shift, Control and Alt codes give the left-hand keys. 0 when vk
 * has no keysym here.
 */
quint32 keysymFromVk(int vk);

} // namespace KeyCodes
