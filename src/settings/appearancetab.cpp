#include "appearancetab.h"
#include "ui_appearancetab.h"

#include "cellgrid.h"
#include "commonbehavior.h"
#include "desktopareacache.h"
#include "dragframe.h"
#include "marginmetrics.h"
#include "placementgeometry.h"
#include "platform.h"
#include "settingsstore.h"
#include "varlolog.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWindow>

namespace {

const QSize fallbackGridSize(6, 6);

// How often a preview is put back on its work area after the window manager
// moved or resized it, before we stop arguing with the manager.
constexpr int maximumCorrections = 5;

bool usableGridSize(QSize size)
{
    return size.width() >= 1 && size.height() >= 1 && size.width() <= CellGrid::maximumDimension &&
           size.height() <= CellGrid::maximumDimension;
}

} // namespace

struct AppearanceTab::Private
{
    QSettings settings;
    DesktopAreaCache *desktopAreaCache = nullptr;
    // Index = screen. Top-level windows of their own, deleted by us.
    QList<DragFrame *> previews;
    // Per preview: how often it was put back on its area since it was placed there.
    QList<int> corrections;
    bool correctionQueued = false;
};

AppearanceTab::AppearanceTab(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::AppearanceTab>()), d(std::make_unique<Private>())
{
    d->desktopAreaCache = DesktopAreaCache::instance();
    ui->setupUi(this);

    // The spin boxes' slots rewrite grid/size while the form is loaded; the
    // user's current grid is put back at the end.
    const QVariant storedSize = d->settings.value(QStringLiteral("grid/size"));

    ui->checkShowPreview->setChecked(
        SettingsStore::readBool(d->settings, QStringLiteral("show_preview")));

    // A size of the right type is brought within the spin boxes' range (0 x 11
    // shows as 1 x 10); anything else reads as the default grid.
    const QVariant storedResetSize = d->settings.value(QStringLiteral("grid/reset_size"));
    const QSize resetSize =
        storedResetSize.typeId() == QMetaType::QSize
            ? storedResetSize.toSize()
            : SettingsStore::readSize(d->settings, QStringLiteral("grid/reset_size"));
    ui->spinBoxColumns->setValue(resetSize.width());
    ui->spinBoxRows->setValue(resetSize.height());

    // Applied once whether or not the check box changed: that writes both
    // sizes as the spin boxes show them and ends any subdivision.
    const bool reset = SettingsStore::readBool(d->settings, QStringLiteral("grid/reset"));
    {
        const QSignalBlocker blocker(ui->checkUseGridOnActivation);
        ui->checkUseGridOnActivation->setChecked(reset);
    }
    on_checkUseGridOnActivation_toggled(reset);

    const bool margins = SettingsStore::readBool(d->settings, QStringLiteral("margins/enabled"));
    {
        const QSignalBlocker blocker(ui->checkEnableMargins);
        ui->checkEnableMargins->setChecked(margins);
    }
    on_checkEnableMargins_toggled(margins);

    loadMargin(ui->spinBoxMarginWindowWidth, QStringLiteral("margins/cell_width"));
    loadMargin(ui->spinBoxMarginWindowHeight, QStringLiteral("margins/cell_height"));
    loadMargin(ui->spinBoxMarginScreenLeft, QStringLiteral("margins/screen_left"));
    loadMargin(ui->spinBoxMarginScreenRight, QStringLiteral("margins/screen_right"));
    loadMargin(ui->spinBoxMarginScreenTop, QStringLiteral("margins/screen_top"));
    loadMargin(ui->spinBoxMarginScreenBottom, QStringLiteral("margins/screen_bottom"));

    if (storedSize.isValid())
        d->settings.setValue(QStringLiteral("grid/size"), storedSize);
    else
        d->settings.remove(QStringLiteral("grid/size"));

    connect(d->desktopAreaCache, &DesktopAreaCache::workAreaChanged, this,
            &AppearanceTab::workAreaChanged);
    // The cache connected itself first, so it has counted the screens when we rebuild.
    connect(qGuiApp, &QGuiApplication::screenAdded, this, &AppearanceTab::screensChanged);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &AppearanceTab::screensChanged);
}

AppearanceTab::~AppearanceTab()
{
    clearPreviewScreens();
}

QList<DragFrame *> AppearanceTab::previewScreens() const
{
    return d->previews;
}

