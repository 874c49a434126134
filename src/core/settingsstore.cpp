#include "settingsstore.h"

#include "varlolog.h"

#include <QRegularExpression>
#include <QSettings>

#include <cmath>

namespace SettingsStore {

const std::vector<Key> &defaults()
{
    static const std::vector<Key> table = {
        {"first_launch", true},
        {"show_tooltip", true},
        {"auto_start", false},
        {"show_tray", true},
        {"keep_open", false},
        {"hide_on_deactivate", false},
        {"disable_animation", false},
        {"show_preview", true},
        {"use_hotkey", false},
        {"hotkey", QString()},
        {"cycle_screens", false},
        {"follows_mouse", false},
        {"factor_chrome", true},
        {"maximize_fullscreen", false},
        {"grid/size", QSize(6, 6)},
        {"grid/reset", false},
        {"grid/reset_size", QSize(6, 6)},
        {"grid/subdivided", false},
        {"margins/enabled", false},
        {"margins/cell_width", 10},
        {"margins/cell_height", 10},
        {"margins/screen_left", 10},
        {"margins/screen_right", 10},
        {"margins/screen_top", 10},
        {"margins/screen_bottom", 10},
        {"update/auto_check", true},
        {"update/skip_ver", QString()},
    };
    return table;
}

QVariant defaultValue(const QString &key)
{
    for (const Key &k : defaults()) {
        if (key == QLatin1String(k.name))
            return k.defaultValue;
    }
    return QVariant();
}

void writeSettingsDefaults(QSettings &settings)
{
    const QStringList present = settings.allKeys();
    for (const Key &k : defaults()) {
        const QString name = QString::fromLatin1(k.name);
        if (!present.contains(name, Qt::CaseSensitive))
            settings.setValue(name, k.defaultValue);
    }
}

void writeSettingsDefaults()
{
    QSettings settings;
    writeSettingsDefaults(settings);
}

bool toBool(const QVariant &value, bool fallback, bool *ok)
{
    bool good = true;
    bool result = fallback;
    switch (value.typeId()) {
    case QMetaType::Bool:
        result = value.toBool();
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        result = value.toLongLong() != 0;
        break;
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString s = value.toString().trimmed().toLower();
        if (s == QLatin1String("true") || s == QLatin1String("1") || s == QLatin1String("yes")
            || s == QLatin1String("on"))
            result = true;
        else if (s == QLatin1String("false") || s == QLatin1String("0") || s == QLatin1String("no")
                 || s == QLatin1String("off"))
            result = false;
        else
            good = false;
        break;
    }
    default:
        good = false;
    }
    if (ok)
        *ok = good;
    return good ? result : fallback;
}

int toInt(const QVariant &value, int fallback, bool *ok)
{
    bool good = false;
    int result = 0;
    if (value.typeId() == QMetaType::Bool) {
        good = false;
    } else if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
        const double d = value.toDouble();
        good = std::isfinite(d) && d >= INT_MIN && d <= INT_MAX;
        result = good ? int(std::lround(d)) : 0;
    } else {
        result = value.toString().trimmed().toInt(&good);
    }
    if (ok)
        *ok = good;
    return good ? result : fallback;
}

double toReal(const QVariant &value, double fallback, bool *ok)
{
    bool good = false;
    double result = 0;
    if (value.typeId() != QMetaType::Bool) {
        result = value.toString().trimmed().toDouble(&good);
        good = good && std::isfinite(result);
    }
    if (ok)
        *ok = good;
    return good ? result : fallback;
}

QSize toSize(const QVariant &value, const QSize &fallback, bool *ok)
{
    bool good = false;
    QSize result;
    if (value.typeId() == QMetaType::QSize) {
        // QSettings turns "@Size(garbage)" into 0 x 0; every size we store is a
        // grid of at least one cell, so an empty one is damage too.
        result = value.toSize();
        good = result.width() > 0 && result.height() > 0;
    } else if (value.typeId() == QMetaType::QString) {
        // A size written by hand as "6x6" or "6 6".
        static const QRegularExpression pattern(QStringLiteral("^\\s*(-?\\d+)\\s*[x, ]\\s*(-?\\d+)\\s*$"));
        const QRegularExpressionMatch m = pattern.match(value.toString());
        if (m.hasMatch()) {
            bool okW = false, okH = false;
            result = QSize(m.captured(1).toInt(&okW), m.captured(2).toInt(&okH));
            good = okW && okH && result.width() > 0 && result.height() > 0;
        }
    }
    if (ok)
        *ok = good;
    return good ? result : fallback;
}

namespace {

void noteDamaged(const QString &key, const QVariant &value)
{
    if (!VarloLog::firstTime(QStringLiteral("damaged setting ") + key))
        return;
    vWarning() << "Setting" << key << "holds an unusable value" << value.toString()
               << "- using the default.";
}

template <typename T, typename Convert>
T readWith(const QSettings &settings, const QString &key, T absent, Convert convert)
{
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return absent;
    const QVariant def = defaultValue(key);
    bool ok = false;
    const T result = convert(value, def.isValid() ? def.value<T>() : absent, &ok);
    if (!ok)
        noteDamaged(key, value);
    return result;
}

} // namespace

bool readBool(const QSettings &settings, const QString &key)
{
    return readWith<bool>(settings, key, false, [](const QVariant &v, bool f, bool *ok) { return toBool(v, f, ok); });
}

int readInt(const QSettings &settings, const QString &key)
{
    return readWith<int>(settings, key, 0, [](const QVariant &v, int f, bool *ok) { return toInt(v, f, ok); });
}

double readReal(const QSettings &settings, const QString &key)
{
    return readWith<double>(settings, key, 0.0, [](const QVariant &v, double f, bool *ok) { return toReal(v, f, ok); });
}

QSize readSize(const QSettings &settings, const QString &key)
{
    return readWith<QSize>(settings, key, QSize(), [](const QVariant &v, const QSize &f, bool *ok) { return toSize(v, f, ok); });
}

QString readString(const QSettings &settings, const QString &key)
{
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return QString();
    if (value.canConvert<QString>())
        return value.toString();
    noteDamaged(key, value);
    return defaultValue(key).toString();
}

bool readBool(const QString &key) { return readBool(QSettings(), key); }
int readInt(const QString &key) { return readInt(QSettings(), key); }
double readReal(const QString &key) { return readReal(QSettings(), key); }
QSize readSize(const QString &key) { return readSize(QSettings(), key); }
QString readString(const QString &key) { return readString(QSettings(), key); }

} // namespace SettingsStore
