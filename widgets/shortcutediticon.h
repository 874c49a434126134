#pragma once

#include <QAbstractButton>

// The clear button inside a ShortcutEdit. Its opacity is a property so it can fade.
class ShortcutEditIcon : public QAbstractButton
{
    Q_OBJECT
    Q_PROPERTY(float iconOpacity READ iconOpacity WRITE setIconOpacity)

public:
    explicit ShortcutEditIcon(QWidget *parent = nullptr);

    float iconOpacity() const;
    void setIconOpacity(float opacity);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    float m_iconOpacity = 0.0f;
};
