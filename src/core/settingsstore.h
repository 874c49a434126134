#pragma once

#include <QSize>
#include <QString>
#include <QVariant>

#include <vector>

class QSettings;

// The preferences live in QSettings (organisation "Orrith LLC", application
// "Varlo": an INI file under the user's config folder). This is the one list
// of keys with defaults, and the readers every subsystem uses.
namespace SettingsStore {

struct Key
{
    const char *name;
    QVariant defaultValue;
};

/** The keys with defaults, in the order the defaults step writes them. */
const std::vector<Key> &defaults();

/** The default of a key from the table, or an invalid QVariant for keys without one. */
QVariant defaultValue(const QString &key);

/**
 * Writes every key of the table that the store does not hold yet (exact,
 * case-sensitive names). A key that is present keeps its value, whatever its type.
 */
void writeSettingsDefaults();
void writeSettingsDefaults(QSettings &settings);

// Readers. An absent key reads as false, 0, 0.0, the invalid size or the empty
// string. A key that holds something of the wrong type (a hand-edited or damaged
// file), or a size without cells, reads as the key's default, and that is logged
// once per key.
bool readBool(const QString &key);
int readInt(const QString &key);
double readReal(const QString &key);
QSize readSize(const QString &key);
QString readString(const QString &key);

bool readBool(const QSettings &settings, const QString &key);
int readInt(const QSettings &settings, const QString &key);
double readReal(const QSettings &settings, const QString &key);
QSize readSize(const QSettings &settings, const QString &key);
QString readString(const QSettings &settings, const QString &key);

/** Converters behind the readers, for a value already in hand. */
bool toBool(const QVariant &value, bool fallback, bool *ok = nullptr);
int toInt(const QVariant &value, int fallback, bool *ok = nullptr);
double toReal(const QVariant &value, double fallback, bool *ok = nullptr);
QSize toSize(const QVariant &value, const QSize &fallback, bool *ok = nullptr);

} // namespace SettingsStore
