#include "roundrunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>

#include <cstdio>

namespace {

// Enough of a child's stderr to show a sanitizer report or a backtrace.
constexpr int keptOutput = 16 * 1024;

void keepTail(QByteArray &kept, const QByteArray &more)
{
    kept += more;
    if (kept.size() > keptOutput)
        kept = kept.right(keptOutput);
}

} // namespace

RoundRunner::RoundRunner(QString set, int stallMs) : m_set(std::move(set)), m_stallMs(stallMs) {}

void RoundRunner::run(int count, int batch)
{
    int next = 0;
    while (next < count) {
        const int first = next;
        runBatch(first, qMin(batch, count - first), &next);
        if (next <= first) // a child that never got to a round: do not start it again
            next = qMin(count, first + batch);
    }
}

void RoundRunner::runBatch(int first, int count, int *next)
{
    QProcess child;
    // Without the allocator's per-thread caches of freed blocks, the heap
    // reading counts what is really in use: a leak shows in every round.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString tunables = environment.value(QStringLiteral("GLIBC_TUNABLES"));
    environment.insert(QStringLiteral("GLIBC_TUNABLES"),
                       (tunables.isEmpty() ? QString() : tunables + QLatin1Char(':')) +
                           QStringLiteral("glibc.malloc.tcache_count=0:glibc.malloc.mxfast=0"));
    child.setProcessEnvironment(environment);
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments(
        {QStringLiteral("--rounds"), m_set, QString::number(first), QString::number(count)});
    child.start();
    if (!child.waitForStarted(30000)) {
        m_failures.append({-1, QStringLiteral("could not be started: ") + child.errorString(), {}});
        return;
    }

    int begun = -1;
    int lastEnded = first - 1;
    QByteArray errors;
    QByteArray pending;
    bool hung = false;
    QElapsedTimer quiet;
    quiet.start();
    const auto readLines = [&] {
        pending += child.readAllStandardOutput();
        keepTail(errors, child.readAllStandardError());
        qsizetype at;
        while ((at = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(at));
            pending.remove(0, at + 1);
            quiet.restart();
            const QString word = line.section(QLatin1Char(' '), 0, 0);
            const int round = line.section(QLatin1Char(' '), 1, 1).toInt();
            if (word == QLatin1String("begin")) {
                begun = round;
            } else if (word == QLatin1String("note")) {
                m_notes[round].append(line.section(QLatin1Char(' '), 2));
            } else if (word == QLatin1String("end")) {
                QHash<QString, qint64> &values = m_ended[round];
                const QStringList pairs =
                    line.section(QLatin1Char(' '), 2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
                for (const QString &pair : pairs)
                    values.insert(pair.section(QLatin1Char('='), 0, 0),
                                  pair.section(QLatin1Char('='), 1).toLongLong());
                lastEnded = round;
                begun = -1;
            }
        }
    };
    // Waits for the child's words, each with a deadline: silence that long is a hang.
    while (child.state() != QProcess::NotRunning) {
        if (!child.waitForReadyRead(200) && quiet.elapsed() > m_stallMs &&
            child.state() != QProcess::NotRunning) {
            hung = true;
            child.kill();
            child.waitForFinished(30000);
            break;
        }
        readLines();
    }
    child.waitForFinished(30000);
    readLines();

    const QString output = QString::fromUtf8(errors);
    if (hung) {
        m_failures.append(
            {begun, QStringLiteral("hung (%1 s without a word)").arg(m_stallMs / 1000), output});
        *next = begun >= 0 ? begun + 1 : lastEnded + 1;
        return;
    }
    const bool crashed = child.exitStatus() == QProcess::CrashExit;
    if (begun >= 0) {
        m_failures.append({begun,
                           crashed ? QStringLiteral("crashed")
                                   : QStringLiteral("exited with %1").arg(child.exitCode()),
                           output});
        *next = begun + 1;
        return;
    }
    *next = lastEnded + 1;
    if (crashed || child.exitCode() != 0) {
        // After its last round: the teardown, or the leak checker at exit.
        m_failures.append(
            {-1,
             QStringLiteral("the child of rounds %1..%2 %3 after its last round")
                 .arg(first)
                 .arg(first + count - 1)
                 .arg(crashed ? QStringLiteral("crashed")
                              : QStringLiteral("exited with %1").arg(child.exitCode())),
             output});
    }
}

int RoundRunner::ended() const
{
    return int(m_ended.size());
}

qint64 RoundRunner::sum(const QString &key) const
{
    qint64 total = 0;
    for (const auto &values : m_ended)
        total += values.value(key);
    return total;
}

qint64 RoundRunner::maximum(const QString &key) const
{
    qint64 most = 0;
    for (const auto &values : m_ended)
        most = qMax(most, values.value(key));
    return most;
}

const QList<RoundRunner::Failure> &RoundRunner::failures() const
{
    return m_failures;
}

const QHash<int, QStringList> &RoundRunner::notes() const
{
    return m_notes;
}

QString RoundRunner::rerun(int round) const
{
    return QStringLiteral("%1 --rounds %2 %3 1")
        .arg(QCoreApplication::applicationFilePath(), m_set)
        .arg(round);
}

int RoundRunner::hangs() const
{
    return int(std::count_if(m_failures.cbegin(), m_failures.cend(), [](const Failure &f) {
        return f.what.startsWith(QLatin1String("hung"));
    }));
}

int RoundRunner::crashes() const
{
    return int(m_failures.size()) - hangs();
}

qint64 RoundRunner::medianGrowth() const
{
    QList<qint64> grown;
    for (const auto &values : m_ended) {
        if (values.value(QStringLiteral("measured")))
            grown.append(values.value(QStringLiteral("grown")));
    }
    if (grown.isEmpty())
        return 0;
    std::sort(grown.begin(), grown.end());
    return grown.at(grown.size() / 2);
}

void RoundRunner::warn(const std::function<quint32(int)> &seedOf) const
{
    for (const Failure &failure : m_failures) {
        const QString what = failure.round >= 0
                                 ? QStringLiteral("round %1 (seed %2) %3; again: %4")
                                       .arg(failure.round)
                                       .arg(RoundLog::seedText(seedOf(failure.round)), failure.what,
                                            rerun(failure.round))
                                 : failure.what;
        qWarning().noquote() << what + QLatin1Char('\n') + failure.output.right(3000);
    }
    QList<int> noted = m_notes.keys();
    std::sort(noted.begin(), noted.end());
    for (int round : noted.mid(0, 10)) {
        qWarning().noquote() << QStringLiteral("round %1: %2; again: %3")
                                    .arg(round)
                                    .arg(m_notes.value(round).join(QStringLiteral("\n    ")),
                                         rerun(round))
                                    .left(6000);
    }
}

namespace RoundLog {

bool requested(int argc, char **argv, QString *set, int *first, int *count)
{
    if (argc < 5 || qstrcmp(argv[1], "--rounds") != 0)
        return false;
    *set = QString::fromLocal8Bit(argv[2]);
    bool firstOk = false, countOk = false;
    *first = QByteArray(argv[3]).toInt(&firstOk);
    *count = QByteArray(argv[4]).toInt(&countOk);
    return firstOk && countOk && *first >= 0 && *count > 0;
}

QString seedText(quint32 seed)
{
    return QStringLiteral("0x%1").arg(seed, 8, 16, QLatin1Char('0'));
}

void begin(int round)
{
    std::printf("begin %d\n", round);
    std::fflush(stdout);
}

void note(int round, const QString &text)
{
    // One line per note: the runner reads lines.
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1String(" | "));
    std::printf("note %d %s\n", round, line.toUtf8().constData());
    std::fflush(stdout);
}

void end(int round, const QList<QPair<QString, qint64>> &values)
{
    QStringList pairs;
    for (const auto &value : values)
        pairs.append(value.first + QLatin1Char('=') + QString::number(value.second));
    std::printf("end %d %s\n", round, pairs.join(QLatin1Char(' ')).toUtf8().constData());
    std::fflush(stdout);
}

} // namespace RoundLog
