#include "programicon.h"

#include <QImageReader>
#include <QPixmap>

QIcon programIcon()
{
    // Read as PNG outright: letting Qt work out what the files are asks every
    // image plugin, loading them all (and their libraries) for good.
    QIcon icon;
    for (int size : {16, 20, 24, 32}) {
        QImageReader reader(QStringLiteral(":/images/varlo_%1.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}
