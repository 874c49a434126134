#include "databasefixture.h"
#include "databaseutil.h"
#include "ontopmessagebox.h"
#include "shortcutlistitem.h"
#include "shortcutmodel.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

struct Shortcut
{
    QString name;
    QString keys;
    QSize grid;
    QRect selection;
    bool global;
    bool enabled;
    bool subdivided;
};

QString describe(const ShortcutListItem *item)
{
    if (!item)
        return QStringLiteral("(none)");
    const QRect s = item->selection();
    return QStringLiteral("%1|%2|%3x%4|%5,%6 %7x%8|%9%10%11")
        .arg(item->name(), item->shortcut())
        .arg(item->gridSize().width())
        .arg(item->gridSize().height())
        .arg(s.x())
        .arg(s.y())
        .arg(s.width())
        .arg(s.height())
        .arg(item->isGlobal() ? "G" : "-", item->isEnabled() ? "E" : "-",
             item->isSubdivided() ? "S" : "-");
}

QStringList namesOf(const ShortcutModel &model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names.append(model.itemAt(row)->name());
    return names;
}

bool add(ShortcutModel &model, const Shortcut &s)
{
    return model.addShortcut(s.name, s.keys, s.grid, s.selection, s.global, s.enabled,
                             s.subdivided);
}

bool allCornersInvalid(const QSignalSpy &spy)
{
    return spy.count() == 1 && !spy.first().at(0).toModelIndex().isValid() &&
           !spy.first().at(1).toModelIndex().isValid();
}

// One chord per digit: "Ctrl+1, Ctrl+2" for 12.
QString keysFor(int number)
{
    QStringList chords;
    for (const QChar digit : QString::number(number))
        chords.append(QStringLiteral("Ctrl+") + digit);
    return chords.join(QStringLiteral(", "));
}

const Shortcut left{"Left", "Ctrl+Alt+Left", {6, 6}, {0, 0, 3, 6}, false, true, false};
const Shortcut pageUp{"Top", "Meta+Shift+PgUp", {4, 2}, {0, 0, 4, 1}, true, true, true};

} // namespace

Q_DECLARE_METATYPE(Shortcut)

class TestShortcutModel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataHome> m_home;

    // Rows as SQL values: "#" is the row's number, "@" a key combination of its own.
    void insertRaw(int count, const QString &values)
    {
        QSqlDatabase db = QSqlDatabase::database();
        QVERIFY(db.transaction());
        QSqlQuery query;
        for (int i = 1; i <= count; ++i)
            QVERIFY2(query.exec(
                         "INSERT INTO shortcut (name, shortcut, grid_width, grid_height, "
                         "selection_x, selection_y, selection_width, selection_height, "
                         "global, enabled, subdivided) VALUES (" +
                         QString(values).replace("#", QString::number(i)).replace("@", keysFor(i)) +
                         ")"),
                     qPrintable(query.lastError().text()));
        QVERIFY(db.commit());
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<DataHome>();
        QVERIFY(DatabaseUtil().initialize());
    }
    void cleanup()
    {
        m_home.reset();
        QCOMPARE(OnTopMessageBox::pendingAnswers(), 0);
    }

    void addStoresEveryField_data();
    void addStoresEveryField();
    void updateRewritesOneRow_data();
    void updateRewritesOneRow();
    void sameKeysAreRefused_data();
    void sameKeysAreRefused();
    void removeRowsDeletesAllOrNone_data();
    void removeRowsDeletesAllOrNone();
    void everyRowLoads_data();
    void everyRowLoads();
    void damagedRowLoadsAsItIs_data();
    void damagedRowLoadsAsItIs();
};

void TestShortcutModel::addStoresEveryField_data()
{
    QTest::addColumn<Shortcut>("shortcut");
    QTest::addColumn<QString>("stored");
    QTest::newRow("plain") << left << "Left|Ctrl+Alt+Left|6x6|0,0 3x6|-E-";
    QTest::newRow("every flag") << pageUp << "Top|Meta+Shift+PgUp|4x2|0,0 4x1|GES";
    QTest::newRow("global but disabled")
        << Shortcut{"Off", "Ctrl+F9", {10, 8}, {2, 3, 5, 4}, true, false, false}
        << "Off|Ctrl+F9|10x8|2,3 5x4|G--";
    QTest::newRow("null name stored empty")
        << Shortcut{QString(), "Ctrl+1", {2, 2}, {1, 1, 1, 1}, false, false, true}
        << "|Ctrl+1|2x2|1,1 1x1|--S";
}

