#pragma once

#include "panelhost.h"

#include <QList>
#include <QStringList>
#include <QWidget>

// The application as the placement controller and the panels see it, set up
// by the test: what is shown, and the hide calls made.
struct StubPanelHost : PanelHost
{
    bool panels = false;
    bool settings = false;
    QList<QWidget *> grids;
    QWidget *settingsWidget = nullptr;
    QStringList calls;

    QWidget *gridWindow(int screen) const override { return grids.value(screen); }
    bool panelsVisible() const override { return panels; }
    QWidget *settingsWindow() const override { return settingsWidget; }
    bool settingsVisible() const override { return settings; }
    void hideGrids(bool notify) override { calls << QStringLiteral("hideGrids(%1)").arg(notify); }
    void hideSettings() override { calls << QStringLiteral("hideSettings"); }
};
