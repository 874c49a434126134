#pragma once

#include <QObject>

#include <memory>

// Watches every key of the desktop without taking any: Alt pressed and
// released on its own, Escape and F1 (or Help) released become signals, and the
// modifier keys held are known. Keys are Win32 virtual-key codes, which the
// platform layer translates from what the X server reports.
class KeyboardHook : public QObject
{
    Q_OBJECT

public:
    // The key codes the hook looks at.
    enum Key {
        VkShift = 0x10,
        VkControl = 0x11,
        VkMenu = 0x12,
        VkEscape = 0x1B,
        VkHelp = 0x2F,
        VkLWin = 0x5B,
        VkRWin = 0x5C,
        VkF1 = 0x70,
        VkLShift = 0xA0,
        VkRShift = 0xA1,
        VkLControl = 0xA2,
        VkRControl = 0xA3,
        VkLMenu = 0xA4,
        VkRMenu = 0xA5,
    };

    /** The one hook of the process, created on first use. */
    static KeyboardHook *instance();
    /** Deletes the instance (the application does at shutdown). */
    static void destroyInstance();

    ~KeyboardHook() override;

    bool isShiftDown() const;
    bool isInstalled() const;

    /**
     * The hook procedure: one key event of any application. isUp is true for a
     * release; a press with auto-repeat is a press. Called by the platform
     * layer, and by tests directly.
     */
    void processKey(int vk, bool isUp);

    /**
     * Puts the modifier flags in step with the keyboard as it really is, for
     * when releases went unseen (a key grab of ours swallows raw events).
     */
    void syncModifiers(bool shift, bool control, bool alt, bool win);

public Q_SLOTS:
    /** Starts watching; false when already watching or the desktop cannot be watched. */
    bool install();
    /** Stops watching; false when not watching. */
    bool remove();

Q_SIGNALS:
    void altUp();
    void escape();
    void help();

private:
    KeyboardHook();

    struct Private;
    std::unique_ptr<Private> d;
};
