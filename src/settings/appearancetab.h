#pragma once

#include <QList>
#include <QWidget>

#include <memory>

class DragFrame;
class QSpinBox;

namespace Ui {
class AppearanceTab;
}

// The "Appearance" tab: the placement preview switch, the margins and the
// grid the panel starts with. While it is shown, a translucent click-through
// preview of the grid covers every screen's work area.
class AppearanceTab : public QWidget
{
    Q_OBJECT

public:
    explicit AppearanceTab(QWidget *parent);
    ~AppearanceTab() override;

    /** The preview windows shown now, index = screen; empty while none are. */
    QList<DragFrame *> previewScreens() const;

public Q_SLOTS:
    /** Covers every screen's work area with a preview of the grid. */
    void showPreviewScreens();
    /** Closes every preview. */
    void clearPreviewScreens();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private Q_SLOTS:
    void on_checkShowPreview_toggled(bool on);
    void on_checkEnableMargins_toggled(bool on);
    void on_spinBoxMarginScreenLeft_valueChanged(int value);
    void on_spinBoxMarginScreenRight_valueChanged(int value);
    void on_spinBoxMarginScreenTop_valueChanged(int value);
    void on_spinBoxMarginScreenBottom_valueChanged(int value);
    void on_spinBoxMarginWindowWidth_valueChanged(int value);
    void on_spinBoxMarginWindowHeight_valueChanged(int value);
    void on_spinBoxColumns_valueChanged(int columns);
    void on_spinBoxRows_valueChanged(int rows);
    void on_checkUseGridOnActivation_toggled(bool on);

private:
    void writeMargin(const QString &key, int value);
    void loadMargin(QSpinBox *box, const QString &key);
    QSize storedGridSize() const;
    void updatePreviews();
    void placePreview(int screen);
    void keepPreviewsOnTheirAreas();
    void workAreaChanged(int screen);
    void screensChanged();

    std::unique_ptr<Ui::AppearanceTab> ui;
    struct Private;
    std::unique_ptr<Private> d;
};
