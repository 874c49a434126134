#pragma once

#include <QKeySequence>
#include <QWidget>

#include <memory>

// The "General" tab: start at login, tray icon, keeping the panel open,
// cycling between screens, the panel hot key and update checking. Every
// change is stored at once. Building it brings the login entry, the panel hot
// key and automatic update checks in line with the stored settings.
class GeneralTab : public QWidget
{
    Q_OBJECT

public:
    explicit GeneralTab(QWidget *parent);
    ~GeneralTab() override;

Q_SIGNALS:
    void openHelpDocument();
    void aboutClicked();
    void updateTray();
    void setGridWindowShortcut(const QKeySequence &seq);

public Q_SLOTS:
    /** Stores a combination the recorder reports and hands it to the shortcut manager. */
    void gridWindowShortcutChanged(const QKeySequence &seq);

private Q_SLOTS:
    void on_checkAutoStart_toggled(bool on);
    void on_checkShowTray_toggled(bool on);
    void on_checkKeepOpen_toggled(bool on);
    void on_checkCycle_toggled(bool on);
    void on_checkAutoUpdate_toggled(bool on);
    void on_buttonAbout_clicked();
    void on_buttonHelp_clicked();
    void hotKeySwitched(bool on);
    void hotKeyCleared();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
