#include "programicon.h"

QIcon programIcon()
{
    QIcon icon;
    for (const char *name : {":/images/varlo_16.png", ":/images/varlo_20.png", ":/images/varlo_24.png",
                             ":/images/varlo_32.png"})
        icon.addFile(QString::fromLatin1(name));
    return icon;
}