void TestShortcutModel::addStoresEveryField()
{
    QFETCH(Shortcut, shortcut);
    QFETCH(QString, stored);
    ShortcutModel model;
    QVERIFY(add(model, shortcut.keys == pageUp.keys ? left : pageUp));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QVERIFY(add(model, shortcut));

    QVERIFY(allCornersInvalid(changed));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(describe(model.itemAt(1)), stored);
    QCOMPARE(model.itemAt(1)->parent(), &model);
    // Views read the item through the index; data() carries nothing.
    QCOMPARE(model.index(1, 0).internalPointer(), model.itemAt(1));
    QVERIFY(!model.index(1, 1).isValid());
    QVERIFY(!model.data(model.index(1, 0), Qt::DisplayRole).isValid());
    QCOMPARE(describe(ShortcutModel().findByShortcut(QKeySequence(shortcut.keys))), stored);
}

void TestShortcutModel::updateRewritesOneRow_data()
{
    QTest::addColumn<int>("row"); // -1: an id no row has
    QTest::addColumn<Shortcut>("shortcut");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QStringList>("stored");

    const QString top = "Top|Meta+Shift+PgUp|4x2|0,0 4x1|GES";
    QTest::newRow("same keys, new name")
        << 0 << Shortcut{"Half", "Ctrl+Alt+Left", {2, 1}, {0, 0, 1, 1}, true, false, true} << true
        << QStringList{"Half|Ctrl+Alt+Left|2x1|0,0 1x1|G-S", top};
    QTest::newRow("new keys") << 0 << Shortcut{"Left",       "Ctrl+Alt+Down", {6, 6},
                                               {0, 3, 6, 3}, false,           true,
                                               false}
                              << true << QStringList{"Left|Ctrl+Alt+Down|6x6|0,3 6x3|-E-", top};
    QTest::newRow("no such row") << -1 << Shortcut{"Gone", "Ctrl+F5", {6, 6}, {0, 0, 1, 1},
                                                   false,  true,      false}
                                 << false << QStringList{"Left|Ctrl+Alt+Left|6x6|0,0 3x6|-E-", top};
}

void TestShortcutModel::updateRewritesOneRow()
{
    QFETCH(int, row);
    QFETCH(Shortcut, shortcut);
    QFETCH(bool, saved);
    QFETCH(QStringList, stored);
    ShortcutModel model;
    QVERIFY(add(model, left) && add(model, pageUp));
    const int id = row < 0 ? model.itemAt(1)->id() + 1 : model.itemAt(row)->id();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    QCOMPARE(model.updateShortcut(id, shortcut.name, shortcut.keys, shortcut.grid,
                                  shortcut.selection, shortcut.global, shortcut.enabled,
                                  shortcut.subdivided),
             saved);
    QCOMPARE(allCornersInvalid(changed), saved);
    const ShortcutModel reread;
    QCOMPARE((QStringList{describe(reread.itemAt(0)), describe(reread.itemAt(1))}), stored);
    QCOMPARE(reread.rowCount(), 2);
}

void TestShortcutModel::sameKeysAreRefused_data()
{
    QTest::addColumn<bool>("update");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("message");

    QTest::newRow("add, same text")
        << false << "Ctrl+Alt+Left" << QString("The key combination Ctrl + Alt + ⇦ can't be used!");
    QTest::newRow("add, other case") << false << "ctrl+alt+left"
                                     << "The key combination ctrl + alt + left can't be used!";
    QTest::newRow("update to another's keys")
        << true << "Meta+Shift+PgUp"
        << QString("The key combination Win + Shift + Pg⇧ can't be used!");
}

