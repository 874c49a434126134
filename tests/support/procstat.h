#pragma once

// Figures of a running process from /proc, for tests and benchmarks.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace ProcStat {

/** A kB field of /proc/PID/status ("VmRSS", "VmHWM"...); -1 when it cannot be read. */
inline long statusKb(qint64 pid, const QByteArray &field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

/** utime + stime of all the process's threads, in clock ticks; -1 when it cannot be read. */
inline long cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    // The command name in parentheses may hold spaces: count from after it.
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields.value(11).toLong() + fields.value(12).toLong();
}

} // namespace ProcStat
