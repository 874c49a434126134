#pragma once

#include "varlowidgets_global.h"

#include <QString>

namespace VarloWidgets {

/**
 * The readable form of a key sequence's text, as every view of a key
 * combination shows it: "Ctrl+Alt+Left" becomes "Ctrl + Alt + ⇦",
 * "Meta" becomes "Win". Case-sensitive, so "PgUp" becomes "Pg⇧".
 */
VARLOWIDGETS_EXPORT QString displayText(const QString &keySequenceText);

} // namespace VarloWidgets
