#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>

#include <memory>

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

private:
    struct Private;
    std::unique_ptr<Private> d;
};
