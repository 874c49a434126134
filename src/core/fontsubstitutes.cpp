#include "fontsubstitutes.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

void installFontSubstitutes()
{
    struct Substitute
    {
        const char *family;
        QStringList replacements;
    };
    // Carlito has Calibri's metrics; DejaVu Sans is about as wide as Lucida
    // Sans Unicode and Trebuchet.
    const Substitute substitutes[] = {
        {"Lucida Sans Unicode", {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")}},
        {"Calibri", {QStringLiteral("Carlito"), QStringLiteral("DejaVu Sans")}},
        {"Trebuchet", {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")}},
        {"Trebuchet MS", {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")}},
    };
    const QStringList installed = QFontDatabase::families();
    for (const Substitute &s : substitutes) {
        const QString family = QString::fromLatin1(s.family);
        if (!installed.contains(family, Qt::CaseInsensitive))
            QFont::insertSubstitutions(family, s.replacements);
    }
}
