// A thousand hostile settings files: values of the wrong type, huge,
// negative and empty numbers, grids of 0 x 0 and 100000 x 100000, binary
// garbage, values of 1 MB, text that is no UTF-8, keys and sections twice or
// missing. Each file goes through what a start does with the settings on the
// offscreen platform: the defaults step and the readers, the panel hot key
// and the update schedule, the appearance tab that brings sizes and margins
// within its ranges, the panel set up and shown with its cell grid painted,
// the grid keys, a placement, its preview and the appearance previews. Every
// 25th file also goes through the whole start-up of the application, in a
// process of its own: the whole settings window, the tray, Alt's subdivision.
//
// Per file: no crash, hang or sanitizer report, no memory taken because of a
// stored number, a panel grid of 1 to 100 cells a side (the stored one when
// it is usable, 6 x 6 when not), a window placed inside the work area or not
// at all, and a second pass over the same file leaving no more behind.

#include "appearancetab.h"
#include "application.h"
#include "cellgrid.h"
#include "commonbehavior.h"
#include "dragframe.h"
#include "fakedesktop.h"
#include "gridwindow.h"
#include "offscreenscreen.h"
#include "roundrunner.h"
#include "settingsstore.h"
#include "shortcutmanager.h"
#include "stressround.h"
#include "stubpanelhost.h"
#include "updatechecker.h"
#include "updatesource.h"
#include "windowinfo.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmapCache>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <QThread>
#include <QThreadPool>
#include <QTimeZone>

#include <csignal>
#include <cstdio>
#include <iterator>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QRect kScreen(0, 0, 1920, 1080);
constexpr WId kWindow = 0x200;
const QRect kWindowStart(100, 100, 400, 300);
constexpr int kBatch = 200;
constexpr int kStallMs = 30000;
// Every this many rounds the whole start-up runs too.
constexpr int kWholeStartEvery = 25;
// Of the screen-sized grids, the corner painted: the cells there are painted
// as they would be on the whole screen, in a sixteenth of the time.
const QRect kPainted(0, 0, 480, 270);
// A whole start-up that has not ended after this long hangs.
constexpr int kWholeStartDeadlineMs = 20000;
// A pass over the same file again may leave this much more on the heap in
// the median round: Qt's font and style caches grow a little with every
// painted panel.
constexpr qint64 kHeapSlackPerPass = 1024;
constexpr int kRepeatEvery = 4;
constexpr qint64 kHeapCeiling = 256 * 1024;
constexpr int kWarmUpRounds = 5;
// Files of a few MB are read; nothing else needs memory on this scale.
constexpr qint64 kPeakLimitKiB = 256 * 1024;
const QSize kFallbackGrid(6, 6);

enum class Family
{
    WrongTypes,
    Numbers,
    Garbage,
    Structure,
    Mixed
};

struct FileSet
{
    Family family;
    const char *set;
    const char *label;
    int rounds;
};

const FileSet kSets[] = {
    {Family::WrongTypes, "wrongtypes", "wrong types", 200},
    {Family::Numbers, "numbers", "hostile numbers", 200},
    {Family::Garbage, "garbage", "garbage and 1 MB values", 200},
    {Family::Structure, "structure", "duplicate and missing keys", 200},
    {Family::Mixed, "mixed", "all of it", 200},
};

const FileSet *setNamed(const QString &name)
{
    for (const FileSet &set : kSets) {
        if (name == QLatin1String(set.set))
            return &set;
    }
    return nullptr;
}

quint32 seedOf(const FileSet &set, int round)
{
    return (quint32(set.family) + 11) * 7919u + quint32(round) * 2246822519u;
}

// --- Hostile files ----------------------------------------------------------

enum class Kind
{
    Bool,
    Size,
    Margin,
    Text,
    Time
};

struct Key
{
    const char *section; // "General" for the top-level keys
    const char *name;
    Kind kind;
};

// Every key a start reads.
const Key kKeys[] = {
    {"General", "first_launch", Kind::Bool},
    {"General", "show_tooltip", Kind::Bool},
    {"General", "auto_start", Kind::Bool},
    {"General", "show_tray", Kind::Bool},
    {"General", "keep_open", Kind::Bool},
    {"General", "hide_on_deactivate", Kind::Bool},
    {"General", "disable_animation", Kind::Bool},
    {"General", "show_preview", Kind::Bool},
    {"General", "use_hotkey", Kind::Bool},
    {"General", "hotkey", Kind::Text},
    {"General", "cycle_screens", Kind::Bool},
    {"General", "follows_mouse", Kind::Bool},
    {"General", "factor_chrome", Kind::Bool},
    {"General", "maximize_fullscreen", Kind::Bool},
    {"General", "NoUpdate", Kind::Bool},
    {"grid", "size", Kind::Size},
    {"grid", "reset", Kind::Bool},
    {"grid", "reset_size", Kind::Size},
    {"grid", "subdivided", Kind::Bool},
    {"margins", "enabled", Kind::Bool},
    {"margins", "cell_width", Kind::Margin},
    {"margins", "cell_height", Kind::Margin},
    {"margins", "screen_left", Kind::Margin},
    {"margins", "screen_right", Kind::Margin},
    {"margins", "screen_top", Kind::Margin},
    {"margins", "screen_bottom", Kind::Margin},
    {"update", "auto_check", Kind::Bool},
    {"update", "skip_ver", Kind::Text},
    {"update", "lastupdate", Kind::Time},
};

