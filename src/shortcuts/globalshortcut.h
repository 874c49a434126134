#pragma once

#include <QKeySequence>
#include <QObject>

#include <memory>

// One system-wide key combination bound to an id: activated(id) is emitted
// whenever the combination is pressed, whichever program has the focus.
// Combinations are kept as Win32 virtual-key codes and MOD_* flags; the
// platform layer grabs them. A digit also fires from its keypad twin.
class GlobalShortcut : public QObject
{
    Q_OBJECT

public:
    explicit GlobalShortcut(QObject *parent = nullptr);
    ~GlobalShortcut() override;

    int id() const;
    /** The combination set last (key and modifiers), empty when none is set. */
    QKeySequence shortcut() const;
    /** Whether the last setShortcut() fully succeeded (and no unsetShortcut() since). */
    bool isRegistered() const;

    /** The virtual-key code of a Qt key (no modifier bits); 0 for keys outside the table. */
    static quint32 nativeKeycode(int key);
    /** The MOD_* flags of Qt's Shift, Control, Alt and Meta bits. */
    static quint32 nativeModifiers(Qt::KeyboardModifiers modifiers);
    /** The keypad twin of a digit key ('0'..'9'), 0 for any other key. */
    static quint32 keypadKeycode(int key);
    /** The (virtual key, MOD_*) pairs setShortcut() would grab for shortcut. */
    static QList<QPair<quint32, quint32>> nativeCombinations(const QKeySequence &shortcut);

public Q_SLOTS:
    /**
     * Stores id and registers the first key of shortcut (withdrawing an
     * earlier combination first). False, with a warning in the log, when the
     * combination cannot be had: another program or another GlobalShortcut
     * holds it, or the key is outside the table.
     */
    bool setShortcut(int id, const QKeySequence &shortcut);
    /** Withdraws the combination; false (and a warning) when it was not registered. */
    bool unsetShortcut();

Q_SIGNALS:
    /** The combination was pressed; delivered from the event loop, never inside event handling. */
    void activated(int id);

private:
    /** Takes this object's combinations out of the table of presses. */
    void dropFromTable();

    struct Private;
    std::unique_ptr<Private> d;
};
