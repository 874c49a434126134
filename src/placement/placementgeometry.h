#pragma once

#include "marginmetrics.h"

#include <QRect>
#include <QRectF>
#include <QSize>

class QSettings;

// Turns a cell selection on a screen into the rectangle a window must occupy
// in that screen's work area. The panels' cells, the preview and the placed
// window all come from the same rule, so what the user selects is where the
// window lands.

/** The six margin settings, read as reals; "margins/enabled" is not looked at. */
Util::MarginMetrics_t readMarginMetrics();
Util::MarginMetrics_t readMarginMetrics(const QSettings &settings);

/** The selection's rectangle inside area (inclusive QRect sizes), unrounded; null for an unusable grid. */
QRectF placementRect(const QRect &area, const Util::MarginMetrics_t &margins, QSize dim, QRect selection);

/** placementRect on the cached work area of screen (-1: the primary screen). */
QRectF placementRect(int screen, Util::MarginMetrics_t margins, QSize dim, QRect selection);

/** What a placement request comes to, before the window mover is called. */
struct PlacementDecision
{
    /** False when nothing may be placed (an unusable grid, cells without size). */
    bool valid = false;
    QRect rect;
    bool maximize = false;
    bool adjustChrome = false;
};

/**
 * The decision for a request on a work area, with the settings as they are
 * now: margins (when enabled), maximise for the whole grid, frame compensation.
 */
PlacementDecision decidePlacement(const QSettings &settings, const QRect &workArea, QSize dim,
                                  QRect selection);
