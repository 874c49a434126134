#include "shortcutmodel.h"

#include "cellgrid.h"
#include "keydisplaytext.h"
#include "ontopmessagebox.h"
#include "shortcutlistitem.h"
#include "varlolog.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <climits>
#include <cmath>

namespace {

const char selectAll[] =
    "SELECT rowid, name, shortcut, grid_width, grid_height, selection_x, selection_y, "
    "selection_width, selection_height, global, enabled, subdivided FROM shortcut "
    "ORDER BY rowid";
const char insertShortcut[] =
    "INSERT INTO shortcut (name, shortcut, grid_width, grid_height, selection_x, selection_y, "
    "selection_width, selection_height, global, enabled, subdivided ) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
const char updateShortcutRow[] =
    "UPDATE shortcut SET name=?, shortcut=?, grid_width=?, grid_height=?, selection_x=?, "
    "selection_y=?, selection_width=?, selection_height=?, global=?, enabled=?, subdivided=?  "
    "WHERE rowid=?";
const char deleteShortcut[] = "DELETE FROM shortcut WHERE rowid = ?";

// No key combination Varlo records comes near this; a longer text is not parsed.
constexpr int longestKeyText = 200;

QSqlDatabase database()
{
    // Not opened on demand: a connection that failed to open was reported by DatabaseUtil.
    return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
}

QString quoted(const QString &text)
{
    constexpr int shown = 40;
    return QLatin1Char('"') + (text.size() > shown ? text.left(shown) + QChar(0x2026) : text) +
           QLatin1Char('"');
}

// Reads the columns of one row. QVariant::toInt() gives 0 for text that is no
// number ("abc", "12abc"), for NULL and for a blob, rounds a real (2.7 -> 3)
// and wraps an integer beyond int (5000000000 -> 705032704) while reporting
// success; toBool() takes any text but "", "0" and "false" for true. One rule
// for every integer column, the flags included: a whole number within int as
// it is, anything else 0 - so a damaged flag reads false, as its text reads 0.
class RowReader
{
public:
    RowReader(const QSqlQuery &query, const QSqlRecord &record) : m_query(query), m_record(record)
    {}

    QString text(int position, const char *what)
    {
        const QVariant value = field(position);
        if (value.isNull())
            m_problems.append(QStringLiteral("no %1").arg(QLatin1String(what)));
        return value.toString();
    }

    int integer(int position)
    {
        const QVariant value = field(position);
        bool ok = false;
        const int number = wholeNumber(value, &ok);
        if (!ok)
            m_problems.append(
                QStringLiteral("%1 %2 (read as 0)")
                    .arg(m_record.fieldName(position),
                         value.isNull() ? QStringLiteral("NULL") : quoted(value.toString())));
        return number;
    }

    void note(const QString &problem) { m_problems.append(problem); }
    bool damaged() const { return !m_problems.isEmpty(); }
    QString problems() const { return m_problems.join(QStringLiteral("; ")); }

private:
    QVariant field(int position) const { return m_query.value(position); }

    static int wholeNumber(const QVariant &value, bool *ok)
    {
        qlonglong number = 0;
        if (value.typeId() == QMetaType::Double) {
            const double real = value.toDouble();
            *ok = real == std::trunc(real) && real >= INT_MIN && real <= INT_MAX;
            number = *ok ? qlonglong(real) : 0;
        } else {
            number = value.toLongLong(ok);
        }
        *ok = *ok && !value.isNull() && number >= INT_MIN && number <= INT_MAX;
        return *ok ? int(number) : 0;
    }

