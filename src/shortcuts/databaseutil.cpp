#include "databaseutil.h"

#include "varlolog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <climits>

namespace {

// Another process holding the file makes us wait this long rather than fail at once.
const char busyTimeout[] = "QSQLITE_BUSY_TIMEOUT=2000";
const char readOnlyOptions[] = "QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000";
const char immutableOptions[] = "QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI";
const char checkConnection[] = "varlo_shortcuts_check";

// The columns of the latest schema that the program reads; SQLite always has the rowid.
const char *const shortcutColumns[] = {
    "name",        "shortcut",    "grid_width",      "grid_height",
    "selection_x", "selection_y", "selection_width", "selection_height",
    "global",      "enabled",     "subdivided",
};

QString scriptFolder()
{
    return QStringLiteral(":/sql/");
}

/** The version a script leads to, -1 for a file that is not a script. */
int scriptNumber(const QString &fileName)
{
    const int end = fileName.indexOf(QLatin1Char('_'));
    bool ok = false;
    const uint number = fileName.left(end).toUInt(&ok, 10);
    return end > 0 && ok && number <= uint(INT_MAX) ? int(number) : -1;
}

// SQLITE_BUSY or SQLITE_LOCKED: another connection kept the file past the wait.
bool lockedOut(const QSqlError &error)
{
    return error.nativeErrorCode() == QLatin1String("5") ||
           error.nativeErrorCode() == QLatin1String("6");
}

bool execute(QSqlDatabase &db, const QString &statement)
{
    QSqlQuery query(db);
    if (query.exec(statement))
        return true;
    vWarning() << QStringLiteral("Error executing sql statement: ") + statement;
    vDebug() << query.lastError().text();
    return false;
}

// A reader of a file in WAL mode makes the "-wal" and "-shm" files beside it,
// and a read-only one cannot take them away again. Without a "-wal" file
// there is nothing newer than the file itself: it is read as it lies then,
// with nothing made beside it.
void openForReading(QSqlDatabase &db, const QString &path)
{
    QFile file(path);
    const QByteArray header = file.open(QIODevice::ReadOnly) ? file.read(20) : QByteArray();
    // Bytes 18 and 19 are the file format's read and write versions, 2 for WAL.
    const bool wal = header.size() == 20 && (header.at(18) == 2 || header.at(19) == 2);
    if (wal && !QFileInfo::exists(path + QLatin1String("-wal"))) {
        db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
                           QLatin1String("?immutable=1"));
        db.setConnectOptions(QLatin1String(immutableOptions));
        return;
    }
    db.setDatabaseName(path);
    db.setConnectOptions(QLatin1String(readOnlyOptions));
}

// What a look at an existing file, read-only, found; nothing has been written yet.
struct FileCheck
{
    bool writable = true; // ours and sound: upgraded and edited in place
    bool usable = true;   // false: initialize() fails; the file is still read, read-only
    QString problem;      // the one line that tells why the file is not written
};

FileCheck refuse(const QString &path, const QString &why)
{
    return {false, false,
            QStringLiteral("The shortcuts database %1 %2; it is left as it is and no shortcut "
                           "is saved in this run.")
                .arg(path, why)};
}

FileCheck inspect(const QString &path, int latest)
{
    QSqlDatabase db =
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(checkConnection));
    openForReading(db, path);
    if (!db.open())
        return refuse(path, QStringLiteral("cannot be read (%1)").arg(db.lastError().text()));
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA quick_check"))) {
        const QSqlError error = query.lastError();
        if (lockedOut(error))
            return refuse(path, QStringLiteral("is locked by another program"));
        return refuse(
            path,
            QStringLiteral("is not a database Varlo can read (%1)").arg(error.databaseText()));
    }
    const QString integrity = query.next() ? query.value(0).toString() : QString();
    if (integrity != QLatin1String("ok"))
        return refuse(path, QStringLiteral("is damaged (%1)")
                                .arg(integrity.section(QLatin1Char('\n'), 0, 0).left(80)));

    // A database without our version is someone else's: no script may run on it.
    if (!query.exec(QStringLiteral("SELECT current_version FROM migration_history")) ||
        !query.next())
        return refuse(path, QStringLiteral("holds no schema version"));
    bool ok = false;
    const qlonglong version = query.value(0).toLongLong(&ok);
    if (!ok || version < 1 || version > INT_MAX)
        return refuse(path, QStringLiteral("holds the unknown schema version \"%1\"")
                                .arg(query.value(0).toString().left(20)));
    // Older files are upgraded; a script that does not fit fails and is rolled back.
    if (version < latest)
        return {};

    const QSqlRecord record = db.record(QStringLiteral("shortcut"));
    if (record.isEmpty())
        return refuse(path, QStringLiteral("has no shortcut table"));
    QStringList missing;
    for (const char *column : shortcutColumns) {
        if (!record.contains(QLatin1String(column)))
            missing.append(QLatin1String(column));
    }
    if (!missing.isEmpty())
        return refuse(path, QStringLiteral("lacks the shortcut columns %1")
                                .arg(missing.join(QStringLiteral(", "))));
    if (version > latest)
        return {false, true,
                QStringLiteral("The shortcuts database %1 is of version %2, newer than this "
                               "Varlo knows (%3): its shortcuts are read, changes are not saved.")
                    .arg(path, QString::number(version), QString::number(latest))};
    return {};
}

