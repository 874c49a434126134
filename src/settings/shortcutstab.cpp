#include "shortcutstab.h"
#include "ui_shortcutstab.h"

#include "cellgrid.h"
#include "commonbehavior.h"
#include "desktopareacache.h"
#include "dpimetrics.h"
#include "keydisplaytext.h"
#include "ontopmessagebox.h"
#include "settingsstore.h"
#include "shortcutlistitem.h"
#include "shortcutmanager.h"
#include "shortcutmodel.h"

#include <QRegularExpression>
#include <QSettings>
#include <QShortcut>

namespace {

const QSize fallbackGridSize(6, 6);
// The editor's keys step a grid between 1 and 10 cells a side (twice that subdivided).
constexpr int largestSteppedSide = 10;

bool usableGrid(QSize size)
{
    return size.width() >= 1 && size.height() >= 1 && size.width() <= CellGrid::maximumDimension &&
           size.height() <= CellGrid::maximumDimension;
}

// Whether the selection names cells of a grid of that size. The initial QRect()
// (no selection yet) does not.
bool selectionFits(QSize grid, QRect selection)
{
    return usableGrid(grid) && selection.x() >= 0 && selection.y() >= 0 && selection.width() >= 1 &&
           selection.height() >= 1 && qint64(selection.x()) + selection.width() <= grid.width() &&
           qint64(selection.y()) + selection.height() <= grid.height();
}

} // namespace

struct ShortcutsTab::Private
{
    ShortcutManager *manager = nullptr;
    QSettings settings;
    QRect selection;
    QSize gridSize{-1, -1};
    bool subdivided = false;
    int editingId = -1;
    QShortcut *newShortcutKeys = nullptr;
};

ShortcutsTab::ShortcutsTab(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::ShortcutsTab>()), d(std::make_unique<Private>())
{
    d->manager = ShortcutManager::instance();
    ui->setupUi(this);

    DragFrame *frame = ui->newShortcutDragFrame;
    CellGrid *grid = frame->cellGrid();
    double margin = 3.0;
    if (DpiMetrics::dpiX() != 96 || DpiMetrics::dpiY() != 96) {
        const double factor = DpiMetrics::dpiX() / 96.0;
        grid->setBorderWidth(grid->borderWidth() * factor);
        grid->setRadius(grid->radius() * factor);
        margin *= factor;
    }

    ui->shortcutList->setModel(d->manager->model());

    ui->newShortcutShortcut->setAutoHideIcon(true);
    frame->setFollowMouse(false);
    frame->setResetOnMouseup(false);
    frame->setResetOnMouseLeave(false);
    Util::MarginMetrics_t margins;
    margins.cellWidth = margins.cellHeight = margin;
    margins.screenLeft = margins.screenTop = margins.screenRight = margins.screenBottom = margin;
    grid->setMarginMetrics(margins);

    d->newShortcutKeys = new QShortcut(QKeySequence(QStringLiteral("Ctrl+N")), this);
    d->newShortcutKeys->setContext(Qt::WindowShortcut);
    connect(d->newShortcutKeys, &QShortcut::activated, this,
            &ShortcutsTab::on_buttonNewShortcut_clicked);
    auto *deleteKey = new QShortcut(QKeySequence(QStringLiteral("Delete")), ui->shortcutList);
    deleteKey->setContext(Qt::WidgetShortcut);
    connect(deleteKey, &QShortcut::activated, ui->shortcutList, &ShortcutList::removeSelected);

    connect(ui->newShortcutShortcut, &ShortcutEdit::shortcutChanged, this,
            &ShortcutsTab::newShortcutShortcutChanged);
    connect(ui->newShortcutShortcut, &QLineEdit::textChanged, this,
            &ShortcutsTab::validateNewShortcut);
    connect(frame, &DragFrame::resizeWindow, this, &ShortcutsTab::resizeWindowHandler);
    connect(frame, &DragFrame::selectionChanged, this, &ShortcutsTab::selectionChanged);
    connect(ui->newShortcutName, &QLineEdit::textChanged, this, &ShortcutsTab::validateNewShortcut);
    connect(ui->shortcutList, &QAbstractItemView::doubleClicked, this, &ShortcutsTab::editShortcut);
    connect(ui->shortcutStack, &QStackedWidget::currentChanged, this,
            &ShortcutsTab::stackIndexChanged);
    connect(frame, &DragFrame::addRowShortcut, this, &ShortcutsTab::addRowShortcut);
    connect(frame, &DragFrame::addColShortcut, this, &ShortcutsTab::addColShortcut);
    connect(frame, &DragFrame::subRowShortcut, this, &ShortcutsTab::subRowShortcut);
    connect(frame, &DragFrame::subColShortcut, this, &ShortcutsTab::subColShortcut);

    // Saving or deleting rebuilds the hot keys, which grabs every enabled
    // one again; while this window is shown none may be live.
    connect(d->manager->model(), &QAbstractItemModel::dataChanged, this, [this] {
        if (isVisible())
            d->manager->disableAllShortcuts();
    });

    ui->shortcutStack->setCurrentIndex(0);
}

