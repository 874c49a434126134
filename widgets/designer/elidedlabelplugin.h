#pragma once

#include "elidedlabel.h"
#include "varlowidgetplugin.h"

class ElidedLabelPlugin : public VarloWidgetPlugin
{
    Q_OBJECT

public:
    explicit ElidedLabelPlugin(QObject *parent = nullptr)
        : VarloWidgetPlugin(QStringLiteral("ElidedLabel"), QStringLiteral("elidedLabel"),
                            QStringLiteral("elidedlabel.h"), parent)
    {}

    QWidget *createWidget(QWidget *parent) override { return new ElidedLabel(parent); }
};
