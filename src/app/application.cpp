#include "application.h"

#include "commonbehavior.h"
#include "crashhandler.h"
#include "databaseutil.h"
#include "desktopareacache.h"
#include "globalshortcut.h"
#include "gridwindow.h"
#include "keyboardhook.h"
#include "ontopmessagebox.h"
#include "fontsubstitutes.h"
#include "paths.h"
#include "platform.h"
#include "programicon.h"
#include "settingsstore.h"
#include "about.h"
#include "settingswindow.h"
#include "updaterwindow.h"
#include "shortcutlistitem.h"
#include "shortcutmanager.h"
#include "shortcutmodel.h"
#include "singleinstance.h"
#include "terminationwatcher.h"
#include "varlolog.h"
#include "windowmover.h"
#include "workerthread.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
// The panels, deleted in list order.
struct PanelList : QList<GridWindow *>
{
    PanelList() = default;
    PanelList(const PanelList &) = delete;
    PanelList &operator=(const PanelList &) = delete;
    ~PanelList() { qDeleteAll(*this); }
};

struct HookRelease
{
    void operator()(KeyboardHook *) const { KeyboardHook::destroyInstance(); }
};

struct ManagerRelease
{
    void operator()(ShortcutManager *) const { ShortcutManager::destroyInstance(); }
};
} // namespace

struct Application::Private
{
    // Members are destroyed in reverse order of declaration. Read bottom up,
    // this is the order the program is taken apart in.
    PanelList grids;
    std::unique_ptr<SettingsWindow> settingsWindow;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<KeyboardHook, HookRelease> keyboardHook;
    std::unique_ptr<CrashHandler> crashHandler;
    std::unique_ptr<CommonBehavior> commonBehavior;
    std::unique_ptr<QMenu> trayMenu;
    std::unique_ptr<QSystemTrayIcon> trayIcon;
    std::unique_ptr<ShortcutManager, ManagerRelease> shortcutManager;

    DesktopAreaCache *desktopAreaCache = nullptr;
    QIcon trayIconImage;
    SingleInstance *singleInstance = nullptr;
    TerminationWatcher *terminationWatcher = nullptr;
};

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
    , d(std::make_unique<Private>())
{
    QApplication::setQuitOnLastWindowClosed(false);
    // A logout sends SIGTERM: end the loop as "Quit" does so the clean-up runs.
    d->terminationWatcher = new TerminationWatcher(this);
    connect(d->terminationWatcher, &TerminationWatcher::terminationRequested, this, [] {
        vDebug() << "Termination signal received.";
        QCoreApplication::quit();
    });
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
    return Paths::helpPage();
}

void Application::setSingleInstance(SingleInstance *instance)
{
    d->singleInstance = instance;
    if (instance)
        connect(instance, &SingleInstance::wakeUpRequested, this, &Application::wakeUp);
    // An installer about to replace us must not find us still holding the instance.
    UpdaterWindow::setReleaseInstance([instance] {
        if (instance)
            instance->release();
    });
}

