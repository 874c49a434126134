#pragma once

#include <QObject>

// SIGTERM (a logout) and SIGINT end the program the way "Quit" does, so that
// the clean-up runs. The handler only writes a byte into a socket pair; the
// event loop reads it and emits the signal.
class TerminationWatcher : public QObject
{
    Q_OBJECT

public:
    /** Installs the handlers for SIGTERM and SIGINT; one watcher per process. */
    explicit TerminationWatcher(QObject *parent = nullptr);
    /** Puts the default actions back. */
    ~TerminationWatcher() override;

    /** Whether a signal arrived and was read by the event loop. */
    bool requested() const;

Q_SIGNALS:
    /** A termination signal arrived (emitted from the event loop, once per batch). */
    void terminationRequested();

private:
    class QSocketNotifier *m_notifier = nullptr;
    bool m_requested = false;
};
