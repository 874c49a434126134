#include "shortcutedit.h"

#include "keydisplaytext.h"
#include "shortcutediticon.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPropertyAnimation>

namespace {

// The host program provides the image; a host without it gets a button without one.
const char clearImage[] = ":/images/shortcut_clear.png";

bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Shift:
    case Qt::Key_Meta:
    // X11 reports the Windows keys and AltGr as keys of their own; pressed
    // alone they are modifiers too, not something to record.
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_AltGr:
        return true;
    default:
        return false;
    }
}

} // namespace

ShortcutEditIcon::ShortcutEditIcon(QWidget *parent) : QAbstractButton(parent)
{
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::NoFocus);
}

float ShortcutEditIcon::iconOpacity() const
{
    return m_iconOpacity;
}

void ShortcutEditIcon::setIconOpacity(float opacity)
{
    m_iconOpacity = opacity;
    update();
}

void ShortcutEditIcon::paintEvent(QPaintEvent *)
{
    QIcon::Mode mode = QIcon::Disabled;
    if (isEnabled())
        mode = isDown() ? QIcon::Selected : QIcon::Normal;
    const QPixmap pixmap = icon().pixmap(QSize(19, 19), mode, QIcon::Off);
    if (pixmap.isNull())
        return;

    const QSize size = pixmap.deviceIndependentSize().toSize();
    QRect target(QPoint(0, 0), size);
    target.moveCenter(rect().center());

    QPainter painter(this);
    const auto *edit = qobject_cast<const ShortcutEdit *>(parentWidget());
    painter.setOpacity(edit && edit->autoHideIcon() ? m_iconOpacity : 1.0);
    painter.drawPixmap(target, pixmap);
}

struct ShortcutEdit::Private
{
    ShortcutEdit *owner = nullptr;
    QPixmap pixmap;
    bool autoHideIcon = false;
    ShortcutEditIcon *clearButton = nullptr;
    QString lastText;
    QKeySequence shortcut;
    QKeySequence lastEmitted;
    bool updating = false;

    void fadeClearButton(bool in)
    {
        auto *animation = new QPropertyAnimation(clearButton, "iconOpacity", clearButton);
        animation->setDuration(fadeDuration);
        animation->setEndValue(in ? 1.0f : 0.0f);
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    }
};

ShortcutEdit::ShortcutEdit(QWidget *parent) : QLineEdit(parent), d(std::make_unique<Private>())
{
    d->owner = this;
    d->clearButton = new ShortcutEditIcon(this);
    d->clearButton->setIcon(QIcon(QString::fromLatin1(clearImage)));
    connect(this, &QLineEdit::textChanged, this, &ShortcutEdit::updateText);
    connect(d->clearButton, &QAbstractButton::clicked, this, &ShortcutEdit::iconClicked);
}

ShortcutEdit::~ShortcutEdit() = default;

QKeySequence ShortcutEdit::shortcut() const
{
    return d->shortcut;
}

void ShortcutEdit::setShortcut(const QKeySequence &sequence)
{
    d->shortcut = sequence;
    if (sequence.matches(d->lastEmitted) == QKeySequence::ExactMatch)
        return;
    d->lastEmitted = sequence;
    setText(sequence.toString(QKeySequence::NativeText));
    Q_EMIT shortcutChanged(sequence);
}

bool ShortcutEdit::autoHideIcon() const
{
    return d->autoHideIcon;
}

void ShortcutEdit::setAutoHideIcon(bool hide)
{
    d->autoHideIcon = hide;
    d->clearButton->setIconOpacity(!hide || !text().isEmpty() ? 1.0f : 0.0f);
}

QPixmap ShortcutEdit::pixmap() const
{
    return d->pixmap;
}

void ShortcutEdit::setPixmap(const QPixmap &pixmap)
{
    d->clearButton->setIcon(QIcon(pixmap));
    updateGeometry();
}

void ShortcutEdit::clear()
{
    QLineEdit::clear();
    d->shortcut = QKeySequence();
    d->lastEmitted = QKeySequence();
}

void ShortcutEdit::iconClicked()
{
    clear();
    setShortcut(QKeySequence());
}

void ShortcutEdit::updateText(const QString &text)
{
    if (d->updating)
        return;
    if (d->autoHideIcon) {
        if (d->lastText.isEmpty() || text.isEmpty())
            d->fadeClearButton(!text.isEmpty());
        d->lastText = text;
    }
    const QString shown = VarloWidgets::displayText(text);
    d->updating = true;
    setText(shown);
    d->updating = false;
}

bool ShortcutEdit::event(QEvent *event)
{
    // Every combination is the recorder's while it has the focus, also one
    // that is a shortcut of its window (the grid keys of a drag frame beside it).
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void ShortcutEdit::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (isModifierKey(key))
        return;
    // Keys Qt cannot name would record a sequence that shows and matches nothing.
    if (key == 0 || key == Qt::Key_unknown)
        return;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    setShortcut(QKeySequence(QKeyCombination(modifiers, Qt::Key(key))));
}

void ShortcutEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    const int strip = textMargins().right() + 23;
    d->clearButton->setGeometry(rect().adjusted(width() - strip, 0, 0, 0));
}
