#include "desktopstress.h"

#include "cellgrid.h"
#include "commonbehavior.h"
#include "databaseutil.h"
#include "dragframe.h"
#include "gridwindow.h"
#include "shortcutmodel.h"
#include "varlorun.h"
#include "xtestutil.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDatabase>
#include <QTest>

#include <cmath>

namespace DesktopStress {

double scale()
{
    bool ok = false;
    const double s = qEnvironmentVariable("VARLO_STRESS_SCALE").toDouble(&ok);
    return ok && s > 0 ? s : 1.0;
}

int rounds(int base)
{
    return qMax(1, int(std::lround(base * scale())));
}

QString scaleNote()
{
    const double s = scale();
    return s == 1.0 ? QString() : QStringLiteral(", scaled by %1").arg(s);
}

SummaryLine::~SummaryLine()
{
    const QString outcome =
        QTest::currentTestFailed() ? QStringLiteral("FAILED") : QStringLiteral("ok");
    qInfo().noquote() << m_title + QStringLiteral(": ") + m_parts.join(QStringLiteral(", ")) +
                             QStringLiteral(" -> ") + outcome;
}

int ResidentMemory::baselineRoundOf(int rounds)
{
    return rounds > 100 ? 100 : qMax(1, rounds / 2);
}

bool ResidentMemory::comparable()
{
#if defined(__SANITIZE_ADDRESS__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return false;
#else
    return true;
#endif
#else
    return true;
#endif
}

qint64 ResidentMemory::highestEarlyKb() const
{
    qint64 highest = -1;
    for (const Level &level : early)
        highest = qMax(highest, level.kb);
    return highest;
}

qint64 ResidentMemory::slackKb() const
{
    return qMax<qint64>(2048, highestEarlyKb() * 5 / 100);
}

bool ResidentMemory::grew() const
{
    const qint64 highest = highestEarlyKb();
    return comparable() && (highest < 0 || end.kb < 0 || end.kb > highest + slackKb());
}

QString ResidentMemory::describe() const
{
    QStringList levels;
    for (const Level &level : early + QList<Level>{end})
        levels << QStringLiteral("%1 kB %2").arg(level.kb).arg(level.when);
    const QString text = QStringLiteral("VmRSS ") + levels.join(QStringLiteral(", "));
    if (!comparable())
        return text +
               QStringLiteral(" (not compared: the sanitizer's quarantine keeps freed memory;"
                              " its leak check at Varlo's exit stands in)");
    const qint64 growth = end.kb - highestEarlyKb();
    return text +
           QStringLiteral(" (%1%2 kB%3, allowed %4 kB: the larger of 2 MB and 5 %)")
               .arg(growth >= 0 ? QStringLiteral("+") : QString())
               .arg(growth)
               .arg(early.size() > 1 ? QStringLiteral(" over the highest before") : QString())
               .arg(slackKb());
}

QStringList xErrors(const QString &log)
{
    static const QRegularExpression error(QStringLiteral(
        "XCB error|X error|\\bBad(Window|Match|Drawable|Value|Access|Atom|Alloc|Pixmap)\\b"));
    QStringList found;
    for (const QString &line : log.split(QLatin1Char('\n'))) {
        if (line.contains(error) && !line.contains(kWindowGone))
            found.append(line);
    }
    return found;
}

int occurrences(const QString &log, const QString &text)
{
    static const QRegularExpression repeated(QStringLiteral("\\| \\(Repeated (\\d+) more time"));
    int count = 0;
    bool previousMatched = false;
    for (const QString &line : log.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = repeated.match(line);
        if (m.hasMatch()) {
            if (previousMatched)
                count += m.captured(1).toInt();
            continue;
        }
        previousMatched = line.contains(text);
        count += previousMatched;
    }
    return count;
}

QList<QRect> placementTargets(const QString &log)
{
    static const QRegularExpression placing(
        QStringLiteral("\\| Placing on screen .* -> QRect\\((-?\\d+),(-?\\d+) (\\d+)x(\\d+)\\)"));
    QList<QRect> targets;
    for (auto it = placing.globalMatch(log); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        targets.append(QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                             m.captured(4).toInt()));
    }
    return targets;
}

QString LogTail::next()
{
    QFile file(VarloRun::logPath());
    if (!file.open(QIODevice::ReadOnly) || !file.seek(m_offset))
        return {};
    const QByteArray added = file.readAll();
    m_offset += added.size();
    return QString::fromUtf8(added);
}

QStringList crashReports()
{
    return QDir(QFileInfo(VarloRun::logPath()).path())
        .entryList({QStringLiteral("*.dmp")}, QDir::Files);
}

bool settle(quint32 window, int timeoutMs)
{
    return XTestUtil::syncClient(window, timeoutMs) && XTestUtil::syncClient(window, timeoutMs);
}