// What a value written for a grid key means to a start, where that is clear.
struct Meaning
{
    enum State
    {
        Unknown,
        Usable,
        Unusable
    } state = Unknown;
    QSize size;        // a usable size
    bool flag = false; // a usable flag
};

QByteArray oneOf(QRandomGenerator &rng, std::initializer_list<const char *> values)
{
    const int pick = rng.bounded(int(values.size()));
    return QByteArray(*(values.begin() + pick));
}

QByteArray megabyte(QRandomGenerator &rng)
{
    QByteArray value(1024 * 1024, 'x');
    if (rng.bounded(2) == 0) {
        // Bytes of every kind but the line breaks, which would end the value.
        for (char &c : value) {
            c = char(rng.bounded(256));
            if (c == '\n' || c == '\r')
                c = ' ';
        }
    }
    return value;
}

QByteArray garbage(QRandomGenerator &rng)
{
    QByteArray value(rng.bounded(1, 80), '\0');
    for (char &c : value) {
        c = char(rng.bounded(256));
        if (c == '\n' || c == '\r')
            c = '\\';
    }
    return value;
}

// A value of another kind, or a form no reader takes.
QByteArray wrongType(Kind kind, QRandomGenerator &rng, Meaning *meaning)
{
    switch (kind) {
    case Kind::Bool: {
        const QByteArray value =
            oneOf(rng, {"@Size(3 4)", "1,2,3", "maybe", "@Rect(0 0 1 1)", "2", "-1",
                        "@ByteArray(true)", "", "\"\"", "@Invalid()", "@Point(1 1)", "0.5", "TRUE ",
                        " yes", "off", "@Variant(\\0\\0\\0\\x1\\x1)"});
        // The forms of yes and no a person may write are read as such.
        if (value == "TRUE " || value == " yes" || value == "@ByteArray(true)")
            *meaning = {Meaning::Usable, {}, true};
        else if (value == "off")
            *meaning = {Meaning::Usable, {}, false};
        else if (value.startsWith("@Variant"))
            *meaning = {};
        else
            *meaning = {Meaning::Unusable, {}, false};
        return value;
    }
    case Kind::Size: {
        const QByteArray value = oneOf(
            rng, {"true", "6", "@Rect(1 2 3 4)", "@Point(3 3)", "abc", "@Size(6)", "@Size(a b)",
                  "@Size()", "6,6", "@ByteArray(@Size(6 6))", "@Invalid()", "7x5", "7 5",
                  "@Size(7 5)", "@Variant(\\0\\0\\0\\x15\\0\\0\\0\\a\\0\\0\\0\\x5)"});
        // The sizes a reader takes: written by hand as text, or as Qt writes them.
        if (value == "7x5" || value == "7 5" || value == "@Size(7 5)")
            *meaning = {Meaning::Usable, QSize(7, 5), false};
        else if (value.startsWith("@Variant"))
            *meaning = {};
        else
            *meaning = {Meaning::Unusable, {}, false};
        return value;
    }
    case Kind::Margin:
        return oneOf(rng, {"true", "@Size(1 1)", "ten", "10px", "1,2", "", "@Rect(1 1 1 1)",
                           "\"12\"", "@Invalid()"});
    case Kind::Text:
        return oneOf(rng, {"@Size(1 2)", "1,2,3", "@ByteArray(\\x80\\xff)", "Ctrl+Alt+Nothing",
                           "Ctrl+,", "\"Ctrl+Alt+D, Ctrl+Alt+E, Ctrl+Alt+F, Ctrl+Alt+G\"",
                           "@Invalid()", "true", "Meta+Shift+", "+", "@Variant(\\0\\0\\0\\x7f)"});
    case Kind::Time:
        return oneOf(rng, {"@DateTime(garbage)", "2024-01-01", "-99999999999", "true", "@Size(1 1)",
                           "@Variant(\\0\\0\\0\\x10\\x7f\\xff\\xff\\xff)",
                           "@Variant(\\0\\0\\0\\x10\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\x1)"});
    }
    return {};
}

