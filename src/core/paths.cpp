#include "paths.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace Paths {

bool makePrivateDir(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (!QDir().mkpath(path))
        return false;
    struct stat st;
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 0777) != 0700 && ::chmod(native.constData(), 0700) != 0)
        return false;
    return true;
}

static bool isPrivateDir(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
           && (st.st_mode & 0077) == 0;
}

QString privateTempDir()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateDir(runtime))
        return QDir::cleanPath(QFile::decodeName(runtime));

    // The cache folder is found by hand because QStandardPaths wants the
    // application object, and the single-instance test runs before it exists.
    QString cache = QFile::decodeName(qgetenv("XDG_CACHE_HOME"));
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QLatin1String("/.cache");
    const QString dir = cache + QLatin1String("/varlo");
    if (makePrivateDir(dir))
        return dir;
    return QString();
}

QString displayScope()
{
    QString display = QString::fromLocal8Bit(qgetenv("DISPLAY"));
    // ":0" and ":0.0" are the same display.
    const int colon = display.lastIndexOf(QLatin1Char(':'));
    const int dot = display.indexOf(QLatin1Char('.'), colon < 0 ? 0 : colon);
    if (dot > colon && colon >= 0)
        display.truncate(dot);
    if (display.startsWith(QLatin1Char(':')))
        display.remove(0, 1);
    QString scope;
    for (const QChar c : display)
        scope += (c.isLetterOrNumber() || c == QLatin1Char('-')) ? c : QLatin1Char('_');
    return scope.isEmpty() ? QStringLiteral("none") : scope;
}

} // namespace Paths

QUrl Paths::helpPage()
{
    // Installed beside the program's data; the build tree has the same layout.
    const QString page =
        QCoreApplication::applicationDirPath() + QLatin1String("/../share/varlo/help/index.html");
    return QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath());
}
