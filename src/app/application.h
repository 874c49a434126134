#pragma once

#include "panelhost.h"

#include <QApplication>
#include <QSize>
#include <QSystemTrayIcon>
#include <QUrl>

#include <memory>

class GridWindow;
class SingleInstance;

// The program: owns every long-lived object, builds them in a fixed order in
// init(), shows what a start asks for in run(), decides when the panels are
// shown and hidden, and tears everything down in order at the end.
class Application : public QApplication, public PanelHost
{
    Q_OBJECT

public:
    Application(int &argc, char **argv);
    ~Application() override;

    /** The second construction phase, once the names are set and the defaults written. */
    void init();
    /** Shows the panels (or nothing with "-background") and runs the event loop. */
    int run();

    /** Routes the wake-ups of later starts to this application. */
    void setSingleInstance(SingleInstance *instance);

    /** Whether the arguments ask for a start without panels: exactly "-background", anywhere. */
    static bool startsInBackground(const QStringList &arguments);

    /** The folder crash reports are written to. */
    QString crashDumpPath() const;

    /** The help page: the one installed with the program. */
    static QUrl helpUrl();

    /** "grid/size" as the panels show it, doubled when the grid is subdivided. */
    QSize effectiveGridSize() const;

    QList<GridWindow *> grids() const;
    /** The tray icon (its menu is its context menu); null before init(). */
    QSystemTrayIcon *trayIcon() const;

    // PanelHost
    QWidget *gridWindow(int screen) const override;
    bool panelsVisible() const override;
    QWidget *settingsWindow() const override;
    bool settingsVisible() const override;

public Q_SLOTS:
    void updateTray();
    void hideGrids(bool notify) override;
    void hideGrids();
    void showGrids();
    void hideSettings() override;
    void showSettings(int display);
    void showSettings();
    void openHelpDocument(bool must_be_visible);
    void openHelpDocument();
    void showAbout();
    void shortcutNewGridSize(QSize size);

protected Q_SLOTS:
    void initializeGrids();
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void gridWindowShortcutActivated();
    void screenFocusChanged(int focus_screen);
    void reCenterGrid(int screen);
    void escapeKey();
    void openHelpF1();
    void toggleSubdivide();
    void displayChanged();

protected:
    bool event(QEvent *e) override;

private Q_SLOTS:
    void wakeUp();

private:
    void applicationDeactivated();
    void buildTray();
    void watchScreens();

    struct Private;
    std::unique_ptr<Private> d;
};
