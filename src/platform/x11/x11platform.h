#pragma once

#include "platform.h"

#include <memory>

struct xcb_connection_t;

// The X11 backend. It talks xcb over Qt's own connection, so replies and
// events share one queue with Qt and nothing opens a second display. Every
// query uses the checked request forms so that an X error on a vanished
// window comes back to us as a failed reply instead of landing in Qt's log.
class X11Platform : public Platform
{
public:
    X11Platform();
    ~X11Platform() override;

    QString backendName() const override { return QStringLiteral("x11"); }
    QString lastErrorString() const override;

    /** Opens and closes a test connection to $DISPLAY; false with a reason when that fails. */
    static bool serverReachable(QString *reason);
    /** Closes the connection serverReachable() kept open. */
    static void closeProbe();

    /** Qt's xcb connection, or nullptr when Qt does not run on xcb. */
    xcb_connection_t *connection() const;
    /** The root window of the default screen. */
    quint32 rootWindow() const;

    WId activeWindow() override;
    QList<WId> windowsTopFirst() override;
    WindowFacts windowFacts(WId window) override;
    QList<WindowFacts> windowFacts(const QList<WId> &windows) override;
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

    bool compositorAvailable() override { return true; }
    bool compositingActive() override;
    bool setBlurBehind(WId ownWindow, bool enable, const QRect &region) override;

    bool watchKeys(const KeyWatcher &watcher) override;
    void stopWatchingKeys() override;

    bool grabHotKey(quint32 vk, quint32 modifiers) override;
    bool ungrabHotKey(quint32 vk, quint32 modifiers) override;
    void beginHotKeyBatch(const QList<QPair<quint32, quint32>> &combinations) override;
    void endHotKeyBatch() override;
    void setHotKeyHandler(const HotKeyHandler &handler) override;

    bool waitForWindowManager(WId window, int timeoutMs) override;
    void setActiveWindowHandler(const std::function<void()> &handler) override;
    void setFramesChangedHandler(const std::function<void(WId)> &handler) override;
    void refresh() override;
    void setSkipTaskbar(WId ownWindow) override;
    void setClickThrough(WId ownWindow) override;

    void stackBelow(WId window, WId sibling) override;

    QList<QRect> workAreas(const QList<QRect> &screens) override;
    void setWorkAreaHandler(const WorkAreaHandler &handler) override;

private:
    QList<WindowFacts> readWindowFacts(const QList<WId> &windows);

    struct Private;
    std::unique_ptr<Private> d;
};