ShortcutsTab::~ShortcutsTab() = default;

bool ShortcutsTab::isEditing() const
{
    return ui->shortcutStack->currentIndex() == 1;
}

void ShortcutsTab::showList()
{
    leaveEditor();
}

void ShortcutsTab::cancelDrag()
{
    DragFrame *frame = ui->newShortcutDragFrame;
    if (!frame->dragging())
        return;
    frame->clearSelection();
    frame->resetRubberBand();
    hidePreview();
    // What an earlier drag chose is still what Accept saves: keep it in sight.
    if (frame->dimensions() == d->gridSize && selectionFits(d->gridSize, d->selection))
        frame->setSelection(d->selection);
}

void ShortcutsTab::toggleSubdivide()
{
    // The key is passed on whatever the window shows; only the editor's grid doubles.
    if (!isEditing())
        return;
    DragFrame *frame = ui->newShortcutDragFrame;
    const QSize size = frame->dimensions() * (d->subdivided ? 0.5 : 2.0);
    if (!usableGrid(size))
        return;
    d->subdivided = !d->subdivided;
    frame->setDimensions(size);
    QRect selection = d->selection;
    // Halved, a selection made on the doubled grid can lie beyond the last cells;
    // saved so, it would place windows off the screen's grid.
    if (!selection.isNull() && !selectionFits(frame->dimensions(), selection)) {
        selection = QRect();
        frame->clearSelection();
        frame->update();
    }
    updateNewShortcutSelection(frame->dimensions(), selection);
    validateNewShortcut();
}

void ShortcutsTab::addRowShortcut()
{
    stepGridSize(1, 0);
}

void ShortcutsTab::addColShortcut()
{
    stepGridSize(0, 1);
}

void ShortcutsTab::subRowShortcut()
{
    stepGridSize(-1, 0);
}

void ShortcutsTab::subColShortcut()
{
    stepGridSize(0, -1);
}

void ShortcutsTab::stepGridSize(int columns, int rows)
{
    DragFrame *frame = ui->newShortcutDragFrame;
    QSize size = frame->dimensions();
    if (!usableGrid(size))
        return;
    if (d->subdivided)
        size = size * 0.5;
    size += QSize(columns, rows);
    if (size.width() < 1 || size.width() > largestSteppedSide || size.height() < 1 ||
        size.height() > largestSteppedSide)
        return;
    if (d->subdivided)
        size = size * 2;
    // The stored grid and selection stay until the next completed drag.
    frame->setDimensions(size);
}

void ShortcutsTab::resizeWindowHandler(QSize dim, QRect sel)
{
    updateNewShortcutSelection(dim, sel);
    validateNewShortcut();
    hidePreview();
}

void ShortcutsTab::selectionChanged(QRect selection)
{
    const int screen = DesktopAreaCache::instance()->screenNumber(window());
    Q_EMIT requestPreviewMove(screen, ui->newShortcutDragFrame->dimensions(), selection);
}

void ShortcutsTab::stackIndexChanged(int index)
{
    // Ctrl+N on the editor would throw away what is being edited, and could
    // not be recorded.
    d->newShortcutKeys->setEnabled(index == 0);
    Q_EMIT editing(index == 1);
}

void ShortcutsTab::newShortcutShortcutChanged(const QKeySequence &seq)
{
    if (seq.isEmpty())
        return;
    const QString keys = VarloWidgets::displayText(seq.toString(QKeySequence::NativeText));
    const bool global = ui->checkNewShortcutGlobal->isChecked();
    const bool hasModifier = seq[0].keyboardModifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                           Qt::AltModifier | Qt::MetaModifier);
    static const QRegularExpression functionKey(QStringLiteral("^F[1-9][0-9]?$"));
    if (global && !hasModifier && !functionKey.match(keys).hasMatch()) {
        OnTopMessageBox::refuseKeyCombination(
            keys,
            QStringLiteral("you must use at least one modifier when assigning a global shortcut."));
        ui->newShortcutShortcut->clear();
        return;
    }
    // Compared as key combinations, not as text: a hand-edited setting may
    // spell the same keys differently.
    const QKeySequence panelKeys(SettingsStore::readString(d->settings, QStringLiteral("hotkey")),
                                 QKeySequence::PortableText);
    if (panelKeys.isEmpty() || panelKeys[0] != seq[0])
        return;
    OnTopMessageBox::refuseKeyCombination(keys, QStringLiteral("this shortcut is assigned to show/hide the Varlo panel."));
    ui->newShortcutShortcut->clear();
}

