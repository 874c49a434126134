#pragma once

// Windows of clients of their own, made and ended with single requests, for
// tests that need hundreds of windows quickly or a window gone at an exact
// moment. No process per window and no Qt: each client is one X connection
// of its own, and its waits follow the server's events with a deadline.

#include <QRect>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>

struct xcb_connection_t;

class ScratchClient
{
public:
    ScratchClient();
    /** Closes the connection if still open: the server ends what is left of the client. */
    ~ScratchClient();
    ScratchClient(const ScratchClient &) = delete;
    ScratchClient &operator=(const ScratchClient &) = delete;

    /** False when the display could not be opened or the connection broke. */
    bool ok() const;

    /**
     * Maps a normal top-level window titled title at rect (asked for by the
     * user, so the window manager keeps it there) and returns it once the
     * window manager has framed it and made it the active window. 0 on
     * failure, with the reason in lastError().
     */
    quint32 mapActive(const QString &title, const QRect &rect, int timeoutMs = 5000);

    /** Sent at once, not waited for. */
    void unmap(quint32 window);
    void destroy(quint32 window);
    /** count round trips: the server has handled what this client sent before each. */
    void roundTrips(int count);
    /**
     * Has the server end this client, which owns window, from another
     * connection (KillClient, as xkill does): its windows go. The connection
     * is dead afterwards.
     */
    bool kill(quint32 window);
    /** Closes the connection at once, as a program that crashes: its windows go with it. */
    void disconnect();

    static QString lastError();

private:
    /** Checks done at once and after each event that arrives, until the deadline. */
    bool waitFor(const std::function<bool()> &done, int timeoutMs);
    quint32 windowProperty(quint32 window, quint32 property);

    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
    quint32 m_activeAtom = 0;
    quint32 m_extentsAtom = 0;
};

/**
 * Windows that come and go without a pause, on a thread and connection of
 * their own, until stopped. Each cycle maps a few small titled windows inside
 * area, waits (briefly, by the server's events) until the window manager has
 * framed the first, then unmaps one and destroys them all: some are managed
 * and made active before they vanish, others vanish before the window manager
 * has seen them.
 */
class WindowChurn
{
public:
    explicit WindowChurn(const QRect &area, int windowsPerCycle = 3);
    /** Stops the churn. */
    ~WindowChurn();
    WindowChurn(const WindowChurn &) = delete;
    WindowChurn &operator=(const WindowChurn &) = delete;

    /** False when the display could not be opened. */
    bool start();
    /** Returns once the last cycle has ended and its windows are gone. */
    void stop();
    int windowsMade() const { return m_made.load(); }

private:
    void run(xcb_connection_t *c);

    QRect m_area;
    int m_perCycle;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_made{0};
    std::thread m_thread;
};
