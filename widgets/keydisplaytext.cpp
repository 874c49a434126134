#include "keydisplaytext.h"

namespace VarloWidgets {

QString displayText(const QString &keySequenceText)
{
    QString text = keySequenceText;
    // "+" first, so the spaces never end up inside a key name.
    text.replace(QLatin1String("+"), QLatin1String(" + "));
    text.replace(QLatin1String("Meta"), QLatin1String("Win"));
    text.replace(QLatin1String("Left"), QString(QChar(0x21E6)));
    text.replace(QLatin1String("Right"), QString(QChar(0x21E8)));
    text.replace(QLatin1String("Up"), QString(QChar(0x21E7)));
    text.replace(QLatin1String("Down"), QString(QChar(0x21E9)));
    return text;
}

} // namespace VarloWidgets