PanelLayout PanelLayout::measure()
{
    PanelLayout layout;
    CommonBehavior controller(nullptr);
    GridWindow panel(&controller);
    panel.show();
    if (QTest::qWaitForWindowExposed(&panel)) {
        layout.size = panel.size();
        layout.frame =
            QRect(panel.dragFrame()->mapTo(&panel, QPoint(0, 0)), panel.dragFrame()->size());
    }
    panel.close();
    return layout;
}

QPoint PanelLayout::cellCentre(const QRect &panelGeometry, int column, int row) const
{
    const Util::MarginMetrics_t m{3, 3, 3, 3, 3, 3};
    const QRectF cell = CellGrid::layoutRect(QRect(QPoint(0, 0), frame.size()), m, QSize(6, 6),
                                             QRect(column, row, 1, 1));
    return panelGeometry.topLeft() + frame.topLeft() + cell.center().toPoint();
}

QPoint previewCellCentre(const QRect &area, int column, int row)
{
    const QRectF cell =
        CellGrid::layoutRect(QRect(QPoint(0, 0), area.size()), CommonBehavior::previewMargins(),
                             QSize(6, 6), QRect(column, row, 1, 1));
    return area.topLeft() + cell.center().toPoint();
}

QList<quint32> panels(qint64 pid, const QSize &panelSize, bool all)
{
    QList<quint32> result;
    for (quint32 w : XTestUtil::windowsOf(pid, all)) {
        if (XTestUtil::clientGeometry(w).size() == panelSize)
            result.append(w);
    }
    return result;
}

quint32 previewOver(qint64 pid, const QRect &area)
{
    for (quint32 w : XTestUtil::windowsOf(pid)) {
        if (XTestUtil::clientGeometry(w) == area)
            return w;
    }
    return 0;
}

quint32 lastingWindow(qint64 pid, const QSize &panelSize)
{
    quint32 best = 0;
    qint64 largest = 0;
    for (quint32 w : XTestUtil::windowsOf(pid, true)) {
        const QSize size = XTestUtil::clientGeometry(w).size();
        const qint64 area = qint64(size.width()) * size.height();
        if (size != panelSize && area > largest) {
            largest = area;
            best = w;
        }
    }
    return best;
}

bool pressHotKey(quint32 keysym)
{
    const quint32 control = 0xffe3; // Control_L
    const quint32 alt = 0xffe9;     // Alt_L
    return XTestUtil::fakeKey(control, true) && XTestUtil::fakeKey(alt, true) &&
           XTestUtil::fakeKey(keysym, true) && XTestUtil::fakeKey(keysym, false) &&
           XTestUtil::fakeKey(alt, false) && XTestUtil::fakeKey(control, false);
}

namespace {

// Varlo's settings and shortcut database, written before it starts.
bool prepareVarlo(const QList<Shortcut> &shortcuts)
{
    {
        QSettings settings;
        settings.setValue(QStringLiteral("use_hotkey"), true);
        settings.setValue(QStringLiteral("hotkey"), QStringLiteral("Ctrl+Alt+D"));
    }
    {
        DatabaseUtil database;
        if (!database.initialize())
            return false;
        ShortcutModel model;
        for (const Shortcut &s : shortcuts) {
            if (!model.addShortcut(s.name, s.keys, s.grid, s.selection, true, true, false))
                return false;
        }
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    return true;
}

} // namespace

qint64 Session::pid() const
{
    return varlo ? varlo->processId() : -1;
}

QString Session::start(const QList<Shortcut> &shortcuts)
{
    panel = PanelLayout::measure();
    if (!panel.size.isValid() || panel.frame.width() < 100)
        return QStringLiteral("the panel built here could not be measured");
    if (!prepareVarlo(shortcuts))
        return QStringLiteral("the settings or the shortcut database could not be written");
    xterm = XTestUtil::startXterm(QStringLiteral("placeme"));
    if (!xterm || !XTestUtil::activate(xterm.window))
        return XTestUtil::lastError();
    varlo = VarloRun::start();
    if (!varlo)
        return QStringLiteral("Varlo did not start: ") + VarloRun::log();
    const qsizetype screens = QGuiApplication::screens().size();
    if (!XTestUtil::waitFor([&] { return panels(pid(), panel.size, true).size() == screens; },
                            kPatienceMs))
        return QStringLiteral("Varlo built no panel for each of the %1 screens").arg(screens);
    lasting = lastingWindow(pid(), panel.size);
    if (!lasting || !settle(lasting))
        return QStringLiteral("Varlo does not answer: ") + XTestUtil::lastError();
    return {};
}

bool Session::stop()
{
    const bool stopped = VarloRun::stop(varlo);
    XTestUtil::cleanup();
    return stopped;
}

} // namespace DesktopStress
