#pragma once

#include "varlowidgets_global.h"

#include <QListView>

class ShortcutListDelegate;

// The list of named shortcuts, rows painted by ShortcutListDelegate, with
// separator lines that run on below the last row.
class VARLOWIDGETS_EXPORT ShortcutList : public QListView
{
    Q_OBJECT

public:
    explicit ShortcutList(QWidget *parent = nullptr);
    ~ShortcutList() override;

    /** Distance between two separator lines: a delegate row and the list's spacing around it. */
    static int separatorStep();

public Q_SLOTS:
    /** Removes the first selected row only, whatever else is selected. */
    void removeSelected();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ShortcutListDelegate *m_delegate;
};
