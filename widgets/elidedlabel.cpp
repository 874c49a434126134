#include "elidedlabel.h"

#include <QFontInfo>
#include <QFontMetrics>

struct ElidedLabel::Private
{
    QFont baseFont;
    // What the shown text was fitted for: the panels hand the same name in
    // twice a second, and laying it out again each time is most of their idle cost.
    QString fittedText;
    QSize fittedSize;
    bool fitted = false;
};

ElidedLabel::ElidedLabel(QWidget *parent, Qt::WindowFlags f)
    : QLabel(parent, f), d(std::make_unique<Private>())
{
    setTextFormat(Qt::PlainText);
}

ElidedLabel::~ElidedLabel() = default;

void ElidedLabel::setFont(const QFont &font)
{
    d->fitted = false;
    d->baseFont = font;
    QWidget::setFont(font);
}

void ElidedLabel::setTextFormat(Qt::TextFormat format)
{
    QLabel::setTextFormat(format);
}

void ElidedLabel::setText(const QString &text)
{
    if (d->fitted && text == d->fittedText && size() == d->fittedSize)
        return;
    d->fitted = true;
    d->fittedText = text;
    d->fittedSize = size();

    // The 20 pixels keep the text clear of the box's rounded edge.
    const int availableWidth = width() - 20;
    const int availableHeight = height();

    QFont font = d->baseFont;
    setToolTip(text);
    // A font given in pixels has no point size to count down from.
    int size = font.pointSize() > 0 ? font.pointSize() : QFontInfo(font).pointSize();

    bool fits = false;
    for (;;) {
        font.setPointSize(qMax(1, size));
        const QFontMetrics metrics(font);
        const QRect measured = metrics.boundingRect(QRect(0, 0, availableWidth, availableHeight),
                                                    Qt::AlignLeft | Qt::TextSingleLine, text);
        if (measured.width() > availableWidth || measured.height() > availableHeight)
            --size;
        else
            fits = true;
        if (size < minimumPointSize) {
            size = minimumPointSize;
            break;
        }
        if (fits)
            break;
    }
    font.setPointSize(size);

    QString shown = text;
    if (!fits)
        shown = QFontMetrics(font).elidedText(text, Qt::ElideRight, qMax(0, availableWidth));

    QWidget::setFont(font);
    QLabel::setText(shown);
}