void ShortcutsTab::updateNewShortcutSelection(QSize dim, QRect sel)
{
    d->gridSize = dim;
    d->selection = sel;
}

void ShortcutsTab::validateNewShortcut()
{
    ui->buttonShortcutAccept->setEnabled(!ui->newShortcutShortcut->text().isEmpty() &&
                                         selectionFits(d->gridSize, d->selection));
}

void ShortcutsTab::on_buttonNewShortcut_clicked()
{
    d->editingId = -1;
    d->selection = QRect();
    DragFrame *frame = ui->newShortcutDragFrame;
    frame->resetRubberBand();
    frame->clearSelection();
    frame->setDimensions(defaultGridSize());
    ui->newShortcutName->setText(QStringLiteral("Shortcut Name"));
    ui->newShortcutShortcut->clear();
    ui->checkNewShortcutGlobal->setChecked(false);
    ui->checkNewShortcutEnabled->setChecked(true);
    showEditor();
}

void ShortcutsTab::editShortcut(const QModelIndex &index)
{
    const auto *item = static_cast<const ShortcutListItem *>(index.internalPointer());
    if (!index.isValid() || !item)
        return;
    // Copied: a message box below runs events, and items live only until the next reload.
    const QString name = item->name();
    const QKeySequence keys(item->shortcut(), QKeySequence::NativeText);
    const bool global = item->isGlobal();
    const bool enabled = item->isEnabled();
    QSize grid = item->gridSize();
    QRect selection = item->selection();
    bool subdivided = item->isSubdivided();
    // A damaged row: the editor starts from the usual grid, with nothing selected.
    if (!usableGrid(grid)) {
        grid = defaultGridSize();
        subdivided = false;
        selection = QRect();
    } else if (!selectionFits(grid, selection)) {
        selection = QRect();
    }

    d->editingId = item->id();
    ui->newShortcutName->setText(name);
    // Emptied first, so that the boxes below are not checked against the
    // combination of the shortcut edited before.
    ui->newShortcutShortcut->clear();
    DragFrame *frame = ui->newShortcutDragFrame;
    frame->resetRubberBand();
    frame->clearSelection();
    frame->setDimensions(grid);
    frame->setSelection(selection);
    ui->checkNewShortcutGlobal->setChecked(global);
    ui->checkNewShortcutEnabled->setChecked(enabled);
    d->subdivided = subdivided;
    d->selection = selection;
    d->gridSize = grid;
    // Checked against this shortcut's own global box.
    ui->newShortcutShortcut->setShortcut(keys);
    showEditor();
}

void ShortcutsTab::on_buttonShortcutAccept_clicked()
{
    if (ui->newShortcutShortcut->text().isEmpty() || !selectionFits(d->gridSize, d->selection))
        return;
    const QString name = ui->newShortcutName->text();
    const QKeySequence seq(ui->newShortcutShortcut->shortcut().toString(QKeySequence::NativeText),
                           QKeySequence::NativeText);
    const bool global = ui->checkNewShortcutGlobal->isChecked();
    const bool enabled = ui->checkNewShortcutEnabled->isChecked();
    const bool saved =
        d->editingId == -1
            ? d->manager->addShortcut(name, seq, d->gridSize, d->selection, global, enabled,
                                      d->subdivided)
            : d->manager->updateShortcut(d->editingId, name, seq, d->gridSize, d->selection, global,
                                         enabled, d->subdivided);
    // Refused (a duplicate, a database error): the editor stays as it is.
    if (saved)
        leaveEditor();
}

void ShortcutsTab::on_buttonShortcutCancel_clicked()
{
    leaveEditor();
}

void ShortcutsTab::on_checkNewShortcutGlobal_toggled(bool checked)
{
    Q_UNUSED(checked)
    newShortcutShortcutChanged(ui->newShortcutShortcut->shortcut());
    validateNewShortcut();
}

QSize ShortcutsTab::defaultGridSize() const
{
    const bool reset = SettingsStore::readBool(d->settings, QStringLiteral("grid/reset"));
    const QSize size = SettingsStore::readSize(
        d->settings, reset ? QStringLiteral("grid/reset_size") : QStringLiteral("grid/size"));
    // An absent or damaged size would leave the editor without cells to select.
    return usableGrid(size) ? size : fallbackGridSize;
}

void ShortcutsTab::showEditor()
{
    d->manager->disableAllShortcuts();
    validateNewShortcut();
    ui->shortcutStack->setCurrentIndex(1);
}

void ShortcutsTab::leaveEditor()
{
    // The flag belongs to the grid being edited; the next one starts undivided.
    d->subdivided = false;
    ui->shortcutStack->setCurrentIndex(0);
}

void ShortcutsTab::hidePreview()
{
    if (CommonBehavior *controller = CommonBehavior::instance())
        controller->hidePreview();
}