QByteArray hostileNumber(Kind kind, QRandomGenerator &rng, Meaning *meaning)
{
    if (kind == Kind::Size) {
        const QByteArray value = oneOf(
            rng, {"@Size(0 0)", "@Size(-1 -1)", "@Size(100000 100000)",
                  "@Size(2147483647 2147483647)", "@Size(1073741824 1073741824)", "@Size(101 1)",
                  "@Size(1 101)", "@Size(100 100)", "@Size(1 1)", "@Size(50 1)",
                  "@Size(-2147483648 -2147483648)", "100000x100000", "0x0", "@Size(99999999999 2)",
                  "@Size(0 6)", "@Size(6 -6)", "@Size(10 10)", "2147483647x2147483647"});
        const QRegularExpression pattern(QStringLiteral("^(?:@Size\\()?(-?\\d+)[ x](-?\\d+)\\)?$"));
        const QRegularExpressionMatch m = pattern.match(QString::fromLatin1(value));
        bool okW = false, okH = false;
        const qlonglong w = m.captured(1).toLongLong(&okW);
        const qlonglong h = m.captured(2).toLongLong(&okH);
        if (okW && okH && w >= 1 && h >= 1 && w <= CellGrid::maximumDimension &&
            h <= CellGrid::maximumDimension)
            *meaning = {Meaning::Usable, QSize(int(w), int(h)), false};
        else if (okW && okH && (w > INT_MAX || h > INT_MAX || w < INT_MIN || h < INT_MIN))
            *meaning = {}; // what Qt makes of a number beyond int is its own business
        else
            *meaning = {Meaning::Unusable, {}, false};
        return value;
    }
    if (kind == Kind::Bool) {
        const QByteArray value =
            oneOf(rng, {"true", "false", "0", "1", "2147483648", "-0", "1e308", "nan"});
        if (value == "true" || value == "1")
            *meaning = {Meaning::Usable, {}, true};
        else if (value == "false" || value == "0")
            *meaning = {Meaning::Usable, {}, false};
        else
            *meaning = {}; // numbers other than 0 and 1 are read as the store reads them
        return value;
    }
    return oneOf(rng, {"0",
                       "-0",
                       "-1",
                       "2147483647",
                       "2147483648",
                       "-2147483649",
                       "9223372036854775807",
                       "1e308",
                       "-1e308",
                       "1e-308",
                       "inf",
                       "-inf",
                       "nan",
                       "0x10",
                       "1e6",
                       "100000",
                       "0.5",
                       "300",
                       "301",
                       "-5",
                       "7.5",
                       "-300000"});
}

// One line of the file: "key=value", or anything else a file can hold.
struct Line
{
    QByteArray section;
    QByteArray text;
};

QByteArray valueFor(const Key &key, Family family, QRandomGenerator &rng, Meaning *meaning)
{
    *meaning = {};
    switch (family) {
    case Family::WrongTypes:
        return wrongType(key.kind, rng, meaning);
    case Family::Numbers:
        return hostileNumber(key.kind, rng, meaning);
    case Family::Garbage:
        switch (rng.bounded(6)) {
        case 0:
            return QByteArray(4096, 'y');
        case 1:
            return garbage(rng);
        case 2:
            return "\xC3\x28\xA0\xA1\xE2\x28\xA1\xF0\x28\x8C\xBC"; // no UTF-8
        case 3:
            return "@ByteArray(" + garbage(rng).toPercentEncoding() + ")";
        case 4:
            return "@Variant(" + garbage(rng) + ")";
        default:
            return "%U0041\\x0000\\";
        }
    case Family::Structure:
    case Family::Mixed:
        break;
    }
    const Family pick = Family(rng.bounded(3));
    return valueFor(key, pick, rng, meaning);
}

struct HostileFile
{
    QByteArray bytes;
    QHash<QString, Meaning> meanings; // "section/name" -> what it means, for the grid keys
    QString how;                      // a short account, for failure messages
};

