#include "shortcutlistdelegate.h"

#include "cellgrid.h"
#include "keydisplaytext.h"
#include "shortcutlistitem.h"
#include "widgetdpimetrics.h"

#include <QPainter>

using VarloWidgets::DpiMetrics;

struct ShortcutListDelegate::Private
{
    int inset = 0;
    // One grid serves every row; paint() sets all of it that differs between rows.
    CellGrid grid;
};

ShortcutListDelegate::ShortcutListDelegate(QObject *parent)
    : QStyledItemDelegate(parent), d(std::make_unique<Private>())
{
    d->inset = DpiMetrics::scaleX(3);
    CellGrid &grid = d->grid;
    grid.setBorderColor(grid.selectedColor());
    grid.setFillEmptyCells(true);
    grid.setEmptyFillColor(Qt::black);
    grid.setSelectedColor(QColor(200, 200, 200));
    grid.setRadius(3.0);
    Util::MarginMetrics_t margins;
    margins.cellWidth = margins.cellHeight = 0.6;
    margins.screenLeft = margins.screenTop = margins.screenRight = margins.screenBottom = 0.6;
    grid.setMarginMetrics(margins);
    grid.setBorderWidth(0.3);
}

ShortcutListDelegate::~ShortcutListDelegate() = default;

QSize ShortcutListDelegate::sizeHint(const QStyleOptionViewItem &option,
                                     const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(DpiMetrics::scaleX(50) + 2 * d->inset);
    return size;
}

void ShortcutListDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const
{
    if (index.column() != 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const auto *item = static_cast<const ShortcutListItem *>(index.internalPointer());
    if (!painter || !item || option.rect.isEmpty())
        return;

    const int p = d->inset;
    const bool selected = option.state & QStyle::State_Selected;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setRenderHint(QPainter::TextAntialiasing, true);

    QFont font(QStringLiteral("Lucida Sans Unicode"));
    if (selected) {
        painter->setPen(Qt::black);
        painter->fillRect(option.rect, QColor(165, 165, 165, 165));
    }

    font.setPointSize(10);
    font.setBold(false);
    const QFontMetrics statusMetrics(font);
    painter->setFont(font);

    QString status;
    if (!item->isEnabled())
        status = QStringLiteral("(disabled)");
    else if (item->isGlobal())
        status = QStringLiteral("(global)");
    painter->drawText(option.rect.adjusted(p, p, -p - DpiMetrics::scaleX(85), -p),
                      Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, status);

    font.setPointSize(11);
    font.setBold(true);
    painter->setFont(font);
    QRect nameRect = option.rect.adjusted(
        p, 2 * p, -p - (DpiMetrics::scaleX(90) + statusMetrics.horizontalAdvance(status)), -p);
    const QString name =
        QFontMetrics(font).elidedText(item->name(), Qt::ElideRight, qMax(0, nameRect.width()));
    painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, name);

    nameRect.adjust(DpiMetrics::scaleX(10), DpiMetrics::scaleX(15), DpiMetrics::scaleX(10),
                    DpiMetrics::scaleX(5));
    font.setPointSize(10);
    font.setBold(false);
    painter->setFont(font);
    painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      VarloWidgets::displayText(item->shortcut()));

    const QRect inner = option.rect.adjusted(p, p, -p, -p);
    const QRect gridArea(inner.right() - DpiMetrics::scaleX(70), inner.top(),
                         DpiMetrics::scaleX(70), DpiMetrics::scaleX(50));
    d->grid.setDimensions(item->gridSize());
    d->grid.setSelection(item->selection());
    d->grid.setPaintArea(gridArea);
    d->grid.paint(painter);

    painter->restore();
}
