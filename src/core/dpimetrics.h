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

    /**
     * The density of the artwork that suits the display: 96, 120, 144 or 192
     * (a display between two takes the larger).
     */
    static int artworkDpi();
    /** The border of the frame artwork at artworkDpi(): 8, 10, 12 or 16. */
    static int frameBorder();
    /** The size of the small window buttons' icons at artworkDpi(): 19, 24, 28 or 38. */
    static int buttonIconSize();

    /** Rounds n * numerator / denominator as Win32's MulDiv does; -1 on a zero denominator. */
    static int mulDiv(int n, int numerator, int denominator);

    /** For tests: forget the values read so the next call reads the screen again. */
    static void reset();
};