HostileFile hostileFile(Family family, QRandomGenerator &rng)
{
    HostileFile file;
    QList<Line> lines;
    QList<Line> trailer; // after every section, each under a header of its own again
    QStringList how;
    QHash<QString, int> written;
    for (const Key &key : kKeys) {
        // Some keys left out: their defaults come from the defaults step.
        if (rng.bounded(4) == 0)
            continue;
        Meaning meaning;
        const bool hostile = family == Family::Mixed || rng.bounded(3) != 0;
        QByteArray value;
        if (hostile) {
            value = valueFor(key, family, rng, &meaning);
        } else {
            // A sound value, as Varlo writes it.
            switch (key.kind) {
            case Kind::Bool: {
                const bool on = rng.bounded(2) == 0;
                value = on ? "true" : "false";
                meaning = {Meaning::Usable, {}, on};
                break;
            }
            case Kind::Size: {
                const QSize size(rng.bounded(1, 11), rng.bounded(1, 11));
                value =
                    QStringLiteral("@Size(%1 %2)").arg(size.width()).arg(size.height()).toLatin1();
                meaning = {Meaning::Usable, size, false};
                break;
            }
            case Kind::Margin:
                value = QByteArray::number(rng.bounded(0, 40));
                break;
            case Kind::Text:
                value = "Ctrl+Alt+D";
                break;
            case Kind::Time:
                value = "@DateTime(garbage)";
                break;
            }
        }
        const QString name =
            QLatin1String(key.section) + QLatin1Char('/') + QLatin1String(key.name);
        file.meanings.insert(name, meaning);
        ++written[name];
        lines.append({key.section, QByteArray(key.name) + '=' + value});
        if (value.size() > 200)
            how << name + QStringLiteral("=<%1 bytes>").arg(value.size());
        else
            how << name + QLatin1Char('=') +
                       QString::fromLatin1(value.toPercentEncoding(" @()/,+-.")).left(60);
    }

    if (family == Family::Structure || family == Family::Mixed) {
        const int changes = 1 + rng.bounded(6);
        for (int i = 0; i < changes; ++i) {
            const Key &key = kKeys[rng.bounded(int(std::size(kKeys)))];
            const QString name =
                QLatin1String(key.section) + QLatin1Char('/') + QLatin1String(key.name);
            Meaning ignored;
            switch (rng.bounded(7)) {
            case 0: { // the key twice, with another value, in its section or in a second one
                const Line twice{key.section, QByteArray(key.name) + '=' +
                                                  valueFor(key, Family::Numbers, rng, &ignored)};
                const bool secondSection = rng.bounded(2) == 0;
                (secondSection ? trailer : lines).append(twice);
                ++written[name];
                how << (secondSection ? QStringLiteral("%1 twice, in a second [%2]")
                                            .arg(name, QLatin1String(key.section))
                                      : QStringLiteral("%1 twice").arg(name));
                break;
            }
            case 1: // in the wrong section
                lines.append({"General", QByteArray(key.name) + "=@Size(9 9)"});
                how << QStringLiteral("%1 in [General]").arg(QLatin1String(key.name));
                break;
            case 2: // the section's name in another case
                lines.append(
                    {QByteArray(key.section).toUpper(), QByteArray(key.name) + "=@Size(8 8)"});
                how << QStringLiteral("[%1]").arg(QString::fromLatin1(key.section).toUpper());
                break;
            case 3: // a line that is no "key=value"
                lines.append({key.section, rng.bounded(2) ? QByteArray("=") : garbage(rng)});
                written[name] += 100; // whatever it does to the lines around it
                how << QStringLiteral("a broken line in [%1]").arg(QLatin1String(key.section));
                break;
            case 4: // the key with the section in its name: the same key once more
                lines.append({"General", QByteArray(key.section) + "%2F" + key.name + "=1"});
                ++written[name];
                how << QStringLiteral("%1 as one name").arg(name);
                break;
            case 5: // a key of 4 KB
                lines.append({key.section, QByteArray(4096, 'k') + "=1"});
                how << QStringLiteral("a key of 4 KB");
                break;
            default: // the key's line taken away
                for (qsizetype j = lines.size() - 1; j >= 0; --j) {
                    if (lines[j].section == key.section &&
                        lines[j].text.startsWith(QByteArray(key.name) + '=')) {
                        lines.removeAt(j);
                        --written[name];
                        break;
                    }
                }
                how << QStringLiteral("%1 left out").arg(name);
            }
        }
    }

    // One file in five of garbage carries a value, or a key, of 1 MB.
    if ((family == Family::Garbage || family == Family::Mixed) && rng.bounded(5) == 0 &&
        !lines.isEmpty()) {
        Line &line = lines[rng.bounded(int(lines.size()))];
        const QByteArray big = megabyte(rng);
        const qsizetype at = line.text.indexOf('=');
        switch (at < 0 ? 2 : rng.bounded(3)) {
        case 0:
            line.text = line.text.left(at + 1) + big;
            break;
        case 1:
            line.text = line.text.left(at + 1) + "@ByteArray(" + big + ')';
            break;
        default:
            line.text = QByteArray(big).replace('=', 'x') + "=1";
        }
        written[QStringLiteral("big")] += 100; // whatever it does to the lines around it
        how << QStringLiteral("1 MB in a line");
    }

    // A value is clear when it stands once in a file whose lines are all "key=value".
    bool clean = true;
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        clean = clean && it.value() <= 1;
    for (auto it = file.meanings.begin(); it != file.meanings.end(); ++it) {
        if (!clean || written.value(it.key()) != 1 || family == Family::Garbage)
            it.value() = {};
    }
    // Absent keys get their defaults.
    for (const char *name : {"grid/size", "grid/reset_size", "grid/reset", "grid/subdivided"}) {
        if (clean && written.value(QLatin1String(name)) == 0) {
            const QVariant value = SettingsStore::defaultValue(QLatin1String(name));
            file.meanings.insert(QLatin1String(name),
                                 {Meaning::Usable, value.toSize(), value.toBool()});
        }
    }

    // The sections in a random order.
    QList<QByteArray> sections;
    for (const Line &line : std::as_const(lines)) {
        if (!sections.contains(line.section))
            sections.append(line.section);
    }
    for (qsizetype i = sections.size() - 1; i > 0; --i)
        sections.swapItemsAt(i, rng.bounded(int(i + 1)));
    const QByteArray newline = rng.bounded(8) == 0 ? "\r\n" : "\n";
    if (family != Family::Numbers && family != Family::WrongTypes && rng.bounded(10) == 0)
        file.bytes += "\xEF\xBB\xBF"; // a byte order mark
    for (const QByteArray &section : std::as_const(sections)) {
        file.bytes += '[' + section + ']' + newline;
        for (const Line &line : std::as_const(lines)) {
            if (line.section == section)
                file.bytes += line.text + newline;
        }
        file.bytes += newline;
    }
    for (const Line &line : std::as_const(trailer))
        file.bytes += '[' + line.section + ']' + newline + line.text + newline;
    file.how = how.join(QStringLiteral(", ")).left(1200);
    return file;
}

