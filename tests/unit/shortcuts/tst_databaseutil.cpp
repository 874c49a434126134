#include "databasefixture.h"
#include "databaseutil.h"
#include "shortcutmodel.h"

#include <QElapsedTimer>
#include <QResource>
#include <QSemaphore>
#include <QSqlRecord>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

const QStringList latestColumns = {
    "rowid",       "name",        "shortcut",        "grid_width",       "grid_height",
    "selection_x", "selection_y", "selection_width", "selection_height", "global",
    "enabled",     "subdivided"};

QStringList columnsOf(const QString &table)
{
    const QSqlRecord record = QSqlDatabase::database().record(table);
    QStringList names;
    for (int i = 0; i < record.count(); ++i)
        names.append(record.fieldName(i));
    return names;
}

QList<QVariantList> rowsOf(const QString &select)
{
    QSqlQuery query(select);
    QList<QVariantList> rows;
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < query.record().count(); ++i)
            row.append(query.value(i));
        rows.append(row);
    }
    return rows;
}

// Scripts of a test mapped under ":/sql/" beside the shipped ones for one case.
struct ExtraScripts
{
    explicit ExtraScripts(const QString &rcc) : rcc(rcc)
    {
        mapped = rcc.isEmpty() || QResource::registerResource(rcc);
    }
    ~ExtraScripts()
    {
        if (!rcc.isEmpty())
            QResource::unregisterResource(rcc);
    }
    QString rcc;
    bool mapped;
};

// A second connection, as another process would hold one: an exclusive lock
// taken on its own thread and given up once released or after holdMs.
class LockHolder : public QThread
{
public:
    LockHolder(const QString &path, int holdMs) : m_path(path), m_holdMs(holdMs) {}
    ~LockHolder() override
    {
        release.release();
        wait();
    }

    std::atomic_bool locked{false};
    std::atomic_bool released{false};
    QSemaphore release;

protected:
    void run() override
    {
        const QString name = QStringLiteral("lock holder");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(m_path);
            QSqlQuery query(db);
            if (db.open() && query.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
                locked = true;
                release.tryAcquire(1, m_holdMs);
                released = true; // before the lock goes, so a waiter sees it set
                query.exec(QStringLiteral("ROLLBACK"));
            }
        }
        QSqlDatabase::removeDatabase(name);
    }

private:
    QString m_path;
    int m_holdMs;
};

const QStringList twoRows = {
    "INSERT INTO shortcut (name, shortcut, grid_width, grid_height, selection_x, selection_y, "
    "selection_width, selection_height) VALUES ('Left', 'Ctrl+Alt+Left', 6, 6, 0, 0, 3, 6)",
    "INSERT INTO shortcut (name, shortcut, grid_width, grid_height, selection_x, selection_y, "
    "selection_width, selection_height) VALUES ('Right', 'Ctrl+Alt+Right', 6, 6, 3, 0, 3, 6)"};

} // namespace

class TestDatabaseUtil : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataHome> m_home;

private Q_SLOTS:
    void init() { m_home = std::make_unique<DataHome>(); }
    void cleanup() { m_home.reset(); }

    void newFileGetsTheLatestSchema_data();
    void newFileGetsTheLatestSchema();
    void olderFileIsUpgraded_data();
    void olderFileIsUpgraded();
    void currentFileIsLeftAlone();
    void statementsAreSplit_data();
    void statementsAreSplit();
    void failedUpgradeChangesNothing_data();
    void failedUpgradeChangesNothing();
    void unusableFileIsNeverWritten_data();
    void unusableFileIsNeverWritten();
    void unopenableFileFailsCleanly();
    void lockOfAnotherConnectionIsWaitedFor_data();
    void lockOfAnotherConnectionIsWaitedFor();
};

void TestDatabaseUtil::newFileGetsTheLatestSchema_data()
{
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<bool>("emptyFileExists");
    QTest::newRow("no folder") << false << false;
    QTest::newRow("empty folder") << true << false;
    // 0 bytes hold nothing to lose: such a file is set up like a missing one.
    QTest::newRow("file of 0 bytes") << true << true;
}

