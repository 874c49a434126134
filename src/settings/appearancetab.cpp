#include "appearancetab.h"

struct AppearanceTab::Private
{
};

AppearanceTab::AppearanceTab(QWidget *parent) : QWidget(parent), d(std::make_unique<Private>())
{
}

AppearanceTab::~AppearanceTab() = default;

void AppearanceTab::showPreviewScreens()
{
}

void AppearanceTab::clearPreviewScreens()
{
}
