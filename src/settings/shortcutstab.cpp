#include "shortcutstab.h"

struct ShortcutsTab::Private
{
};

ShortcutsTab::ShortcutsTab(QWidget *parent) : QWidget(parent), d(std::make_unique<Private>())
{
}

ShortcutsTab::~ShortcutsTab() = default;

bool ShortcutsTab::isEditing() const
{
    return false;
}

void ShortcutsTab::showList()
{
}

void ShortcutsTab::cancelDrag()
{
}

void ShortcutsTab::toggleSubdivide()
{
}
