#include "runtimeprogram.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

struct Runtime
{
    QRegularExpression name;
    /** Options whose value is the next argument. */
    QStringList valueOptions;
    /** Options after which the program comes from elsewhere than a file. */
    QStringList stopOptions;
    /** Java runs classes by name; only an archive given with -jar is a file of its own. */
    bool jarOnly = false;
};

// The desktop entry index reads this from its worker thread too: the list is
// made once and only read, and matching a QRegularExpression is safe across threads.
const QList<Runtime> &runtimes()
{
    static const QList<Runtime> list = {
        {QRegularExpression(QStringLiteral("^java[^.]*$")),
         {QStringLiteral("-cp"), QStringLiteral("-classpath"), QStringLiteral("--class-path"),
          QStringLiteral("-p"), QStringLiteral("--module-path"), QStringLiteral("--add-modules")},
         {QStringLiteral("-m"), QStringLiteral("--module")},
         true},
        {QRegularExpression(QStringLiteral("^(python|pypy)[0-9.]*[dmu]?$")),
         {QStringLiteral("-W"), QStringLiteral("-X"), QStringLiteral("--check-hash-based-pycs")},
         {QStringLiteral("-c"), QStringLiteral("-m"), QStringLiteral("-")}},
        {QRegularExpression(QStringLiteral("^perl[0-9.]*$")),
         {},
         {QStringLiteral("-e"), QStringLiteral("-E")}},
        {QRegularExpression(QStringLiteral("^ruby[0-9.]*$")),
         {QStringLiteral("-I"), QStringLiteral("-r"), QStringLiteral("-C")},
         {QStringLiteral("-e")}},
        {QRegularExpression(QStringLiteral("^(node|nodejs)$")),
         {QStringLiteral("-r"), QStringLiteral("--require"), QStringLiteral("--import"),
          QStringLiteral("--loader")},
         {QStringLiteral("-e"), QStringLiteral("--eval"), QStringLiteral("-p"),
          QStringLiteral("--print")}},
        {QRegularExpression(QStringLiteral("^gjs(-console)?$")),
         {QStringLiteral("-I"), QStringLiteral("--include-path")},
         {QStringLiteral("-c"), QStringLiteral("--command")}},
        {QRegularExpression(QStringLiteral("^lua(jit)?[0-9.]*$")),
         {QStringLiteral("-l")},
         {QStringLiteral("-e")}},
        {QRegularExpression(QStringLiteral("^php[0-9.]*$")),
         {QStringLiteral("-c"), QStringLiteral("-d"), QStringLiteral("-z")},
         {QStringLiteral("-r")}},
        {QRegularExpression(QStringLiteral("^(tclsh|wish)[0-9.]*$")), {}, {}},
        {QRegularExpression(QStringLiteral("^mono(-sgen)?$")), {}, {}},
        // Shells only ever own windows through the scripts they run, but a
        // runtime is often started by a wrapper script.
        {QRegularExpression(QStringLiteral("^(sh|bash|dash|zsh|ksh)$")),
         {QStringLiteral("-o"), QStringLiteral("+o"), QStringLiteral("-O")},
         {QStringLiteral("-c")}},
    };
    return list;
}

const Runtime *findRuntime(const QString &executable)
{
    const QString base = QFileInfo(executable).fileName();
    if (base.isEmpty())
        return nullptr;
    for (const Runtime &runtime : runtimes()) {
        if (runtime.name.match(base).hasMatch())
            return &runtime;
    }
    return nullptr;
}

bool isStop(const Runtime &runtime, const QString &arg)
{
    for (const QString &stop : runtime.stopOptions) {
        // Short options may carry their value: python3 -mfoo, perl -e'...'
        if (arg == stop || (stop.size() == 2 && stop != QLatin1String("-") && arg.startsWith(stop)))
            return true;
    }
    return false;
}

} // namespace

namespace RuntimeProgram {

bool isRuntime(const QString &executable)
{
    return findRuntime(executable) != nullptr;
}

QString programFromArguments(const QStringList &arguments, const QString &workingDirectory)
{
    const Runtime *runtime = arguments.isEmpty() ? nullptr : findRuntime(arguments.first());
    if (!runtime)
        return QString();

    QString program;
    for (int i = 1; i < arguments.size() && program.isEmpty(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("--")) {
            if (!runtime->jarOnly)
                program = arguments.value(i + 1);
            break;
        }
        if (runtime->jarOnly && arg == QLatin1String("-jar")) {
            program = arguments.value(i + 1);
            break;
        }
        if (isStop(*runtime, arg))
            return QString();
        if (runtime->valueOptions.contains(arg)) {
            ++i;
            continue;
        }
        if (arg.startsWith(QLatin1Char('-')) || arg.startsWith(QLatin1Char('+')))
            continue;
        if (runtime->jarOnly)
            return QString(); // a main class, not a file
        program = arg;
    }
    if (program.isEmpty())
        return QString();
    if (QDir::isAbsolutePath(program))
        return QDir::cleanPath(program);
    if (workingDirectory.isEmpty())
        return QString();
    return QDir::cleanPath(QDir(workingDirectory).absoluteFilePath(program));
}

} // namespace RuntimeProgram
