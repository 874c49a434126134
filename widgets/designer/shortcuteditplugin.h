#pragma once

#include "shortcutedit.h"
#include "varlowidgetplugin.h"

class ShortcutEditPlugin : public VarloWidgetPlugin
{
    Q_OBJECT

public:
    explicit ShortcutEditPlugin(QObject *parent = nullptr)
        : VarloWidgetPlugin(QStringLiteral("ShortcutEdit"), QStringLiteral("shortcutEdit"),
                            QStringLiteral("shortcutedit.h"), parent)
    {}

    QWidget *createWidget(QWidget *parent) override { return new ShortcutEdit(parent); }
};
