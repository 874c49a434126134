#include "settingswindow.h"
#include "ui_settingswindow.h"

#include "appearancetab.h"
#include "commonbehavior.h"
#include "dpimetrics.h"
#include "generaltab.h"
#include "shortcutstab.h"

#include <QFile>
#include <QTabBar>

namespace {

QString styleSheetText()
{
    QFile file(QStringLiteral(":/styles/settings.qss"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// rect scaled by the display's density, with its top-left corner kept.
QRect scaled(const QRect &rect)
{
    return QRect(rect.topLeft(), QSize(DpiMetrics::scaleX(rect.width()), DpiMetrics::scaleY(rect.height())));
}

} // namespace

SettingsWindow::SettingsWindow(Qt::WindowFlags flags) : QWidget(nullptr, flags), ui(std::make_unique<Ui::Settings>())
{
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::StrongFocus);
    ui->setupUi(this);
    setStyleSheet(styleSheetText());
    // The panels' window title, so that the desktop's window lists name it.
    setWindowTitle(QStringLiteral("Varlo"));

    m_general = new GeneralTab(this);
    m_appearance = new AppearanceTab(this);
    m_shortcuts = new ShortcutsTab(this);
    ui->tabWidget->addTab(m_general, QStringLiteral("General"));
    ui->tabWidget->addTab(m_appearance, QStringLiteral("Appearance"));
    ui->tabWidget->addTab(m_shortcuts, QStringLiteral("Shortcuts"));
    // With the tabs in place: widgets polished before the density's rules
    // were added keep the sizes of the 96 DPI rules.
    adaptToDpi();

    connect(m_general, &GeneralTab::updateTray, this, &SettingsWindow::updateTray);
    connect(m_general, &GeneralTab::openHelpDocument, this, &SettingsWindow::openHelpDocument);
    connect(m_general, &GeneralTab::aboutClicked, this, &SettingsWindow::aboutClicked);
    connect(m_shortcuts, &ShortcutsTab::editing, this, &SettingsWindow::hideTabBar);
    if (CommonBehavior *controller = CommonBehavior::instance())
        connect(m_shortcuts, &ShortcutsTab::requestPreviewMove, controller, &CommonBehavior::movePreview);
}

SettingsWindow::~SettingsWindow() = default;

GeneralTab *SettingsWindow::generalTab() const
{
    return m_general;
}

AppearanceTab *SettingsWindow::appearanceTab() const
{
    return m_appearance;
}

ShortcutsTab *SettingsWindow::shortcutsTab() const
{
    return m_shortcuts;
}

void SettingsWindow::adaptToDpi()
{
    const int artwork = DpiMetrics::artworkDpi();
    if (artwork == 96)
        return;
    const int border = DpiMetrics::frameBorder();
    const int indicator = artwork == 120 ? 18 : artwork == 144 ? 21 : 28;
    // Appended, so that they override the sheet's rules for 96 DPI.
    setStyleSheet(styleSheet()
                  + QStringLiteral("\nQWidget#container { border-image: url(:/images/frame_%1.png) %2 %2 %2 %2; "
                                   "border: %2px transparent; }")
                        .arg(artwork)
                        .arg(border)
                  + QStringLiteral("\nQCheckBox::indicator { width: %2px; height: %2px; } "
                                   "QCheckBox::indicator:unchecked, QCheckBox::indicator:checked:pressed "
                                   "{ image: url(:/images/checkbox_%1.png); } "
                                   "QCheckBox::indicator:unchecked:pressed, QCheckBox::indicator:checked "
                                   "{ image: url(:/images/checkbox_checked_%1.png); }")
                        .arg(artwork)
                        .arg(indicator));
    const QSize icons(DpiMetrics::buttonIconSize(), DpiMetrics::buttonIconSize());
    ui->buttonClose->setIcon(QIcon(QStringLiteral(":/images/close_%1.png").arg(artwork)));
    ui->buttonClose->setIconSize(icons);
    ui->buttonReturn->setIcon(QIcon(QStringLiteral(":/images/flip_%1.png").arg(artwork)));
    ui->buttonReturn->setIconSize(icons);

    setGeometry(scaled(QRect(QPoint(0, 0), size())));
    ui->container->setGeometry(scaled(QRect(QPoint(0, 0), ui->container->size())));
    const QRect container = ui->container->geometry();
    // The tabs centred in the frame, their bottom on its bottom.
    QRect tabs = scaled(ui->tabWidget->geometry());
    tabs.moveCenter(container.center());
    tabs.moveBottom(container.bottom());
    ui->tabWidget->setGeometry(tabs);
    QRect close = scaled(ui->buttonClose->geometry());
    close.moveTopLeft(container.topLeft() + QPoint(9, 8));
    ui->buttonClose->setGeometry(close);
    QRect back = scaled(ui->buttonReturn->geometry());
    back.moveTopRight(QPoint(container.right() - 9, container.top() + 8));
    ui->buttonReturn->setGeometry(back);
}

void SettingsWindow::applyPreviewRule()
{
    if (ui->tabWidget->currentWidget() == m_appearance)
        m_appearance->showPreviewScreens();
    else
        m_appearance->clearPreviewScreens();
    raise();
}

void SettingsWindow::hideTabBar(bool hide)
{
    ui->tabWidget->setTabEnabled(0, !hide);
    ui->buttonClose->setVisible(!hide);
    ui->buttonReturn->setVisible(!hide);
    ui->tabWidget->tabBar()->setVisible(!hide);
}

void SettingsWindow::on_tabWidget_currentChanged(int tab)
{
    Q_UNUSED(tab)
    // Tabs are still being added while the window is built.
    if (!m_appearance || !m_shortcuts)
        return;
    applyPreviewRule();
}

void SettingsWindow::on_buttonClose_clicked()
{
    Q_EMIT hideRequested();
}

void SettingsWindow::on_buttonReturn_clicked()
{
    m_shortcuts->showList();
    Q_EMIT showGrids();
}

void SettingsWindow::handleEscape()
{
    if (ui->tabWidget->currentWidget() == m_shortcuts && m_shortcuts->isEditing()) {
        m_shortcuts->cancelDrag();
        return;
    }
    Q_EMIT hideRequested();
}

void SettingsWindow::toggleSubdivide()
{
    m_shortcuts->toggleSubdivide();
}

void SettingsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    applyPreviewRule();
}

void SettingsWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_appearance->clearPreviewScreens();
}
