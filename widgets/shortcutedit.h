#pragma once

#include "varlowidgets_global.h"

#include <QKeySequence>
#include <QLineEdit>
#include <QPixmap>

#include <memory>

// A line edit that records the next key combination pressed instead of
// taking text. text() holds the readable form, shortcut() the sequence.
class VARLOWIDGETS_EXPORT ShortcutEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit ShortcutEdit(QWidget *parent = nullptr);
    ~ShortcutEdit() override;

    QKeySequence shortcut() const;
    void setShortcut(const QKeySequence &sequence);

    bool autoHideIcon() const;
    void setAutoHideIcon(bool hide);

    QPixmap pixmap() const;

    static constexpr int fadeDuration = 250;

public Q_SLOTS:
    void setPixmap(const QPixmap &pixmap);
    void clear();
    void iconClicked();

Q_SIGNALS:
    void shortcutChanged(QKeySequence seq);

protected Q_SLOTS:
    void updateText(const QString &text);

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
