#include "commonbehavior.h"

#include "cellgrid.h"
#include "desktopareacache.h"
#include "dragframe.h"
#include "panelhost.h"
#include "placementgeometry.h"
#include "platform.h"
#include "settingsstore.h"
#include "shortcutlistitem.h"
#include "updatechecker.h"
#include "updaterwindow.h"
#include "varlolog.h"
#include "windowinfo.h"
#include "windowmover.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTimer>

namespace {
CommonBehavior *g_instance = nullptr;

// The preview covers a whole screen: its window image (shared with the X
// server) takes megabytes, and Qt keeps it while the window is hidden. Out of
// sight the window is given up; the next show makes it again.
class PreviewFrame : public DragFrame
{
public:
    using DragFrame::DragFrame;
    void releaseWindow()
    {
        if (testAttribute(Qt::WA_WState_Created))
            destroy();
    }
};
} // namespace

struct CommonBehavior::Private
{
    PanelHost *host = nullptr;
    DesktopAreaCache *desktopAreaCache = nullptr;
    QTimer *foregroundTimer = nullptr;
    DragFrame *preview = nullptr;
    int previewScreen = -1;
    int cycleScreen = 0;
    // By id only: the model replaces its items at every reload, and a new item
    // may sit where an old one was.
    int lastShortcutId = -1;
    WId lastWindow = 0;
    QSettings settings;
    std::function<const ShortcutListItem *(int)> lookup;
    UpdateChecker *updateChecker = nullptr;
    std::unique_ptr<UpdaterWindow> updaterWindow;
};

Util::MarginMetrics_t CommonBehavior::previewMargins()
{
    return {4.0, 4.0, 3.0, 3.0, 3.0, 3.0};
}

CommonBehavior::CommonBehavior(PanelHost *host)
    : QWidget(nullptr)
    , d(std::make_unique<Private>())
{
    d->host = host;
    d->desktopAreaCache = DesktopAreaCache::instance();

    // The preview: one rounded, half-transparent blue rectangle with a white
    // outline over the target area, never focused, letting every click through.
    // On X11 the attribute alone leaves the window catching the pointer: its
    // input region must be emptied, and it must not be put in a window
    // manager's frame, which would catch the pointer in its place.
    d->preview = new PreviewFrame(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                               | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus
                                               | Qt::BypassWindowManagerHint);
    d->preview->setAttribute(Qt::WA_ShowWithoutActivating);
    d->preview->setAttribute(Qt::WA_TranslucentBackground);
    d->preview->setAttribute(Qt::WA_TransparentForMouseEvents);
    d->preview->setWindowOpacity(0.5);
    d->preview->setDraggable(false);
    d->preview->setFollowMouse(false);
    stylePreviewGrid(d->preview->cellGrid());

    d->foregroundTimer = new QTimer(this);
    d->foregroundTimer->setInterval(500);
    connect(d->foregroundTimer, &QTimer::timeout, this, &CommonBehavior::setForegroundWindowData);
    d->foregroundTimer->start();
    // The window the user switches to is remembered at once, not at the next tick.
    Platform::instance()->setActiveWindowHandler([this] {
        QMetaObject::invokeMethod(this, &CommonBehavior::setForegroundWindowData, Qt::QueuedConnection);
    });

    d->updateChecker = new UpdateChecker(this);
    connect(d->updateChecker, &UpdateChecker::downloadFinished, this,
            &CommonBehavior::updaterDownloadFinished);
    // The offer window is made when there is something to offer: its release
    // notes are fetched then, not at every start.
    connect(d->updateChecker, &UpdateChecker::newVersionAvailable, this, [this](const QString &version) {
        if (!d->updaterWindow) {
            d->updaterWindow = std::make_unique<UpdaterWindow>();
            connect(d->updaterWindow.get(), qOverload<>(&UpdaterWindow::finishedDownload), d->updateChecker,
                    &UpdateChecker::downloadFinished);
        }
        UpdaterWindow *window = d->updaterWindow.get();
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect r = window->frameGeometry();
            r.moveCenter(screen->geometry().center());
            window->move(r.topLeft());
        }
        window->showNewVersion(version);
    });

    g_instance = this;
}

void CommonBehavior::stylePreviewGrid(CellGrid *grid)
{
    grid->setDrawMode(CellGrid::DrawSelectionOnly);
    grid->setBorderColor(QColor(255, 255, 255));
    grid->setSelectedColor(QColor(98, 158, 255));
    grid->setBorderEmptyCells(false);
    grid->setFillEmptyCells(false);
    grid->setBorderWidth(3.0);
    grid->setRadius(8.0);
}

CommonBehavior::~CommonBehavior()
{
    Platform::instance()->setActiveWindowHandler(nullptr);
    d->updaterWindow.reset();
    delete d->updateChecker;
    delete d->preview;
    if (g_instance == this)
        g_instance = nullptr;
}

CommonBehavior *CommonBehavior::instance()
{
    return g_instance;
}

PanelHost *CommonBehavior::host() const
{
    return d->host;
}

DragFrame *CommonBehavior::preview() const
{
    return d->preview;
}

UpdateChecker *CommonBehavior::updateChecker() const
{
    return d->updateChecker;
}

void CommonBehavior::setShortcutLookup(std::function<const ShortcutListItem *(int)> lookup)
{
    d->lookup = std::move(lookup);
}

