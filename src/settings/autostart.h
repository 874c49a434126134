#pragma once

#include <QByteArray>
#include <QString>

// The login entry: an XDG autostart file that starts Varlo in the background.
// Only that one file is ever written or removed.
namespace AutoStart {

/** $XDG_CONFIG_HOME/autostart/varlo.desktop; ~/.config when the variable is unset or relative. */
QString entryPath();

/**
 * The Exec value that starts program with "-background": the path quoted by
 * the rules of the Exec key, then escaped as every string value of a desktop
 * entry is (a backslash is written twice more).
 */
QString execValue(const QString &program);

/** The whole desktop entry that starts program at login. */
QByteArray entryText(const QString &program);

/**
 * Writes the entry for program (the running executable when empty), all or
 * nothing; a missing autostart folder is made. False, with a line in the
 * log, when it cannot be written.
 */
bool install(const QString &program = QString());

/** Removes the entry; true when there is none afterwards. A failure is logged. */
bool remove();

} // namespace AutoStart
