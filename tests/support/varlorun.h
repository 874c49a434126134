#pragma once

#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

// Varlo itself on the test desktop, as a user runs it: the program started
// and ended, its log, a tray host for its icon, and where a placed window
// ends up.
namespace VarloRun {

/** The log line that says Varlo is ready for the user. */
inline const QString kReady = QStringLiteral("| Finished application initialization.");

QString programPath();
QString logPath();
QString log();
/** Waits until text stands in the log count times. */
bool waitForLog(const QString &text, int count = 1, int timeoutMs = 15000);

/** Starts Varlo with a fresh log and waits until it is ready; null when it never is. */
QProcess *start(const QStringList &arguments = {QStringLiteral("-background")});
/** Ends it as a logout does (SIGTERM); true when it ended with 0. */
bool stop(QProcess *varlo);

/** Starts an XEmbed tray host along the top right of the first screen. */
bool startTray();
/** The icon of pid that a tray host took in, 0 while there is none. */
quint32 trayIconOf(qint64 pid);
/**
 * Opens the menu of pid's tray icon with the right button and types keys in
 * it (e.g. "Down", "Return" for the first entry).
 */
bool chooseFromTrayMenu(qint64 pid, quint32 icon, const QStringList &keys);

/**
 * An xterm sizes itself in whole character cells (its resize increments),
 * which the window manager honours: its frame's corner lands exactly on
 * expected, its size up to one cell short.
 */
bool landedOn(quint32 window, const QRect &expected);
/** The same test of an outer frame already known (from a ConfigureNotify, say). */
bool landedOn(const QRect &frame, const QRect &expected);
/** " x,y wxh" of a rectangle, for failure messages. */
QString describe(const QRect &r);

} // namespace VarloRun
