#include "generaltab.h"
#include "ui_generaltab.h"

#include "autostart.h"
#include "commonbehavior.h"
#include "globalshortcut.h"
#include "keydisplaytext.h"
#include "ontopmessagebox.h"
#include "settingsstore.h"
#include "shortcutlistitem.h"
#include "shortcutmanager.h"
#include "shortcutmodel.h"
#include "varlolog.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QSettings>

namespace {

const QString kAutoStart = QStringLiteral("auto_start");
const QString kShowTray = QStringLiteral("show_tray");
const QString kKeepOpen = QStringLiteral("keep_open");
const QString kCycle = QStringLiteral("cycle_screens");
const QString kUseHotkey = QStringLiteral("use_hotkey");
const QString kHotkey = QStringLiteral("hotkey");
const QString kAutoCheck = QStringLiteral("update/auto_check");
const QString kNoUpdate = QStringLiteral("NoUpdate");

// A text Qt cannot read gives a key it calls unknown, not an empty sequence.
bool readable(const QKeySequence &seq)
{
    for (int i = 0; i < seq.count(); ++i) {
        if (seq[i].key() == Qt::Key_unknown)
            return false;
    }
    return true;
}

// A global grab of a key without a modifier takes that key away from every
// program; the function keys are the exception, as for named shortcuts.
bool usableGlobally(const QKeySequence &seq)
{
    const QKeyCombination first = seq[0];
    return first.keyboardModifiers() &
               (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier) ||
           (first.key() >= Qt::Key_F1 && first.key() <= Qt::Key_F35);
}

void showRefusal(const QKeySequence &seq, const QString &reason)
{
    OnTopMessageBox::refuseKeyCombination(VarloWidgets::displayText(seq.toString(QKeySequence::NativeText)),
                                          reason);
}

} // namespace

struct GeneralTab::Private
{
    Ui::GeneralTab ui;
    ShortcutManager *shortcutManager = nullptr;
    CommonBehavior *commonBehavior = nullptr;
    QSettings settings;
    // The panel hot key in use: what a refused combination gives way to.
    QKeySequence hotKey;
    // Set while the stored values are loaded, which fires the handlers: no
    // message boxes then, the program may be starting at login.
    bool loading = true;
    // Set while the recorder is put back after a refusal.
    bool restoring = false;

    /** Why seq cannot call the panels, before it is registered; empty when it can. */
    QString conflict(const QKeySequence &seq) const
    {
        if (seq.isEmpty())
            return QString();
        if (!usableGlobally(seq))
            return QStringLiteral(
                "you must use at least one modifier when assigning a global shortcut.");
        if (GlobalShortcut::nativeKeycode(int(seq[0].key())) == 0)
            return QStringLiteral("this key cannot be used for a global shortcut.");
        const ShortcutListItem *named =
            shortcutManager->model()->findByShortcut(QKeySequence(seq[0]));
        if (named && named->isEnabled())
            return QStringLiteral("the shortcut \"%1\" already uses it.").arg(named->name());
        return QString();
    }

    /** Whether seq, handed to the manager, should be live and is not: another program holds it. */
    bool refusedByDesktop(const QKeySequence &seq) const
    {
        return SettingsStore::readBool(settings, kUseHotkey) && !seq.isEmpty() &&
               !shortcutManager->gridWindowShortcut()->isRegistered();
    }

    void restoreRecorder()
    {
        restoring = true;
        if (hotKey.isEmpty())
            ui.gridwindowShortcut->clear();
        else
            ui.gridwindowShortcut->setShortcut(hotKey);
        restoring = false;
    }
};

