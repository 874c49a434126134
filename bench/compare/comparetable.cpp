#include "comparetable.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

double median(std::vector<double> values)
{
    if (values.empty())
        return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

namespace {

struct Block
{
    QString what;
    QString unit;
    int decimals = 0;
    std::vector<Measured> rows;
    double limit = std::numeric_limits<double>::quiet_NaN();
    double factor = std::numeric_limits<double>::quiet_NaN();
    QString peer;
};

QString figure(double value, int decimals)
{
    return std::isnan(value) ? QStringLiteral("--") : QString::number(value, 'f', decimals);
}

// The reference the goal holds Varlo's median to; NaN when it has no figure.
double goalValue(const Block &block)
{
    if (!std::isnan(block.limit))
        return block.limit;
    for (const Measured &row : block.rows) {
        if (row.who == block.peer)
            return block.factor * median(row.samples);
    }
    return std::numeric_limits<double>::quiet_NaN();
}

QString goalText(const Block &block)
{
    if (!std::isnan(block.limit))
        return QStringLiteral("<= %1 %2").arg(figure(block.limit, block.decimals), block.unit);
    if (!std::isnan(block.factor))
        return QStringLiteral("<= %1 x %2").arg(QString::number(block.factor), block.peer);
    return {};
}

} // namespace

struct CompareTable::Private
{
    QString title;
    std::vector<Block> blocks;
};

CompareTable::CompareTable(const QString &title) : d(std::make_unique<Private>())
{
    d->title = title;
}

CompareTable::~CompareTable() = default;

void CompareTable::beginBlock(const QString &what, const QString &unit, int decimals)
{
    d->blocks.push_back({what,
                         unit,
                         decimals,
                         {},
                         std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::quiet_NaN(),
                         {}});
}

void CompareTable::addRow(const Measured &row)
{
    d->blocks.back().rows.push_back(row);
}

void CompareTable::goalAtMost(double limit)
{
    d->blocks.back().limit = limit;
}

void CompareTable::goalAtMostTimes(double factor, const QString &peer)
{
    d->blocks.back().factor = factor;
    d->blocks.back().peer = peer;
}

CompareTable::Verdict CompareTable::verdict(int block) const
{
    const Block &b = d->blocks.at(size_t(block));
    if (std::isnan(b.limit) && std::isnan(b.factor))
        return Verdict::None;
    const double varlo =
        b.rows.empty() ? std::numeric_limits<double>::quiet_NaN() : median(b.rows.front().samples);
    const double reference = goalValue(b);
    if (std::isnan(varlo) || std::isnan(reference))
        return Verdict::Unmeasured;
    return varlo <= reference ? Verdict::Pass : Verdict::Miss;
}

bool CompareTable::complete() const
{
    for (size_t i = 0; i < d->blocks.size(); ++i) {
        const Block &b = d->blocks[i];
        if (b.rows.empty() || verdict(int(i)) == Verdict::Unmeasured)
            return false;
        for (const Measured &row : b.rows) {
            if (row.samples.empty())
                return false;
        }
    }
    return true;
}

QString CompareTable::text() const
{
    const QString header = QStringLiteral("%1 %2 %3 %4  %5")
                               .arg(QString(), -52)
                               .arg(QStringLiteral("median"), 16)
                               .arg(QStringLiteral("n"), 10)
                               .arg(QStringLiteral("x Varlo"), 8)
                               .arg(QStringLiteral("goal"));
    QStringList lines = {d->title, header};
    for (size_t i = 0; i < d->blocks.size(); ++i) {
        const Block &b = d->blocks[i];
        lines << b.what;
        const double varlo = b.rows.empty() ? std::numeric_limits<double>::quiet_NaN()
                                            : median(b.rows.front().samples);
        for (size_t r = 0; r < b.rows.size(); ++r) {
            const Measured &row = b.rows[r];
            const double m = median(row.samples);
            QString line =
                QStringLiteral("  %1 %2 %3 %4")
                    .arg(row.who, -50)
                    .arg(figure(m, b.decimals) + QLatin1Char(' ') + b.unit, 16)
                    .arg(QStringLiteral("%1/%2").arg(row.samples.size()).arg(row.attempts), 10)
                    .arg(b.rows.size() > 1 ? figure(m / varlo, 2) : QString(), 8);
            if (r == 0 && verdict(int(i)) != Verdict::None) {
                static const char *const words[] = {"", "PASS", "MISS", "not measured"};
                line += QStringLiteral("  %1  %2")
                            .arg(goalText(b), -24)
                            .arg(QLatin1String(words[int(verdict(int(i)))]));
            }
            while (line.endsWith(QLatin1Char(' ')))
                line.chop(1);
            lines << line;
        }
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
