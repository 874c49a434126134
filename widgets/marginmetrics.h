#pragma once

namespace Util {

// The one description of margins in Varlo: the same six values lay out the
// cells of a grid and place real windows in a screen's work area. Pixels.
struct MarginMetrics_t
{
    double cellWidth = 0.0;    // gap between two adjacent columns
    double cellHeight = 0.0;   // gap between two adjacent rows
    double screenLeft = 0.0;   // before the first column
    double screenTop = 0.0;    // above the first row
    double screenRight = 0.0;  // after the last column
    double screenBottom = 0.0; // below the last row
};

} // namespace Util