FileCheck checkFile(const QString &path, int latest)
{
    const QFileInfo info(path);
    // A file of 0 bytes holds nothing to lose: SQLite takes it for an empty database.
    if (!info.exists() || (info.isFile() && info.size() == 0))
        return {};
    const FileCheck check = inspect(path, latest);
    QSqlDatabase::removeDatabase(QLatin1String(checkConnection));
    return check;
}

void removeDefaultConnection()
{
    if (!QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection)))
        return;
    QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).close();
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

} // namespace

struct DatabaseUtil::Private
{
    QString path;
};

DatabaseUtil::DatabaseUtil(QObject *parent)
    : QObject(parent),
      d(new Private{QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                        .filePath(QStringLiteral("shortcuts.db"))})
{}

DatabaseUtil::~DatabaseUtil() = default;

QString DatabaseUtil::databasePath() const
{
    return d->path;
}

bool DatabaseUtil::initialize()
{
    vDebug() << "Initializing shortcuts database.";
    vDebug() << QStringLiteral("Database file: ") + d->path;
    QDir().mkpath(QFileInfo(d->path).absolutePath());

    const FileCheck check = checkFile(d->path, latestSchemaVersion());
    removeDefaultConnection();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    if (check.writable) {
        db.setDatabaseName(d->path);
        db.setConnectOptions(QLatin1String(busyTimeout));
    } else {
        openForReading(db, d->path);
    }
    if (!db.open()) {
        vWarning() << "Failed to open database connection.";
        vDebug() << db.lastError().text();
        return false;
    }
    if (!check.problem.isEmpty())
        vWarning() << check.problem;
    return check.usable && migrate();
}

bool DatabaseUtil::databaseFileExists() const
{
    return QFileInfo::exists(d->path);
}

int DatabaseUtil::currentSchemaVersion() const
{
    const QSqlDatabase db =
        QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    if (!databaseFileExists() || !db.isOpen())
        return 0;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT current_version FROM migration_history")) ||
        !query.next())
        return 0;
    return query.value(0).toInt();
}

int DatabaseUtil::latestSchemaVersion() const
{
    int latest = 0;
    const QStringList scripts = QDir(scriptFolder()).entryList(QDir::Files);
    for (const QString &script : scripts)
        latest = qMax(latest, scriptNumber(script));
    return latest;
}

bool DatabaseUtil::migrate()
{
    int current = currentSchemaVersion();
    const int latest = latestSchemaVersion();
    vDebug() << QStringLiteral("Database schema version: %1").arg(current);
    if (current >= latest) {
        vDebug() << "Database is up-to-date.";
        return true;
    }

    const QDir folder(scriptFolder());
    const QStringList scripts = folder.entryList(QDir::Files);
    QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    while (current < latest) {
        const int next = current + 1;
        vDebug() << QStringLiteral("--- Upgrading to version %1").arg(next);
        const auto script =
            std::find_if(scripts.cbegin(), scripts.cend(),
                         [next](const QString &name) { return scriptNumber(name) == next; });
        if (script == scripts.cend()) {
            vWarning() << QStringLiteral("Could not find SQL for upgrade #%1!").arg(next);
            return false;
        }
        const QString path = folder.filePath(*script);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            vWarning() << QStringLiteral("Unable to open SQL upgrade file: ") + path;
            return false;
        }
        const QStringList statements = splitStatements(QString::fromUtf8(file.readAll()));

        // Without a transaction each statement would stay on its own when a later one fails.
        if (!db.transaction()) {
            vWarning() << QStringLiteral("Could not begin the upgrade to version %1.").arg(next);
            vDebug() << db.lastError().text();
            return false;
        }
        bool ok = std::all_of(statements.cbegin(), statements.cend(),
                              [&db](const QString &statement) { return execute(db, statement); });
        ok = ok && execute(db, QStringLiteral("UPDATE migration_history SET current_version=") +
                                   QString::number(next));
        // The version must have moved, or the loop would run the same script again.
        if (ok) {
            current = currentSchemaVersion();
            if (current != next)
                vWarning() << QStringLiteral("The upgrade to version %1 left the version at %2.")
                                  .arg(next)
                                  .arg(current);
        }
        if (!ok || current != next) {
            db.rollback();
            return false;
        }
        if (!db.commit()) {
            vWarning() << QStringLiteral("Could not commit the upgrade to version %1.").arg(next);
            vDebug() << db.lastError().text();
            db.rollback();
            return false;
        }
    }
    return true;
}

QStringList DatabaseUtil::splitStatements(const QString &script)
{
    static const QRegularExpression comment(QStringLiteral("/\\*.*?\\*/"),
                                            QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression separator(QStringLiteral("(;\\n\\n)|(;\\r\\n\\r\\n)"));
    QString text = script;
    text.remove(comment);
    QStringList statements;
    const QStringList pieces = text.split(separator, Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        if (!piece.trimmed().isEmpty())
            statements.append(piece);
    }
    return statements;
}
