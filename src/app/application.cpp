#include "application.h"

#include "commonbehavior.h"
#include "crashhandler.h"
#include "desktopareacache.h"
#include "gridwindow.h"
#include "keyboardhook.h"
#include "ontopmessagebox.h"
#include "paths.h"
#include "platform.h"
#include "settingsstore.h"
#include "singleinstance.h"
#include "varlolog.h"
#include "windowmover.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QScreen>
#include <QSettings>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>

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
    QList<GridWindow *> grids;
    QWidget *settingsWindow = nullptr;
    DesktopAreaCache *desktopAreaCache = nullptr;
    CommonBehavior *commonBehavior = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    std::unique_ptr<CrashHandler> crashHandler;
    KeyboardHook *keyboardHook = nullptr;
    QSettings *settings = nullptr;

    QIcon trayIconImage;
    SingleInstance *singleInstance = nullptr;
    QSocketNotifier *signalNotifier = nullptr;
    int osMajorVersion = 0;
    bool terminationRequested = false;

    // The order of destruction is part of the design: the placement
    // controller goes before the hook it listens to, the panels last.
    ~Private()
    {
        delete trayIcon;
        trayIcon = nullptr;
        delete commonBehavior;
        commonBehavior = nullptr;
        crashHandler.reset();
        if (keyboardHook)
            KeyboardHook::destroyInstance();
        keyboardHook = nullptr;
        delete settings;
        settings = nullptr;
        delete settingsWindow;
        settingsWindow = nullptr;
        qDeleteAll(grids);
        grids.clear();
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
    if (d->trayIcon)
        d->trayIcon->hide();
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

QUrl Application::helpUrl()
{
    // Installed beside the program's data; the build tree has the same layout.
    const QString page = QCoreApplication::applicationDirPath() + QLatin1String("/../share/varlo/help/index.html");
    return QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath());
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

    vDebug() << "Installing keyboard hook.";
    d->keyboardHook = KeyboardHook::instance();
    if (!d->keyboardHook->install())
        vWarning() << "Could not install keyboard hook. Alt-subdivide will not function properly.";

    d->commonBehavior = new CommonBehavior(this);

    const QList<QScreen *> screens = QGuiApplication::screens();
    for (int i = 0; i < screens.size(); ++i)
        vDebug() << "Screen" << i << ":" << screens.at(i)->geometry();
    watchScreens();

    d->settings->setValue(QStringLiteral("grid/subdivided"), false);

    initializeGrids();

    connect(d->keyboardHook, &KeyboardHook::escape, this, &Application::escapeKey);
    connect(d->keyboardHook, &KeyboardHook::help, this, &Application::openHelpF1);
    connect(d->keyboardHook, &KeyboardHook::altUp, this, &Application::toggleSubdivide);

    updateTray();

    d->commonBehavior->setForegroundWindowData();

    vDebug() << "Finished application initialization.";
}

void Application::watchScreens()
{
    // A screen added or removed rebuilds the panels; a screen that changes
    // size gets its panel centred again.
    auto watchGeometry = [this](QScreen *screen) {
        connect(screen, &QScreen::geometryChanged, this, [this, screen] {
            reCenterGrid(QGuiApplication::screens().indexOf(screen));
        });
        connect(screen, &QScreen::availableGeometryChanged, this, [this, screen] {
            reCenterGrid(QGuiApplication::screens().indexOf(screen));
        });
    };
    for (QScreen *screen : QGuiApplication::screens())
        watchGeometry(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, watchGeometry](QScreen *screen) {
        watchGeometry(screen);
        // Queued: Qt adds the screen to its list after this signal.
        QTimer::singleShot(0, this, &Application::initializeGrids);
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this] {
        d->commonBehavior->hidePreview();
        QTimer::singleShot(0, this, &Application::initializeGrids);
    });
}