/** The panel grid a start must show for the file; none where that is not clear. */
std::optional<QSize> expectedGrid(const HostileFile &file)
{
    const Meaning reset = file.meanings.value(QStringLiteral("grid/reset"));
    if (reset.state == Meaning::Unknown)
        return std::nullopt;
    // With the reset on, the settings window brings the reset size within its
    // boxes' range (1 to 10 a side) at every start: any usable grid will do.
    if (reset.state == Meaning::Usable && reset.flag)
        return std::nullopt;
    const Meaning size = file.meanings.value(QStringLiteral("grid/size"));
    if (size.state == Meaning::Unknown)
        return std::nullopt;
    // The start ends any subdivision, so the grid is the stored one as it is.
    return size.state == Meaning::Usable ? size.size : kFallbackGrid;
}

// --- One pass of a start over a file, in this process -----------------------

bool usableDimensions(QSize size)
{
    return size.width() >= 1 && size.height() >= 1 && size.width() <= CellGrid::maximumDimension &&
           size.height() <= CellGrid::maximumDimension;
}

QString describe(const QRect &r)
{
    return QStringLiteral("%1,%2 %3 x %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

QString describe(QSize s)
{
    return QStringLiteral("%1 x %2").arg(s.width()).arg(s.height());
}

struct Pass
{
    int placed = 0;    // placements inside the work area
    int refused = 0;   // placements not made
    int defaulted = 0; // panels that fell back to 6 x 6
    int checkedGrids = 0;
    QStringList problems;
};

void readEverything(const QSettings &settings)
{
    for (const Key &key : kKeys) {
        const QString name =
            QString::fromLatin1(key.section) == QLatin1String("General")
                ? QString::fromLatin1(key.name)
                : QLatin1String(key.section) + QLatin1Char('/') + QLatin1String(key.name);
        switch (key.kind) {
        case Kind::Bool:
            SettingsStore::readBool(settings, name);
            break;
        case Kind::Size:
            SettingsStore::readSize(settings, name);
            break;
        case Kind::Margin:
            SettingsStore::readReal(settings, name);
            break;
        case Kind::Text:
            SettingsStore::readString(settings, name);
            break;
        case Kind::Time:
            settings.value(name).toDateTime();
            break;
        }
    }
}

void checkPlacement(FakePlatform *fake, CommonBehavior &behavior, QSize dims, QRect cells,
                    Pass &pass)
{
    FakePlatform::Window *window = fake->window(kWindow);
    window->client = kWindowStart;
    window->maximized = false;
    fake->clearRequests();
    behavior.moveWindow(0, dims, cells);
    const QRect got = fake->window(kWindow)->client;
    const QString requests = fake->requests();
    if (!requests.contains(QLatin1String("move")) && !requests.contains(QLatin1String("size")) &&
        !requests.contains(QLatin1String("maximize"))) {
        ++pass.refused;
    } else if (fake->window(kWindow)->maximized || (kScreen.contains(got) && !got.isEmpty())) {
        ++pass.placed;
    } else {
        pass.problems << QStringLiteral("cells %1 of %2 placed the window at %3 (%4)")
                             .arg(describe(cells), describe(dims), describe(got), requests);
    }
}

Pass startUp(FakePlatform *fake, const HostileFile &file)
{
    Pass pass;
    SettingsStore::writeSettingsDefaults();
    readEverything(QSettings());

    // The panel hot key as the general tab hands it to the manager.
    ShortcutManager::instance()->setGridWindowShortcutEnabled(
        SettingsStore::readBool(QStringLiteral("use_hotkey")));
    StubPanelHost host;
    {
        CommonBehavior behavior(&host);
        // The automatic check reads its schedule from the settings; no request leaves.
        behavior.updateChecker()->setOnlineTest([] { return false; });
        behavior.setUpdateCheck(SettingsStore::readBool(QStringLiteral("update/auto_check")));
        {
            // Of the settings window, the tab that brings the grid sizes and
            // margins within its boxes' ranges; the whole window is built by
            // the whole start-ups.
            AppearanceTab appearanceTab(nullptr);
            QSettings().setValue(QStringLiteral("grid/subdivided"), false);

            // A panel per screen, as the application sets them up and shows them.
            GridWindow panel(&behavior);
            panel.setScreen(0);
            panel.move(kScreen.topLeft());
            panel.center();
            panel.show();
            panel.hide();
            host.grids = {&panel};
            panel.activate();
            panel.grab();
            const QSize dims = panel.dragFrame()->dimensions();
            if (!usableDimensions(dims)) {
                pass.problems << QStringLiteral("the panel has a grid of %1").arg(describe(dims));
            } else if (const std::optional<QSize> expected = expectedGrid(file)) {
                ++pass.checkedGrids;
                if (dims != *expected)
                    pass.problems << QStringLiteral("the panel has a grid of %1 instead of %2")
                                         .arg(describe(dims), describe(*expected));
            }
            pass.defaulted += dims == kFallbackGrid;

            // The placement and its preview, with the margins the store holds now.
            host.panels = true;
            const QSize used = usableDimensions(dims) ? dims : kFallbackGrid;
            for (const QRect &cells : {QRect(QPoint(0, 0), used), QRect(0, 0, 1, 1),
                                       QRect(used.width() - 1, used.height() - 1, 1, 1)}) {
                behavior.movePreview(0, used, cells);
                behavior.preview()->grab(kPainted);
                checkPlacement(fake, behavior, used, cells, pass);
            }

            // The grid keys step the stored size, and every panel follows.
            for (const char *step : {"addRowShortcut", "addColShortcut", "subRowShortcut",
                                     "subColShortcut", "subColShortcut"})
                QMetaObject::invokeMethod(&panel, step);
            panel.activate();
            if (!usableDimensions(panel.dragFrame()->dimensions()))
                pass.problems << QStringLiteral("after the grid keys the panel has a grid of %1")
                                     .arg(describe(panel.dragFrame()->dimensions()));
            panel.grab();

            // The appearance tab's previews: a cell grid per screen with the stored margins.
            appearanceTab.showPreviewScreens();
            for (DragFrame *preview : appearanceTab.previewScreens())
                preview->grab(kPainted);
            appearanceTab.clearPreviewScreens();
            host.grids.clear();
            host.panels = false;
        }
    }
    ShortcutManager::destroyInstance();
    // What the event loop would have done by now: deferred deletions, queued calls.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    // Caches with limits of their own: each new panel's icons are new pictures
    // in the pixmap cache, and the fake desktop keeps a list of every request.
    QPixmapCache::clear();
    fake->clearRequests();
    return pass;
}

// --- The whole start-up, in a process of its own ----------------------------

// What the forked process checks of the panels; it says what is wrong on
// stderr and ends with 3.
int wholeStartUp(Application &app)
{
    SettingsStore::writeSettingsDefaults();
    app.init();
    app.showGrids();
    const auto gridsUsable = [&app](const char *when) {
        for (GridWindow *grid : app.grids()) {
            const QSize dims = grid->dragFrame()->dimensions();
            if (!usableDimensions(dims)) {
                std::fprintf(stderr, "WHOLE START-UP: %s a panel has a grid of %d x %d\n", when,
                             dims.width(), dims.height());
                return false;
            }
            grid->grab();
        }
        return true;
    };
    bool good = gridsUsable("shown");
    // Alt alone: subdivided and back.
    QMetaObject::invokeMethod(&app, "toggleSubdivide");
    good = gridsUsable("subdivided") && good;
    QMetaObject::invokeMethod(&app, "toggleSubdivide");
    good = gridsUsable("subdivided and back") && good;
    app.showSettings();
    app.hideSettings();
    app.hideGrids(true);
    QCoreApplication::processEvents();
    return good ? 0 : 3;
}

// --- The child: rounds of one set -------------------------------------------

// Folders of the child that the forked start-ups must leave alone when they end.
class OwnFolder
{
public:
    OwnFolder()
        : m_dir(StressRound::scratchBase() + QStringLiteral("/tst_stress_settings-XXXXXX")),
          m_owner(getpid())
    {
        m_dir.setAutoRemove(false);
    }
    ~OwnFolder()
    {
        if (getpid() == m_owner)
            m_dir.remove();
    }
    const QTemporaryDir &dir() const { return m_dir; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    pid_t m_owner;
};

struct WholeResult
{
    bool ran = false;
    bool skipped = false; // threads of this process still running
    bool failed = false;
    QString what;
};

class Rounds
{
public:
    explicit Rounds(Application &app) : m_app(app)
    {
        m_fake = installFakeDesktop(kWindow, kWindowStart);
    }

    // Returns true in a forked start-up that has ended: it must leave at once.
    bool run(const FileSet &set, int round, int *forkedResult)
    {
        RoundLog::begin(round);
        QElapsedTimer timer;
        timer.start();
        const quint32 seed = seedOf(set, round);
        QRandomGenerator rng(seed);
        const HostileFile file = hostileFile(set.family, rng);
        const auto note = [&](const QString &text) {
            RoundLog::note(round, QStringLiteral("seed %1, %2; the file: %3")
                                      .arg(RoundLog::seedText(seed), text, file.how));
        };
        const QString roundFolder = m_folder.filePath(QString::number(round));

        WholeResult whole;
        if (round % kWholeStartEvery == 0) {
            whole = wholeStartUpOf(file, roundFolder + QStringLiteral("/whole"), forkedResult);
            if (*forkedResult >= 0)
                return true;
            if (whole.failed)
                note(whole.what);
        }

        StressRound::resetPeakMemory();
        const qint64 residentBefore = StressRound::residentMemoryKiB();
        Pass first;
        qint64 heap[2] = {0, 0};
        int files[2] = {0, 0};
        qint64 startMs = 0;
        // A second pass over the same file on every fourth round, for what a
        // pass leaves behind; not over the files of megabytes, which take long.
        const bool again = round % kRepeatEvery == 0 && file.bytes.size() < 65536;
        // Both passes on one path, so that the settings cache holds the same after each.
        const QString folder = roundFolder + QStringLiteral("/passes");
        for (int pass = 0; pass < (again ? 2 : 1); ++pass) {
            writeSettingsFile(folder, file.bytes, pass);
            QElapsedTimer start;
            start.start();
            const Pass result = startUp(m_fake, file);
            if (pass == 0) {
                startMs = start.elapsed();
                first = result;
            }
            heap[pass] = StressRound::heapInUse();
            files[pass] = StressRound::openFiles();
        }
        QDir(roundFolder).removeRecursively();
        const qint64 peak = StressRound::peakMemoryKiB() - residentBefore;
        const qint64 grown = again ? heap[1] - heap[0] : 0;
        const int filesLeft = again ? files[1] - files[0] : 0;

        for (const QString &problem : first.problems.mid(0, 3))
            note(problem);
        const bool leaked = grown > kHeapCeiling || filesLeft != 0;
        if (leaked)
            note(QStringLiteral("the second pass left %1 bytes more on the heap and %2 more "
                                "open files")
                     .arg(grown)
                     .arg(filesLeft));
        if (peak > kPeakLimitKiB)
            note(QStringLiteral("a pass took %1 MiB").arg(peak / 1024));

        const bool measured = again && m_rounds >= kWarmUpRounds;
        RoundLog::end(round, {{QStringLiteral("problems"), first.problems.size()},
                              {QStringLiteral("placed"), first.placed},
                              {QStringLiteral("refused"), first.refused},
                              {QStringLiteral("defaulted"), first.defaulted},
                              {QStringLiteral("checkedGrids"), first.checkedGrids},
                              {QStringLiteral("whole"), whole.ran},
                              {QStringLiteral("wholeFailed"), whole.failed},
                              {QStringLiteral("wholeSkipped"), whole.skipped},
                              {QStringLiteral("leaked"), leaked},
                              {QStringLiteral("measured"), measured},
                              {QStringLiteral("grown"), measured ? grown : 0},
                              {QStringLiteral("peakKiB"), peak},
                              {QStringLiteral("startMs"), startMs},
                              {QStringLiteral("bytes"), file.bytes.size()},
                              {QStringLiteral("ms"), timer.elapsed()}});
        ++m_rounds;
        return false;
    }

private:
    // The file at the place QSettings() reads, in a folder of its own: every
    // settings object made from now on reads this file, and nothing cached
    // from the last one.
    // A time of its own for each write, so that a cached copy is read again.
    static void writeSettingsFile(const QString &folder, const QByteArray &bytes, int write = 0)
    {
        QDir().mkpath(folder + QStringLiteral("/Orrith LLC"));
        QFile out(folder + QStringLiteral("/Orrith LLC/Varlo.conf"));
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            out.write(bytes);
            out.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0, write), Qt::UTC),
                            QFileDevice::FileModificationTime);
        }
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    }

    WholeResult wholeStartUpOf(const HostileFile &file, const QString &folder, int *forkedResult)
    {
        WholeResult result;
        // A process with threads cannot be forked safely.
        // Qt's pooled threads (the passes use them) are ended first; a process
        // with threads cannot be forked safely.
        QThreadPool::globalInstance()->waitForDone(kWholeStartDeadlineMs);
        // One that is ending is waited for.
        QElapsedTimer threadsEnding;
        threadsEnding.start();
        while (StressRound::threads() != 1 && threadsEnding.elapsed() < 2000)
            QThread::msleep(1);
        if (StressRound::threads() != 1) {
            result.skipped = true;
            return result;
        }
        writeSettingsFile(folder, file.bytes);
        qputenv("XDG_DATA_HOME", QFile::encodeName(folder + QStringLiteral("/data")));
        std::fflush(stdout);
        std::fflush(stderr);
        const pid_t pid = fork();
        if (pid == 0) {
            *forkedResult = wholeStartUp(m_app);
            return result;
        }
        if (pid < 0)
            return result;
        result.ran = true;
        QElapsedTimer waited;
        waited.start();
        int status = 0;
        // Waits for the start-up to end, with a deadline.
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (waited.elapsed() > kWholeStartDeadlineMs) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                result.failed = true;
                result.what = QStringLiteral("the whole start-up hung");
                return result;
            }
            QThread::msleep(2);
        }
        if (WIFSIGNALED(status)) {
            result.failed = true;
            result.what =
                QStringLiteral("the whole start-up crashed (signal %1)").arg(WTERMSIG(status));
        } else if (WEXITSTATUS(status) != 0) {
            result.failed = true;
            result.what = QStringLiteral("the whole start-up ended with %1%2")
                              .arg(WEXITSTATUS(status))
                              .arg(WEXITSTATUS(status) == 3 ? QStringLiteral(" (see its stderr)")
                                                            : QString());
        }
        return result;
    }

    Application &m_app;
    FakePlatform *m_fake = nullptr;
    OwnFolder m_folder;
    int m_rounds = 0;
};

