#pragma once

#include <QKeySequence>
#include <QObject>
#include <QRect>
#include <QSize>

#include <memory>

class GlobalShortcut;
class ShortcutModel;

// Owns every global hot key of the program: the panel hot key (id -1) and one
// per enabled named shortcut (id = its rowid). Model changes re-register the
// named ones; the switches make them live only when they may act.
class ShortcutManager : public QObject
{
    Q_OBJECT

public:
    /** The one manager, created on first use: after the shortcut database is open. */
    static ShortcutManager *instance();
    /** Deletes the instance (the application does at shutdown). */
    static void destroyInstance();
    ~ShortcutManager() override;

    ShortcutModel *model() const;
    /** The panel hot key. */
    GlobalShortcut *gridWindowShortcut() const;
    /** The named hot keys that registered at the last rebuild, in model order. */
    QList<GlobalShortcut *> shortcuts() const;

    bool addShortcut(const QString &name, const QKeySequence &shortcut, QSize gridSize, QRect selection,
                     bool global, bool enabled, bool subdivided);
    bool updateShortcut(int id, const QString &name, const QKeySequence &shortcut, QSize gridSize,
                        QRect selection, bool global, bool enabled, bool subdivided);

Q_SIGNALS:
    void gridWindowShortcutActivated();
    void shortcutActivated(int id);

public Q_SLOTS:
    /** Registers the panel hot key from "hotkey" (or withdraws it) and stores "use_hotkey". */
    void setGridWindowShortcutEnabled(bool toggle);
    /** Stores "hotkey" and registers it when "use_hotkey" is on. */
    void setGridWindowShortcut(const QKeySequence &seq);
    void disableNonGlobalShortcuts();
    void disableAllShortcuts();
    void enableAllShortcuts();
    /**
     * The rule of what is live: with the settings shown none, with the panels
     * shown all enabled ones, else the global ones. The same outcome as
     * disableAll, enableAll and disableNonGlobal in turn, but only what
     * differs is grabbed or let go (a hundred shortcuts would otherwise be
     * let go and grabbed again at every showing).
     */
    void applyActivationRule(bool panelsVisible, bool settingsVisible);
    /** Rebuilds the named hot keys from the model. */
    void shortcutsChanged();

private:
    ShortcutManager();

    struct Private;
    std::unique_ptr<Private> d;
};