int Application::run()
{
    const bool background = startsInBackground(QCoreApplication::arguments());
    d->settings->setValue(QStringLiteral("first_launch"), false);
    if (background)
        vDebug() << "Started in the background.";
    else
        showGrids();
    // Start-up can process events (showing windows does); a SIGTERM that
    // arrived meanwhile must still end the program.
    if (d->terminationRequested)
        return 0;
    return QApplication::exec();
}

QList<GridWindow *> Application::grids() const
{
    return d->grids;
}

QWidget *Application::gridWindow(int screen) const
{
    if (screen == -1)
        screen = d->desktopAreaCache ? d->desktopAreaCache->primaryScreen() : 0;
    return d->grids.value(screen);
}

bool Application::panelsVisible() const
{
    return !d->grids.isEmpty() && d->grids.first()->isVisible();
}

QWidget *Application::settingsWindow() const
{
    return d->settingsWindow;
}

bool Application::settingsVisible() const
{
    return d->settingsWindow && d->settingsWindow->isVisible();
}

QSize Application::effectiveGridSize() const
{
    QSize size = SettingsStore::readSize(*d->settings, QStringLiteral("grid/size"));
    if (SettingsStore::readBool(*d->settings, QStringLiteral("grid/subdivided")))
        size = QSize(size.width() * 2, size.height() * 2);
    return size;
}

void Application::initializeGrids()
{
    for (GridWindow *grid : std::as_const(d->grids)) {
        grid->close();
        delete grid;
    }
    d->grids.clear();
    if (d->commonBehavior)
        d->commonBehavior->hidePreview();

    for (int i = 0; i < d->desktopAreaCache->screenCount(); ++i) {
        auto *grid = new GridWindow(d->commonBehavior);
        d->grids.append(grid);
        grid->move(d->desktopAreaCache->availableGeometry(i).topLeft());
        grid->center();
        connect(grid, &GridWindow::shortcutNewSize, this, &Application::shortcutNewGridSize);
        connect(grid, &GridWindow::showSettingsWindow, this, qOverload<int>(&Application::showSettings));
        connect(grid, &GridWindow::gainedFocus, this, &Application::screenFocusChanged);
        grid->show();
        grid->hide();
        enableBlurBehind(grid->findChild<QWidget *>(QStringLiteral("container")), true);
    }
}

void Application::showGrids()
{
    vDebug() << "Showing the panels.";
    hideSettings();
    if (SettingsStore::readBool(*d->settings, QStringLiteral("grid/reset")))
        d->settings->setValue(QStringLiteral("grid/size"), d->settings->value(QStringLiteral("grid/reset_size")));
    for (GridWindow *grid : std::as_const(d->grids))
        grid->activate();
    if (!d->grids.isEmpty())
        setForegroundWidget(d->grids.first());
    displayChanged();
}

void Application::hideGrids(bool notify)
{
    if (notify && !settingsVisible() && SettingsStore::readBool(*d->settings, QStringLiteral("show_tooltip"))
        && d->trayIcon && d->trayIcon->isVisible()) {
        d->trayIcon->showMessage(QStringLiteral("Where did it go?"),
                                 QStringLiteral("Don't worry! Just click here to bring Varlo up again, whenever you need it."),
                                 QSystemTrayIcon::Information, 10000);
        d->settings->setValue(QStringLiteral("show_tooltip"), false);
    }
    for (GridWindow *grid : std::as_const(d->grids)) {
        grid->resetGrid();
        grid->hide();
    }
    displayChanged();
}

void Application::hideGrids()
{
    hideGrids(false);
}

void Application::displayChanged()
{
    // The shortcut manager joins here: all off while settings are edited, all
    // on with the panels, only the global ones in the background.
    if (!settingsVisible() && panelsVisible())
        return;
    if (d->commonBehavior)
        d->commonBehavior->hidePreview();
}

void Application::hideSettings()
{
    if (d->settingsWindow)
        d->settingsWindow->hide();
    displayChanged();
}