int runRounds(Application &app, const QString &setName, int first, int count)
{
    const FileSet *set = setNamed(setName);
    if (!set) {
        std::fprintf(stderr, "no file set \"%s\"\n", qPrintable(setName));
        return 2;
    }
    // What every start needs once per process: the certificates of the update
    // connections and the fonts. Loaded here, each forked start-up has them.
    UpdateSource::request(QUrl(QStringLiteral("https://127.0.0.1:9/")));
    {
        QLabel label(QStringLiteral("fonts"));
        label.grab();
    }
    Rounds rounds(app);
    for (int round = first; round < first + count; ++round) {
        int forkedResult = -1;
        if (rounds.run(*set, round, &forkedResult))
            return forkedResult; // the forked start-up: its teardown runs on the way out
    }
    return 0;
}

} // namespace

// --- The test: the rounds of every set in child processes --------------------

class TestStressSettings : public QObject
{
    Q_OBJECT

private:
    qint64 m_files = 0, m_crashes = 0, m_hangs = 0, m_whole = 0, m_wholeFailed = 0,
           m_wholeSkipped = 0, m_problems = 0, m_placed = 0, m_refused = 0, m_checkedGrids = 0,
           m_defaulted = 0, m_leaks = 0, m_slowest = 0, m_peakKiB = 0, m_largest = 0;
    QStringList m_perSet;

private Q_SLOTS:
    void hostileFilesAreSurvived_data()
    {
        QTest::addColumn<QString>("set");
        for (const FileSet &set : kSets)
            QTest::newRow(set.label) << QString::fromLatin1(set.set);
    }

