#include "varlowidgetplugin.h"

#include <QIcon>

VarloWidgetPlugin::VarloWidgetPlugin(const QString &className, const QString &objectName,
                                     const QString &includeFile, QObject *parent)
    : QObject(parent), m_className(className), m_objectName(objectName), m_includeFile(includeFile)
{}

QString VarloWidgetPlugin::name() const
{
    return m_className;
}
QString VarloWidgetPlugin::group() const
{
    return QStringLiteral("Orrith [Varlo]");
}
QString VarloWidgetPlugin::toolTip() const
{
    return QString();
}
QString VarloWidgetPlugin::whatsThis() const
{
    return QString();
}
QString VarloWidgetPlugin::includeFile() const
{
    return m_includeFile;
}
QIcon VarloWidgetPlugin::icon() const
{
    return QIcon();
}
bool VarloWidgetPlugin::isContainer() const
{
    return false;
}
bool VarloWidgetPlugin::isInitialized() const
{
    return m_initialized;
}

void VarloWidgetPlugin::initialize(QDesignerFormEditorInterface *)
{
    m_initialized = true;
}

QString VarloWidgetPlugin::domXml() const
{
    return QStringLiteral("<ui language=\"c++\">\n"
                          " <widget class=\"%1\" name=\"%2\">\n"
                          "  <property name=\"geometry\">\n"
                          "   <rect>\n"
                          "    <x>0</x>\n"
                          "    <y>0</y>\n"
                          "    <width>100</width>\n"
                          "    <height>100</height>\n"
                          "   </rect>\n"
                          "  </property>\n"
                          " </widget>\n"
                          "</ui>\n")
        .arg(m_className, m_objectName);
}
