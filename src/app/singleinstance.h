#pragma once

#include <QObject>
#include <QString>

#include <memory>

// One Varlo per user and X display. The first start holds the lock file
// "ORRITH_VARLO" and listens on the local socket "VarloBroadcast", both in the
// private runtime folder and named after the display; a later start finds the
// lock taken, says "wake up" on the socket and exits.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum Result { First, Other, Failed };

    SingleInstance();
    ~SingleInstance() override;

    /**
     * Takes the lock. Safe before QCoreApplication exists. A lock left by a
     * process that no longer runs is taken over. Failed means the runtime
     * folder cannot be used; the caller then runs without single-instance
     * protection rather than not at all.
     */
    Result acquire();

    /**
     * Tells the running instance to wake up and waits until it confirms.
     * Connecting is retried for connectTimeoutMs while the running instance
     * starts; the confirmation is waited for answerTimeoutMs. False when the
     * running instance never listened or never answered (it hangs).
     */
    static bool wakeRunningInstance(const QString &socketPath, int connectTimeoutMs = 10000,
                                    int answerTimeoutMs = 5000);

    /** The process that holds the lock, -1 when that cannot be read. */
    qint64 lockHolder() const;

    /**
     * Starts listening for wake-ups (needs the application object); a
     * failure is logged. Call it once the program is ready to show itself:
     * a later start retries until then.
     */
    bool listen();

    /** Gives up the lock and the socket early, before an installer replaces the program. */
    void release();

    QString lockPath() const;
    QString socketPath() const;

Q_SIGNALS:
    /** One emission per wake-up a later start sent. */
    void wakeUpRequested();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