void TestShortcutModel::sameKeysAreRefused()
{
    QFETCH(bool, update);
    QFETCH(QString, keys);
    QFETCH(QString, message);
    ShortcutModel model;
    QVERIFY(add(model, left) && add(model, pageUp));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    const QByteArray before = fileBytes(m_home->database());

    OnTopMessageBox::answerNext(QMessageBox::Ok);
    const bool saved =
        update ? model.updateShortcut(model.itemAt(0)->id(), "Other", keys, {6, 6}, {0, 0, 1, 1},
                                      false, true, false)
               : model.addShortcut("Other", keys, {6, 6}, {0, 0, 1, 1}, false, true, false);
    QVERIFY(!saved);
    QCOMPARE(OnTopMessageBox::pendingAnswers(), 0);
    QCOMPARE(OnTopMessageBox::lastAnsweredText(), message);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(namesOf(model), (QStringList{"Left", "Top"}));
    QCOMPARE(fileBytes(m_home->database()), before);
}

void TestShortcutModel::removeRowsDeletesAllOrNone_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("kept");

    const QStringList all{"1", "2", "3", "4"};
    QTest::newRow("first") << 0 << 1 << QStringList{"2", "3", "4"};
    QTest::newRow("two in the middle") << 1 << 2 << QStringList{"1", "4"};
    QTest::newRow("all") << 0 << 4 << QStringList();
    QTest::newRow("beyond the end") << 3 << 2 << all;
    QTest::newRow("negative row") << -1 << 1 << all;
    QTest::newRow("none") << 0 << 0 << all;
}

void TestShortcutModel::removeRowsDeletesAllOrNone()
{
    QFETCH(int, row);
    QFETCH(int, count);
    QFETCH(QStringList, kept);
    insertRaw(4, "'#', '@', 6, 6, 0, 0, 1, 1, 0, 1, 0");
    ShortcutModel model;
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    const bool removed = kept.size() < 4;
    QCOMPARE(model.removeRows(row, count), removed);
    QCOMPARE(allCornersInvalid(changed), removed);
    QCOMPARE(namesOf(model), kept);
    QCOMPARE(namesOf(ShortcutModel()), kept);
}

void TestShortcutModel::everyRowLoads_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("256") << 256;
    QTest::newRow("257") << 257;
    QTest::newRow("1000") << 1000;
}

void TestShortcutModel::everyRowLoads()
{
    QFETCH(int, count);
    insertRaw(count, "'Shortcut #', '@', 6, 6, 0, 0, 1, 1, 0, 1, 0");
    const ShortcutModel model;
    QCOMPARE(model.rowCount(), count);
    QCOMPARE(model.itemAt(count - 1)->name(), QString("Shortcut %1").arg(count));
    QCOMPARE(model.itemById(count)->name(), QString("Shortcut %1").arg(count));
}