    const QSqlQuery &m_query;
    const QSqlRecord &m_record;
    QStringList m_problems;
};

void checkKeyText(RowReader &row, const QString &text)
{
    if (text.size() > longestKeyText)
        row.note(QStringLiteral("a key text of %1 characters").arg(text.size()));
    // A text that does not read back the same is never found by findByShortcut(). Read as
    // portable text: the native reading translates every key name and takes twice as long.
    else if (!text.isEmpty() && QKeySequence::fromString(text, QKeySequence::PortableText)
                                        .toString(QKeySequence::PortableText) != text)
        row.note(QStringLiteral("the key text %1 that is no key combination").arg(quoted(text)));
}

// A grid, subdivided or not, never has more than maximumDimension cells a side.
void checkGeometry(RowReader &row, QSize grid, int x, int y, int width, int height)
{
    const auto within = [](qint64 cells) {
        return cells >= 1 && cells <= CellGrid::maximumDimension;
    };
    if (!within(grid.width()) || !within(grid.height()))
        row.note(QStringLiteral("a grid of %1 x %2").arg(grid.width()).arg(grid.height()));
    if (x < 0 || y < 0 || !within(width) || !within(height) || !within(qint64(x) + width) ||
        !within(qint64(y) + height))
        row.note(
            QStringLiteral("the selection %1, %2, %3 x %4").arg(x).arg(y).arg(width).arg(height));
}

// QRect keeps the far edge, x + width - 1, which must fit in an int. It is
// worked out here: QRect's own x + width would overflow on the way for a
// far edge of INT_MAX.
QRect selectionOf(int x, int y, int width, int height)
{
    const qint64 right = qint64(x) + width - 1;
    const qint64 bottom = qint64(y) + height - 1;
    const auto fits = [](qint64 edge) { return edge >= INT_MIN && edge <= INT_MAX; };
    return fits(right) && fits(bottom) ? QRect(QPoint(x, y), QPoint(int(right), int(bottom)))
                                       : QRect();
}

void showDuplicateMessage(const QString &shortcut)
{
    const QString keys = VarloWidgets::displayText(shortcut);
    OnTopMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("The key combination %1 can't be used!").arg(keys));
    box.setInformativeText(QStringLiteral("The key combination \"%1\" can't be used because this "
                                          "shortcut has already been assigned.")
                               .arg(keys));
    box.exec();
}

// Qt warns on its own about a query on a closed connection; DatabaseUtil has said why it is.
bool isOpen(const QSqlDatabase &db)
{
    if (db.isOpen())
        return true;
    vDebug() << "No shortcuts database is open.";
    return false;
}

// exec() after a failed prepare() reports an error of its own, so the first is logged here.
bool prepared(QSqlQuery &query, const char *statement)
{
    if (!isOpen(database()))
        return false;
    if (query.prepare(QLatin1String(statement)))
        return true;
    vDebug() << query.lastError().text();
    return false;
}

void bindShortcut(QSqlQuery &query, const QString &name, const QString &shortcut, QSize gridSize,
                  QRect selection, bool global, bool enabled, bool subdivided)
{
    // A null QString is bound as NULL, which the NOT NULL columns refuse.
    const auto text = [](const QString &value) {
        return value.isNull() ? QString(QLatin1String("")) : value;
    };
    const QVariantList values = {text(name),        text(shortcut),     gridSize.width(),
                                 gridSize.height(), selection.x(),      selection.y(),
                                 selection.width(), selection.height(), global,
                                 enabled,           subdivided};
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values.at(i));
}

} // namespace

struct ShortcutModel::Private
{
    QList<ShortcutListItem *> items;

    bool saved(ShortcutModel *model, QSqlQuery &query)
    {
        if (!query.exec()) {
            vDebug() << query.lastError().text();
            return false;
        }
        model->reload();
        // Row rowCount() is never valid: both corners invalid mean every row.
        Q_EMIT model->dataChanged(QModelIndex(), model->index(model->rowCount(), 0));
        return true;
    }
};

ShortcutModel::ShortcutModel(QObject *parent) : QAbstractListModel(parent), d(new Private)
{
    reload();
}

ShortcutModel::~ShortcutModel() = default;

int ShortcutModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(d->items.size());
}

QModelIndex ShortcutModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    return createIndex(row, column, d->items.at(row));
}

QVariant ShortcutModel::data(const QModelIndex &, int) const
{
    return QVariant();
}

bool ShortcutModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count < 1 || count > rowCount() - row)
        return false;
    QSqlDatabase db = database();
    // All or none: a model read again after a partial delete would lose rows the user kept.
    const bool transaction = db.transaction();
    for (int i = 0; i < count; ++i) {
        QSqlQuery query(db);
        bool deleted = prepared(query, deleteShortcut);
        if (deleted) {
            query.bindValue(0, itemAt(row + i)->id());
            deleted = query.exec();
            if (!deleted)
                vDebug() << query.lastError().text();
        }
        if (!deleted) {
            if (transaction)
                db.rollback();
            return false;
        }
    }
    if (transaction && !db.commit()) {
        vDebug() << db.lastError().text();
        db.rollback();
        return false;
    }
    reload();
    Q_EMIT dataChanged(QModelIndex(), index(rowCount(), 0));
    return true;
}

ShortcutListItem *ShortcutModel::itemAt(int row) const
{
    return row >= 0 && row < d->items.size() ? d->items.at(row) : nullptr;
}

ShortcutListItem *ShortcutModel::itemById(int id) const
{
    for (ShortcutListItem *item : std::as_const(d->items)) {
        if (item->id() == id)
            return item;
    }
    return nullptr;
}