void TestDatabaseUtil::newFileGetsTheLatestSchema()
{
    QFETCH(bool, folderExists);
    QFETCH(bool, emptyFileExists);
    if (folderExists)
        QVERIFY(QDir().mkpath(m_home->folder()));
    if (emptyFileExists)
        QVERIFY(writeFile(m_home->database(), QByteArray()));

    LogCapture log;
    DatabaseUtil util;
    QCOMPARE(util.databasePath(), m_home->database());
    QCOMPARE(QFileInfo::exists(m_home->folder()), folderExists); // the constructor touches nothing
    QCOMPARE(util.latestSchemaVersion(), 3);
    QVERIFY(util.initialize());

    QCOMPARE(util.currentSchemaVersion(), 3);
    QCOMPARE(rowsOf("SELECT current_version FROM migration_history"),
             QList<QVariantList>{{QVariant(3)}});
    QStringList tables = QSqlDatabase::database().tables();
    tables.sort();
    QCOMPARE(tables, (QStringList{"migration_history", "shortcut"}));
    QCOMPARE(columnsOf("shortcut"), latestColumns);
    QCOMPARE(QSqlDatabase::database().connectOptions(), QString("QSQLITE_BUSY_TIMEOUT=2000"));

    QCOMPARE(
        log.texts(QtDebugMsg),
        (QStringList{"Initializing shortcuts database.", "Database file: " + m_home->database(),
                     "Database schema version: 0", "--- Upgrading to version 1",
                     "--- Upgrading to version 2", "--- Upgrading to version 3"}));
    for (const LogCapture::Line &line : log.all())
        QCOMPARE(line.file, QString("databaseutil.cpp"));
}

void TestDatabaseUtil::olderFileIsUpgraded_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QList<QVariantList>>("expected"); // name, enabled, subdivided

    QTest::newRow("from version 1: rows get enabled 0 and subdivided 0")
        << 1 << twoRows << QList<QVariantList>{{"Left", 0, 0}, {"Right", 0, 0}};
    QTest::newRow("from version 2: enabled kept, subdivided 0")
        << 2 << (twoRows + QStringList{"UPDATE shortcut SET enabled = 1 WHERE name = 'Right'"})
        << QList<QVariantList>{{"Left", 0, 0}, {"Right", 1, 0}};
}

void TestDatabaseUtil::olderFileIsUpgraded()
{
    QFETCH(int, version);
    QFETCH(QStringList, setup);
    QFETCH(QList<QVariantList>, expected);
    QVERIFY(writeFile(m_home->database(), databaseBytes(version, setup)));

    LogCapture log;
    DatabaseUtil util;
    QVERIFY(util.initialize());
    QCOMPARE(util.currentSchemaVersion(), 3);
    QCOMPARE(columnsOf("shortcut"), latestColumns);
    QCOMPARE(rowsOf("SELECT name, enabled, subdivided FROM shortcut ORDER BY rowid"), expected);
    QCOMPARE(rowsOf("SELECT current_version FROM migration_history"),
             QList<QVariantList>{{QVariant(3)}});
    QCOMPARE(log.texts(QtDebugMsg).mid(2, 2),
             (QStringList{QString("Database schema version: %1").arg(version),
                          QString("--- Upgrading to version %1").arg(version + 1)}));
    QCOMPARE(log.texts(QtWarningMsg), QStringList());
}

void TestDatabaseUtil::currentFileIsLeftAlone()
{
    const QByteArray before = databaseBytes(3, twoRows);
    QVERIFY(writeFile(m_home->database(), before));
    DatabaseUtil util;
    QVERIFY(util.initialize());

    LogCapture log;
    QVERIFY(util.migrate());
    QCOMPARE(log.texts(QtDebugMsg),
             (QStringList{"Database schema version: 3", "Database is up-to-date."}));
    QCOMPARE(log.all().size(), 2);
    m_home->expectUnchanged(before);
}

