#pragma once

#include <QString>

// Writes a report when the process crashes and hands it to the external
// "CrashReporter" program, then lets the signal end the process as it would
// have without us (a core dump stays possible).
//
// The handler runs in signal context on whichever thread faulted: it uses only
// async-signal-safe calls and state prepared when it was installed, takes no
// lock of libc's, and an alarm ends the process should it still hang.
class CrashHandler
{
public:
    /**
     * Installs the handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT;
     * reports go to dumpPath. The calling thread gets an alternate stack.
     */
    explicit CrashHandler(const QString &dumpPath);
    /** Puts the previous handlers back. */
    ~CrashHandler();

    /**
     * Gives the calling thread an alternate signal stack, so that a stack
     * overflow on it is reported too (the handler cannot run on a full stack).
     * Every thread we create calls this once when it starts; it costs one
     * mapping, which goes when the thread ends. False if none could be set up.
     */
    static bool prepareThread();

    CrashHandler(const CrashHandler &) = delete;
    CrashHandler &operator=(const CrashHandler &) = delete;

    QString dumpPath() const;
    /** The id the next report will be named by ("<id>.dmp"). */
    QString minidumpId() const;

    /** Decides whether a crash is reported: always. */
    static bool crashFilter(void *context);
    /** Called once the report is written; starts the reporter and passes succeeded on. */
    static bool crashDumped(const char *dumpPath, const char *minidumpId, void *context,
                            bool succeeded);
};

/**
 * Starts "CrashReporter" (from the program's folder, else from PATH) with the
 * dump folder and the id, detached. Logs "Crash reporter module started." or
 * "Failed to start crash reporter.".
 */
bool startCrashReporter(const QString &dumpPath, const QString &minidumpId);
