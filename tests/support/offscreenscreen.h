#pragma once

#include <QFile>
#include <QString>
#include <QTemporaryDir>

/** The density a test run is for: VARLO_TEST_DPI, 96 when unset. */
inline int testDpi()
{
    const QByteArray dpi = qgetenv("VARLO_TEST_DPI");
    return dpi.isEmpty() ? 96 : dpi.toInt();
}

// Before the QApplication: one offscreen screen of the given logical DPI,
// described in a file in dir. Sizes are scaled by the program itself, so
// Qt's own scaling stays off.
inline bool useOffscreenScreen(const QTemporaryDir &dir, int dpi)
{
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    const QString config = dir.filePath(QStringLiteral("screen.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QStringLiteral("{\"screens\":[{\"name\":\"S0\",\"x\":0,\"y\":0,\"width\":1920,"
                              "\"height\":1080,\"logicalDpi\":%1,\"logicalBaseDpi\":96,\"dpr\":1}]}")
                   .arg(dpi)
                   .toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
    return true;
}
