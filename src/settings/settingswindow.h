#pragma once

#include <QWidget>

#include <memory>

class AppearanceTab;
class GeneralTab;
class ShortcutsTab;

namespace Ui {
class Settings;
}

// The preferences window: a frameless translucent window with the General,
// Appearance and Shortcuts tabs, a close button and a button back to the
// panels. The tabs keep their own settings; the window passes their requests
// on, shows the appearance previews while that tab is in front and scales
// itself for the display's density.
class SettingsWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsWindow(Qt::WindowFlags flags = {});
    ~SettingsWindow() override;

    GeneralTab *generalTab() const;
    AppearanceTab *appearanceTab() const;
    ShortcutsTab *shortcutsTab() const;

public Q_SLOTS:
    /** Escape while the window is shown: cancels a drag in the shortcut editor, else hides the window. */
    void handleEscape();
    /** Alt released alone while the window is shown: the shortcut editor doubles its grid. */
    void toggleSubdivide();
    /** While a shortcut is edited, the tab bar and the corner buttons go away. */
    void hideTabBar(bool hide);

Q_SIGNALS:
    void showGrids();
    void updateTray();
    void openHelpDocument();
    void aboutClicked();
    /** The window wants to be hidden (Escape, its close button). */
    void hideRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private Q_SLOTS:
    void on_tabWidget_currentChanged(int tab);
    void on_buttonClose_clicked();
    void on_buttonReturn_clicked();

private:
    void adaptToDpi();
    /** The appearance previews while that tab is in front; the window on top. */
    void applyPreviewRule();

    std::unique_ptr<Ui::Settings> ui;
    GeneralTab *m_general = nullptr;
    AppearanceTab *m_appearance = nullptr;
    ShortcutsTab *m_shortcuts = nullptr;
};
