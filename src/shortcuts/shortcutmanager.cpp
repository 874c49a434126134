#include "shortcutmanager.h"

#include "globalshortcut.h"
#include "platform.h"
#include "settingsstore.h"
#include "shortcutlistitem.h"
#include "shortcutmodel.h"
#include "varlolog.h"

#include <QSettings>

namespace {
ShortcutManager *g_instance = nullptr;

QKeySequence sequenceOf(const ShortcutListItem *item)
{
    return QKeySequence(item->shortcut(), QKeySequence::NativeText);
}

// Lets the platform grab the combinations of many shortcuts at once instead
// of waiting for the desktop at each of them.
class HotKeyBatch
{
public:
    explicit HotKeyBatch(const QList<const ShortcutListItem *> &items)
    {
        QList<QPair<quint32, quint32>> combinations;
        for (const ShortcutListItem *item : items)
            combinations += GlobalShortcut::nativeCombinations(sequenceOf(item));
        Platform::instance()->beginHotKeyBatch(combinations);
    }
    ~HotKeyBatch() { Platform::instance()->endHotKeyBatch(); }
    HotKeyBatch(const HotKeyBatch &) = delete;
    HotKeyBatch &operator=(const HotKeyBatch &) = delete;
};
} // namespace

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
    QList<const ShortcutListItem *> enabled;
    for (int row = 0; row < d->model->rowCount(); ++row) {
        const ShortcutListItem *item = d->model->itemAt(row);
        if (item && item->isEnabled())
            enabled.append(item);
    }
    const HotKeyBatch batch(enabled);
    for (GlobalShortcut *shortcut : std::as_const(d->shortcuts)) {
        if (shortcut->isRegistered())
            shortcut->unsetShortcut();
        delete shortcut;
    }
    d->shortcuts.clear();
    qDeleteAll(d->refused);
    d->refused.clear();

    for (const ShortcutListItem *item : std::as_const(enabled)) {
        auto *shortcut = new GlobalShortcut;
        if (shortcut->setShortcut(item->id(), sequenceOf(item))) {
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
    applyActivationRule(true, false);
}

void ShortcutManager::disableNonGlobalShortcuts()
{
    for (GlobalShortcut *shortcut : std::as_const(d->shortcuts)) {
        const ShortcutListItem *item = d->model->itemById(shortcut->id());
        if (item && !item->isGlobal() && shortcut->isRegistered())
            shortcut->unsetShortcut();
    }
}

void ShortcutManager::applyActivationRule(bool panelsVisible, bool settingsVisible)
{
    QList<GlobalShortcut *> toRegister;
    QList<const ShortcutListItem *> items;
    for (GlobalShortcut *shortcut : std::as_const(d->shortcuts)) {
        const ShortcutListItem *item = d->model->itemById(shortcut->id());
        const bool live = item && item->isEnabled() && !settingsVisible && (panelsVisible || item->isGlobal());
        if (live && !shortcut->isRegistered()) {
            toRegister.append(shortcut);
            items.append(item);
        } else if (!live && shortcut->isRegistered()) {
            shortcut->unsetShortcut();
        }
    }
    if (toRegister.isEmpty())
        return;
    const HotKeyBatch batch(items);
    for (qsizetype i = 0; i < toRegister.size(); ++i)
        toRegister[i]->setShortcut(toRegister[i]->id(), sequenceOf(items[i]));
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
