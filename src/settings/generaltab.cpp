#include "generaltab.h"

struct GeneralTab::Private
{
};

GeneralTab::GeneralTab(QWidget *parent) : QWidget(parent), d(std::make_unique<Private>())
{
}

GeneralTab::~GeneralTab() = default;
