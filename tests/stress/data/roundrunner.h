#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

// Runs the rounds of a stress test in child processes of the test itself, a
// batch of rounds per child: a crash or a hang ends one child and is put down
// to the round it was in, and the rounds after it run in a new child.
//
// A child is this executable started as "<test> --rounds SET FIRST COUNT"; it
// runs rounds FIRST..FIRST+COUNT-1 of the set and reports each through
// RoundLog: "begin N" before round N, "note N text" for what went wrong and
// "end N key=value ..." after it. The same arguments with a count of 1 run
// one round again by hand.
class RoundRunner
{
public:
    struct Failure
    {
        int round = -1; // -1: outside any round (the child's start or its exit)
        QString what;   // "crashed (signal 11)", "hung", "exited with 23 after round 99"
        QString output; // the end of what the child wrote to stderr
    };

    RoundRunner(QString set, int stallMs);

    /** Runs rounds 0..count-1 of the set, at most batch rounds per child. */
    void run(int count, int batch);

    int ended() const;
    /** A key's values summed over the rounds that ended. */
    qint64 sum(const QString &key) const;
    qint64 maximum(const QString &key) const;
    const QList<Failure> &failures() const;
    /** Each round that reported a note, with its notes. */
    const QHash<int, QStringList> &notes() const;
    /** The command that runs one round again. */
    QString rerun(int round) const;
    /** The failures that were hangs; the others crashed or exited with a sanitizer's report. */
    int hangs() const;
    int crashes() const;
    /**
     * The median of "grown" over the rounds that say "measured": what a
     * repeated pass leaves on the heap, where a leak shows every time and
     * the allocator's own moves now and then.
     */
    qint64 medianGrowth() const;
    /**
     * Warns of every failure and of the first rounds with notes, each with its
     * seed (from seedOf) and the command that runs it again.
     */
    void warn(const std::function<quint32(int)> &seedOf) const;

private:
    void runBatch(int first, int count, int *next);

    QString m_set;
    int m_stallMs;
    QHash<int, QHash<QString, qint64>> m_ended;
    QHash<int, QStringList> m_notes;
    QList<Failure> m_failures;
};

// The child's side of the conversation; every line is flushed at once, so a
// crash loses nothing that was said before it.
namespace RoundLog {

/** Whether the arguments ask for rounds; fills in the set and the range. */
bool requested(int argc, char **argv, QString *set, int *first, int *count);
/** A round's seed as the notes and warnings write it. */
QString seedText(quint32 seed);
void begin(int round);
void note(int round, const QString &text);
void end(int round, const QList<QPair<QString, qint64>> &values);

} // namespace RoundLog
