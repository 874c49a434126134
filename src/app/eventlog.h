#pragma once

#include <QString>
#include <QtGlobal>

class QMessageLogContext;

// The event log: every qDebug/qWarning/... of the process becomes one aligned
// line with a level letter, the source location (for "VARLO::" messages) and
// the time; runs of the same message collapse into one "(Repeated ...)" note.
// Any thread may log: the functions below take one lock.

/** Opens path for writing (emptying it) and installs the handler; false leaves Qt's default output. */
bool openLog(const QString &path);
/** Writes a pending repeat note, closes the file and uninstalls the handler. */
void closeLog();
/** The installed message handler. */
void logMessage(QtMsgType type, const QMessageLogContext &context, const QString &msg);
/** The repeat rule: true when key repeats the last message and must not be written. */
bool suppressRepeat(const QString &key);

/** The log's descriptor, or -1: for writers that can use neither Qt nor a lock (crashes). */
int logFileDescriptor();

/** The log's file name: varlo.log in the private per-user temporary folder. */
QString logFilePath();
