#pragma once

#include "varlowidgets_global.h"

#include <QStyledItemDelegate>

#include <memory>

// Paints one named shortcut per row: name, key combination, state and a
// miniature of its grid. The model answers no data() requests, so the row's
// ShortcutListItem is read through the index's internal pointer.
class VARLOWIDGETS_EXPORT ShortcutListDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ShortcutListDelegate(QObject *parent = nullptr);
    ~ShortcutListDelegate() override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
