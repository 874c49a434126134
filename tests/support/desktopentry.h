#pragma once

// Reading back a desktop entry the way a desktop's launcher does: the string
// escapes of a value first, then the quoting of the Exec key.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

/** The string escapes of a desktop entry value undone (\s \n \t \r \\). */
inline QString unescapedDesktopValue(const QString &value)
{
    QString out;
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        default:
            out += next; // "\\" and anything unknown
        }
    }
    return out;
}

/** The value of key in the [Desktop Entry] group of the file, unescaped; null when absent. */
inline QString desktopEntryValue(const QString &path, const QString &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    bool inGroup = false;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.startsWith(key + QLatin1Char('=')))
            return unescapedDesktopValue(line.mid(key.size() + 1));
    }
    return QString();
}

/**
 * The arguments of an (unescaped) Exec value: blanks separate them; inside
 * double quotes a backslash takes the next of " ` $ \ literally; %% is a
 * percent sign. Empty when the quoting is broken.
 */
inline QStringList execArguments(const QString &exec)
{
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\')) {
                if (i + 1 == exec.size() || !QStringLiteral("\"`$\\").contains(exec.at(i + 1)))
                    return {};
                current += exec.at(++i);
            } else if (c == QLatin1Char('%')) {
                if (i + 1 == exec.size() || exec.at(i + 1) != QLatin1Char('%'))
                    return {};
                current += exec.at(++i);
            } else {
                current += c;
            }
        } else if (c == QLatin1Char(' ')) {
            if (inArgument)
                arguments << current;
            current.clear();
            inArgument = false;
        } else if (c == QLatin1Char('"')) {
            quoted = inArgument = true;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted)
        return {};
    if (inArgument)
        arguments << current;
    return arguments;
}

/** What desktop-file-validate says against the file; empty when it accepts it. */
inline QString desktopFileProblems(const QString &path)
{
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(QStringLiteral("desktop-file-validate"), {path});
    if (!validate.waitForFinished(30000))
        return QStringLiteral("desktop-file-validate did not run: ") + validate.errorString();
    const QString output = QString::fromUtf8(validate.readAll()).trimmed();
    if (validate.exitStatus() != QProcess::NormalExit || validate.exitCode() != 0)
        return output.isEmpty() ? QStringLiteral("desktop-file-validate failed") : output;
    // Hints are no failure; warnings are.
    return output.contains(QLatin1String("warning:")) ? output : QString();
}
