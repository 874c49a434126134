#include "desktopareacache.h"

#include "platform.h"
#include "varlolog.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

struct DesktopAreaCache::Private
{
    int primaryScreen = 0;
    int screenCount = 0;
    QList<QRect> geometries;
    QList<QRect> areas;
};

DesktopAreaCache *DesktopAreaCache::instance()
{
    // Lives for the whole run, like the application's other services.
    static DesktopAreaCache *cache = new DesktopAreaCache;
    return cache;
}

DesktopAreaCache::DesktopAreaCache() : d(std::make_unique<Private>())
{
    connect(qGuiApp, &QGuiApplication::screenAdded, this, &DesktopAreaCache::desktopChanged);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &DesktopAreaCache::desktopChanged);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this,
            &DesktopAreaCache::desktopChanged);
    Platform::instance()->setWorkAreaHandler([this] { desktopChanged(); });
    desktopChanged();
}

DesktopAreaCache::~DesktopAreaCache() = default;

void DesktopAreaCache::desktopChanged()
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    const QList<QRect> before = d->areas;
    d->screenCount = int(screens.size());
    d->geometries.clear();
    d->areas.clear();
    for (QScreen *screen : screens) {
        d->geometries.append(screen->geometry());
        d->areas.append(screen->availableGeometry());
        // Screens come and go; a unique connection per screen keeps one refresh per change.
        connect(screen, &QScreen::geometryChanged, this, &DesktopAreaCache::desktopChanged,
                Qt::UniqueConnection);
        connect(screen, &QScreen::availableGeometryChanged, this, &DesktopAreaCache::desktopChanged,
                Qt::UniqueConnection);
    }
    const QList<QRect> platformAreas = Platform::instance()->workAreas(d->geometries);
    if (platformAreas.size() == d->areas.size())
        d->areas = platformAreas;
    d->primaryScreen = qMax(0, int(screens.indexOf(QGuiApplication::primaryScreen())));
    if (before.size() != d->areas.size())
        return;
    for (int i = 0; i < d->areas.size(); ++i) {
        if (d->areas.at(i) != before.at(i))
            Q_EMIT workAreaChanged(i);
    }
}

int DesktopAreaCache::primaryScreen() const
{
    return d->primaryScreen;
}

int DesktopAreaCache::screenCount() const
{
    return d->screenCount;
}

QRect DesktopAreaCache::availableGeometry(int screen) const
{
    if (screen == -1)
        screen = d->primaryScreen;
    if (screen < 0 || screen >= d->areas.size()) {
        // An index kept from before a screen went away: answer, but with nothing.
        vDebug() << "No screen" << screen << "among" << d->areas.size();
        return QRect();
    }
    return d->areas.at(screen);
}

// The screen a widget is on is where its middle is. QWidget::screen() is
// not used: Qt leaves a hidden or frameless window on the screen it was
// created on after it has been moved to another one.
static QScreen *screenOf(QWidget *widget)
{
    QWidget *window = widget->window();
    const QPoint centre = window->geometry().center();
    if (QScreen *screen = QGuiApplication::screenAt(centre))
        return screen;
    return widget->screen();
}

QRect DesktopAreaCache::availableGeometry(QWidget *widget) const
{
    if (!widget)
        return availableGeometry(-1);
    QScreen *screen = screenOf(widget);
    if (!screen)
        return availableGeometry(-1);
    // Qt may report a screen change before the cache has heard of it.
    const int index = int(QGuiApplication::screens().indexOf(screen));
    if (d->geometries.value(index) == screen->geometry())
        return d->areas.at(index);
    return screen->availableGeometry();
}

int DesktopAreaCache::screenNumber(QWidget *widget) const
{
    if (!widget)
        return int(QGuiApplication::screens().indexOf(QGuiApplication::primaryScreen()));
    return int(QGuiApplication::screens().indexOf(screenOf(widget)));
}

QList<QRect> DesktopAreaCache::areas() const
{
    return d->areas;
}

int DesktopAreaCache::screenAt(const QList<QRect> &areas, const QPoint &point)
{
    for (int i = 0; i < areas.size(); ++i) {
        if (areas.at(i).contains(point))
            return i;
    }
    return 0;
}

int DesktopAreaCache::screenForRect(const QList<QRect> &areas, const QRect &rect)
{
    int best = 0;
    qint64 largest = 0;
    for (int i = 0; i < areas.size(); ++i) {
        const QRect common = areas.at(i).intersected(rect);
        const qint64 area = qint64(common.width()) * common.height();
        if (!common.isEmpty() && area > largest) {
            largest = area;
            best = i;
        }
    }
    return best;
}

int screenAt(const QPoint &point)
{
    return DesktopAreaCache::screenAt(DesktopAreaCache::instance()->areas(), point);
}

int screenAtCursor()
{
    return screenAt(QCursor::pos());
}

int screenForRect(int left, int top, int right, int bottom)
{
    return DesktopAreaCache::screenForRect(DesktopAreaCache::instance()->areas(),
                                           QRect(left, top, right - left, bottom - top));
}