    void hostileFilesAreSurvived()
    {
        QFETCH(QString, set);
        const FileSet &files = *setNamed(set);
        const int count = StressRound::rounds(files.rounds);
        RoundRunner runner(set, kStallMs);
        runner.run(count, kBatch);

        runner.warn([&files](int round) { return seedOf(files, round); });

        const qint64 grownPerPass = runner.medianGrowth();
        if (grownPerPass > kHeapSlackPerPass)
            qWarning().noquote() << QStringLiteral("a second pass over the same file left %1 "
                                                   "bytes more on the heap, in the median round")
                                        .arg(grownPerPass);
        const qint64 leaked =
            runner.sum(QStringLiteral("leaked")) + (grownPerPass > kHeapSlackPerPass ? 1 : 0);
        const qint64 problems = runner.sum(QStringLiteral("problems"));
        const qint64 wholeFailed = runner.sum(QStringLiteral("wholeFailed"));
        m_crashes += runner.crashes();
        m_hangs += runner.hangs();
        m_files += count;
        m_whole += runner.sum(QStringLiteral("whole"));
        m_wholeFailed += wholeFailed;
        m_wholeSkipped += runner.sum(QStringLiteral("wholeSkipped"));
        m_problems += problems;
        m_placed += runner.sum(QStringLiteral("placed"));
        m_refused += runner.sum(QStringLiteral("refused"));
        m_checkedGrids += runner.sum(QStringLiteral("checkedGrids"));
        m_defaulted += runner.sum(QStringLiteral("defaulted"));
        m_leaks += leaked;
        m_slowest = qMax(m_slowest, runner.maximum(QStringLiteral("startMs")));
        m_peakKiB = qMax(m_peakKiB, runner.maximum(QStringLiteral("peakKiB")));
        m_largest = qMax(m_largest, runner.maximum(QStringLiteral("bytes")));
        m_perSet << QStringLiteral("%1 %2").arg(count).arg(QLatin1String(files.label));

        QVERIFY2(runner.failures().isEmpty(), "a start crashed or hung");
        QCOMPARE(runner.ended(), count);
        QVERIFY2(wholeFailed == 0, "a whole start-up failed");
        QVERIFY2(problems == 0, "a panel or a placement went wrong");
        QVERIFY2(leaked == 0, "a pass left something behind");
        QVERIFY2(runner.maximum(QStringLiteral("peakKiB")) <= kPeakLimitKiB,
                 "a pass took too much memory");
    }

