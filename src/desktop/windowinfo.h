#pragma once

#include <QIcon>
#include <QString>
#include <qwindowdefs.h>

// Which window of another program a placement acts on, and what the user is
// told about it. The last eligible window of another process is remembered:
// while one of our own windows (a grid panel, the settings window) is in
// front, the remembered window stays the answer. User-interface thread only.

/** What is known about a window. */
struct WindowInfo
{
    /** The window; 0 when there is none. */
    WId hwnd = 0;
    /** The program that owns the window ("Desktop" for no window). */
    QString path;
    /** The application's name as the user knows it. */
    QString name;
    QIcon icon;
};

/** The window id that stands for "the foreground window" where a window is asked for. */
constexpr WId kForegroundWindow = ~WId(0);

/** The window to act on, or 0. */
WId foregroundWindow();
/** foregroundWindow() with its program, name and icon; "Desktop" when there is none. */
WindowInfo foregroundWindowInfo();
/** Whether the window may be acted on: not a shell surface, a dock, a menu, ... */
bool isEligibleWindow(WId window);
/** Whether the window belongs to this process. */
bool isOwnWindow(WId window);
/**
 * The program that owns the window: its executable, or for an interpreter or
 * runtime the script or archive it runs. "Desktop" for 0, empty when unknown.
 */
QString windowProcessPath(WId window);
/** The executable of a process; empty (and a log line) when it cannot be read. */
QString processImagePath(qint64 processId);
/** The parent of a process, -1 when not found. */
qint64 parentProcessId(qint64 processId);
/** The application's display name from its window and program. */
QString applicationName(const WindowInfo &info);
/** The window's title. */
QString windowTitle(WId window);
/** The text of the last failure of a desktop query (an X error, an errno text). */
QString lastErrorString();

/** Forgets the remembered window; only tests, which start each case afresh, need this. */
void resetRememberedWindow();
