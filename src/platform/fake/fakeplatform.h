#pragma once

#include "platform.h"

#include <QPair>

#include <memory>

// The in-memory desktop of the unit tests. Tests script its windows and
// processes directly and read back the requests it was sent, in order.
class FakePlatform : public Platform
{
public:
    struct Window
    {
        WId id = 0;
        QString title;
        qint64 pid = -1;
        bool visible = true;
        WindowType type = WindowType::Normal;
        QRect client;
        std::optional<QMargins> frameExtents;
        std::optional<QMargins> clientSideExtents;
        bool maximized = false;
        /** The frame while maximised, when the manager draws another then. */
        std::optional<QMargins> maximizedFrameExtents;
    };

    struct Process
    {
        qint64 pid = -1;
        QString executable;
        qint64 parent = -1;
        QStringList arguments;
        QString workingDirectory;
        /** False: the process exists but its executable cannot be read (another user's). */
        bool readable = true;
    };

    FakePlatform();
    ~FakePlatform() override;

    QString backendName() const override { return QStringLiteral("fake"); }
    QString lastErrorString() const override;

    WId activeWindow() override;
    QList<WId> windowsTopFirst() override;
    WindowFacts windowFacts(WId window) override;
    using Platform::windowFacts;
    WindowGeometry windowGeometry(WId window) override;

    qint64 currentProcessId() const override;
    bool processExists(qint64 pid) override;
    QString processExecutable(qint64 pid) override;
    qint64 parentProcessId(qint64 pid) override;
    QStringList processArguments(qint64 pid) override;
    QString processWorkingDirectory(qint64 pid) override;

    void moveResizeWindow(WId window, std::optional<QPoint> framePosition,
                          std::optional<QSize> clientSize) override;
    void raiseWindow(WId window) override;
    void setWindowMaximized(WId window, bool maximized) override;
    /** Carries out state changes held back by setWindowManagerLags(); requests "sync". */
    bool waitForWindowManager(WId window, int timeoutMs) override;
    void setActiveWindowHandler(const std::function<void()> &handler) override;
    void setFramesChangedHandler(const std::function<void(WId)> &handler) override;
    /** Requests "skipTaskbar". */
    void setSkipTaskbar(WId ownWindow) override;

    bool compositorAvailable() override;
    bool compositingActive() override;
    bool setBlurBehind(WId ownWindow, bool enable, const QRect &region) override;

    /** True (and the current modifier state is delivered) unless setKeysWatchable(false). */
    bool watchKeys(const KeyWatcher &watcher) override;
    void stopWatchingKeys() override;

    /** Moves window right below sibling in the stacking list when both are there. */
    void stackBelow(WId window, WId sibling) override;

    /** The scripted areas, whatever the screens; empty until setWorkAreas(). */
    QList<QRect> workAreas(const QList<QRect> &screens) override;
    void setWorkAreaHandler(const WorkAreaHandler &handler) override;

    /** Refuses vk 0 and combinations held by another client, as the X server does. */
    bool grabHotKey(quint32 vk, quint32 modifiers) override;
    bool ungrabHotKey(quint32 vk, quint32 modifiers) override;
    void setHotKeyHandler(const HotKeyHandler &handler) override;

    // --- Scripting ----------------------------------------------------------

    /** Adds a window on top of the stacking order. */
    void addWindow(const Window &window);
    void removeWindow(WId window);
    /** The scripted window, nullptr when there is none. */
    Window *window(WId id);
    /** Makes window the active one and tells the handler, as a window manager does. */
    void setActiveWindow(WId window);
    /** Sets a window's client-side shadow later, as a client does, and tells the handler. */
    void setClientSideExtents(WId window, const std::optional<QMargins> &extents);
    /** True: maximise and restore happen only once waited for, as with a real manager. */
    void setWindowManagerLags(bool lags);
    void addProcess(const Process &process);
    void setCurrentProcessId(qint64 pid);
    void setCompositorAvailable(bool available);
    void setCompositingActive(bool active);

    /** False: watchKeys() fails, as on a desktop without XInput 2. */
    void setKeysWatchable(bool watchable);
    bool isWatchingKeys() const;
    /** Key events as the X server would report them; dropped while nobody watches. */
    void pressKey(int vk);
    void releaseKey(int vk);
    /** The modifiers really held, told to the watcher as after a missed release. */
    void setModifierState(bool shift, bool control, bool alt, bool win);

    /** The work areas from now on (empty: the toolkit's own), told to the handler at once. */
    void setWorkAreas(const QList<QRect> &areas);

    /** Another client holds the combination (or lets it go again). */
    void setHotKeyHeldElsewhere(quint32 vk, quint32 modifiers, bool held = true);
    /** The combinations grabbed now, as (vk, modifiers) pairs in the order grabbed. */
    QList<QPair<quint32, quint32>> grabbedHotKeys() const;
    /** A press of the combination; reaches the handler only when it is grabbed. True if it did. */
    bool pressHotKey(quint32 vk, quint32 modifiers);

    /**
     * The requests so far, one word each, separated by spaces:
     * "move(X,Y)", "size(WxH)", "moveSize(X,Y WxH)", "raise", "maximize", "restore",
     * "blur(on X,Y WxH)" / "blur(off)", "stackBelow", "sync", "skipTaskbar".
     */
    QString requests() const;
    void clearRequests();
    /** How often the stacking list was asked for. */
    int enumerations() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
