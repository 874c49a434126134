#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>

#include <memory>

// One named shortcut as loaded from the database. The program's model owns
// these; the widget library's list reads them through a model index's
// internal pointer, so this file is compiled into both.
class ShortcutListItem : public QObject
{
    Q_OBJECT

public:
    ShortcutListItem(int id, const QString &name, const QString &shortcut, QSize gridSize,
                     QRect selection, bool global, bool enabled, bool subdivided,
                     QObject *parent = nullptr);
    ~ShortcutListItem() override;

    /** The database rowid, also the id of the shortcut's hot key. */
    int id() const;
    QString name() const;
    /** The key combination as stored, in the sequence's native text form. */
    QString shortcut() const;
    /** Width = columns, height = rows. */
    QSize gridSize() const;
    /** The cells covered, in cell units. */
    QRect selection() const;
    bool isGlobal() const;
    bool isEnabled() const;
    bool isSubdivided() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