void Application::showSettings(int display)
{
    if (!d->settingsWindow)
        return;
    hideGrids(false);
    if (display == -1)
        display = d->desktopAreaCache->primaryScreen();
    const QRect r = d->desktopAreaCache->availableGeometry(display);
    QWidget *w = d->settingsWindow;
    w->move(r.topLeft());
    const QRect own = w->rect();
    w->move((r.left() + r.right()) / 2 - (own.left() + own.right()) / 2,
            (r.top() + r.bottom()) / 2 - (own.top() + own.bottom()) / 2);
    w->show();
    setForegroundWidget(w);
    displayChanged();
}

void Application::showSettings()
{
    showSettings(-1);
}

void Application::reCenterGrid(int screen)
{
    hideGrids(false);
    hideSettings();
    if (GridWindow *grid = d->grids.value(screen))
        grid->center();
}

void Application::screenFocusChanged(int focus_screen)
{
    for (int i = 0; i < d->grids.size(); ++i) {
        if (i == focus_screen)
            setForegroundWidget(d->grids.at(i));
        else
            d->grids.at(i)->loseFocus();
    }
}

void Application::gridWindowShortcutActivated()
{
    if (panelsVisible())
        hideGrids(false);
    else if (!settingsVisible())
        showGrids();
}

void Application::escapeKey()
{
    if (settingsVisible())
        QMetaObject::invokeMethod(d->settingsWindow, "handleEscape");
    if (!panelsVisible())
        return;
    for (GridWindow *grid : std::as_const(d->grids)) {
        if (grid->dragging()) {
            grid->resetGrid();
            d->commonBehavior->hidePreview();
            return;
        }
    }
    hideGrids(true);
}

void Application::toggleSubdivide()
{
    if (panelsVisible()) {
        const bool subdivided = SettingsStore::readBool(*d->settings, QStringLiteral("grid/subdivided"));
        d->settings->setValue(QStringLiteral("grid/subdivided"), !subdivided);
        const QSize size = effectiveGridSize();
        for (GridWindow *grid : std::as_const(d->grids))
            grid->syncSize(size);
    } else if (settingsVisible()) {
        QMetaObject::invokeMethod(d->settingsWindow, "toggleSubdivide");
    }
}

void Application::shortcutNewGridSize(QSize size)
{
    for (GridWindow *grid : std::as_const(d->grids))
        grid->syncSize(size);
}

void Application::openHelpDocument(bool must_be_visible)
{
    if (must_be_visible && !panelsVisible() && !settingsVisible())
        return;
    const QUrl url = helpUrl();
    if (QDesktopServices::openUrl(url)) {
        hideGrids(false);
        hideSettings();
        return;
    }
    OnTopMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setTextFormat(Qt::RichText);
    box.setText(QStringLiteral("Varlo was unable to open your default web browser.<br/><br/>Please open it "
                               "manually and go to <a href='%1'>%1</a>")
                    .arg(url.toString().toHtmlEscaped()));
    box.exec();
}

void Application::openHelpDocument()
{
    openHelpDocument(false);
}

void Application::openHelpF1()
{
    openHelpDocument(true);
}

void Application::showAbout()
{
    // The About window arrives with the settings window.
}

void Application::updateTray()
{
    // The tray icon arrives with its menu.
}

void Application::wakeUp()
{
    // Numbered, so that the log does not fold a run of wake-ups into one line.
    static int wakeUps = 0;
    vDebug() << QStringLiteral("Woken up by a second start (%1).").arg(++wakeUps);
    if (!panelsVisible())
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
    if (!panelsVisible())
        return;
    if (!SettingsStore::readBool(*d->settings, QStringLiteral("hide_on_deactivate")))
        return;
    if (SettingsStore::readBool(*d->settings, QStringLiteral("keep_open")))
        return;
    if (d->keyboardHook && d->keyboardHook->isShiftDown())
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
    connect(d->signalNotifier, &QSocketNotifier::activated, this, [this] {
        char buf[16];
        while (::read(g_signalFds[1], buf, sizeof(buf)) > 0) {
        }
        vDebug() << "Termination signal received.";
        // quit() does nothing before the loop runs; run() looks at the flag.
        d->terminationRequested = true;
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