void TestDatabaseUtil::statementsAreSplit_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("statements");

    QTest::newRow("empty line after ';'") << "A;\n\nB;\n" << QStringList{"A", "B;\n"};
    QTest::newRow("CRLF lines") << "A;\r\n\r\nB" << QStringList{"A", "B"};
    QTest::newRow("';' then one line break") << "A;\nB;\n" << QStringList{"A;\nB;\n"};
    QTest::newRow("mixed line breaks") << "A;\n\r\nB" << QStringList{"A;\n\r\nB"};
    QTest::newRow("block comment over lines") << "/* one\n two */A;\n\nB" << QStringList{"A", "B"};
    QTest::newRow("separator inside a comment") << "A/* ;\n\n */;\n\nB" << QStringList{"A", "B"};
    QTest::newRow("two comments, text between kept")
        << "/*1*/A;\n\n/*2*/B" << QStringList{"A", "B"};
    QTest::newRow("blank pieces dropped") << "A;\n\n\n;\n\n  \n;\n\n" << QStringList{"A"};
    QTest::newRow("line comment kept") << "-- why\nA;\n\nB" << QStringList{"-- why\nA", "B"};
    QTest::newRow("nothing") << "" << QStringList();

    const auto shipped = [](const char *name) {
        QFile file(QStringLiteral(":/sql/") + QLatin1String(name));
        return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll())
                                                                : QString();
    };
    QTest::newRow("script 1") << shipped("001_initial_version.sql") << QStringList{"3 statements"};
    QTest::newRow("script 2") << shipped("002_disabled_and_global.sql")
                              << QStringList{"1 statements"};
    QTest::newRow("script 3") << shipped("003_subdivided_flag.sql") << QStringList{"1 statements"};
}

void TestDatabaseUtil::statementsAreSplit()
{
    QFETCH(QString, script);
    QFETCH(QStringList, statements);
    const QStringList split = DatabaseUtil::splitStatements(script);
    // The shipped scripts are long; their rows give only the count.
    if (statements.size() == 1 && statements.first().endsWith(" statements"))
        QCOMPARE(QString("%1 statements").arg(split.size()), statements.first());
    else
        QCOMPARE(split, statements);
}

void TestDatabaseUtil::failedUpgradeChangesNothing_data()
{
    QTest::addColumn<QString>("scripts");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("warning");

    QTest::newRow("upgrade 2 meets an enabled column")
        << QString()
        << databaseBytes(1, twoRows + QStringList{"ALTER TABLE shortcut ADD COLUMN enabled"}) << 1
        << "Error executing sql statement: \n-- Add the ability";
    QTest::newRow("third statement of a script fails")
        << MIDWAY_RCC << databaseBytes(3, twoRows) << 3
        << "Error executing sql statement: INSERT INTO `no_such_table`";
    QTest::newRow("no script for the next version")
        << GAP_RCC << databaseBytes(3, twoRows) << 3 << "Could not find SQL for upgrade #4!";
}

void TestDatabaseUtil::failedUpgradeChangesNothing()
{
    QFETCH(QString, scripts);
    QFETCH(QByteArray, content);
    QFETCH(int, version);
    QFETCH(QString, warning);
    QVERIFY(!content.isEmpty());
    QVERIFY(writeFile(m_home->database(), content));
    const ExtraScripts extra(scripts);
    QVERIFY(extra.mapped);

    LogCapture log;
    DatabaseUtil util;
    QVERIFY(!util.initialize());
    QCOMPARE(util.currentSchemaVersion(), version);
    QVERIFY(!QSqlDatabase::database().tables().contains("scratch"));
    const QStringList warnings = log.texts(QtWarningMsg);
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().startsWith(warning), qPrintable(warnings.first()));
    m_home->expectUnchanged(content);
}

void TestDatabaseUtil::unusableFileIsNeverWritten_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("warning");

    QByteArray random(4096, 0);
    QRandomGenerator generator(4711);
    for (char &byte : random)
        byte = char(generator.bounded(256));
    QStringList inserts;
    for (int i = 0; i < 300; ++i)
        inserts.append(
            QString(twoRows.first()).replace("Ctrl+Alt+Left", QString("Ctrl+F%1").arg(i)));
    const QByteArray manyRows = databaseBytes(3, inserts);
    QVERIFY(manyRows.size() > 8192);

    QTest::newRow("random bytes") << random << false << 0 << "is not a database Varlo can read";
    QTest::newRow("text file") << QByteArray("[shortcuts]\nLeft=Ctrl+Alt+Left\n") << false << 0
                               << "is not a database Varlo can read";
    QTest::newRow("truncated to half")
        << manyRows.left(manyRows.size() / 2) << false << 0 << "is not a database Varlo can read";
    QTest::newRow("truncated to 100 bytes")
        << manyRows.left(100) << false << 0 << "is not a database Varlo can read";
    QTest::newRow("newer version with more columns")
        << databaseBytes(3,
                         twoRows + QStringList{"ALTER TABLE shortcut ADD COLUMN colour TEXT",
                                               "UPDATE migration_history SET current_version=99"})
        << true << 2 << "is of version 99, newer than this Varlo knows (3)";
    QTest::newRow("no shortcut table")
        << databaseBytes(3, {"DROP TABLE shortcut"}) << false << 0 << "has no shortcut table";
    QTest::newRow("shortcut table of an old layout")
        << databaseBytes(3, {"DROP TABLE shortcut", "CREATE TABLE shortcut (name TEXT)"}) << false
        << 0 << "lacks the shortcut columns shortcut, grid_width";
    QTest::newRow("no version row") << databaseBytes(3, {"DELETE FROM migration_history"}) << false
                                    << 0 << "holds no schema version";
    QTest::newRow("version as text")
        << databaseBytes(3, {"UPDATE migration_history SET current_version='three'"}) << false << 0
        << "holds the unknown schema version \"three\"";
    QTest::newRow("another program's database")
        << databaseBytes(0, {"CREATE TABLE notes (text TEXT)"}) << false << 0
        << "holds no schema version";
}

