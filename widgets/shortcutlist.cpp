#include "shortcutlist.h"

#include "shortcutlistdelegate.h"
#include "widgetdpimetrics.h"

#include <QPaintEvent>
#include <QPainter>

using VarloWidgets::DpiMetrics;

ShortcutList::ShortcutList(QWidget *parent)
    : QListView(parent), m_delegate(new ShortcutListDelegate(this))
{
    setItemDelegate(m_delegate);
}

ShortcutList::~ShortcutList()
{
    setItemDelegate(nullptr);
    delete m_delegate;
}

int ShortcutList::separatorStep()
{
    // The shortcuts tab sets a spacing of 2 on the list: 2 above and 2 below each row.
    return DpiMetrics::scaleX(50) + 2 * DpiMetrics::scaleX(3) + 4;
}

void ShortcutList::removeSelected()
{
    const QModelIndexList selected = selectedIndexes();
    if (selected.isEmpty() || !model())
        return;
    model()->removeRow(selected.first().row(), QModelIndex());
}

void ShortcutList::paintEvent(QPaintEvent *event)
{
    QListView::paintEvent(event);

    QPainter painter(viewport());
    painter.setPen(QColor(100, 100, 100, 255));
    const int step = separatorStep();
    const int offset = verticalOffset();
    // Lines continue below the last row, so even an empty list looks ruled.
    for (int y = 1; y < height() - 1; ++y) {
        if ((y + offset) % step == 0)
            painter.drawLine(0, y, width(), y);
    }
    event->accept();
}
