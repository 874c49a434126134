#pragma once

#include <QString>
#include <QStringList>

// Process facts read from /proc. Each failing call leaves the errno text in
// *error (when given) and returns the neutral value.
namespace ProcFs {

bool exists(qint64 pid, QString *error);
QString executable(qint64 pid, QString *error);
qint64 parentPid(qint64 pid, QString *error);
QStringList arguments(qint64 pid, QString *error);
QString workingDirectory(qint64 pid, QString *error);

} // namespace ProcFs
