// How the comparison judges and prints its figures: a wrong verdict or an
// inverted multiple would mislead whoever reads the table.

#include "comparetable.h"

#include <QTest>

using Samples = std::vector<double>;
Q_DECLARE_METATYPE(Samples)
Q_DECLARE_METATYPE(CompareTable::Verdict)

class TestCompareTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Varlo's median (not its mean, not its worst round) held to a limit or
    // to a share of a peer's median; "at most" passes on the line itself.
    void verdictOnTheGoal_data()
    {
        QTest::addColumn<Samples>("varlo");
        QTest::addColumn<Samples>("peer");
        QTest::addColumn<double>("limit");  // NaN: the goal is the share below
        QTest::addColumn<double>("factor"); // of the peer's median
        QTest::addColumn<CompareTable::Verdict>("verdict");
        const double none = qQNaN();
        using V = CompareTable::Verdict;
        QTest::newRow("below the limit")
            << Samples{0.01, 0.02, 0.03} << Samples{} << 0.05 << none << V::Pass;
        QTest::newRow("on the limit") << Samples{45} << Samples{} << 45.0 << none << V::Pass;
        QTest::newRow("over the limit") << Samples{45.1} << Samples{} << 45.0 << none << V::Miss;
        QTest::newRow("one slow round does not decide")
            << Samples{1, 4, 100} << Samples{} << 5.0 << none << V::Pass;
        QTest::newRow("even count: between the middle two")
            << Samples{1, 4, 6, 100} << Samples{} << 5.0 << none << V::Pass;
        QTest::newRow("even count over")
            << Samples{1, 4, 7, 100} << Samples{} << 5.0 << none << V::Miss;
        QTest::newRow("half the peer's time")
            << Samples{2, 3, 4} << Samples{6, 8} << none << 0.5 << V::Pass;
        QTest::newRow("more than half")
            << Samples{3, 4, 5} << Samples{6, 7} << none << 0.5 << V::Miss;
        QTest::newRow("peer not measured")
            << Samples{1} << Samples{} << none << 0.5 << V::Unmeasured;
        QTest::newRow("Varlo not measured")
            << Samples{} << Samples{6} << none << 0.5 << V::Unmeasured;
        QTest::newRow("no goal") << Samples{1} << Samples{2} << none << none << V::None;
    }
    void verdictOnTheGoal()
    {
        QFETCH(Samples, varlo);
        QFETCH(Samples, peer);
        QFETCH(double, limit);
        QFETCH(double, factor);
        QFETCH(CompareTable::Verdict, verdict);
        CompareTable table(QStringLiteral("t"));
        table.beginBlock(QStringLiteral("what"), QStringLiteral("ms"), 2);
        table.addRow({QStringLiteral("Varlo"), varlo, 3});
        table.addRow({QStringLiteral("peer"), peer, 3});
        if (!qIsNaN(limit))
            table.goalAtMost(limit);
        if (!qIsNaN(factor))
            table.goalAtMostTimes(factor, QStringLiteral("peer"));
        QCOMPARE(table.verdict(0), verdict);
        // A figure that is missing makes the run fail, whatever the goal.
        QCOMPARE(table.complete(), !varlo.empty() && !peer.empty());
        if (verdict != CompareTable::Verdict::None)
            QVERIFY(table.text().contains(
                verdict == CompareTable::Verdict::Pass   ? QStringLiteral("PASS")
                : verdict == CompareTable::Verdict::Miss ? QStringLiteral("MISS")
                                                         : QStringLiteral("not measured")));
    }

    // Each peer's median printed as a multiple of Varlo's, on its own row.
    void peersAsMultiplesOfVarlo_data()
    {
        QTest::addColumn<Samples>("varlo");
        QTest::addColumn<Samples>("peer");
        QTest::addColumn<QString>("peerRow");
        QTest::newRow("slower peer")
            << Samples{2, 2, 9} << Samples{5, 6, 1} << QStringLiteral("5.00 ms 3/3 2.50");
        QTest::newRow("faster peer")
            << Samples{4} << Samples{1} << QStringLiteral("1.00 ms 1/3 0.25");
        QTest::newRow("peer not measured")
            << Samples{4} << Samples{} << QStringLiteral("-- ms 0/3 --");
    }
    void peersAsMultiplesOfVarlo()
    {
        QFETCH(Samples, varlo);
        QFETCH(Samples, peer);
        QFETCH(QString, peerRow);
        CompareTable table(QStringLiteral("t"));
        table.beginBlock(QStringLiteral("what"), QStringLiteral("ms"), 2);
        table.addRow({QStringLiteral("Varlo"), varlo, 3});
        table.addRow({QStringLiteral("peer"), peer, 3});
        const QStringList lines = table.text().split(QLatin1Char('\n'));
        const auto row = std::find_if(lines.begin(), lines.end(), [](const QString &l) {
            return l.trimmed().startsWith(QStringLiteral("peer"));
        });
        QVERIFY(row != lines.end());
        QCOMPARE(row->simplified(), QStringLiteral("peer ") + peerRow);
    }
};

QTEST_APPLESS_MAIN(TestCompareTable)

#include "tst_comparetable.moc"