GeneralTab::GeneralTab(QWidget *parent) : QWidget(parent), d(std::make_unique<Private>())
{
    d->shortcutManager = ShortcutManager::instance();
    d->commonBehavior = CommonBehavior::instance();
    d->ui.setupUi(this);
    ShortcutEdit *recorder = d->ui.gridwindowShortcut;
    recorder->setAutoHideIcon(true);

    connect(recorder, &ShortcutEdit::shortcutChanged, this, &GeneralTab::gridWindowShortcutChanged);
    // After the recorder's own handling of its clear button, which reports nothing.
    if (auto *clearButton = recorder->findChild<QAbstractButton *>())
        connect(clearButton, &QAbstractButton::clicked, this, &GeneralTab::hotKeyCleared);
    connect(d->ui.checkUseHotkey, &QCheckBox::toggled, d->shortcutManager,
            &ShortcutManager::setGridWindowShortcutEnabled);
    // After the manager, which has registered the hot key (or failed to) by then.
    connect(d->ui.checkUseHotkey, &QCheckBox::toggled, this, &GeneralTab::hotKeySwitched);
    connect(this, &GeneralTab::setGridWindowShortcut, d->shortcutManager,
            &ShortcutManager::setGridWindowShortcut);
    if (d->commonBehavior)
        connect(d->ui.buttonUpdateCheck, &QPushButton::clicked, d->commonBehavior,
                &CommonBehavior::forceUpdateCheck);
    connect(d->ui.buttonQuit, &QPushButton::clicked, qApp, &QCoreApplication::quit);

    // The login entry follows the setting at every start, also when the
    // program has moved since it was written: applied once, whatever the box did.
    const bool autoStart = SettingsStore::readBool(d->settings, kAutoStart);
    {
        const QSignalBlocker blocker(d->ui.checkAutoStart);
        d->ui.checkAutoStart->setChecked(autoStart);
    }
    on_checkAutoStart_toggled(autoStart);

    d->ui.checkShowTray->setChecked(SettingsStore::readBool(d->settings, kShowTray));
    d->ui.checkKeepOpen->setChecked(SettingsStore::readBool(d->settings, kKeepOpen));
    d->ui.checkCycle->setChecked(SettingsStore::readBool(d->settings, kCycle));

    recorder->setText(
        d->shortcutManager->gridWindowShortcut()->shortcut().toString(QKeySequence::NativeText));
    d->ui.checkUseHotkey->setChecked(SettingsStore::readBool(d->settings, kUseHotkey));
    const QString storedHotKey = SettingsStore::readString(d->settings, kHotkey);
    const QKeySequence hotKey(storedHotKey, QKeySequence::PortableText);
    if (readable(hotKey))
        recorder->setShortcut(hotKey);
    else
        vWarning() << "The panel hot key" << storedHotKey
                   << "in the settings is no key combination; it is left as it is.";

    if (SettingsStore::readBool(d->settings, kNoUpdate)) {
        for (QWidget *w : {static_cast<QWidget *>(d->ui.checkAutoUpdate),
                           static_cast<QWidget *>(d->ui.buttonUpdateCheck)}) {
            w->setEnabled(false);
            w->hide();
        }
    } else {
        // Nothing else starts the automatic checks.
        d->ui.checkAutoUpdate->setChecked(SettingsStore::readBool(d->settings, kAutoCheck));
    }
    d->loading = false;
}

GeneralTab::~GeneralTab() = default;

void GeneralTab::on_checkAutoStart_toggled(bool on)
{
    d->settings.setValue(kAutoStart, on);
    // A failure is logged; the box stays as the user set it.
    if (on)
        AutoStart::install();
    else
        AutoStart::remove();
}

void GeneralTab::on_checkShowTray_toggled(bool on)
{
    d->settings.setValue(kShowTray, on);
    if (!on) {
        OnTopMessageBox box;
        box.setWindowTitle(QStringLiteral("Remember!"));
        box.setText(QStringLiteral(
            "To access the Varlo panel, you will need to use your global shortcut or "
            "relaunch Varlo from the start menu."));
        box.exec();
    }
    Q_EMIT updateTray();
}

void GeneralTab::on_checkKeepOpen_toggled(bool on)
{
    d->settings.setValue(kKeepOpen, on);
}

void GeneralTab::on_checkCycle_toggled(bool on)
{
    d->settings.setValue(kCycle, on);
}

void GeneralTab::on_checkAutoUpdate_toggled(bool on)
{
    d->settings.setValue(kAutoCheck, on);
    if (d->commonBehavior)
        d->commonBehavior->setUpdateCheck(on);
}

void GeneralTab::on_buttonAbout_clicked()
{
    Q_EMIT aboutClicked();
}

void GeneralTab::on_buttonHelp_clicked()
{
    Q_EMIT openHelpDocument();
}

void GeneralTab::gridWindowShortcutChanged(const QKeySequence &seq)
{
    if (d->restoring)
        return;
    // A combination that cannot call the panels is refused before the one in
    // use is let go, so the user keeps a way to call them.
    if (!d->loading) {
        const QString reason = d->conflict(seq);
        if (!reason.isEmpty()) {
            showRefusal(seq, reason);
            d->restoreRecorder();
            return;
        }
    }
    d->settings.setValue(kHotkey, seq.toString(QKeySequence::PortableText));
    Q_EMIT setGridWindowShortcut(seq);
    if (!d->loading && d->refusedByDesktop(seq)) {
        showRefusal(seq, QStringLiteral("another program uses it."));
        d->settings.setValue(kHotkey, d->hotKey.toString(QKeySequence::PortableText));
        Q_EMIT setGridWindowShortcut(d->hotKey);
        d->restoreRecorder();
    } else {
        d->hotKey = seq;
    }
    Q_EMIT updateTray();
}

void GeneralTab::hotKeySwitched(bool on)
{
    if (d->loading)
        return;
    if (on) {
        QString reason = d->conflict(d->hotKey);
        if (reason.isEmpty() && d->refusedByDesktop(d->hotKey))
            reason = QStringLiteral("another program uses it.");
        if (!reason.isEmpty()) {
            showRefusal(d->hotKey, reason);
            // Fires this slot again, with the box off.
            d->ui.checkUseHotkey->setChecked(false);
            return;
        }
    }
    // The tray's tool tip names the hot key only while it is live.
    Q_EMIT updateTray();
}

void GeneralTab::hotKeyCleared()
{
    // The clear button empties the recorder without a report; the hot key goes with it.
    if (!d->hotKey.isEmpty())
        gridWindowShortcutChanged(QKeySequence());
}
