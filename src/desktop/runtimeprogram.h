#pragma once

#include <QString>
#include <QStringList>

// Interpreters and runtimes (java, python3, perl, sh, ...) own the windows of
// the programs they run. A user knows those programs by their own name, so
// windows and desktop entries are matched through the program the runtime
// was started on, never through the runtime itself.
namespace RuntimeProgram {

/** Whether the executable (a path or a bare name) is such a runtime. */
bool isRuntime(const QString &executable);

/**
 * The program a runtime's command line (argv[0] first) runs: the script or
 * archive as an absolute, cleaned path, relative paths taken from
 * workingDirectory. Empty when the command line names no file (python3 -m
 * module, java -cp lib Main, sh -c "...") or is not a runtime's.
 */
QString programFromArguments(const QStringList &arguments, const QString &workingDirectory);

} // namespace RuntimeProgram
