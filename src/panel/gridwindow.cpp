#include "gridwindow.h"
#include "ui_gridwindow.h"

#include "cellgrid.h"
#include "commonbehavior.h"
#include "desktopareacache.h"
#include "dpimetrics.h"
#include "dragframe.h"
#include "keyboardhook.h"
#include "marginmetrics.h"
#include "panelhost.h"
#include "platform.h"
#include "settingsstore.h"
#include "varlolog.h"

#include <QEnterEvent>
#include <QPropertyAnimation>
#include <QSettings>

namespace {

const QSize fallbackGridSize(6, 6);

bool usableGridSize(QSize size)
{
    return size.width() >= 1 && size.height() >= 1 && size.width() <= CellGrid::maximumDimension &&
           size.height() <= CellGrid::maximumDimension;
}

void noteUnusableSize(const QString &key, QSize size)
{
    if (!VarloLog::firstTime(QStringLiteral("unusable grid size ") + key))
        return;
    vWarning() << "Setting" << key << "holds the grid size" << size.width() << "x" << size.height()
               << "which no grid can show - using 6 x 6.";
}

} // namespace

struct GridWindow::Private
{
    DesktopAreaCache *desktopAreaCache = nullptr;
    CommonBehavior *controller = nullptr;
    QSettings settings;
    int screen = -1;
};

GridWindow::GridWindow(CommonBehavior *controller)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      ui(std::make_unique<Ui::GridWindow>()), d(std::make_unique<Private>())
{
    d->desktopAreaCache = DesktopAreaCache::instance();
    d->controller = controller;

    setAttribute(Qt::WA_AlwaysShowToolTips);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowOpacity(dimmedOpacity);

    ui->setupUi(this);
    // What task lists and window switchers show for the panel.
    setWindowTitle(QStringLiteral("Varlo"));
    adaptToDpi();

    DragFrame *frame = ui->dragFrame;
    connect(frame, &DragFrame::resizeWindow, this, &GridWindow::resizeWindow);
    connect(frame, &DragFrame::selectionChanged, this, &GridWindow::selectionChanged);
    connect(frame, &DragFrame::addRowShortcut, this, &GridWindow::addRowShortcut);
    connect(frame, &DragFrame::addColShortcut, this, &GridWindow::addColShortcut);
    connect(frame, &DragFrame::subRowShortcut, this, &GridWindow::subRowShortcut);
    connect(frame, &DragFrame::subColShortcut, this, &GridWindow::subColShortcut);
    if (controller) {
        connect(this, &GridWindow::requestWindowMove, controller, &CommonBehavior::moveWindow);
        connect(this, &GridWindow::requestPreviewMove, controller, &CommonBehavior::movePreview);
        connect(controller, &CommonBehavior::foregroundWindowChanged, this,
                &GridWindow::updateForegroundWindowData);
    }
}

GridWindow::~GridWindow() = default;

void GridWindow::adaptToDpi()
{
    CellGrid *grid = ui->dragFrame->cellGrid();
    const int dpi = DpiMetrics::dpiX();
    double margin = 3.0;
    if (dpi > 96) {
        const int artwork = DpiMetrics::artworkDpi();
        // Appended, so that it overrides the form's rule for 96 DPI.
        setStyleSheet(styleSheet() +
                      QStringLiteral("\nQWidget#container { border-image: "
                                     "url(:/images/frame_%1.png) %2 %2 %2 %2; border: %2px "
                                     "transparent; }")
                          .arg(artwork)
                          .arg(DpiMetrics::frameBorder()));
        const QSize icons(DpiMetrics::buttonIconSize(), DpiMetrics::buttonIconSize());
        ui->buttonClose->setIcon(QIcon(QStringLiteral(":/images/close_%1.png").arg(artwork)));
        ui->buttonClose->setIconSize(icons);
        ui->buttonSettings->setIcon(QIcon(QStringLiteral(":/images/gear_%1.png").arg(artwork)));
        ui->buttonSettings->setIconSize(icons);

        resize(DpiMetrics::scaleX(width()), DpiMetrics::scaleY(height()));

        const double scale = dpi / 96.0;
        grid->setBorderWidth(grid->borderWidth() * scale);
        grid->setRadius(grid->radius() * scale);
        margin = 3.0 * scale;
    }
    grid->setMarginMetrics({margin, margin, margin, margin, margin, margin});
}

bool GridWindow::dragging() const
{
    return ui->dragFrame->dragging();
}

DragFrame *GridWindow::dragFrame() const
{
    return ui->dragFrame;
}

void GridWindow::setScreen(int screen)
{
    d->screen = screen;
}

int GridWindow::desktop() const
{
    // Qt may still place a frameless window at 0,0 after it was moved.
    if (d->screen >= 0)
        return d->screen;
    return d->desktopAreaCache->screenNumber(const_cast<GridWindow *>(this));
}

