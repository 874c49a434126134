#pragma once

#include "shortcutmanager.h"

#include <QKeySequence>

// Two named shortcuts, as a user who set things up has them: for pictures of
// the shortcut list and its editor.
inline void addSampleShortcuts(ShortcutManager *manager)
{
    manager->addShortcut(QStringLiteral("Left half"), QKeySequence(QStringLiteral("Ctrl+Alt+Left")),
                         QSize(2, 1), QRect(0, 0, 1, 1), true, true, false);
    manager->addShortcut(QStringLiteral("Centre third"), QKeySequence(QStringLiteral("Ctrl+Alt+Up")),
                         QSize(3, 3), QRect(1, 0, 1, 3), false, true, false);
}
