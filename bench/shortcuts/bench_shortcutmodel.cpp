#include "databaseutil.h"
#include "shortcutmodel.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <vector>

class BenchShortcutModel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase();
    void figures();
    void reload1000();
};

void BenchShortcutModel::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
    QVERIFY(DatabaseUtil().initialize());
    QSqlDatabase db = QSqlDatabase::database();
    QVERIFY(db.transaction());
    QSqlQuery query;
    for (int i = 0; i < 1000; ++i) {
        // One chord per digit, so that every row holds a key combination of its own.
        QStringList chords;
        for (const QChar digit : QString::number(i))
            chords.append(QStringLiteral("Ctrl+") + digit);
        QVERIFY(query.exec(QStringLiteral("INSERT INTO shortcut (name, shortcut, grid_width, "
                                          "grid_height, selection_x, selection_y, "
                                          "selection_width, selection_height, global, enabled, "
                                          "subdivided) VALUES ('Shortcut %1', '%2', 6, 6, 0, 0, "
                                          "3, 6, 0, 1, 0)")
                               .arg(i)
                               .arg(chords.join(QStringLiteral(", ")))));
    }
    QVERIFY(db.commit());
}

// The median, printed once; QBENCHMARK below repeats its body, so it cannot print.
void BenchShortcutModel::figures()
{
    ShortcutModel model;
    QCOMPARE(model.rowCount(), 1000);
    std::vector<double> samples;
    QElapsedTimer timer;
    for (int i = 0; i < 51; ++i) {
        timer.start();
        model.reload();
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(samples.begin(), samples.end());
    qInfo("ShortcutModel::reload, 1000 rows: median %.2f ms, slowest %.2f ms (target < 10 ms)",
          samples[samples.size() / 2], samples.back());
}

void BenchShortcutModel::reload1000()
{
    ShortcutModel model;
    QBENCHMARK
    {
        model.reload();
    }
}

QTEST_MAIN(BenchShortcutModel)
#include "bench_shortcutmodel.moc"
