#include "varlolog.h"

#include <QMutex>
#include <QSet>

namespace VarloLog {

bool firstTime(const QString &key)
{
    static QMutex mutex;
    static QSet<QString> seen;
    const QMutexLocker locker(&mutex);
    if (seen.contains(key))
        return false;
    seen.insert(key);
    return true;
}

} // namespace VarloLog
