#include "terminationwatcher.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <csignal>

class TestTerminationWatcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Signals keep coming while the loop is busy: the socket fills up and the
    // handler's write fails. The code the signal interrupted must find errno
    // as it left it.
    void burstOfSignalsLeavesErrnoAlone()
    {
        TerminationWatcher watcher;
        QSignalSpy requested(&watcher, &TerminationWatcher::terminationRequested);
        for (int i = 0; i < 20000; ++i) {
            errno = EDOM;
            ::raise(i % 2 ? SIGTERM : SIGINT);
            QCOMPARE(errno, EDOM);
        }
        QVERIFY(!watcher.requested());
        QVERIFY(requested.wait(5000));
        QVERIFY(watcher.requested());
    }
};

QTEST_GUILESS_MAIN(TestTerminationWatcher)
#include "tst_terminationwatcher.moc"
