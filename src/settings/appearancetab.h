#pragma once

#include <QWidget>

#include <memory>

// The "Appearance" tab: the placement preview switch, the margins and the
// grid the panel starts with. While it is shown, a translucent click-through
// preview of the grid covers every screen's work area.
class AppearanceTab : public QWidget
{
    Q_OBJECT

public:
    explicit AppearanceTab(QWidget *parent);
    ~AppearanceTab() override;

public Q_SLOTS:
    /** Covers every screen's work area with a preview of the grid. */
    void showPreviewScreens();
    /** Closes every preview. */
    void clearPreviewScreens();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