void Application::init()
{
    d->desktopAreaCache = DesktopAreaCache::instance();

    d->settings = std::make_unique<QSettings>();

    QApplication::setWindowIcon(programIcon());
    installFontSubstitutes();
    for (int dpi : {96, 120, 144, 192})
        d->trayIconImage.addFile(QStringLiteral(":/images/varlo_tray_white_%1.png").arg(dpi));

    vDebug() << "Initializing google breakpad crash handler.";
    const QString dumps = crashDumpPath();
    if (!dumps.isEmpty()) {
        d->crashHandler = std::make_unique<CrashHandler>(dumps);
        WorkerThread::setPreparation(&CrashHandler::prepareThread);
    }
    else
        vWarning() << "No private folder for crash reports; crashes will not be reported.";

    {
        DatabaseUtil database;
        if (!database.initialize())
            vWarning() << "Could not initialize database. Shortcuts will not function properly.";
    }
    d->shortcutManager.reset(ShortcutManager::instance());

    vDebug() << "Installing keyboard hook.";
    d->keyboardHook.reset(KeyboardHook::instance());
    if (!d->keyboardHook->install())
        vWarning() << "Could not install keyboard hook. Alt-subdivide will not function properly.";

    d->commonBehavior = std::make_unique<CommonBehavior>(this);
    ShortcutManager *manager = d->shortcutManager.get();
    connect(manager, &ShortcutManager::gridWindowShortcutActivated, this,
            &Application::gridWindowShortcutActivated);
    connect(manager, &ShortcutManager::shortcutActivated, d->commonBehavior.get(),
            &CommonBehavior::shortcutActivated);
    d->commonBehavior->setShortcutLookup(
        [manager](int id) -> const ShortcutListItem * { return manager->model()->itemById(id); });

    const QList<QScreen *> screens = QGuiApplication::screens();
    for (int i = 0; i < screens.size(); ++i)
        vDebug() << "Screen" << i << ":" << screens.at(i)->geometry();
    watchScreens();

    d->settingsWindow = std::make_unique<SettingsWindow>(Qt::Tool | Qt::FramelessWindowHint
                                                         | Qt::WindowStaysOnTopHint);
    // Shown and hidden once, so that its native window exists before it is needed.
    d->settingsWindow->show();
    d->settingsWindow->hide();
    vDebug() << "Use blur-behind: " << isColorizationTranslucent();
    enableBlurBehind(d->settingsWindow.get(), true);

    d->settings->setValue(QStringLiteral("grid/subdivided"), false);

    initializeGrids();

    SettingsWindow *settingsWindow = d->settingsWindow.get();
    connect(settingsWindow, &SettingsWindow::updateTray, this, &Application::updateTray);
    connect(settingsWindow, &SettingsWindow::showGrids, this, &Application::showGrids);
    connect(settingsWindow, &SettingsWindow::openHelpDocument, this,
            qOverload<>(&Application::openHelpDocument));
    connect(settingsWindow, &SettingsWindow::aboutClicked, this, &Application::showAbout);
    connect(settingsWindow, &SettingsWindow::hideRequested, this, &Application::hideSettings);

    // Queued: the keys arrive inside the backend's event handling, and a slot
    // may open a modal window (the help page's message box).
    connect(d->keyboardHook.get(), &KeyboardHook::escape, this, &Application::escapeKey,
            Qt::QueuedConnection);
    connect(d->keyboardHook.get(), &KeyboardHook::help, this, &Application::openHelpF1,
            Qt::QueuedConnection);
    connect(d->keyboardHook.get(), &KeyboardHook::altUp, this, &Application::toggleSubdivide,
            Qt::QueuedConnection);

    buildTray();

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
    };
    for (QScreen *screen : QGuiApplication::screens())
        watchGeometry(screen);
    // A taskbar that comes, goes or moves: the panel is centred on what is left.
    connect(d->desktopAreaCache, &DesktopAreaCache::workAreaChanged, this, [this](int screen) {
        if (GridWindow *grid = d->grids.value(screen))
            grid->center();
    });
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, watchGeometry](QScreen *screen) {
        watchGeometry(screen);
        // Queued: Qt adds the screen to its list after this signal.
        QTimer::singleShot(0, this, &Application::initializeGrids);
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this] {
        // The screens after the gone one have moved up a place already, but
        // the panels keep their numbers until they are rebuilt below: a
        // release they took meanwhile would place the window on the screen
        // that took the number. So they end any drag and take no more
        // clicks. (Not hidden here: Qt takes a hidden window that pointer
        // events still reach for the one the button is held on, and forgets
        // that only when the window is hidden again, not when the rebuild
        // deletes it.)
        for (GridWindow *grid : std::as_const(d->grids)) {
            grid->resetGrid();
            grid->setEnabled(false);
        }
        d->commonBehavior->hidePreview();
        QTimer::singleShot(0, this, &Application::initializeGrids);
    });
}

int Application::run()
{
    const bool background = startsInBackground(QCoreApplication::arguments());
    d->settings->setValue(QStringLiteral("first_launch"), false);
    if (background) {
        d->shortcutManager->applyActivationRule(false, false);
        vDebug() << "Started in the background.";
    } else {
        showGrids();
    }
    // Start-up can process events (showing windows does); a SIGTERM that
    // arrived meanwhile must still end the program.
    if (d->terminationWatcher->requested())
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
    return d->settingsWindow.get();
}

bool Application::settingsVisible() const
{
    return d->settingsWindow && d->settingsWindow->isVisible();
}