void TestShortcutModel::damagedRowLoadsAsItIs_data()
{
    QTest::addColumn<QString>("values");
    QTest::addColumn<QString>("loaded");
    QTest::addColumn<QString>("warning"); // empty: none

    const auto row = [](const char *name, const QString &values, const QString &loaded,
                        const QString &warning) {
        QTest::newRow(name) << values << loaded << warning;
    };
    row("sound, enabled 0 and global 1", "'A', 'Ctrl+A', 6, 6, 0, 0, 1, 1, 1, 0, 0",
        "A|Ctrl+A|6x6|0,0 1x1|G--", "");
    row("NULL name", "NULL, 'Ctrl+A', 6, 6, 0, 0, 1, 1, 0, 1, 0", "|Ctrl+A|6x6|0,0 1x1|-E-",
        "Shortcut 2 \"\" is stored with no name; it is loaded as it is.");
    row("NULL key text and NULL flag", "'A', NULL, 6, 6, 0, 0, 1, 1, NULL, 1, 0",
        "A||6x6|0,0 1x1|-E-", "with no key text; global NULL (read as 0);");
    row("text in grid_width", "'A', 'Ctrl+A', 'six', 6, 0, 0, 1, 1, 0, 1, 0",
        "A|Ctrl+A|0x6|0,0 1x1|-E-", "grid_width \"six\" (read as 0); a grid of 0 x 6;");
    row("text in a flag", "'A', 'Ctrl+A', 6, 6, 0, 0, 1, 1, 0, 'yes', 0",
        "A|Ctrl+A|6x6|0,0 1x1|---", "enabled \"yes\" (read as 0)");
    row("real number", "'A', 'Ctrl+A', 6, 6, 1.5, 0, 1, 1, 0, 1, 0", "A|Ctrl+A|6x6|0,0 1x1|-E-",
        "selection_x \"1.5\" (read as 0)");
    row("number beyond int", "'A', 'Ctrl+A', 6, 5000000000, 0, 0, 1, 1, 0, 1, 0",
        "A|Ctrl+A|6x0|0,0 1x1|-E-", "grid_height \"5000000000\" (read as 0)");
    row("grid of 0 x 0", "'A', 'Ctrl+A', 0, 0, 0, 0, 1, 1, 0, 1, 0", "A|Ctrl+A|0x0|0,0 1x1|-E-",
        "with a grid of 0 x 0;");
    row("grid of 1000 x 1000", "'A', 'Ctrl+A', 1000, 1000, 0, 0, 1, 1, 0, 1, 0",
        "A|Ctrl+A|1000x1000|0,0 1x1|-E-", "with a grid of 1000 x 1000;");
    row("negative selection", "'A', 'Ctrl+A', 6, 6, -2, 0, -1, 1, 0, 1, 0",
        "A|Ctrl+A|6x6|-2,0 -1x1|-E-", "with the selection -2, 0, -1 x 1;");
    row("selection beyond int", "'A', 'Ctrl+A', 6, 6, 2147483647, 0, 2, 1, 0, 1, 0",
        "A|Ctrl+A|6x6|0,0 0x0|-E-", "with the selection 2147483647, 0, 2 x 1;");
    row("selection beyond the largest grid", "'A', 'Ctrl+A', 6, 6, 99, 0, 2, 1, 0, 1, 0",
        "A|Ctrl+A|6x6|99,0 2x1|-E-", "with the selection 99, 0, 2 x 1;");
    row("10 KB key text", "'A', '" + QString(10240, 'x') + "', 6, 6, 0, 0, 1, 1, 0, 1, 0",
        "A|" + QString(10240, 'x') + "|6x6|0,0 1x1|-E-", "with a key text of 10240 characters;");
    row("unknown key", "'A', 'Ctrl+Nothing', 6, 6, 0, 0, 1, 1, 0, 1, 0",
        "A|Ctrl+Nothing|6x6|0,0 1x1|-E-",
        "the key text \"Ctrl+Nothing\" that is no key combination");
    row("key text never matched", "'A', 'ctrl+alt+left', 6, 6, 0, 0, 1, 1, 0, 1, 0",
        "A|ctrl+alt+left|6x6|0,0 1x1|-E-", "the key text \"ctrl+alt+left\" that is no key");
}

void TestShortcutModel::damagedRowLoadsAsItIs()
{
    QFETCH(QString, values);
    QFETCH(QString, loaded);
    QFETCH(QString, warning);
    // The columns without their constraints, so that NULL can be stored.
    QSqlQuery query;
    QVERIFY(query.exec("DROP TABLE shortcut"));
    QVERIFY(query.exec("CREATE TABLE shortcut (rowid INTEGER PRIMARY KEY, name TEXT, "
                       "shortcut TEXT, grid_width INTEGER, grid_height INTEGER, selection_x "
                       "INTEGER, selection_y INTEGER, selection_width INTEGER, selection_height "
                       "INTEGER, global INTEGER, enabled INTEGER, subdivided BOOLEAN)"));
    insertRaw(1, "'Sound', 'Ctrl+B', 6, 6, 0, 0, 1, 1, 0, 1, 0");
    insertRaw(1, values);
    DataHome::closeDatabase();
    const QByteArray before = fileBytes(m_home->database());

    LogCapture log;
    QVERIFY(DatabaseUtil().initialize());
    ShortcutModel model;
    model.reload(); // the line is not repeated at every reload
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(describe(model.itemAt(0)), QString("Sound|Ctrl+B|6x6|0,0 1x1|-E-"));
    QCOMPARE(describe(model.itemAt(1)), loaded);

    const QStringList warnings = log.texts(QtWarningMsg);
    QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
    if (!warning.isEmpty()) {
        QVERIFY2(warnings.first().contains(warning), qPrintable(warnings.first()));
        QVERIFY(warnings.first().startsWith("Shortcut 2 "));
        QVERIFY(warnings.first().size() < 300);
    }
    m_home->expectUnchanged(before);
}

QTEST_MAIN(TestShortcutModel)
#include "tst_shortcutmodel.moc"
