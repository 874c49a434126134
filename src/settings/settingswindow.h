#pragma once

#include <QWidget>

// The preferences window. Its tabs arrive with the settings features; the
// application already drives it through these slots.
class SettingsWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsWindow(Qt::WindowFlags flags = {});
    ~SettingsWindow() override;

public Q_SLOTS:
    /** Escape while the window is shown: cancels what is being edited, else asks to be hidden. */
    void handleEscape();
    /** Alt released alone while the window is shown (the shortcut editor doubles its grid). */
    void toggleSubdivide();

Q_SIGNALS:
    /** The window wants to be hidden (Escape, its close button). */
    void hideRequested();
};
