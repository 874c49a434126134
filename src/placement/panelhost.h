#pragma once

class QWidget;

// What the placement controller and the panels need of the application that
// shows them. The application implements it; tests use a small stand-in.
class PanelHost
{
public:
    virtual ~PanelHost() = default;

    /** The panel of a screen (-1: the primary screen's), or nullptr. */
    virtual QWidget *gridWindow(int screen) const = 0;
    /** Whether the panels are shown (the first panel is visible). */
    virtual bool panelsVisible() const = 0;
    /** The settings window, or nullptr. */
    virtual QWidget *settingsWindow() const = 0;
    /** Whether the settings window is shown. */
    virtual bool settingsVisible() const = 0;

    virtual void hideGrids(bool notify) = 0;
    virtual void hideSettings() = 0;
};
