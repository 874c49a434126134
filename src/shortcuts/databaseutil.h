#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// The shortcuts database: its file, the connection every query of the program
// uses (Qt's default connection) and the upgrades of its schema by the scripts
// compiled in under ":/sql/" ("NNN_what.sql", NNN = the version it leads to).
class DatabaseUtil : public QObject
{
    Q_OBJECT

public:
    /** Works out the file's path; touches nothing on disk. */
    explicit DatabaseUtil(QObject *parent = nullptr);
    ~DatabaseUtil() override;

    /** shortcuts.db in the program's data folder ($XDG_DATA_HOME/<organisation>/<application>). */
    QString databasePath() const;

    /**
     * Opens the default connection on the file, creating the folder and the
     * file when missing, and brings the schema up to date. A file that is not
     * a database of ours, is damaged or is locked past the wait is opened
     * read-only and false is returned; one of a newer version is opened
     * read-only and true is returned. Such files are never written.
     */
    bool initialize();

    bool databaseFileExists() const;
    /** The version the file's schema is at, 0 without a file or a version. */
    int currentSchemaVersion() const;
    /** The highest script number under ":/sql/", 0 without scripts. */
    int latestSchemaVersion() const;
    /** Runs the missing upgrade scripts, each in its own transaction; false on the first failure.
     */
    bool migrate();

    /**
     * The statements of a script: block comments removed, split where a ";"
     * ends a line followed by an empty line, blank pieces left out.
     */
    static QStringList splitStatements(const QString &script);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