    void cleanupTestCase()
    {
        std::printf(
            "settings%s: %lld hostile files (%s, up to %lld KiB), %lld crashes, %lld hangs, "
            "%lld whole start-ups (%lld failed, %lld not forked), %lld wrong panels or "
            "placements, panel grids as stored or defaulted: %lld checked (%lld at 6 x 6), "
            "placements %lld inside the work area and %lld refused, %lld leaks, slowest pass "
            "%lld ms%s\n",
            qPrintable(StressRound::scaleNote()), m_files,
            qPrintable(m_perSet.join(QStringLiteral(", "))), m_largest / 1024, m_crashes, m_hangs,
            m_whole, m_wholeFailed, m_wholeSkipped, m_problems, m_checkedGrids, m_defaulted,
            m_placed, m_refused, m_leaks, m_slowest,
            qPrintable(StressRound::memoryNote("pass", m_peakKiB)));
        std::fflush(stdout);
    }
};

int main(int argc, char **argv)
{
    QString set;
    int first = 0;
    int count = 0;
    if (RoundLog::requested(argc, argv, &set, &first, &count)) {
        // Left to the forked start-ups as they are: this process removes it.
        const OwnFolder home;
        // The whole start-up's private folders; the update server nowhere.
        QDir(home.path()).mkdir(QStringLiteral("runtime"));
        QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.filePath(QStringLiteral("runtime"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
        qputenv("VARLO_UPDATE_URL", "https://127.0.0.1:9");
        useOffscreenScreen(home.dir(), 96);
        Application app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
        QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
        return runRounds(app, set, first, count);
    }
    QCoreApplication app(argc, argv);
    TestStressSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_stress_settings.moc"
