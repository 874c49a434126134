#include "application.h"

#include "crashhandler.h"
#include "desktopareacache.h"
#include "paths.h"
#include "platform.h"
#include "settingsstore.h"
#include "singleinstance.h"
#include "varlolog.h"

#include <QDir>
#include <QIcon>
#include <QNetworkProxyFactory>
#include <QScreen>
#include <QSettings>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalFds[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char c = 1;
    const ssize_t ignored = ::write(g_signalFds[0], &c, 1);
    (void)ignored;
}
} // namespace

struct Application::Private
{
    // Deleted in the order below by ~Private (reverse of declaration is not
    // what we want, so the destructor spells it out).
    DesktopAreaCache *desktopAreaCache = nullptr;
    std::unique_ptr<CrashHandler> crashHandler;
    QSettings *settings = nullptr;
    QIcon trayIconImage;
    SingleInstance *singleInstance = nullptr;
    QSocketNotifier *signalNotifier = nullptr;
    int osMajorVersion = 0;

    ~Private()
    {
        crashHandler.reset();
        delete settings;
        settings = nullptr;
    }
};

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
    , d(std::make_unique<Private>())
{
    QApplication::setQuitOnLastWindowClosed(false);
    watchTerminationSignals();
}

Application::~Application()
{
    d.reset();
}

bool Application::startsInBackground(const QStringList &arguments)
{
    return arguments.contains(QStringLiteral("-background"), Qt::CaseSensitive);
}

QString Application::crashDumpPath() const
{
    return Paths::privateTempDir();
}

void Application::setSingleInstance(SingleInstance *instance)
{
    d->singleInstance = instance;
    if (instance)
        connect(instance, &SingleInstance::wakeUpRequested, this, &Application::wakeUp);
}

void Application::init()
{
    d->osMajorVersion = Platform::instance()->osMajorVersion();
    d->desktopAreaCache = DesktopAreaCache::instance();

    d->settings = new QSettings();

    QIcon windowIcon;
    for (const char *name : {":/images/varlo_16.png", ":/images/varlo_20.png",
                             ":/images/varlo_24.png", ":/images/varlo_32.png"})
        windowIcon.addFile(QString::fromLatin1(name));
    QApplication::setWindowIcon(windowIcon);

    const QString traySet = d->osMajorVersion > 5 ? QStringLiteral(":/images/varlo_tray_white_%1.png")
                                                  : QStringLiteral(":/images/varlo_tray_%1.png");
    for (int dpi : {96, 120, 144, 192})
        d->trayIconImage.addFile(traySet.arg(dpi));

    vDebug() << "Initializing google breakpad crash handler.";
    const QString dumps = crashDumpPath();
    if (!dumps.isEmpty())
        d->crashHandler = std::make_unique<CrashHandler>(dumps);
    else
        vWarning() << "No private folder for crash reports; crashes will not be reported.";

    const QList<QScreen *> screens = QGuiApplication::screens();
    for (int i = 0; i < screens.size(); ++i)
        vDebug() << "Screen" << i << ":" << screens.at(i)->geometry();

    d->settings->setValue(QStringLiteral("grid/subdivided"), false);

    vDebug() << "Finished application initialization.";
}

int Application::run()
{
    const bool background = startsInBackground(QCoreApplication::arguments());
    d->settings->setValue(QStringLiteral("first_launch"), false);
    if (background)
        vDebug() << "Started in the background.";
    else
        showGrids();
    return QApplication::exec();
}

bool Application::gridsVisible() const
{
    // The panels arrive with the grid window; until then nothing is shown.
    return false;
}

void Application::showGrids()
{
    vDebug() << "Showing the panels.";
}

void Application::hideGrids(bool notify)
{
    Q_UNUSED(notify)
    vDebug() << "Hiding the panels.";
}

void Application::hideGrids()
{
    hideGrids(false);
}

void Application::wakeUp()
{
    vDebug() << "Woken up by a second start.";
    if (!gridsVisible())
        showGrids();
}

bool Application::event(QEvent *e)
{
    if (e->type() == QEvent::ApplicationDeactivate)
        applicationDeactivated();
    // Everything goes on to QApplication as well, so that quit() and the
    // framework's own events keep working.
    return QApplication::event(e);
}

void Application::applicationDeactivated()
{
    if (!gridsVisible())
        return;
    if (!SettingsStore::readBool(*d->settings, QStringLiteral("hide_on_deactivate")))
        return;
    if (SettingsStore::readBool(*d->settings, QStringLiteral("keep_open")))
        return;
    hideGrids(true);
}

void Application::watchTerminationSignals()
{
    // A logout sends SIGTERM: end the loop as "Quit" does so the clean-up runs.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0)
        return;
    ::fcntl(g_signalFds[0], F_SETFL, O_NONBLOCK);
    d->signalNotifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, this);
    connect(d->signalNotifier, &QSocketNotifier::activated, this, [] {
        char buf[16];
        while (::read(g_signalFds[1], buf, sizeof(buf)) > 0) {
        }
        vDebug() << "Termination signal received.";
        QCoreApplication::quit();
    });
    ::fcntl(g_signalFds[1], F_SETFL, O_NONBLOCK);
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}
