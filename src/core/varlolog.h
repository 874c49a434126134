#pragma once

// Messages that show where they come from start with "VARLO::", the source
// file's name, a colon, the line and a colon; the event log splits them into
// aligned columns. Use the stream macros like qDebug():
//
//     vDebug() << "Screen" << i << ":" << geometry;
//
// noquote() keeps strings as they are, so the log reads as plain text.

#include <QDebug>

namespace VarloLog {
/** True the first time key is given in this process: for warnings worth one line per run. */
bool firstTime(const QString &key);

constexpr const char *baseName(const char *path)
{
    const char *base = path;
    for (const char *p = path; *p; ++p) {
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    return base;
}
} // namespace VarloLog

#define VARLO_LOG_STREAM(stream)                                                                   \
    stream.noquote() << (QByteArrayLiteral("VARLO::") + VarloLog::baseName(__FILE__) + ':')       \
                            .constData()                                                           \
                     << __LINE__ << ":"

#define vDebug() VARLO_LOG_STREAM(qDebug())
#define vInfo() VARLO_LOG_STREAM(qInfo())
#define vWarning() VARLO_LOG_STREAM(qWarning())
#define vCritical() VARLO_LOG_STREAM(qCritical())

// Qt 6.4 has no fatal stream; this writes the same prefix and aborts.
#define vFatal(text)                                                                               \
    qFatal("VARLO::%s: %d : %s", VarloLog::baseName(__FILE__), __LINE__,                           \
           QString(text).toUtf8().constData())
