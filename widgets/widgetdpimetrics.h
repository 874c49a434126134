#pragma once

// The library's own copy of the program's display metrics: the primary
// screen's logical DPI, read once and kept for the run. Sizes are designed for
// 96 DPI and scaled with these. Kept out of the program's DpiMetrics so the
// library links nothing of the program.
namespace VarloWidgets {

class DpiMetrics
{
public:
    static int dpiX();
    static int dpiY();
    /** n * dpiX / 96, rounded half away from zero. */
    static int scaleX(int n);
    static int scaleY(int n);
    /** n * numerator / denominator rounded half away from zero; -1 on a zero denominator or
     * overflow. */
    static int mulDiv(int n, int numerator, int denominator);
};

} // namespace VarloWidgets
