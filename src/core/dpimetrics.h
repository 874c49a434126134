#pragma once

// The display's logical DPI, read once from the primary screen (Xft.dpi on X11,
// the screen configuration on the offscreen platform) and kept for the run.
// Sizes in the program are designed for 96 DPI and scaled with these.
class DpiMetrics
{
public:
    static int dpiX();
    static int dpiY();
    /** n * dpiX / 96, rounded half away from zero. */
    static int scaleX(int n);
    static int scaleY(int n);

    /** Rounds n * numerator / denominator as Win32's MulDiv does; -1 on a zero denominator. */
    static int mulDiv(int n, int numerator, int denominator);

    /** For tests: forget the values read so the next call reads the screen again. */
    static void reset();
};
