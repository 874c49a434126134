#include "widgetdpimetrics.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace VarloWidgets {

namespace {
bool g_read = false;
int g_dpiX = 96;
int g_dpiY = 96;

void readOnce()
{
    if (g_read)
        return;
    // Before the application has a screen the values stay 96 and are tried again later.
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
    const int64_t divisor = std::llabs(int64_t(denominator));
    const bool negative = (product < 0) != (denominator < 0);
    const int64_t magnitude = (std::llabs(product) + divisor / 2) / divisor;
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

} // namespace VarloWidgets
