#pragma once

// What the stress tests on the real desktop share: round counts and their
// scale, Varlo's memory, its log read for X errors and crash reports, its
// panels and preview as the server shows them, and keys typed through XTEST.

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

namespace DesktopStress {

/** VARLO_STRESS_SCALE; 1 when unset or not a positive number. */
double scale();
/** base rounds times the scale, at least one. */
int rounds(int base);
/** ", scaled by S" when the scale is not 1, else empty: for the summary line. */
QString scaleNote();

/**
 * The one line a stress test prints: its counts, then "ok" or "FAILED"
 * according to how the test function ended, whichever way it ended.
 */
class SummaryLine
{
public:
    explicit SummaryLine(const QString &title) : m_title(title) {}
    ~SummaryLine();
    SummaryLine(const SummaryLine &) = delete;
    SummaryLine &operator=(const SummaryLine &) = delete;

    void add(const QString &part) { m_parts.append(part); }

private:
    QString m_title;
    QStringList m_parts;
};

/** VmRSS of a process in kB, -1 when it cannot be read. */
qint64 residentKb(qint64 pid);

/**
 * Varlo's resident memory at two points of a run: after its first hundred
 * rounds (half of them in a run of fewer) and at the end. Growth beyond the
 * larger of 2 MB and 5 % is a leak. Under the address sanitizer freed memory
 * stays in its quarantine, so there only the sanitizer's leak check at
 * Varlo's exit counts.
 */
struct ResidentMemory
{
    int baselineRound = 0;
    qint64 baselineKb = -1;
    int finalRound = 0;
    qint64 finalKb = -1;

    /** The round after which the baseline is taken in a run of rounds. */
    static int baselineRoundOf(int rounds);
    static bool comparable();
    qint64 slackKb() const;
    bool grew() const;
    QString describe() const;
};

/**
 * Lines of Varlo's log that tell of an X error: Qt's own reports and the
 * backend's, except the note that a window to be placed was gone.
 */
QStringList xErrors(const QString &log);
/** The expected note about a window that vanished before it was placed. */
inline const QString kWindowGone = QStringLiteral(" is gone, nothing was placed");
/** How many log lines contain text, lines the log folded into "Repeated N more times" included. */
int occurrences(const QString &log, const QString &text);
/** The target rectangles (root coordinates) of the placements a piece of the log tells of. */
QList<QRect> placementTargets(const QString &log);
/** What Varlo's log gained since the last call (since the start of the log at first). */
class LogTail
{
public:
    QString next();

private:
    qint64 m_offset = 0;
};
/** Crash reports Varlo left beside its log. */
QStringList crashReports();

/**
 * Waits until Varlo, the owner of window, has read the events sent to it
 * before the call, and most likely handled them: two pings, one behind the
 * other. Qt answers a ping as soon as it reads it, though, and hands input
 * and queued work (a hot key's activation) on afterwards: a test that needs
 * those done waits for what they do.
 */
bool settle(quint32 window, int timeoutMs = 10000);

/** Where the panel's parts are: the same form built here lays out as in Varlo. */
struct PanelLayout
{
    QSize size;
    QRect frame; // the drag frame, in panel coordinates

    /** Builds a panel in this process and measures it; needs a QApplication. */
    static PanelLayout measure();
    /** The root position of a cell's centre on a panel at panelGeometry (6 x 6 grid). */
    QPoint cellCentre(const QRect &panelGeometry, int column, int row) const;
};

/** The root position of a cell's centre on the preview over area (6 x 6 grid). */
QPoint previewCellCentre(const QRect &area, int column, int row);

/** Varlo's windows of the panel's size: the mapped ones, or all. */
QList<quint32> panels(qint64 pid, const QSize &panelSize, bool all = false);
/** Varlo's mapped window that covers exactly area (the preview), 0 when none. */
quint32 previewOver(qint64 pid, const QRect &area);
/**
 * A window of Varlo that lives as long as Varlo (its settings window): it
 * answers the pings of settle() whatever happens to the panels.
 */
quint32 lastingWindow(qint64 pid, const QSize &panelSize);

/** Ctrl+Alt+key through XTEST, pressed and released. */
bool pressHotKey(quint32 keysym);

/** A named shortcut as the settings window stores it. */
struct Shortcut
{
    QString name;
    QString keys;
    QSize grid;
    QRect selection;
};
/**
 * Writes Varlo's settings and shortcut database before it starts: the panel
 * hot key Ctrl+Alt+D and the given named shortcuts, all global.
 */
bool prepareVarlo(const QList<Shortcut> &shortcuts);

} // namespace DesktopStress
