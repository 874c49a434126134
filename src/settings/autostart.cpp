#include "autostart.h"

#include "varlolog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// Characters that must be escaped by a backslash inside a quoted argument of Exec.
bool escapedInQuotes(QChar c)
{
    return c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
           c == QLatin1Char('\\');
}

// One argument of Exec, always quoted; a literal percent sign is doubled,
// or it would be read as a field code.
QString quotedArgument(const QString &argument)
{
    QString quoted(QLatin1Char('"'));
    for (const QChar c : argument) {
        if (escapedInQuotes(c))
            quoted += QLatin1Char('\\');
        else if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

// The escapes of a string value in a desktop entry.
QString escapedValue(const QString &value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            escaped += QLatin1String("\\\\");
            break;
        case '\n':
            escaped += QLatin1String("\\n");
            break;
        case '\t':
            escaped += QLatin1String("\\t");
            break;
        case '\r':
            escaped += QLatin1String("\\r");
            break;
        default:
            escaped += c;
        }
    }
    if (escaped.startsWith(QLatin1Char(' ')))
        escaped.replace(0, 1, QLatin1String("\\s"));
    return escaped;
}

// Makes every missing folder of path readable by this user only, as the XDG
// base directory rules ask of folders a program creates there.
bool makeFolder(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (info.exists() || info.isSymLink())
        return false;
    const QString parent = info.absolutePath();
    if (parent == path || !makeFolder(parent))
        return false;
    return QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString programPath(const QString &program)
{
    return program.isEmpty() ? QCoreApplication::applicationFilePath() : program;
}

} // namespace

namespace AutoStart {

QString entryPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QLatin1String("/.config");
    return QDir::cleanPath(config) + QLatin1String("/autostart/varlo.desktop");
}

QString execValue(const QString &program)
{
    return escapedValue(quotedArgument(program) + QLatin1String(" -background"));
}

QByteArray entryText(const QString &program)
{
    const QString text = QLatin1String("[Desktop Entry]\n"
                                       "Type=Application\n"
                                       "Name=Varlo\n"
                                       "Comment=Place and size windows on a grid\n") +
                         QLatin1String("Exec=") + execValue(program) + QLatin1Char('\n') +
                         QLatin1String("TryExec=") + escapedValue(program) + QLatin1Char('\n') +
                         QLatin1String("Icon=varlo\n"
                                       "Terminal=false\n"
                                       "StartupNotify=false\n");
    return text.toUtf8();
}

bool install(const QString &program)
{
    const QString path = entryPath();
    const QFileInfo entry(path);
    if (!makeFolder(entry.absolutePath())) {
        vWarning() << "Could not write the login entry" << path << ": no folder for it.";
        return false;
    }
    // QSaveFile writes to the target of a link; only this path is ours to change.
    if (entry.isSymLink() && !QFile::remove(path)) {
        vWarning() << "Could not write the login entry" << path << ": the link there stays.";
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entryText(programPath(program))) < 0 ||
        !file.commit()) {
        vWarning() << "Could not write the login entry" << path << ":" << file.errorString();
        return false;
    }
    return true;
}

bool remove()
{
    const QString path = entryPath();
    const QFileInfo entry(path);
    if (!entry.exists() && !entry.isSymLink())
        return true;
    QFile file(path);
    if (entry.isDir() || !file.remove()) {
        vWarning() << "Could not remove the login entry" << path << ":"
                   << (entry.isDir() ? QStringLiteral("it is a folder") : file.errorString());
        return false;
    }
    return true;
}

} // namespace AutoStart
