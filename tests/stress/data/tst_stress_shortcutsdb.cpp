// shortcuts.db as Varlo itself wrote it, then damaged a thousand ways: bits
// flipped, cut short, pages swapped, hostile values in every column, and the
// schema of a newer Varlo. Each file goes through what a start does with it
// (the database opened, the shortcuts loaded and their hot keys made live)
// and every shortcut that loads is used to place a window on the fake desktop.
//
// Per file: no crash or hang, the file byte for byte as it was (a file Varlo
// refuses says why in the log), each loaded shortcut with a usable grid puts
// the window exactly on its cells, one with unusable values places nothing or
// stays on the screen, and a second start on the same file leaves no more
// memory, descriptors or connections behind than the first.

#include "cellgrid.h"
#include "commonbehavior.h"
#include "databasefixture.h"
#include "databaseutil.h"
#include "desktopareacache.h"
#include "fakedesktop.h"
#include "offscreenscreen.h"
#include "roundrunner.h"
#include "sampleshortcuts.h"
#include "settingsstore.h"
#include "shortcutlistitem.h"
#include "shortcutmanager.h"
#include "shortcutmodel.h"
#include "stressround.h"
#include "stubpanelhost.h"
#include "windowinfo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <optional>

namespace {

const QRect kScreen(0, 0, 1920, 1080);
constexpr WId kWindow = 0x200;
const QRect kWindowStart(100, 100, 400, 300);
// Rounds per child process.
constexpr int kBatch = 100;
// A start that says nothing for this long hangs.
constexpr int kStallMs = 30000;
// The heap moves by a few hundred bytes from one start to the next (Qt's and
// SQLite's caches, the allocator's own bookkeeping): a leak shows as a second
// start on the same file leaving more than this in the median round, or more
// than the ceiling at once.
constexpr qint64 kHeapSlackPerStart = 64;
constexpr qint64 kHeapCeiling = 64 * 1024;
// The first starts of a process fill those caches.
constexpr int kWarmUpRounds = 5;
// No start needs more memory than this on top of what the process holds.
constexpr qint64 kPeakLimitKiB = 256 * 1024;

enum class Mutation
{
    BitFlips,
    Truncated,
    SwappedPages,
    Values,
    NewerSchema
};

struct MutationSet
{
    Mutation kind;
    const char *set;   // the child's name for it
    const char *label; // the summary line's
    int rounds;        // at scale 1
};

const MutationSet kSets[] = {
    {Mutation::BitFlips, "bitflips", "bit flips", 250},
    {Mutation::Truncated, "truncated", "truncated", 150},
    {Mutation::SwappedPages, "swappedpages", "swapped pages", 150},
    {Mutation::Values, "values", "hostile values", 300},
    {Mutation::NewerSchema, "newerschema", "newer schemas", 150},
};

const MutationSet *setNamed(const QString &name)
{
    for (const MutationSet &set : kSets) {
        if (name == QLatin1String(set.set))
            return &set;
    }
    return nullptr;
}

quint32 seedOf(const MutationSet &set, int round)
{
    return (quint32(set.kind) + 1) * 1000003u + quint32(round) * 2654435761u;
}

// --- Mutations --------------------------------------------------------------

int pageSize(const QByteArray &file)
{
    if (file.size() < 100)
        return 4096;
    const int size = (quint8(file[16]) << 8) | quint8(file[17]);
    return size == 1 ? 65536 : size >= 512 ? size : 4096;
}

QByteArray flipped(QByteArray file, QRandomGenerator &rng, QString *how)
{
    const int flips = 1 + rng.bounded(8);
    QStringList where;
    for (int i = 0; i < flips; ++i) {
        // One in four in the header, where the page size and counts live.
        const int range = rng.bounded(4) == 0 ? qMin(100, int(file.size())) : int(file.size());
        const int at = rng.bounded(range);
        const int bit = rng.bounded(8);
        file[at] = char(file[at] ^ (1 << bit));
        where.append(QStringLiteral("%1.%2").arg(at).arg(bit));
    }
    *how = QStringLiteral("bits flipped at %1").arg(where.join(QLatin1Char(' ')));
    return file;
}

// The statements run on a copy of the file over a connection of the mutation's own.
QByteArray altered(const QByteArray &file, const QStringList &statements, const QString &scratch,
                   QStringList *failed = nullptr)
{
    const QString path = scratch + QStringLiteral("/altered.db");
    for (const QString &name : QDir(scratch).entryList(QDir::Files | QDir::Hidden))
        QFile::remove(scratch + QLatin1Char('/') + name);
    if (!writeFile(path, file))
        return {};
    const QString connection = QStringLiteral("mutation");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            // Neither setting stays in the file; without them every statement waits for the disk.
            query.exec(QStringLiteral("PRAGMA synchronous = OFF"));
            query.exec(QStringLiteral("PRAGMA journal_mode = MEMORY"));
            for (const QString &statement : statements) {
                if (!query.exec(statement) && failed)
                    failed->append(statement.left(60));
            }
            query.finish();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return fileBytes(path);
}

QByteArray truncated(const QByteArray &file, QRandomGenerator &rng, QString *how)
{
    const int page = pageSize(file);
    const int pages = int(file.size() / page);
    // A file of 0 bytes is a new database to SQLite and to Varlo: not a damaged one.
    const int length = pages > 1 && rng.bounded(3) == 0 ? page * (1 + rng.bounded(pages - 1))
                                                        : 1 + rng.bounded(int(file.size()) - 1);
    *how = QStringLiteral("cut to %1 of %2 bytes").arg(length).arg(file.size());
    return file.left(length);
}

QByteArray swappedPages(const QByteArray &base, QRandomGenerator &rng, const QString &scratch,
                        QString *how)
{
    // Half the files in small pages, so that the shortcuts spread over more of them.
    const bool small = rng.bounded(2) == 0;
    QByteArray file =
        small ? altered(base, {QStringLiteral("PRAGMA page_size = 512"), QStringLiteral("VACUUM")},
                        scratch)
              : base;
    const int page = pageSize(file);
    const int pages = int(file.size() / page);
    if (pages < 2)
        return flipped(file, rng, how);
    const int a = rng.bounded(3) == 0 ? 0 : rng.bounded(pages);
    int b = rng.bounded(pages - 1);
    if (b >= a)
        ++b;
    const QByteArray first = file.mid(qsizetype(a) * page, page);
    file.replace(qsizetype(a) * page, page, file.mid(qsizetype(b) * page, page));
    file.replace(qsizetype(b) * page, page, first);
    *how = QStringLiteral("pages %1 and %2 of %3 (%4 bytes each) swapped")
               .arg(a + 1)
               .arg(b + 1)
               .arg(pages)
               .arg(page);
    return file;
}

const QStringList kColumns = {
    "rowid",       "name",        "shortcut",        "grid_width",       "grid_height",
    "selection_x", "selection_y", "selection_width", "selection_height", "global",
    "enabled",     "subdivided"};

QString hostileValue(QRandomGenerator &rng)
{
    switch (rng.bounded(28)) {
    case 0:
        return QStringLiteral("NULL");
    case 1:
        return QStringLiteral("0");
    case 2:
        return QStringLiteral("-1");
    case 3:
        return QString::number(rng.bounded(-5, 121));
    case 4:
        return QString::number(rng.bounded(0, 13));
    case 5:
        return QStringLiteral("2147483647");
    case 6:
        return QStringLiteral("2147483648");
    case 7:
        return QStringLiteral("-2147483649");
    case 8:
        return QStringLiteral("9223372036854775807");
    case 9:
        return QStringLiteral("-9223372036854775808");
    case 10:
        return QStringLiteral("1e308");
    case 11:
        return QStringLiteral("-9e999");
    case 12:
        return QStringLiteral("9e999");
    case 13:
        return QString::number(rng.bounded(0, 2000) / 7.0, 'g', 12);
    case 14:
        return QStringLiteral("3.0");
    case 15:
        return QStringLiteral("'abc'");
    case 16:
        return QStringLiteral("'12abc'");
    case 17:
        return QStringLiteral("''");
    case 18:
        return QStringLiteral("' 7 '");
    case 19:
        return QStringLiteral("X'00FF80'");
    case 20:
        return QStringLiteral("randomblob(64)");
    case 21:
        return QStringLiteral("printf('%.*c', 1048576, 'x')"); // 1 MB of text
    case 22:
        return QStringLiteral("zeroblob(1048576)"); // 1 MB blob
    case 23:
        return QStringLiteral("CAST(X'C328FFFE41' AS TEXT)"); // no UTF-8
    case 24:
        return QStringLiteral("'Ctrl+Alt+Left'");
    case 25:
        return QStringLiteral("'Ctrl+Alt+Left, Ctrl+Alt+Right, Meta+1, Meta+2, Meta+3'");
    case 26:
        return QStringLiteral("'ctrl+alt+x'");
    default:
        return QStringLiteral("'+'");
    }
}

QByteArray hostileValues(const QByteArray &base, QRandomGenerator &rng, const QString &scratch,
                         QString *how)
{
    QStringList statements;
    // A table without its constraints, as another tool may have left it: NULL
    // in every column and the same keys twice become possible.
    if (rng.bounded(5) < 2) {
        statements << QStringLiteral("CREATE TABLE loose (rowid INTEGER PRIMARY KEY, name, "
                                     "shortcut, grid_width, grid_height, selection_x, "
                                     "selection_y, selection_width, selection_height, global, "
                                     "enabled, subdivided)")
                   << QStringLiteral("INSERT INTO loose SELECT ") + kColumns.join(", ") +
                          QStringLiteral(" FROM shortcut")
                   << QStringLiteral("DROP TABLE shortcut")
                   << QStringLiteral("ALTER TABLE loose RENAME TO shortcut");
    }
    const int changes = 1 + rng.bounded(8);
    for (int i = 0; i < changes; ++i) {
        const int pick = rng.bounded(20);
        if (pick == 0) {
            statements << QStringLiteral("UPDATE migration_history SET current_version = ") +
                              hostileValue(rng);
        } else if (pick == 1) {
            QStringList values;
            for (int c = 1; c < kColumns.size(); ++c)
                values << hostileValue(rng);
            statements << QStringLiteral("INSERT INTO shortcut (") + kColumns.mid(1).join(", ") +
                              QStringLiteral(") VALUES (") + values.join(", ") + QLatin1Char(')');
        } else if (pick == 2) {
            statements
                << QStringLiteral("DELETE FROM shortcut WHERE rowid = %1").arg(1 + rng.bounded(12));
        } else {
            const QString column = kColumns.at(rng.bounded(int(kColumns.size())));
            // A rowid that is another row's once cut to 32 bits.
            const QString value = column == QLatin1String("rowid") && rng.bounded(3) == 0
                                      ? QString::number(4294967296LL + 1 + rng.bounded(12))
                                      : hostileValue(rng);
            statements << QStringLiteral("UPDATE shortcut SET %1 = %2 WHERE rowid = %3")
                              .arg(column, value)
                              .arg(1 + rng.bounded(12));
        }
    }
    QStringList failed;
    const QByteArray file = altered(base, statements, scratch, &failed);
    *how = statements.join(QStringLiteral("; ")).left(600);
    if (!failed.isEmpty())
        *how += QStringLiteral(" (refused by SQLite: %1)").arg(failed.join(QStringLiteral("; ")));
    return file;
}

QByteArray newerSchema(const QByteArray &base, QRandomGenerator &rng, const QString &scratch,
                       QString *how)
{
    const QStringList changes = {
        "ALTER TABLE shortcut ADD COLUMN colour TEXT NOT NULL DEFAULT 'blue'",
        "ALTER TABLE shortcut ADD COLUMN screen INTEGER",
        "CREATE TABLE layout (id INTEGER PRIMARY KEY, name TEXT, cells BLOB)",
        "INSERT INTO layout (name, cells) VALUES ('work', randomblob(300))",
        "CREATE INDEX shortcut_by_name ON shortcut (name)",
        "CREATE VIEW global_shortcuts AS SELECT * FROM shortcut WHERE global",
        "CREATE TRIGGER touched AFTER UPDATE ON shortcut BEGIN UPDATE migration_history SET "
        "current_version = current_version; END",
        "INSERT INTO migration_history VALUES (4)",
        "CREATE TABLE shortcut_v4 AS SELECT * FROM shortcut",
        "ALTER TABLE shortcut RENAME COLUMN name TO title",
    };
    QStringList statements;
    for (const QString &change : changes) {
        // The rename takes a column Varlo reads: seldom.
        if (rng.bounded(change.contains(QLatin1String("RENAME")) ? 12 : 3) == 0)
            statements << change;
    }
    if (rng.bounded(10) < 7) {
        const char *const versions[] = {"4", "5", "17", "99", "1000", "2147483647", "2147483648"};
        statements << QStringLiteral("UPDATE migration_history SET current_version = ") +
                          QLatin1String(versions[rng.bounded(7)]);
    }
    if (rng.bounded(2) == 0)
        statements << QStringLiteral("PRAGMA user_version = %1").arg(rng.bounded(1, INT_MAX));
    if (rng.bounded(10) == 0)
        statements << QStringLiteral("PRAGMA application_id = %1").arg(rng.bounded(1, INT_MAX));
    if (rng.bounded(10) == 0)
        statements << QStringLiteral("PRAGMA journal_mode = WAL");
    if (statements.isEmpty())
        statements << changes.first();
    QStringList failed;
    const QByteArray file = altered(base, statements, scratch, &failed);
    *how = statements.join(QStringLiteral("; "));
    if (!failed.isEmpty())
        *how += QStringLiteral(" (refused by SQLite: %1)").arg(failed.join(QStringLiteral("; ")));
    return file;
}

QByteArray mutated(const QByteArray &base, Mutation kind, QRandomGenerator &rng,
                   const QString &scratch, QString *how)
{
    switch (kind) {
    case Mutation::BitFlips:
        return flipped(base, rng, how);
    case Mutation::Truncated:
        return truncated(base, rng, how);
    case Mutation::SwappedPages:
        return swappedPages(base, rng, scratch, how);
    case Mutation::Values:
        return hostileValues(base, rng, scratch, how);
    case Mutation::NewerSchema:
        return newerSchema(base, rng, scratch, how);
    }
    return base;
}

// --- One start on a file ----------------------------------------------------

/** Where a shortcut must put the window on kScreen, in whole pixels; none when it is unusable. */
std::optional<QRect> expectedPlacement(QSize grid, QRect cells)
{
    const auto within = [](qint64 count) {
        return count >= 1 && count <= CellGrid::maximumDimension;
    };
    if (!within(grid.width()) || !within(grid.height()) || cells.x() < 0 || cells.y() < 0 ||
        cells.width() < 1 || cells.height() < 1 ||
        qint64(cells.x()) + cells.width() > grid.width() ||
        qint64(cells.y()) + cells.height() > grid.height())
        return std::nullopt;
    // Cell edge k of n lies k/n of the way across; edges round to the nearest pixel.
    const auto edge = [](int origin, int length, int count, qint64 k) {
        return origin + int(std::lround(double(length) * double(k) / count));
    };
    const int left = edge(kScreen.x(), kScreen.width(), grid.width(), cells.x());
    const int right = edge(kScreen.x(), kScreen.width(), grid.width(), cells.x() + cells.width());
    const int top = edge(kScreen.y(), kScreen.height(), grid.height(), cells.y());
    const int bottom =
        edge(kScreen.y(), kScreen.height(), grid.height(), cells.y() + cells.height());
    return QRect(left, top, right - left, bottom - top);
}

QString describe(const ShortcutListItem *item)
{
    const QRect s = item->selection();
    return QStringLiteral("shortcut %1 \"%2\" (grid %3 x %4, cells %5,%6 %7 x %8)")
        .arg(item->id())
        .arg(item->name().left(30))
        .arg(item->gridSize().width())
        .arg(item->gridSize().height())
        .arg(s.x())
        .arg(s.y())
        .arg(s.width())
        .arg(s.height());
}

QString describe(const QRect &r)
{
    return QStringLiteral("%1,%2 %3 x %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

struct StartUp
{
    bool opened = false;
    bool reasonLogged = false;
    int rows = 0;
    int usable = 0;  // rows with a grid and cells a placement can use
    int right = 0;   // usable rows that put the window on their cells
    int wrong = 0;   // placements that went anywhere else
    int skipped = 0; // unusable rows that placed nothing
    int clamped = 0; // unusable rows that kept the window on the screen
    QStringList problems;
};

// Presses the shortcut's hot key with the panels shown (so that every
// shortcut acts) and looks where the window went.
void place(FakePlatform *fake, CommonBehavior &behavior, const ShortcutListItem *item,
           StartUp &result)
{
    FakePlatform::Window *window = fake->window(kWindow);
    window->client = kWindowStart;
    window->maximized = false;
    fake->clearRequests();
    behavior.shortcutActivated(item->id());
    const QRect got = fake->window(kWindow)->client;
    const QString requests = fake->requests();
    const bool moved = requests.contains(QLatin1String("move")) ||
                       requests.contains(QLatin1String("size")) ||
                       requests.contains(QLatin1String("maximize"));
    if (const std::optional<QRect> expected =
            expectedPlacement(item->gridSize(), item->selection())) {
        ++result.usable;
        if (got == *expected && !fake->window(kWindow)->maximized) {
            ++result.right;
        } else {
            ++result.wrong;
            result.problems << QStringLiteral("%1 placed the window at %2 instead of %3 (%4)")
                                   .arg(describe(item), describe(got), describe(*expected),
                                        requests);
        }
    } else if (!moved) {
        ++result.skipped;
    } else if (kScreen.contains(got) && !got.isEmpty()) {
        ++result.clamped;
    } else {
        ++result.wrong;
        result.problems << QStringLiteral("%1, unusable, placed the window at %2 (%3)")
                               .arg(describe(item), describe(got), requests);
    }
}

StartUp startUp(FakePlatform *fake)
{
    StartUp result;
    LogCapture log;
    {
        DatabaseUtil database;
        result.opened = database.initialize();
    }
    ShortcutManager *manager = ShortcutManager::instance();
    {
        StubPanelHost host;
        host.panels = true;
        CommonBehavior behavior(&host);
        behavior.setShortcutLookup([manager](int id) -> const ShortcutListItem * {
            return manager->model()->itemById(id);
        });
        const ShortcutModel *model = manager->model();
        result.rows = model->rowCount();
        QHash<int, const ShortcutListItem *> byId;
        for (int row = 0; row < model->rowCount(); ++row) {
            const ShortcutListItem *item = model->itemAt(row);
            // A hot key reaches its shortcut by id: another row with the same id
            // would place the window by someone else's cells.
            if (const ShortcutListItem *other = byId.value(item->id())) {
                if (expectedPlacement(item->gridSize(), item->selection()) &&
                    (other->gridSize() != item->gridSize() ||
                     other->selection() != item->selection())) {
                    ++result.wrong;
                    result.problems << QStringLiteral("%1 has the id of %2")
                                           .arg(describe(item), describe(other));
                } else {
                    ++result.skipped;
                }
                continue;
            }
            byId.insert(item->id(), item);
            place(fake, behavior, item, result);
        }
    }
    ShortcutManager::destroyInstance();
    DataHome::closeDatabase();
    // What the event loop would have done by now: deferred deletions, queued calls.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    // Why the file is refused, or which upgrade step failed on it.
    for (const LogCapture::Line &line : log.all())
        result.reasonLogged =
            result.reasonLogged ||
            (line.type == QtWarningMsg && line.file == QLatin1String("databaseutil.cpp"));
    return result;
}

// --- The child: rounds of one set -------------------------------------------

class Rounds
{
public:
    Rounds()
    {
        m_fake = installFakeDesktop(kWindow, kWindowStart);
        SettingsStore::writeSettingsDefaults();
    }

    /** The file a user with a dozen shortcuts has: written by Varlo's own code. */
    bool writeBase()
    {
        clearFolder();
        if (!DatabaseUtil().initialize())
            return false;
        addSampleShortcuts(ShortcutManager::instance(), int(dozenShortcuts().size()));
        const int rows = ShortcutManager::instance()->model()->rowCount();
        ShortcutManager::destroyInstance();
        DataHome::closeDatabase();
        m_base = fileBytes(m_home.database());
        return rows == dozenShortcuts().size() && m_base.size() > 0;
    }

    void run(const MutationSet &set, int round)
    {
        RoundLog::begin(round);
        QElapsedTimer timer;
        timer.start();
        const quint32 seed = seedOf(set, round);
        QRandomGenerator rng(seed);
        QString how;
        const QByteArray file = mutated(m_base, set.kind, rng, m_scratch.path(), &how);
        const auto note = [&](const QString &text) {
            RoundLog::note(
                round, QStringLiteral("seed %1, %2: %3").arg(RoundLog::seedText(seed), text, how));
        };

        const int filesBefore = StressRound::openFiles();
        StressRound::resetPeakMemory();
        const qint64 residentBefore = StressRound::residentMemoryKiB();
        // The same start twice: the second may leave no more behind than the first.
        StartUp first;
        bool identical = true;
        qint64 heap[2] = {0, 0};
        qint64 startMs = 0;
        for (int pass = 0; pass < 2; ++pass) {
            clearFolder();
            writeFile(m_home.database(), file);
            QElapsedTimer start;
            start.start();
            const StartUp result = startUp(m_fake);
            if (pass == 0)
                startMs = start.elapsed();
            const QStringList left = m_home.files();
            const bool sameBytes = fileBytes(m_home.database()) == file;
            const bool same = sameBytes && left == QStringList{QStringLiteral("shortcuts.db")};
            heap[pass] = StressRound::heapInUse();
            if (pass == 0) {
                first = result;
                identical = same;
                if (!same)
                    note(QStringLiteral("the file was changed (bytes %1, folder holds %2)")
                             .arg(sameBytes ? "the same" : "changed",
                                  left.join(QStringLiteral(", "))));
            }
        }
        const qint64 peak = StressRound::peakMemoryKiB() - residentBefore;
        const qint64 grown = heap[1] - heap[0];
        const int filesLeft = StressRound::openFiles() - filesBefore;
        const int connections = int(QSqlDatabase::connectionNames().size());

        for (const QString &problem : first.problems.mid(0, 3))
            note(problem);
        const bool unexplained = !first.opened && !first.reasonLogged;
        if (unexplained)
            note(QStringLiteral("refused without a word in the log"));
        const bool leaked = grown > kHeapCeiling || filesLeft != 0 || connections != 0;
        if (leaked)
            note(QStringLiteral("the second start left %1 bytes more on the heap, %2 more open "
                                "files, %3 connections")
                     .arg(grown)
                     .arg(filesLeft)
                     .arg(connections));
        if (peak > kPeakLimitKiB)
            note(QStringLiteral("a start took %1 MiB").arg(peak / 1024));

        RoundLog::end(round, {{QStringLiteral("opened"), first.opened},
                              {QStringLiteral("refused"), !first.opened},
                              {QStringLiteral("identical"), identical},
                              {QStringLiteral("rows"), first.rows},
                              {QStringLiteral("usable"), first.usable},
                              {QStringLiteral("right"), first.right},
                              {QStringLiteral("wrong"), first.wrong},
                              {QStringLiteral("skipped"), first.skipped},
                              {QStringLiteral("clamped"), first.clamped},
                              {QStringLiteral("unexplained"), unexplained},
                              {QStringLiteral("leaked"), leaked},
                              {QStringLiteral("measured"), m_rounds >= kWarmUpRounds},
                              {QStringLiteral("grown"), m_rounds >= kWarmUpRounds ? grown : 0},
                              {QStringLiteral("peakKiB"), peak},
                              {QStringLiteral("startMs"), startMs},
                              {QStringLiteral("ms"), timer.elapsed()}});
        ++m_rounds;
    }

private:
    void clearFolder()
    {
        DataHome::closeDatabase();
        for (const QString &name : m_home.files())
            QFile::remove(m_home.folder() + QLatin1Char('/') + name);
    }

    DataHome m_home;
    QTemporaryDir m_scratch;
    FakePlatform *m_fake = nullptr;
    QByteArray m_base;
    int m_rounds = 0;
};

int runRounds(const QString &setName, int first, int count)
{
    const MutationSet *set = setNamed(setName);
    if (!set) {
        std::fprintf(stderr, "no mutation set \"%s\"\n", qPrintable(setName));
        return 2;
    }
    Rounds rounds;
    if (!rounds.writeBase()) {
        std::fprintf(stderr, "Varlo could not write the file the mutations start from\n");
        return 3;
    }
    for (int round = first; round < first + count; ++round)
        rounds.run(*set, round);
    return 0;
}

} // namespace

// --- The test: the rounds of every set in child processes --------------------

class TestStressShortcutsDb : public QObject
{
    Q_OBJECT

private:
    qint64 m_files = 0, m_crashes = 0, m_hangs = 0, m_identical = 0, m_opened = 0, m_refused = 0,
           m_right = 0, m_usable = 0, m_skipped = 0, m_clamped = 0, m_leaks = 0, m_slowest = 0,
           m_peakKiB = 0;
    QStringList m_perSet;

private Q_SLOTS:
    void mutatedFilesAreReadSafely_data()
    {
        QTest::addColumn<QString>("set");
        for (const MutationSet &set : kSets)
            QTest::newRow(set.label) << QString::fromLatin1(set.set);
    }

    void mutatedFilesAreReadSafely()
    {
        QFETCH(QString, set);
        const MutationSet &mutation = *setNamed(set);
        const int count = StressRound::rounds(mutation.rounds);
        RoundRunner runner(set, kStallMs);
        runner.run(count, kBatch);

        runner.warn([&mutation](int round) { return seedOf(mutation, round); });

        const qint64 wrong = runner.sum(QStringLiteral("wrong"));
        const qint64 identical = runner.sum(QStringLiteral("identical"));
        const qint64 unexplained = runner.sum(QStringLiteral("unexplained"));
        const qint64 grownPerStart = runner.medianGrowth();
        const qint64 leaked =
            runner.sum(QStringLiteral("leaked")) + (grownPerStart > kHeapSlackPerStart ? 1 : 0);
        if (grownPerStart > kHeapSlackPerStart)
            qWarning().noquote() << QStringLiteral("a second start on the same file left %1 "
                                                   "bytes more on the heap, in the median round")
                                        .arg(grownPerStart);
        m_crashes += runner.crashes();
        m_hangs += runner.hangs();
        m_files += count;
        m_identical += identical;
        m_opened += runner.sum(QStringLiteral("opened"));
        m_refused += runner.sum(QStringLiteral("refused"));
        m_right += runner.sum(QStringLiteral("right"));
        m_usable += runner.sum(QStringLiteral("usable"));
        m_skipped += runner.sum(QStringLiteral("skipped"));
        m_clamped += runner.sum(QStringLiteral("clamped"));
        m_leaks += leaked;
        m_slowest = qMax(m_slowest, runner.maximum(QStringLiteral("startMs")));
        m_peakKiB = qMax(m_peakKiB, runner.maximum(QStringLiteral("peakKiB")));
        m_perSet << QStringLiteral("%1 %2").arg(count).arg(QLatin1String(mutation.label));

        QVERIFY2(runner.failures().isEmpty(), "a start crashed or hung");
        QCOMPARE(runner.ended(), count);
        QVERIFY2(identical == count, "a file was changed");
        QVERIFY2(unexplained == 0, "a file was refused without a reason in the log");
        QVERIFY2(wrong == 0, "a shortcut placed the window wrongly");
        QVERIFY2(leaked == 0, "a start left something behind");
        QVERIFY2(runner.maximum(QStringLiteral("peakKiB")) <= kPeakLimitKiB,
                 "a start took too much memory");
    }

    void cleanupTestCase()
    {
        std::printf("shortcuts.db%s: %lld mutated files (%s), %lld crashes, %lld hangs, %lld left "
                    "byte-identical, %lld opened, %lld refused, placements by surviving rows "
                    "right: %lld/%lld (%lld unusable rows placed nothing, %lld kept on the "
                    "screen), %lld leaks, slowest start %lld ms%s\n",
                    qPrintable(StressRound::scaleNote()), m_files,
                    qPrintable(m_perSet.join(QStringLiteral(", "))), m_crashes, m_hangs,
                    m_identical, m_opened, m_refused, m_right, m_usable, m_skipped, m_clamped,
                    m_leaks, m_slowest, qPrintable(StressRound::memoryNote("start", m_peakKiB)));
        std::fflush(stdout);
    }
};

int main(int argc, char **argv)
{
    QString set;
    int first = 0;
    int count = 0;
    const bool child = RoundLog::requested(argc, argv, &set, &first, &count);
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    useOffscreenScreen(home, 96);
    QApplication app(argc, argv);
    if (child)
        return runRounds(set, first, count);
    TestStressShortcutsDb test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_stress_shortcutsdb.moc"
