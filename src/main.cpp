#include "application.h"
#include "eventlog.h"
#include "platform.h"
#include "settingsstore.h"
#include "singleinstance.h"
#include "varlolog.h"

#include <QDir>
#include <QNetworkProxyFactory>
#include <QThread>

#include <cstdio>

int main(int argc, char **argv)
{
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (wayland && !qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    // The lock file records this name, and a later start compares it with the
    // running program's to tell a live lock from one whose pid was reused.
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    SingleInstance instance;
    switch (instance.acquire()) {
    case SingleInstance::Other:
        SingleInstance::wakeRunningInstance(instance.socketPath());
        return 0;
    case SingleInstance::Failed:
        std::fprintf(stderr, "Varlo: cannot use the runtime folder for the single-instance lock\n");
        break;
    case SingleInstance::First:
        break;
    }

    // Only the first start talks to the X server: a crowd of later starts
    // never competes with it for connections.
    QString reason;
    bool reachable = Platform::displayReachable(&reason);
    // A busy server can turn a connection away for a moment.
    for (int attempt = 0; !reachable && attempt < 10 && !qEnvironmentVariableIsEmpty("DISPLAY"); ++attempt) {
        QThread::msleep(100);
        reachable = Platform::displayReachable(&reason);
    }
    if (!reachable) {
        std::fprintf(stderr, "Varlo: %s\n", qPrintable(reason));
        return 1;
    }

    // Varlo scales its own windows by the display's DPI; Qt must not do it again.
    if (qEnvironmentVariableIsEmpty("QT_ENABLE_HIGHDPI_SCALING"))
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");

    auto *app = new Application(argc, argv);
    Platform::closeDisplayProbe();
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));

    openLog(logFilePath());
    if (wayland)
        vDebug() << "Wayland session: only X11 windows can be placed.";

    app->setSingleInstance(&instance);
    instance.listen();

    QCoreApplication::addLibraryPath(QStringLiteral("%1%2%3").arg(
        QCoreApplication::applicationDirPath(), QDir::separator(), QStringLiteral("plugins")));
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    SettingsStore::writeSettingsDefaults();

    app->init();
    const int result = app->run();

    vDebug() << "Cleaning up...";
    closeLog();
    delete app;
    return result;
}