void AppearanceTab::showPreviewScreens()
{
    // A second call (a repeated show event) would stack a second set of
    // windows over the first and darken the desktop: start afresh.
    clearPreviewScreens();
    for (int screen = 0; screen < d->desktopAreaCache->screenCount(); ++screen) {
        // Click-through on X11 takes more than the widget attribute: the
        // window's input region is emptied (WindowTransparentForInput), and
        // the window manager's frame's once it is there
        // (keepPreviewsOnTheirAreas); it never takes the focus.
        auto *frame = new DragFrame(
            nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                         Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
        frame->setAttribute(Qt::WA_ShowWithoutActivating);
        frame->setAttribute(Qt::WA_TranslucentBackground);
        frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        frame->setWindowOpacity(0.5);
        frame->setWindowTitle(QStringLiteral("Varlo"));
        frame->setGeometry(d->desktopAreaCache->availableGeometry(screen));
        frame->setDraggable(false);
        frame->setFollowMouse(false);

        CellGrid *grid = frame->cellGrid();
        grid->setBorderColor(Qt::white);
        grid->setFillEmptyCells(true);
        // Opaque: the window's opacity makes it translucent.
        grid->setEmptyFillColor(QColor(98, 158, 255));
        grid->setBorderWidth(3.0);
        grid->setRadius(8.0);

        d->previews.append(frame);
        d->corrections.append(0);
        Platform::instance()->setSkipTaskbar(frame->winId());
        frame->windowHandle()->installEventFilter(this);
        frame->show();
    }
    updatePreviews();
}

void AppearanceTab::clearPreviewScreens()
{
    const QList<DragFrame *> previews = d->previews;
    d->previews.clear();
    d->corrections.clear();
    for (DragFrame *frame : previews) {
        frame->close();
        delete frame;
    }
}

bool AppearanceTab::eventFilter(QObject *watched, QEvent *event)
{
    // Every map, move and resize of a preview's native window, whoever caused
    // it: the window manager may have put it elsewhere and has given its frame
    // a full input region again.
    const QEvent::Type type = event->type();
    if ((type == QEvent::Expose || type == QEvent::Move || type == QEvent::Resize) &&
        !d->correctionQueued) {
        for (DragFrame *frame : std::as_const(d->previews)) {
            if (frame->windowHandle() == watched) {
                d->correctionQueued = true;
                QMetaObject::invokeMethod(this, &AppearanceTab::keepPreviewsOnTheirAreas,
                                          Qt::QueuedConnection);
                break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void AppearanceTab::keepPreviewsOnTheirAreas()
{
    d->correctionQueued = false;
    for (int screen = 0; screen < d->previews.size(); ++screen) {
        DragFrame *frame = d->previews.at(screen);
        const QRect area = d->desktopAreaCache->availableGeometry(screen);
        if (!area.isEmpty() && frame->geometry() != area) {
            if (d->corrections.at(screen) < maximumCorrections) {
                frame->setGeometry(area);
            } else if (d->corrections.at(screen) == maximumCorrections) {
                vWarning() << "The window manager keeps the appearance preview of screen" << screen
                           << "at" << frame->geometry() << "instead of" << area;
            }
            ++d->corrections[screen];
        }
        Platform::instance()->setClickThrough(frame->winId());
    }
}

void AppearanceTab::placePreview(int screen)
{
    const QRect area = d->desktopAreaCache->availableGeometry(screen);
    if (area.isEmpty())
        return;
    d->corrections[screen] = 0;
    d->previews.at(screen)->setGeometry(area);
}

void AppearanceTab::workAreaChanged(int screen)
{
    if (screen >= 0 && screen < d->previews.size())
        placePreview(screen);
}

void AppearanceTab::screensChanged()
{
    if (!d->previews.isEmpty())
        showPreviewScreens();
}

QSize AppearanceTab::storedGridSize() const
{
    const QSize size = SettingsStore::readSize(d->settings, QStringLiteral("grid/size"));
    // Absent: the grid the spin boxes show is the only one there is.
    if (size.width() < 1 || size.height() < 1)
        return QSize(ui->spinBoxColumns->value(), ui->spinBoxRows->value());
    return size;
}

void AppearanceTab::updatePreviews()
{
    if (d->previews.isEmpty())
        return;
    const Util::MarginMetrics_t margins =
        SettingsStore::readBool(d->settings, QStringLiteral("margins/enabled"))
            ? readMarginMetrics(d->settings)
            : CommonBehavior::previewMargins();
    const bool reset = SettingsStore::readBool(d->settings, QStringLiteral("grid/reset"));
    QSize grid = SettingsStore::readSize(d->settings, reset ? QStringLiteral("grid/reset_size")
                                                            : QStringLiteral("grid/size"));
    // The grid the panel will show for it.
    if (!usableGridSize(grid))
        grid = fallbackGridSize;
    for (DragFrame *frame : std::as_const(d->previews)) {
        frame->setDimensions(grid);
        frame->cellGrid()->setMarginMetrics(margins);
        frame->update();
    }
}

void AppearanceTab::writeMargin(const QString &key, int value)
{
    d->settings.setValue(key, value);
    updatePreviews();
}

void AppearanceTab::loadMargin(QSpinBox *box, const QString &key)
{
    const int stored = SettingsStore::readInt(d->settings, key);
    const int before = box->value();
    box->setValue(stored);
    // A value outside the range that lands on the number the box already
    // shows fires nothing; store what is shown, or the placement would use a
    // margin the user cannot see (-5 shown as 0).
    if (box->value() != stored && box->value() == before)
        writeMargin(key, box->value());
}

void AppearanceTab::on_checkShowPreview_toggled(bool on)
{
    // Governs the placement preview only; the previews here stay.
    d->settings.setValue(QStringLiteral("show_preview"), on);
}

void AppearanceTab::on_checkEnableMargins_toggled(bool on)
{
    d->settings.setValue(QStringLiteral("margins/enabled"), on);
    for (QSpinBox *box :
         {ui->spinBoxMarginWindowWidth, ui->spinBoxMarginWindowHeight, ui->spinBoxMarginScreenLeft,
          ui->spinBoxMarginScreenRight, ui->spinBoxMarginScreenTop, ui->spinBoxMarginScreenBottom})
        box->setEnabled(on);
    updatePreviews();
}

void AppearanceTab::on_spinBoxMarginScreenLeft_valueChanged(int value)
{
    writeMargin(QStringLiteral("margins/screen_left"), value);
}

void AppearanceTab::on_spinBoxMarginScreenRight_valueChanged(int value)
{
    writeMargin(QStringLiteral("margins/screen_right"), value);
}

void AppearanceTab::on_spinBoxMarginScreenTop_valueChanged(int value)
{
    writeMargin(QStringLiteral("margins/screen_top"), value);
}

void AppearanceTab::on_spinBoxMarginScreenBottom_valueChanged(int value)
{
    writeMargin(QStringLiteral("margins/screen_bottom"), value);
}

void AppearanceTab::on_spinBoxMarginWindowWidth_valueChanged(int value)
{
    writeMargin(QStringLiteral("margins/cell_width"), value);
}

void AppearanceTab::on_spinBoxMarginWindowHeight_valueChanged(int value)
{
    writeMargin(QStringLiteral("margins/cell_height"), value);
}

void AppearanceTab::on_spinBoxColumns_valueChanged(int columns)
{
    d->settings.setValue(QStringLiteral("grid/reset_size"),
                         QSize(columns, ui->spinBoxRows->value()));
    QSize size = storedGridSize();
    size.setWidth(columns);
    d->settings.setValue(QStringLiteral("grid/size"), size);
    updatePreviews();
}

void AppearanceTab::on_spinBoxRows_valueChanged(int rows)
{
    d->settings.setValue(QStringLiteral("grid/reset_size"),
                         QSize(ui->spinBoxColumns->value(), rows));
    QSize size = storedGridSize();
    size.setHeight(rows);
    d->settings.setValue(QStringLiteral("grid/size"), size);
    updatePreviews();
}

void AppearanceTab::on_checkUseGridOnActivation_toggled(bool on)
{
    d->settings.setValue(QStringLiteral("grid/reset"), on);
    ui->spinBoxColumns->setEnabled(on);
    ui->spinBoxRows->setEnabled(on);
    const QSize size(ui->spinBoxColumns->value(), ui->spinBoxRows->value());
    d->settings.setValue(QStringLiteral("grid/reset_size"), size);
    d->settings.setValue(QStringLiteral("grid/size"), size);
    d->settings.setValue(QStringLiteral("grid/subdivided"), false);
    updatePreviews();
}
