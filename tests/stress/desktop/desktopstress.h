#pragma once

// What the stress tests on the real desktop share: round counts and their
// scale, Varlo's memory, its log read for X errors and crash reports, its
// panels and preview as the server shows them, and keys typed through XTEST.

#include "xtestutil.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

class QProcess;

namespace DesktopStress {

/**
 * How long a step waits for Varlo, the window manager or the server before
 * it counts as hung: long, because the machine may be shared with builds
 * that starve the desktop's processes for seconds at a time.
 */
constexpr int kPatienceMs = 30000;

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

/**
 * Varlo's resident memory after the first hundred rounds of each part of a
 * run (half of its rounds in a shorter part), and at the end: the end may
 * not lie above the highest of the first by more than the larger of 2 MB and
 * 5 %. Each part reaches its own peak early (a burst of windows fills Qt's
 * event queue once). Under the address sanitizer freed memory stays in its
 * quarantine, so there only the sanitizer's leak check at Varlo's exit counts.
 */
struct ResidentMemory
{
    struct Level
    {
        QString when; // "after round 100 of the placements"
        qint64 kb = -1;
    };
    QList<Level> early;
    Level end;

    /** The round of a part of rounds rounds after which its early level is taken. */
    static int baselineRoundOf(int rounds);
    static bool comparable();
    qint64 highestEarlyKb() const;
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
bool settle(quint32 window, int timeoutMs = kPatienceMs);

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

/** Varlo started for a stress test, and an xterm in front for it to place. */
struct Session
{
    QProcess *varlo = nullptr;
    StartedWindow xterm;
    PanelLayout panel;
    quint32 lasting = 0; // see lastingWindow()

    qint64 pid() const;
    /**
     * Writes Varlo's settings (the panels' hot key Ctrl+Alt+D) and the
     * named shortcuts, all global; starts an xterm and makes it active;
     * starts Varlo and waits until it has built one panel per screen. Empty
     * on success, else what failed. Needs a QApplication.
     */
    QString start(const QList<Shortcut> &shortcuts);
    /**
     * Ends Varlo as a logout does, and what the helpers started; false
     * unless Varlo ended with 0 (not after a crash or a leak report).
     */
    bool stop();
};

} // namespace DesktopStress
