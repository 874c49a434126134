#pragma once

#include <QKeySequence>
#include <QModelIndex>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <memory>

namespace Ui {
class ShortcutsTab;
}

// The "Shortcuts" tab: the list of named shortcuts and the editor that
// records a combination and a selection on a grid. While the editor is open
// no named shortcut is registered, so recording one cannot trigger it.
class ShortcutsTab : public QWidget
{
    Q_OBJECT

public:
    explicit ShortcutsTab(QWidget *parent);
    ~ShortcutsTab() override;

    /** The editor page is shown (not the list). */
    bool isEditing() const;
    /** Back to the list, as Cancel does. */
    void showList();
    /** A drag on the editor's grid is cancelled; nothing happens without one. */
    void cancelDrag();
    /** The editor's grid is doubled, or halved back. */
    void toggleSubdivide();

Q_SIGNALS:
    /** The placement preview for this selection on screen desktop. */
    void requestPreviewMove(int desktop, QSize dim, QRect selection);
    /** The editor page was entered (true) or left (false). */
    void editing(bool on);

public Q_SLOTS:
    // "Row" and "Col" name the keys as the user sees them: adding a row
    // widens the grid by one column, adding a column makes it one row taller.
    void addRowShortcut();
    void addColShortcut();
    void subRowShortcut();
    void subColShortcut();

    /** A drag on the editor's grid ended over cells. */
    void resizeWindowHandler(QSize dim, QRect sel);
    /** The cells under a drag changed: the preview follows on this window's screen. */
    void selectionChanged(QRect selection);
    void stackIndexChanged(int index);
    /** Refuses a recorded combination that cannot be used, with a message. */
    void newShortcutShortcutChanged(const QKeySequence &seq);
    void updateNewShortcutSelection(QSize dim, QRect sel);
    /** Accept is possible with a combination and a selection. */
    void validateNewShortcut();
    /** Opens the editor on the shortcut of a list row. */
    void editShortcut(const QModelIndex &index);

private Q_SLOTS:
    // Connected by object name by the form.
    void on_buttonNewShortcut_clicked();
    void on_buttonShortcutAccept_clicked();
    void on_buttonShortcutCancel_clicked();
    void on_checkNewShortcutGlobal_toggled(bool checked);

private:
    QSize defaultGridSize() const;
    void stepGridSize(int columns, int rows);
    void showEditor();
    void leaveEditor();
    void hidePreview();

    struct Private;
    std::unique_ptr<Ui::ShortcutsTab> ui;
    std::unique_ptr<Private> d;
};
