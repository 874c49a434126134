#pragma once

#include "shortcutlist.h"
#include "varlowidgetplugin.h"

class ShortcutListPlugin : public VarloWidgetPlugin
{
    Q_OBJECT

public:
    explicit ShortcutListPlugin(QObject *parent = nullptr)
        : VarloWidgetPlugin(QStringLiteral("ShortcutList"), QStringLiteral("shortcutList"),
                            QStringLiteral("shortcutlist.h"), parent)
    {}

    QWidget *createWidget(QWidget *parent) override { return new ShortcutList(parent); }
};
