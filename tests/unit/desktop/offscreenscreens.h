#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

// Points the offscreen platform at a screen layout before the application
// object exists. Each screen is "x,y,width,height".
inline void useOffscreenScreens(const QList<QByteArray> &screens)
{
    QByteArray json = "{\"screens\":[";
    for (int i = 0; i < screens.size(); ++i) {
        const QList<QByteArray> v = screens.at(i).split(',');
        json += (i ? "," : "") + QByteArray("{\"name\":\"S") + QByteArray::number(i) +
                "\",\"x\":" + v[0] + ",\"y\":" + v[1] + ",\"width\":" + v[2] +
                ",\"height\":" + v[3] + ",\"logicalDpi\":96,\"logicalBaseDpi\":96,\"dpr\":1}";
    }
    json += "]}";
    const QString path =
        QDir::tempPath() +
        QStringLiteral("/varlo-screens-%1.json").arg(QCoreApplication::applicationPid());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(json);
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(path));
}
