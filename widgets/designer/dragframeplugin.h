#pragma once

#include "dragframe.h"
#include "varlowidgetplugin.h"

class DragFramePlugin : public VarloWidgetPlugin
{
    Q_OBJECT

public:
    explicit DragFramePlugin(QObject *parent = nullptr)
        : VarloWidgetPlugin(QStringLiteral("DragFrame"), QStringLiteral("dragFrame"),
                            QStringLiteral("dragframe.h"), parent)
    {}

    QWidget *createWidget(QWidget *parent) override { return new DragFrame(parent); }
};
