#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QString>

#include <climits>
#include <cmath>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// What the stress tests share: how many rounds to run, and what a round may
// leave behind in the process (open files, heap, peak memory).
namespace StressRound {

/** VARLO_STRESS_SCALE, 1 when unset or unusable (the sanitizer build sets 0.1). */
inline double scale()
{
    bool ok = false;
    const double value = qEnvironmentVariable("VARLO_STRESS_SCALE").toDouble(&ok);
    return ok && std::isfinite(value) && value > 0 ? value : 1.0;
}

/** A test's round count at scale 1, scaled; never fewer than one. */
inline int rounds(int atScaleOne)
{
    const double scaled = std::round(atScaleOne * scale());
    return scaled < 1 ? 1 : scaled > INT_MAX / 4 ? INT_MAX / 4 : int(scaled);
}

/** " (scaled x0.1)" for the summary line while the counts are scaled, else empty. */
inline QString scaleNote()
{
    return scale() == 1.0 ? QString() : QStringLiteral(" (scaled x%1)").arg(scale());
}

/**
 * Where a test's scratch folders go: memory-backed when the machine has such
 * a folder, since QSettings and SQLite wait for the disk at every save.
 */
inline QString scratchBase()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
}

/** The descriptors open in this process. */
inline int openFiles()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

/** The threads of this process. */
inline int threads()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

/**
 * Whether the heap and peak memory readings mean anything: the address
 * sanitizer keeps freed memory aside and has an allocator of its own.
 */
constexpr bool measuresMemory()
{
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return false;
#endif
}

/** Bytes the allocator has handed out and not had back; 0 where it cannot tell. */
inline qint64 heapInUse()
{
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    return qint64(mallinfo2().uordblks);
#else
    return 0;
#endif
}

/** Starts a new reading of the peak resident memory; false where the kernel cannot. */
inline bool resetPeakMemory()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

/** Peak resident memory in KiB since the last reset; 0 where it means nothing. */
inline qint64 peakMemoryKiB()
{
    if (!measuresMemory())
        return 0;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    static const QRegularExpression peak(QStringLiteral("VmHWM:\\s+(\\d+)"));
    return peak.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

/** The summary line's words on memory: the peak, or who watches it instead. */
inline QString memoryNote(const char *what, qint64 peakKiB)
{
    return measuresMemory() ? QStringLiteral(", most memory for a %1 %2 MiB")
                                  .arg(QLatin1String(what))
                                  .arg(peakKiB / 1024)
                            : QStringLiteral(", memory and leaks watched by the sanitizer");
}

/** Resident memory now, in KiB; 0 where peakMemoryKiB() means nothing. */
inline qint64 residentMemoryKiB()
{
    if (!measuresMemory())
        return 0;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    static const QRegularExpression resident(QStringLiteral("VmRSS:\\s+(\\d+)"));
    return resident.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

} // namespace StressRound