ShortcutListItem *ShortcutModel::findByShortcut(const QKeySequence &sequence) const
{
    const QString text = sequence.toString(QKeySequence::PortableText);
    for (ShortcutListItem *item : std::as_const(d->items)) {
        if (item->shortcut() == text)
            return item;
    }
    return nullptr;
}

bool ShortcutModel::addShortcut(const QString &name, const QString &shortcut, QSize gridSize,
                                QRect selection, bool global, bool enabled, bool subdivided)
{
    if (findByShortcut(QKeySequence(shortcut))) {
        showDuplicateMessage(shortcut);
        return false;
    }
    QSqlQuery query(database());
    if (!prepared(query, insertShortcut))
        return false;
    bindShortcut(query, name, shortcut, gridSize, selection, global, enabled, subdivided);
    return d->saved(this, query);
}

bool ShortcutModel::updateShortcut(int id, const QString &name, const QString &shortcut,
                                   QSize gridSize, QRect selection, bool global, bool enabled,
                                   bool subdivided)
{
    const ShortcutListItem *same = findByShortcut(QKeySequence(shortcut));
    if (same && same->id() != id) {
        showDuplicateMessage(shortcut);
        return false;
    }
    // An id the model does not hold would count as saved: the UPDATE changes no row.
    if (!itemById(id)) {
        vDebug() << "No shortcut" << id << "to update.";
        return false;
    }
    QSqlQuery query(database());
    if (!prepared(query, updateShortcutRow))
        return false;
    bindShortcut(query, name, shortcut, gridSize, selection, global, enabled, subdivided);
    query.bindValue(11, id);
    return d->saved(this, query);
}

void ShortcutModel::reload()
{
    qDeleteAll(d->items);
    d->items.clear();

    const QSqlDatabase db = database();
    if (!isOpen(db))
        return;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QLatin1String(selectAll))) {
        vDebug() << "Could not read the shortcuts:" << query.lastError().text();
        return;
    }
    // Looked up once: by name for every row would build a record per value.
    const QSqlRecord record = query.record();
    int column[12];
    const char *const names[12] = {
        "rowid",       "name",        "shortcut",        "grid_width",       "grid_height",
        "selection_x", "selection_y", "selection_width", "selection_height", "global",
        "enabled",     "subdivided"};
    for (int i = 0; i < 12; ++i) {
        const int found = record.indexOf(QLatin1String(names[i]));
        column[i] = found < 0 ? i : found; // an aliased rowid is named after its alias
    }

    while (query.next()) {
        // Hot keys, edits and removals find a shortcut by its id, an int: a
        // rowid beyond int would be taken for another row's (2^32 + 1 for 1).
        bool idRead = false;
        const qlonglong rowid = query.value(column[0]).toLongLong(&idRead);
        if (!idRead || rowid < INT_MIN || rowid > INT_MAX) {
            const QString line = QStringLiteral("The shortcut stored under rowid %1 is left out: "
                                                "no id of Varlo's can name it.")
                                     .arg(quoted(query.value(column[0]).toString()));
            if (VarloLog::firstTime(db.databaseName() + QLatin1Char('\n') + line))
                vWarning() << line;
            continue;
        }
        RowReader row(query, record);
        const int id = int(rowid);
        const QString name = row.text(column[1], "name");
        const QString shortcut = row.text(column[2], "key text");
        const int gridWidth = row.integer(column[3]);
        const int gridHeight = row.integer(column[4]);
        const int x = row.integer(column[5]);
        const int y = row.integer(column[6]);
        const int width = row.integer(column[7]);
        const int height = row.integer(column[8]);
        const bool global = row.integer(column[9]) != 0;
        const bool enabled = row.integer(column[10]) != 0;
        const bool subdivided = row.integer(column[11]) != 0;
        checkKeyText(row, shortcut);
        const QSize gridSize(gridWidth, gridHeight);
        checkGeometry(row, gridSize, x, y, width, height);
        const QRect selection = selectionOf(x, y, width, height);

        if (row.damaged()) {
            const QString line = QStringLiteral("Shortcut %1 %2 is stored with %3; it is loaded "
                                                "as it is.")
                                     .arg(id)
                                     .arg(quoted(name), row.problems());
            // Every change reads all rows again; one line per damaged row is enough.
            if (VarloLog::firstTime(db.databaseName() + QLatin1Char('\n') + line))
                vWarning() << line;
        }
        d->items.append(new ShortcutListItem(id, name, shortcut, gridSize, selection, global,
                                             enabled, subdivided, this));
    }
    if (query.lastError().isValid())
        vDebug() << "Reading the shortcuts stopped:" << query.lastError().text();
}