QSize Application::effectiveGridSize() const
{
    // The panels' own rule: a stored size no grid can show (damaged, or so
    // large that doubling it would overflow) gives 6 x 6, and doubling stops
    // at the largest grid.
    const QSize stored = SettingsStore::readSize(*d->settings, QStringLiteral("grid/size"));
    return GridWindow::shownGridSize(
        stored, SettingsStore::readBool(*d->settings, QStringLiteral("grid/subdivided")));
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
        auto *grid = new GridWindow(d->commonBehavior.get());
        grid->setScreen(i);
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
    // The window the user chose a moment ago, read now: the notice of the
    // change may still be on its way, and our panel is about to take the focus.
    Platform::instance()->refresh();
    d->commonBehavior->setForegroundWindowData();
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
    // Hidden panels and preview free their pictures, megabytes on large
    // screens; the allocator keeps such pages unless asked to give them back.
    QTimer::singleShot(0, this, [] {
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    });
}

void Application::hideGrids()
{
    hideGrids(false);
}

void Application::displayChanged()
{
    // All named shortcuts off while settings are edited (the editors record
    // any combination), all on with the panels, only the global ones else.
    if (d->shortcutManager)
        d->shortcutManager->applyActivationRule(panelsVisible(), settingsVisible());
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
    QWidget *w = d->settingsWindow.get();
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
        d->settingsWindow->handleEscape();
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
        d->settingsWindow->toggleSubdivide();
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
    if (d->trayIcon)
        d->trayIcon->hide();
    {
        About about;
        about.exec();
    }
    // Shown whatever the setting says; the next updateTray() applies it again.
    if (d->trayIcon)
        d->trayIcon->show();
}

void Application::buildTray()
{
    d->trayIcon = std::make_unique<QSystemTrayIcon>(d->trayIconImage);
    d->trayMenu = std::make_unique<QMenu>();
    connect(d->trayIcon.get(), &QSystemTrayIcon::activated, this, &Application::trayActivated);
    d->trayMenu->addAction(QStringLiteral("Preferences"), this, qOverload<>(&Application::showSettings));
    if (!SettingsStore::readBool(*d->settings, QStringLiteral("NoUpdate")))
        d->trayMenu->addAction(QStringLiteral("Check for updates now"), d->commonBehavior.get(),
                               &CommonBehavior::forceUpdateCheck);
    d->trayMenu->addSeparator();
    d->trayMenu->addAction(QStringLiteral("Help"), this, qOverload<>(&Application::openHelpDocument));
    d->trayMenu->addAction(QStringLiteral("About Varlo"), this, &Application::showAbout);
    d->trayMenu->addAction(QStringLiteral("Quit"), this, &QCoreApplication::quit);
    d->trayIcon->setContextMenu(d->trayMenu.get());
    updateTray();
    // Qt shows the icon once a tray turns up; until then the panels are
    // reached by the hot key and by starting Varlo again.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        vDebug() << "No system tray yet: the icon appears when one starts.";
}

QSystemTrayIcon *Application::trayIcon() const
{
    return d->trayIcon.get();
}

void Application::updateTray()
{
    if (!d->trayIcon)
        return;
    const GlobalShortcut *hotKey = d->shortcutManager ? d->shortcutManager->gridWindowShortcut() : nullptr;
    if (hotKey && hotKey->isRegistered() && !hotKey->shortcut().isEmpty())
        d->trayIcon->setToolTip(QStringLiteral("Varlo (press \"%1\" to activate)")
                                    .arg(hotKey->shortcut().toString(QKeySequence::PortableText)));
    else if (const QString wanted = SettingsStore::readString(*d->settings, QStringLiteral("hotkey"));
             SettingsStore::readBool(*d->settings, QStringLiteral("use_hotkey")) && !wanted.isEmpty())
        // Chosen but refused (another program or a named shortcut holds it):
        // say so, rather than leave the user pressing a key that does nothing.
        d->trayIcon->setToolTip(QStringLiteral("Varlo (\"%1\" is not registered: it is in use)").arg(wanted));
    else
        d->trayIcon->setToolTip(QStringLiteral("Varlo"));
    if (SettingsStore::readBool(*d->settings, QStringLiteral("show_tray")))
        d->trayIcon->show();
    else
        d->trayIcon->hide();
}

void Application::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    // A single click; the menu opens by itself on a right click.
    if (reason != QSystemTrayIcon::Trigger || d->grids.isEmpty())
        return;
    if (panelsVisible())
        hideGrids(false);
    else
        showGrids();
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
