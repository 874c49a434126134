#include "placementgeometry.h"

#include "cellgrid.h"
#include "desktopareacache.h"
#include "settingsstore.h"
#include "varlolog.h"

#include <QSettings>

#include <cmath>

Util::MarginMetrics_t readMarginMetrics(const QSettings &settings)
{
    Util::MarginMetrics_t m;
    m.cellWidth = SettingsStore::readReal(settings, QStringLiteral("margins/cell_width"));
    m.cellHeight = SettingsStore::readReal(settings, QStringLiteral("margins/cell_height"));
    m.screenLeft = SettingsStore::readReal(settings, QStringLiteral("margins/screen_left"));
    m.screenTop = SettingsStore::readReal(settings, QStringLiteral("margins/screen_top"));
    m.screenRight = SettingsStore::readReal(settings, QStringLiteral("margins/screen_right"));
    m.screenBottom = SettingsStore::readReal(settings, QStringLiteral("margins/screen_bottom"));
    return m;
}

Util::MarginMetrics_t readMarginMetrics()
{
    return readMarginMetrics(QSettings());
}

QRectF placementRect(const QRect &area, const Util::MarginMetrics_t &margins, QSize dim, QRect selection)
{
    // The cell rule lives in CellGrid; the work area is its paint area here.
    return CellGrid::layoutRect(area, margins, dim, selection);
}

QRectF placementRect(int screen, Util::MarginMetrics_t margins, QSize dim, QRect selection)
{
    return placementRect(DesktopAreaCache::instance()->availableGeometry(screen), margins, dim, selection);
}

PlacementDecision decidePlacement(const QSettings &settings, const QRect &workArea, QSize dim,
                                  QRect selection)
{
    PlacementDecision decision;
    const bool marginsEnabled = SettingsStore::readBool(settings, QStringLiteral("margins/enabled"));
    const Util::MarginMetrics_t margins = marginsEnabled ? readMarginMetrics(settings) : Util::MarginMetrics_t();

    const QRectF r = placementRect(workArea, margins, dim, selection);
    // Margins from a damaged store can put the edges anywhere, even where no
    // pixel position reaches.
    const auto onScreen = [](double edge) { return std::isfinite(edge) && std::abs(edge) < 1e8; };
    const bool representable =
        onScreen(r.left()) && onScreen(r.top()) && onScreen(r.right()) && onScreen(r.bottom());
    // Each edge to its nearest pixel, not the size: windows on neighbouring
    // cells then meet without a gap or an overlap.
    const QRect rect = representable ? QRect(QPoint(qRound(r.left()), qRound(r.top())),
                                             QPoint(qRound(r.right()) - 1, qRound(r.bottom()) - 1))
                                     : QRect();
    // Margins larger than the work area leave cells without size; a window
    // must never be asked to take a size of zero or less. Cells outside the
    // grid (a damaged shortcut) lie outside the work area.
    if (r.isNull() || rect.width() <= 0 || rect.height() <= 0 || selection.x() < 0 || selection.y() < 0
        || selection.width() <= 0 || selection.height() <= 0
        || qint64(selection.x()) + selection.width() > dim.width()
        || qint64(selection.y()) + selection.height() > dim.height()) {
        vWarning() << "Placement ignored: selection" << selection << "on a" << dim << "grid in"
                   << workArea << "leaves no room for a window.";
        return decision;
    }

    const bool screenMarginsZero =
        SettingsStore::readReal(settings, QStringLiteral("margins/screen_left")) == 0.0
        && SettingsStore::readReal(settings, QStringLiteral("margins/screen_top")) == 0.0
        && SettingsStore::readReal(settings, QStringLiteral("margins/screen_right")) == 0.0
        && SettingsStore::readReal(settings, QStringLiteral("margins/screen_bottom")) == 0.0;

    const bool wholeGrid = selection.right() - selection.left() + 1 == dim.width()
                           && selection.bottom() - selection.top() + 1 == dim.height();
    decision.maximize = wholeGrid && (!marginsEnabled || screenMarginsZero)
                        && SettingsStore::readBool(settings, QStringLiteral("maximize_fullscreen"));
    decision.adjustChrome = SettingsStore::readBool(settings, QStringLiteral("factor_chrome"));
    decision.rect = rect;
    decision.valid = true;
    return decision;
}
