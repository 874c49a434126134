#pragma once

#include "shortcutmanager.h"

#include <QKeySequence>
#include <QList>

struct SampleShortcut
{
    const char *name;
    const char *keys;
    QSize grid;
    QRect selection;
    bool global;
    bool enabled;
    bool subdivided;
};

// A dozen named shortcuts of a user who relies on them: halves, thirds,
// quarters, an odd grid, a subdivided one, global, local and switched off.
inline const QList<SampleShortcut> &dozenShortcuts()
{
    static const QList<SampleShortcut> dozen = {
        {"Left half", "Ctrl+Alt+Left", {2, 1}, {0, 0, 1, 1}, true, true, false},
        {"Centre third", "Ctrl+Alt+Up", {3, 3}, {1, 0, 1, 3}, false, true, false},
        {"Right half", "Ctrl+Alt+Right", {2, 1}, {1, 0, 1, 1}, true, true, false},
        {"Bottom half", "Ctrl+Alt+Down", {1, 2}, {0, 1, 1, 1}, false, true, false},
        {"Left third", "Meta+1", {3, 1}, {0, 0, 1, 1}, true, true, false},
        {"Right two thirds", "Meta+3", {3, 1}, {1, 0, 2, 1}, true, true, false},
        {"Top left quarter", "Ctrl+Shift+Q", {2, 2}, {0, 0, 1, 1}, false, false, false},
        {"Middle", "Ctrl+Alt+C", {6, 6}, {1, 1, 4, 4}, false, true, false},
        {"Whole screen", "Ctrl+Alt+Return", {6, 6}, {0, 0, 6, 6}, true, true, false},
        {"Narrow strip", "Ctrl+Alt+F5", {12, 12}, {3, 0, 6, 12}, false, true, true},
        {"Odd grid", "Alt+Shift+F12", {7, 5}, {2, 1, 3, 3}, false, false, false},
        {"Bottom row", "Meta+Shift+PgDown", {16, 16}, {0, 15, 16, 1}, true, true, true},
    };
    return dozen;
}

/** Adds the first count of the dozen through the manager, as the shortcuts tab does. */
inline void addSampleShortcuts(ShortcutManager *manager, int count)
{
    for (const SampleShortcut &s : dozenShortcuts().mid(0, count))
        manager->addShortcut(QString::fromUtf8(s.name), QKeySequence(QString::fromUtf8(s.keys)),
                             s.grid, s.selection, s.global, s.enabled, s.subdivided);
}

// Two named shortcuts, as a user who set things up has them: for pictures of
// the shortcut list and its editor.
inline void addSampleShortcuts(ShortcutManager *manager)
{
    addSampleShortcuts(manager, 2);
}
