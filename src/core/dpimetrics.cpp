#include "dpimetrics.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <cstdint>

namespace {
bool g_read = false;
int g_dpiX = 96;
int g_dpiY = 96;

void readOnce()
{
    if (g_read)
        return;
    // Without an application or a screen the values stay 96 and are tried again later.
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    g_dpiX = qMax(1, int(std::lround(screen->logicalDotsPerInchX())));
    g_dpiY = qMax(1, int(std::lround(screen->logicalDotsPerInchY())));
    g_read = true;
}
} // namespace

int DpiMetrics::dpiX()
{
    readOnce();
    return g_dpiX;
}

int DpiMetrics::dpiY()
{
    readOnce();
    return g_dpiY;
}

int DpiMetrics::mulDiv(int n, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    const int64_t product = int64_t(n) * numerator;
    const int64_t half = std::abs(int64_t(denominator)) / 2;
    const bool negative = (product < 0) != (denominator < 0);
    const int64_t magnitude = (std::abs(product) + half) / std::abs(int64_t(denominator));
    const int64_t result = negative ? -magnitude : magnitude;
    if (result > INT32_MAX || result < INT32_MIN)
        return -1;
    return int(result);
}

int DpiMetrics::scaleX(int n)
{
    return mulDiv(n, dpiX(), 96);
}

int DpiMetrics::scaleY(int n)
{
    return mulDiv(n, dpiY(), 96);
}

int DpiMetrics::artworkDpi()
{
    const int dpi = dpiX();
    return dpi <= 96 ? 96 : dpi <= 120 ? 120 : dpi <= 144 ? 144 : 192;
}

int DpiMetrics::frameBorder()
{
    return artworkDpi() / 12;
}

int DpiMetrics::buttonIconSize()
{
    switch (artworkDpi()) {
    case 120:
        return 24;
    case 144:
        return 28;
    case 192:
        return 38;
    default:
        return 19;
    }
}

void DpiMetrics::reset()
{
    g_read = false;
    g_dpiX = 96;
    g_dpiY = 96;
}
