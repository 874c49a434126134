#include "procfs.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray procPath(qint64 pid, const char *entry)
{
    QByteArray path = "/proc/" + QByteArray::number(pid);
    if (entry)
        path += entry;
    return path;
}

void setErrno(QString *error, int code)
{
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(code));
}

QString readLink(const QByteArray &path, QString *error)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer - 1);
    if (n < 0) {
        setErrno(error, errno);
        return QString();
    }
    return QFile::decodeName(QByteArray(buffer, int(n)));
}

QByteArray readSmallFile(const QByteArray &path, QString *error)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return QByteArray();
    }
    // /proc files report size 0; a command line longer than this is cut, which
    // only ever loses trailing arguments we do not look at.
    return file.read(256 * 1024);
}

} // namespace

namespace ProcFs {

bool exists(qint64 pid, QString *error)
{
    if (pid <= 0) {
        setErrno(error, ESRCH);
        return false;
    }
    struct stat st;
    if (::stat(procPath(pid, nullptr).constData(), &st) != 0) {
        setErrno(error, errno == ENOENT ? ESRCH : errno);
        return false;
    }
    return true;
}

QString executable(qint64 pid, QString *error)
{
    return readLink(procPath(pid, "/exe"), error);
}

qint64 parentPid(qint64 pid, QString *error)
{
    const QByteArray stat = readSmallFile(procPath(pid, "/stat"), error);
    // "pid (comm) state ppid ...": comm may hold spaces and parentheses, so
    // the fields start after the last ')'.
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 2)
        return -1;
    bool ok = false;
    const qint64 parent = fields.at(1).toLongLong(&ok);
    return ok ? parent : -1;
}

QStringList arguments(qint64 pid, QString *error)
{
    QByteArray data = readSmallFile(procPath(pid, "/cmdline"), error);
    if (data.endsWith('\0'))
        data.chop(1);
    QStringList result;
    if (data.isEmpty())
        return result;
    for (const QByteArray &arg : data.split('\0'))
        result.append(QFile::decodeName(arg));
    return result;
}

QString workingDirectory(qint64 pid, QString *error)
{
    return readLink(procPath(pid, "/cwd"), error);
}

} // namespace ProcFs
