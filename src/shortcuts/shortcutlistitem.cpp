#include "shortcutlistitem.h"

struct ShortcutListItem::Private
{
    int id;
    QString name;
    QString shortcut;
    QSize gridSize;
    QRect selection;
    bool global;
    bool enabled;
    bool subdivided;
};

ShortcutListItem::ShortcutListItem(int id, const QString &name, const QString &shortcut,
                                   QSize gridSize, QRect selection, bool global, bool enabled,
                                   bool subdivided, QObject *parent)
    : QObject(parent),
      d(new Private{id, name, shortcut, gridSize, selection, global, enabled, subdivided})
{}

ShortcutListItem::~ShortcutListItem() = default;

int ShortcutListItem::id() const
{
    return d->id;
}
QString ShortcutListItem::name() const
{
    return d->name;
}
QString ShortcutListItem::shortcut() const
{
    return d->shortcut;
}
QSize ShortcutListItem::gridSize() const
{
    return d->gridSize;
}
QRect ShortcutListItem::selection() const
{
    return d->selection;
}
bool ShortcutListItem::isGlobal() const
{
    return d->global;
}
bool ShortcutListItem::isEnabled() const
{
    return d->enabled;
}
bool ShortcutListItem::isSubdivided() const
{
    return d->subdivided;
}
