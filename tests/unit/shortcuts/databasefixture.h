#pragma once

#include "databaseutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// A data folder of its own for each test: $XDG_DATA_HOME points into a fresh
// temporary folder, under which the program keeps "Orrith LLC/Varlo/".
class DataHome
{
public:
    DataHome()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
        QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root.path()));
    }
    ~DataHome() { closeDatabase(); }

    QString folder() const { return m_root.filePath(QStringLiteral("Orrith LLC/Varlo")); }
    QString database() const { return folder() + QStringLiteral("/shortcuts.db"); }
    /** Everything in the folder: the database and any journal SQLite left beside it. */
    QStringList files() const { return QDir(folder()).entryList(QDir::Files | QDir::Hidden); }

    /** Closes the connection; the file must hold these bytes, with no journal beside it. */
    void expectUnchanged(const QByteArray &before) const
    {
        closeDatabase();
        QCOMPARE(fileBytes(database()), before);
        QCOMPARE(files(), QStringList{"shortcuts.db"});
    }

    static void closeDatabase()
    {
        QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).close();
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    }

private:
    QTemporaryDir m_root;
};

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

/**
 * The file a given version of Varlo leaves, built with the shipped scripts up
 * to that version, then changed by the extra statements. Empty on any failure.
 */
inline QByteArray databaseBytes(int version, const QStringList &extra = {})
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("built.db"));
    const QString connection = QStringLiteral("fixture builder");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        ok = db.open();
        QStringList statements;
        const QStringList scripts = QDir(QStringLiteral(":/sql")).entryList(QDir::Files);
        for (int v = 1; v <= version; ++v) {
            QFile script(
                QStringLiteral(":/sql/") +
                scripts.filter(QRegularExpression(QStringLiteral("^0*%1_").arg(v))).value(0));
            ok = ok && script.open(QIODevice::ReadOnly);
            statements += DatabaseUtil::splitStatements(QString::fromUtf8(script.readAll()));
        }
        if (version > 0)
            statements.append(
                QStringLiteral("UPDATE migration_history SET current_version=%1").arg(version));
        QSqlQuery query(db);
        for (const QString &statement : statements + extra)
            ok = ok && query.exec(statement);
    }
    QSqlDatabase::removeDatabase(connection);
    return ok ? fileBytes(path) : QByteArray();
}

// Collects the messages logged while it lives, each split into the source file
// the logging macros name and the text.
class LogCapture
{
public:
    struct Line
    {
        QtMsgType type;
        QString file;
        QString text;
    };

    LogCapture()
    {
        lines().clear();
        m_previous = qInstallMessageHandler(record);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }

    QList<Line> all() const
    {
        const QMutexLocker locker(&mutex());
        return lines();
    }
    QStringList texts(QtMsgType type) const
    {
        QStringList result;
        for (const Line &line : all()) {
            if (line.type == type)
                result.append(line.text);
        }
        return result;
    }

private:
    static void record(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        static const QRegularExpression located(QStringLiteral("^VARLO::([^:]+): \\d+ : (.*)$"),
                                                QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch match = located.match(message);
        const QMutexLocker locker(&mutex());
        lines().append(match.hasMatch() ? Line{type, match.captured(1), match.captured(2)}
                                        : Line{type, QString(), message});
    }
    static QList<Line> &lines()
    {
        static QList<Line> captured;
        return captured;
    }
    static QMutex &mutex()
    {
        static QMutex m;
        return m;
    }

    QtMessageHandler m_previous = nullptr;
};