QSize GridWindow::gridSize(bool noSubdivision, bool forceStored) const
{
    const bool reset = SettingsStore::readBool(d->settings, QStringLiteral("grid/reset"));
    const bool subdivided = SettingsStore::readBool(d->settings, QStringLiteral("grid/subdivided"));
    const QString key =
        (!reset || forceStored) ? QStringLiteral("grid/size") : QStringLiteral("grid/reset_size");
    const QSize size = SettingsStore::readSize(d->settings, key);
    if (!usableGridSize(size))
        noteUnusableSize(key, size);
    return shownGridSize(size, subdivided && !noSubdivision);
}

QSize GridWindow::shownGridSize(QSize stored, bool subdivided)
{
    QSize size = usableGridSize(stored) ? stored : fallbackGridSize;
    if (subdivided) {
        // A large hand-edited size doubled would leave the grid with nothing to draw.
        size = QSize(qMin(size.width() * 2, int(CellGrid::maximumDimension)),
                     qMin(size.height() * 2, int(CellGrid::maximumDimension)));
    }
    return size;
}

void GridWindow::activate()
{
    ui->dragFrame->setDimensions(gridSize(false, false));
    show();
}

void GridWindow::syncSize(QSize size)
{
    ui->dragFrame->setDimensions(size);
}

void GridWindow::center()
{
    const QRect area = d->screen >= 0 ? d->desktopAreaCache->availableGeometry(d->screen)
                                      : d->desktopAreaCache->availableGeometry(this);
    if (area.isEmpty())
        return;
    QRect frame = geometry();
    frame.moveCenter(QPoint((area.left() + area.right()) / 2, (area.top() + area.bottom()) / 2));
    move(frame.topLeft());
}

void GridWindow::resetGrid()
{
    ui->dragFrame->clearSelection();
    ui->dragFrame->resetRubberBand();
}

void GridWindow::loseFocus()
{
    animateOpacity(dimmedOpacity);
}

void GridWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The panel is no window to switch to. Asked at every showing: a window
    // manager forgets it while the panel is hidden.
    Platform::instance()->setSkipTaskbar(winId());
}

void GridWindow::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    Q_EMIT gainedFocus(desktop());
    animateOpacity(1.0);
}

void GridWindow::animateOpacity(double target)
{
    // Starting it stops a fade still running on the property, so the two never fight.
    auto *animation = new QPropertyAnimation(this, QByteArrayLiteral("windowOpacity"), this);
    animation->setDuration(250);
    animation->setStartValue(windowOpacity());
    animation->setEndValue(target);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

// "Row" and "column" name the keys as the user sees them: adding a row widens
// the grid by one column, adding a column makes it one row taller.
void GridWindow::addRowShortcut()
{
    stepStoredSize(QSize(1, 0));
}

void GridWindow::addColShortcut()
{
    stepStoredSize(QSize(0, 1));
}

void GridWindow::subRowShortcut()
{
    stepStoredSize(QSize(-1, 0));
}

void GridWindow::subColShortcut()
{
    stepStoredSize(QSize(0, -1));
}

void GridWindow::stepStoredSize(QSize step)
{
    const QSize size = gridSize(true, true) + step;
    if (size.width() < 1 || size.width() > maximumStepSize || size.height() < 1 ||
        size.height() > maximumStepSize)
        return;
    d->settings.setValue(QStringLiteral("grid/size"), size);
    // The application hands the new size to every panel, this one included.
    Q_EMIT shortcutNewSize(gridSize(false, true));
}

void GridWindow::selectionChanged(QRect selection)
{
    Q_EMIT requestPreviewMove(desktop(), ui->dragFrame->dimensions(), selection);
}

void GridWindow::resizeWindow(QSize dimension, QRect selection)
{
    Q_EMIT requestWindowMove(desktop(), dimension, selection);
    // Shift inverts "keep_open" for this one placement.
    const bool keepOpen = SettingsStore::readBool(d->settings, QStringLiteral("keep_open"));
    if (keepOpen == KeyboardHook::instance()->isShiftDown())
        hidePanels();
}

void GridWindow::updateForegroundWindowData(QString name, QIcon appIcon)
{
    ui->labelAppName->setText(name);
    if (appIcon.isNull()) {
        ui->buttonIcon->hide();
    } else {
        ui->buttonIcon->setIcon(appIcon);
        ui->buttonIcon->show();
    }
}

void GridWindow::on_buttonSettings_clicked()
{
    Q_EMIT showSettingsWindow(desktop());
}

void GridWindow::on_buttonClose_clicked()
{
    hidePanels();
}

void GridWindow::hidePanels()
{
    if (d->controller && d->controller->host())
        d->controller->host()->hideGrids(true);
}