void TestDatabaseUtil::unusableFileIsNeverWritten()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, usable);
    QFETCH(int, rows);
    QFETCH(QString, warning);
    QVERIFY(!content.isEmpty());
    QVERIFY(writeFile(m_home->database(), content));

    LogCapture log;
    {
        DatabaseUtil util;
        QCOMPARE(util.initialize(), usable);
        ShortcutModel model;
        QCOMPARE(model.rowCount(), rows);
        // Runs on, but nothing goes into a file it could not vouch for.
        QVERIFY(!model.addShortcut("Up", "Ctrl+Alt+Up", {6, 6}, {0, 0, 6, 3}, false, true, false));
    }
    const QStringList warnings = log.texts(QtWarningMsg);
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().contains(warning), qPrintable(warnings.first()));
    QVERIFY(warnings.first().contains(m_home->database()));
    m_home->expectUnchanged(content);
}

void TestDatabaseUtil::unopenableFileFailsCleanly()
{
    // The data folder cannot be made: a file stands where "Orrith LLC" should be.
    QVERIFY(writeFile(QFileInfo(m_home->folder()).absolutePath(), "in the way"));
    LogCapture log;
    DatabaseUtil util;
    QVERIFY(!util.initialize());
    ShortcutModel model;
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.addShortcut("Up", "Ctrl+Alt+Up", {6, 6}, {0, 0, 6, 3}, false, true, false));
    QCOMPARE(log.texts(QtWarningMsg), QStringList{"Failed to open database connection."});
}

void TestDatabaseUtil::lockOfAnotherConnectionIsWaitedFor_data()
{
    QTest::addColumn<bool>("atStart");
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<bool>("succeeds");

    QTest::newRow("start, released after 0.5 s") << true << 500 << true;
    QTest::newRow("start, held past the wait") << true << 60000 << false;
    QTest::newRow("reading, released after 0.5 s") << false << 500 << true;
}

void TestDatabaseUtil::lockOfAnotherConnectionIsWaitedFor()
{
    QFETCH(bool, atStart);
    QFETCH(int, holdMs);
    QFETCH(bool, succeeds);
    const QByteArray content = databaseBytes(3, twoRows);
    QVERIFY(writeFile(m_home->database(), content));

    DatabaseUtil util;
    if (!atStart)
        QVERIFY(util.initialize());
    LockHolder holder(m_home->database(), holdMs);
    holder.start();
    QTRY_VERIFY(holder.locked);

    LogCapture log;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(atStart ? util.initialize() : ShortcutModel().rowCount() == 2, succeeds);
    const qint64 waited = timer.elapsed();
    // Success means the release was waited for; failure, that the whole wait passed first.
    QCOMPARE(bool(holder.released), succeeds);
    if (!succeeds) {
        // About two seconds: Qt's own default would be five.
        QVERIFY2(waited >= 1900 && waited < 4000, qPrintable(QString::number(waited)));
        const QStringList warnings = log.texts(QtWarningMsg);
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().contains("is locked by another program"),
                 qPrintable(warnings.first()));
    }
    holder.release.release();
    QVERIFY(holder.wait(10000));
    // Once the lock is gone the shortcuts read, even over a read-only connection.
    QCOMPARE(ShortcutModel().rowCount(), 2);
    m_home->expectUnchanged(content);
}

QTEST_MAIN(TestDatabaseUtil)
#include "tst_databaseutil.moc"