int CommonBehavior::cycleScreen() const
{
    return d->cycleScreen;
}

void CommonBehavior::hidePreview()
{
    if (d->preview->isHidden())
        return;
    d->preview->hide();
    static_cast<PreviewFrame *>(d->preview)->releaseWindow();
}

void CommonBehavior::movePreview(int screen, QSize dim, QRect selection)
{
    if (!SettingsStore::readBool(d->settings, QStringLiteral("show_preview")))
        return;
    const QRect area = d->desktopAreaCache->availableGeometry(screen);
    if (area.isEmpty() || selection.x() < 0 || selection.y() < 0 || selection.isEmpty()) {
        // The screen went away while the request was on its way, or the
        // pointer is over no cell: a preview of nothing is not shown at all.
        hidePreview();
        return;
    }
    d->preview->show();
    // Set only when the screen changes, or when its area did (a screen
    // unplugged and another taking its index).
    if (screen != d->previewScreen || d->preview->geometry() != area) {
        d->preview->setGeometry(area);
        d->previewScreen = screen;
    }
    const Util::MarginMetrics_t margins = SettingsStore::readBool(d->settings, QStringLiteral("margins/enabled"))
                                              ? readMarginMetrics(d->settings)
                                              : previewMargins();
    d->preview->cellGrid()->setMarginMetrics(margins);
    d->preview->setDimensions(dim);
    d->preview->setSelection(selection);

    QWidget *reference = nullptr;
    if (d->host && d->host->panelsVisible())
        reference = d->host->gridWindow(screen);
    else if (d->host && d->host->settingsVisible())
        reference = d->host->settingsWindow();
    if (!reference || !reference->windowHandle())
        return;
    // Over the other programs' windows, under the panel the user drags on.
    Platform::instance()->stackBelow(d->preview->winId(), reference->winId());
}

void CommonBehavior::moveWindow(int screen, QSize dim, QRect selection)
{
    hidePreview();
    const QRect area = d->desktopAreaCache->availableGeometry(screen);
    if (area.isEmpty()) {
        vWarning() << "Placement ignored: screen" << screen << "is gone.";
        return;
    }
    const PlacementDecision decision = decidePlacement(d->settings, area, dim, selection);
    if (!decision.valid)
        return;

    float scale = 1.0f;
    if (decision.adjustChrome) {
        QWidget *panel = d->host ? d->host->gridWindow(screen) : nullptr;
        if (panel)
            scale = windowScaleFactor(panel->winId());
        else
            vDebug() << "Couldn't get scale from grid window:" << screen;
    }
    const WId window = foregroundWindow();
    if (!window) {
        vDebug() << "Nothing placed on screen" << screen << ": no window of another program to place.";
        return;
    }
    vDebug() << "Placing on screen" << screen << ":" << dim << selection << "->" << decision.rect
             << (decision.maximize ? "maximised" : "");
    applyWindowRect(decision.rect, scale, decision.maximize, decision.adjustChrome, window);
}

void CommonBehavior::setForegroundWindowData()
{
    const WindowInfo info = foregroundWindowInfo();
    Q_EMIT foregroundWindowChanged(info.name, info.icon);
}

void CommonBehavior::forceUpdateCheck()
{
    updateCheck(true);
}

void CommonBehavior::setUpdateCheck(bool enabled)
{
    d->updateChecker->setAutoCheck(enabled);
}

void CommonBehavior::updateCheck(bool msg)
{
    d->updateChecker->checkForNewVersion(msg);
}

void CommonBehavior::updateCheck()
{
    updateCheck(false);
}

void CommonBehavior::shortcutActivated(int id)
{
    const ShortcutListItem *item = d->lookup ? d->lookup(id) : nullptr;
    if (!item)
        return;
    const bool panels = d->host && d->host->panelsVisible();
    const bool settings = d->host && d->host->settingsVisible();
    // A non-global shortcut acts only while the panels are shown, and none
    // while the settings are edited.
    if (!panels && (!item->isGlobal() || settings))
        return;
    placeByShortcut(item);
    if (!SettingsStore::readBool(d->settings, QStringLiteral("keep_open")) && d->host)
        d->host->hideGrids(false);
}

void CommonBehavior::placeByShortcut(const ShortcutListItem *item)
{
    if (!item)
        return;
    const WId window = foregroundWindow();
    const bool cycling = SettingsStore::readBool(d->settings, QStringLiteral("cycle_screens"))
                         && item->id() == d->lastShortcutId && window == d->lastWindow;
    if (cycling) {
        const int count = qMax(1, d->desktopAreaCache->screenCount());
        d->cycleScreen = (d->cycleScreen + 1) % count;
    } else {
        d->lastShortcutId = item->id();
        d->lastWindow = window;
        d->cycleScreen = screenAtCursor();
        if (!SettingsStore::readBool(d->settings, QStringLiteral("follows_mouse")) && window) {
            const QRect outer = WindowChrome::outerFrame(Platform::instance()->windowGeometry(window));
            if (outer.isValid())
                d->cycleScreen = screenForRect(outer.left(), outer.top(), outer.right() + 1, outer.bottom() + 1);
        }
    }
    moveWindow(d->cycleScreen, item->gridSize(), item->selection());
}

void CommonBehavior::updaterDownloadFinished()
{
    if (!d->host)
        return;
    d->host->hideGrids(false);
    d->host->hideSettings();
}
