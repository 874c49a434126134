#pragma once

#include <QString>
#include <QUrl>

// Where Varlo keeps files that no other user may touch, and finds its help.
namespace Paths {

/**
 * A folder only this user can enter: $XDG_RUNTIME_DIR when it is set and is a
 * folder of ours with mode 0700, otherwise "varlo" under the user's cache folder,
 * created with mode 0700. Holds the log, crash reports and downloads; /tmp is
 * shared between users and never used. Safe before QCoreApplication exists.
 */
QString privateTempDir();

/** The name that scopes per-session objects to one X display, e.g. "0" for ":0.0". */
QString displayScope();

/** Makes path a folder with mode 0700 owned by us; false when it cannot be made safe. */
bool makePrivateDir(const QString &path);

/** The help page shipped with the program (beside its data, installed or in the build tree). */
QUrl helpPage();

} // namespace Paths
