#include "shortcutmanager.h"

#include "globalshortcut.h"
#include "settingsstore.h"
#include "shortcutlistitem.h"
#include "shortcutmodel.h"
#include "varlolog.h"

#include <QSettings>

namespace {
ShortcutManager *g_instance = nullptr;
}

struct ShortcutManager::Private
{
    std::unique_ptr<ShortcutModel> model;
    std::unique_ptr<GlobalShortcut> gridWindowShortcut;
    QList<GlobalShortcut *> shortcuts; // owned
    // Refused at the last rebuild: fire nothing, but keep their combination's
    // place in the hot-key table until the next rebuild.
    QList<GlobalShortcut *> refused; // owned
};

ShortcutManager *ShortcutManager::instance()
{
    if (!g_instance)
        g_instance = new ShortcutManager;
    return g_instance;
}

void ShortcutManager::destroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

ShortcutManager::ShortcutManager() : d(std::make_unique<Private>())
{
    d->model = std::make_unique<ShortcutModel>();
    d->gridWindowShortcut = std::make_unique<GlobalShortcut>();
    connect(d->model.get(), &ShortcutModel::dataChanged, this, &ShortcutManager::shortcutsChanged);
    connect(d->gridWindowShortcut.get(), &GlobalShortcut::activated, this,
            &ShortcutManager::gridWindowShortcutActivated);
    shortcutsChanged();
}

ShortcutManager::~ShortcutManager()
{
    qDeleteAll(d->shortcuts);
    qDeleteAll(d->refused);
}

ShortcutModel *ShortcutManager::model() const
{
    return d->model.get();
}

GlobalShortcut *ShortcutManager::gridWindowShortcut() const
{
    return d->gridWindowShortcut.get();
}

QList<GlobalShortcut *> ShortcutManager::shortcuts() const
{
    return d->shortcuts;
}

bool ShortcutManager::addShortcut(const QString &name, const QKeySequence &shortcut, QSize gridSize,
                                  QRect selection, bool global, bool enabled, bool subdivided)
{
    return d->model->addShortcut(name, shortcut.toString(QKeySequence::NativeText), gridSize, selection,
                                 global, enabled, subdivided);
}

bool ShortcutManager::updateShortcut(int id, const QString &name, const QKeySequence &shortcut,
                                     QSize gridSize, QRect selection, bool global, bool enabled,
                                     bool subdivided)
{
    return d->model->updateShortcut(id, name, shortcut.toString(QKeySequence::NativeText), gridSize,
                                    selection, global, enabled, subdivided);
}

void ShortcutManager::shortcutsChanged()
{
    for (GlobalShortcut *shortcut : std::as_const(d->shortcuts)) {
        if (shortcut->isRegistered())
            shortcut->unsetShortcut();
        delete shortcut;
    }
    d->shortcuts.clear();
    qDeleteAll(d->refused);
    d->refused.clear();

    for (int row = 0; row < d->model->rowCount(); ++row) {
        const ShortcutListItem *item = d->model->itemAt(row);
        if (!item || !item->isEnabled())
            continue;
        auto *shortcut = new GlobalShortcut;
        if (shortcut->setShortcut(item->id(), QKeySequence(item->shortcut(), QKeySequence::NativeText))) {
            connect(shortcut, &GlobalShortcut::activated, this, &ShortcutManager::shortcutActivated);
            d->shortcuts.append(shortcut);
        } else {
            d->refused.append(shortcut); // logged already
        }
    }
}

void ShortcutManager::disableAllShortcuts()
{
    for (GlobalShortcut *shortcut : std::as_const(d->shortcuts)) {
        if (shortcut->isRegistered())
            shortcut->unsetShortcut();
    }
}

void ShortcutManager::enableAllShortcuts()
{
    for (GlobalShortcut *shortcut : std::as_const(d->shortcuts)) {
        const ShortcutListItem *item = d->model->itemById(shortcut->id());
        if (item && item->isEnabled() && !shortcut->isRegistered())
            shortcut->setShortcut(shortcut->id(), QKeySequence(item->shortcut(), QKeySequence::NativeText));
    }
}

void ShortcutManager::disableNonGlobalShortcuts()
{
    for (GlobalShortcut *shortcut : std::as_const(d->shortcuts)) {
        const ShortcutListItem *item = d->model->itemById(shortcut->id());
        if (item && !item->isGlobal() && shortcut->isRegistered())
            shortcut->unsetShortcut();
    }
}

void ShortcutManager::setGridWindowShortcutEnabled(bool toggle)
{
    GlobalShortcut *hotKey = d->gridWindowShortcut.get();
    const bool wasRegistered = hotKey->isRegistered();
    QSettings settings;
    const QKeySequence sequence(SettingsStore::readString(settings, QStringLiteral("hotkey")),
                                QKeySequence::PortableText);
    if (wasRegistered)
        hotKey->unsetShortcut();
    if (toggle && !sequence.isEmpty() && !hotKey->setShortcut(-1, sequence))
        vDebug() << "Failed to register global trigger " + sequence.toString(QKeySequence::PortableText);
    settings.setValue(QStringLiteral("use_hotkey"), toggle);
}

void ShortcutManager::setGridWindowShortcut(const QKeySequence &seq)
{
    {
        QSettings settings;
        settings.setValue(QStringLiteral("hotkey"), seq.toString(QKeySequence::PortableText));
    }
    setGridWindowShortcutEnabled(SettingsStore::readBool(QStringLiteral("use_hotkey")));
}
