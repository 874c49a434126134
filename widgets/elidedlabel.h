#pragma once

#include "varlowidgets_global.h"

#include <QLabel>

#include <memory>

// A one-line label for a name of unknown length in a fixed box: the font
// shrinks down to 10 points until the text fits, and below that the text is
// cut short with an ellipsis. The whole text is always the tool tip.
class VARLOWIDGETS_EXPORT ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr, Qt::WindowFlags f = Qt::WindowFlags());
    ~ElidedLabel() override;

    /** The font to start fitting from; takes effect with the next setText. */
    virtual void setFont(const QFont &font);

    static constexpr int minimumPointSize = 10;

public Q_SLOTS:
    /** Fits the text to the label's current size; a resize does not refit. */
    void setText(const QString &text);

private:
    void setTextFormat(Qt::TextFormat format);

    struct Private;
    std::unique_ptr<Private> d;
};
