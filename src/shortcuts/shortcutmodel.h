#pragma once

#include <QAbstractListModel>
#include <QKeySequence>
#include <QRect>
#include <QSize>
#include <QString>

#include <memory>

class ShortcutListItem;

// The named shortcuts of the database's shortcut table, one row each in rowid
// order. Views read a row's ShortcutListItem through the index's internal
// pointer; data() carries nothing. Every change is written to the database at
// once, the rows are read again and dataChanged() is emitted with two invalid
// indexes: "everything may have changed".
class ShortcutModel : public QAbstractListModel
{
    Q_OBJECT

public:
    /** Loads all rows from the default database connection. */
    explicit ShortcutModel(QObject *parent = nullptr);
    ~ShortcutModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex index(int row, int column = 0,
                      const QModelIndex &parent = QModelIndex()) const override;
    /** Always invalid: the item behind the index holds the values. */
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    /** Deletes the rows' shortcuts, all or none; false for a range outside the model. */
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;

    /** nullptr outside 0..rowCount()-1. Items live until the next reload. */
    ShortcutListItem *itemAt(int row) const;
    ShortcutListItem *itemById(int id) const;
    /** The first item whose stored text is the sequence's portable text (case-sensitive). */
    ShortcutListItem *findByShortcut(const QKeySequence &sequence) const;

    /** False, after a message box, when another shortcut has the same keys. */
    bool addShortcut(const QString &name, const QString &shortcut, QSize gridSize, QRect selection,
                     bool global, bool enabled, bool subdivided);
    /** As addShortcut(), for the row with this id; false when there is none. */
    bool updateShortcut(int id, const QString &name, const QString &shortcut, QSize gridSize,
                        QRect selection, bool global, bool enabled, bool subdivided);

    /** Reads every row again; emits nothing. */
    void reload();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
