#pragma once

#include <QString>

#include <memory>
#include <vector>

/** What one program took, round by round, for one measure. */
struct Measured
{
    QString who;
    std::vector<double> samples; // one per round that could be measured
    int attempts = 0;            // rounds tried
};

/** The middle sample (the mean of the two middle ones for an even count); NaN for none. */
double median(std::vector<double> values);

/**
 * The one table the comparison prints: blocks of rows, one block per
 * measure, Varlo's row first and its peers below with their median as a
 * multiple of Varlo's. A block may carry a goal for Varlo's median, which is
 * judged PASS or MISS; a missing figure is shown as such and makes the
 * table incomplete.
 */
class CompareTable
{
public:
    enum class Verdict
    {
        None,
        Pass,
        Miss,
        Unmeasured
    };

    CompareTable(const QString &title);
    ~CompareTable();

    /** Starts a block; figures are printed in unit with that many decimals. */
    void beginBlock(const QString &what, const QString &unit, int decimals);
    /** A row of the current block; the first one is Varlo's. */
    void addRow(const Measured &row);
    /** Varlo's median at most limit (in the block's unit). */
    void goalAtMost(double limit);
    /** Varlo's median at most factor times the median of the row of peer. */
    void goalAtMostTimes(double factor, const QString &peer);

    /** The verdict on the goal of block (0 first); None without a goal. */
    Verdict verdict(int block) const;
    /** Every row has a figure: nothing failed to be measured. */
    bool complete() const;
    QString text() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
