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

namespace {

// Answers --version and --help before anything else: no display, no lock,
// no log. Returns -1 when neither was asked for.
int answerInformationOptions(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--version" || argument == "-v") {
            std::printf("Varlo %s (%d)\n", VARLO_VERSION, VARLO_BUILD_NUMBER);
            return 0;
        }
        if (argument == "--help" || argument == "-h") {
            std::printf("Usage: Varlo [-background]\n"
                        "Places the window in front on a grid of the screen it is on.\n"
                        "\n"
                        "  -background   start in the tray without showing the panels\n"
                        "  --version     print the version and build number, then exit\n"
                        "  --help        print this help, then exit\n"
                        "\n"
                        "Starting Varlo while it runs shows the running one's panels.\n");
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (const int answered = answerInformationOptions(argc, argv); answered >= 0)
        return answered;

    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (wayland && !qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    // The lock file records this name, and a later start compares it with the
    // running program's to tell a live lock from one whose pid was reused.
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    SingleInstance instance;
    switch (instance.acquire()) {
    case SingleInstance::Other: {
        if (SingleInstance::wakeRunningInstance(instance.socketPath()))
            return 0;
        // Exiting quietly here would leave the user with no Varlo and no clue.
        const qint64 holder = instance.lockHolder();
        std::fprintf(stderr,
                     "Varlo: the running Varlo (process %s) does not answer; it may hang - end it "
                     "to start Varlo again\n",
                     holder > 0 ? qPrintable(QString::number(holder)) : "unknown");
        return 1;
    }
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

    QCoreApplication::addLibraryPath(QStringLiteral("%1%2%3").arg(
        QCoreApplication::applicationDirPath(), QDir::separator(), QStringLiteral("plugins")));
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    SettingsStore::writeSettingsDefaults();

    app->init();
    // Wake-ups are taken only now: one that arrived while init() ran a nested
    // event loop would show panels that are half built.
    app->setSingleInstance(&instance);
    instance.listen(); // logs why when it cannot
    const int result = app->run();

    vDebug() << "Cleaning up...";
    closeLog();
    delete app;
    return result;
}
