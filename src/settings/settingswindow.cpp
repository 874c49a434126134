#include "settingswindow.h"

SettingsWindow::SettingsWindow(Qt::WindowFlags flags) : QWidget(nullptr, flags)
{
    setWindowTitle(QStringLiteral("Varlo"));
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::handleEscape()
{
    // Nothing is edited yet: Escape always hides the window.
    Q_EMIT hideRequested();
}

void SettingsWindow::toggleSubdivide()
{
}
