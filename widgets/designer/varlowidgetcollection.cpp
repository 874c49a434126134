#include "varlowidgetcollection.h"

#include "dragframeplugin.h"
#include "elidedlabelplugin.h"
#include "shortcuteditplugin.h"
#include "shortcutlistplugin.h"

VarloWidgetCollection::VarloWidgetCollection(QObject *parent) : QObject(parent)
{
    m_widgets = {new DragFramePlugin(this), new ElidedLabelPlugin(this),
                 new ShortcutEditPlugin(this), new ShortcutListPlugin(this)};
}

QList<QDesignerCustomWidgetInterface *> VarloWidgetCollection::customWidgets() const
{
    return m_widgets;
}
