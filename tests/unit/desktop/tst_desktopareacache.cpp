#include "desktopareacache.h"
#include "fake/fakeplatform.h"
#include "offscreenscreens.h"
#include "x11/x11workarea.h"

#include <QApplication>
#include <QCursor>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest>

namespace {

// The desktop of these tests: 1920x1080 at 0,0 beside a shorter 1280x1024.
const QRect first(0, 0, 1920, 1080);
const QRect second(1920, 0, 1280, 1024);
const QSize root(3200, 1080);

using Cardinals = QList<quint32>;

QList<X11WorkArea::Strut> struts(const QList<Cardinals> &properties)
{
    QList<X11WorkArea::Strut> result;
    for (const Cardinals &values : properties)
        result.append(X11WorkArea::strutFromCardinals(values, root).value());
    return result;
}

} // namespace

class TestDesktopAreaCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void screenAt_data()
    {
        QTest::addColumn<QList<QRect>>("areas");
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<int>("screen");
        const QList<QRect> two{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        const QList<QRect> overlapping{QRect(0, 0, 1000, 1000), QRect(500, 0, 1000, 1000)};
        QTest::newRow("first screen's corner") << two << QPoint(0, 0) << 0;
        QTest::newRow("first screen's last pixel") << two << QPoint(1919, 1079) << 0;
        QTest::newRow("second screen's first pixel") << two << QPoint(1920, 0) << 1;
        QTest::newRow("second screen's last pixel") << two << QPoint(3199, 1023) << 1;
        QTest::newRow("below the shorter screen") << two << QPoint(2000, 1050) << 0;
        QTest::newRow("left of everything") << two << QPoint(-5, 10) << 0;
        QTest::newRow("overlap belongs to the lower index") << overlapping << QPoint(600, 10) << 0;
        QTest::newRow("no screens") << QList<QRect>() << QPoint(1, 1) << 0;
    }

    void screenAt()
    {
        QFETCH(QList<QRect>, areas);
        QFETCH(QPoint, point);
        QFETCH(int, screen);
        QCOMPARE(DesktopAreaCache::screenAt(areas, point), screen);
    }

    void screenForRect_data()
    {
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<int>("screen");
        QTest::newRow("split half and half") << QRect(1820, 0, 200, 100) << 0;
        QTest::newRow("mostly on the second") << QRect(1900, 0, 200, 100) << 1;
        QTest::newRow("on no screen") << QRect(5000, 5000, 10, 10) << 0;
        QTest::newRow("empty rectangle") << QRect(2000, 10, 0, 0) << 0;
        QTest::newRow("covering both, larger part second") << QRect(1000, 0, 2200, 1024) << 1;
    }

    void screenForRect()
    {
        QFETCH(QRect, rect);
        QFETCH(int, screen);
        const QList<QRect> areas{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        QCOMPARE(DesktopAreaCache::screenForRect(areas, rect), screen);
    }

    // Rows of _NET_WM_STRUT_PARTIAL: left, right, top, bottom, then the
    // ranges left_start_y, left_end_y, right_.., top_start_x, top_end_x, bottom_..
    void workAreas_data()
    {
        QTest::addColumn<QList<Cardinals>>("mapped");
        QTest::addColumn<QList<Cardinals>>("other");
        QTest::addColumn<QRect>("netWorkArea");
        QTest::addColumn<QList<QRect>>("perMonitor");
        QTest::addColumn<QList<QRect>>("expected");
        const QList<Cardinals> none;
        const QList<QRect> whole{first, second};
        const Cardinals topOfSecond{0, 0, 40, 0, 0, 0, 0, 0, 1920, 3199, 0, 0};

        QTest::newRow("nothing reserved")
            << none << none << QRect(QPoint(0, 0), root) << QList<QRect>() << whole;
        // The work area of a manager that counts every strut spans the screens.
        QTest::newRow("top strut of the second screen")
            << QList<Cardinals>{topOfSecond} << none << QRect(0, 40, 3200, 1040) << QList<QRect>()
            << QList<QRect>{first, second.adjusted(0, 40, 0, 0)};
        QTest::newRow("bottom strut of the shorter screen, from the root's bottom")
            << QList<Cardinals>{{0, 0, 0, 1080 - 1024 + 40, 0, 0, 0, 0, 0, 0, 1920, 3199}} << none
            << QRect(0, 0, 3200, 984) << QList<QRect>()
            << QList<QRect>{first, second.adjusted(0, 0, 0, -40)};
        QTest::newRow("left strut, its band short of the second screen")
            << QList<Cardinals>{{50, 0, 0, 0, 0, 1079, 0, 0, 0, 0, 0, 0}} << none << QRect()
            << QList<QRect>() << QList<QRect>{first.adjusted(50, 0, 0, 0), second};
        QTest::newRow("top strut whose range misses the second screen")
            << QList<Cardinals>{{0, 0, 40, 0, 0, 0, 0, 0, 0, 1919, 0, 0}} << none << QRect()
            << QList<QRect>() << QList<QRect>{first.adjusted(0, 40, 0, 0), second};
        QTest::newRow("_NET_WM_STRUT only: whole edges")
            << QList<Cardinals>{{0, 0, 30, 40}} << none << QRect() << QList<QRect>()
            << QList<QRect>{first.adjusted(0, 30, 0, -40), second.adjusted(0, 30, 0, 0)};
        QTest::newRow("overlapping struts: the deepest counts, also one that meets a screen partly")
            << QList<Cardinals>{topOfSecond,
                                {0, 0, 50, 0, 0, 0, 0, 0, 3000, 3100, 0, 0},
                                {0, 0, 20, 0}}
            << none << QRect() << QList<QRect>()
            << QList<QRect>{first.adjusted(0, 20, 0, 0), second.adjusted(0, 50, 0, 0)};
        // Docks on the inner edges: each band reaches across the other screen.
        QTest::newRow("a band across a whole screen is not that screen's")
            << QList<Cardinals>{{1920 + 50, 0, 0, 0, 0, 1023, 0, 0, 0, 0, 0, 0},
                                {0, 3200 - 1920 + 40, 0, 0, 0, 0, 0, 1079, 0, 0, 0, 0},
                                {0, 0, 30, 0}}
            << none << QRect(1600, 0, 1600, 1080) << QList<QRect>()
            << QList<QRect>{first.adjusted(0, 30, -40, 0), second.adjusted(50, 30, 0, 0)};
        QTest::newRow("struts that leave nothing: the whole screen")
            << QList<Cardinals>{{1000, 3200 - 900, 0, 0, 0, 1079, 0, 1079, 0, 0, 0, 0}} << none
            << QRect() << QList<QRect>() << QList<QRect>{first, second};
        QTest::newRow("a bar of the manager's own, without struts")
            << none << none << QRect(0, 0, 3200, 1060) << QList<QRect>()
            << QList<QRect>{first.adjusted(0, 0, 0, -20), second};
        // Fluxbox: its toolbar below the first screen, a dock it does not
        // count below the second, which reaches further from the root's edge.
        QTest::newRow("a bar of the manager's own beside a dock")
            << QList<Cardinals>{{0, 0, 0, 1080 - 1024 + 30, 0, 0, 0, 0, 0, 0, 1920, 3199}} << none
            << QRect(0, 0, 3200, 1060) << QList<QRect>()
            << QList<QRect>{first.adjusted(0, 0, 0, -20), second.adjusted(0, 0, 0, -30)};
        QTest::newRow("work area still counting a dock that went or is unmapped")
            << none << QList<Cardinals>{topOfSecond} << QRect(0, 40, 3200, 1040) << QList<QRect>()
            << whole;
        QTest::newRow("the manager's own areas per monitor, in its order")
            << QList<Cardinals>{topOfSecond} << none << QRect(0, 40, 3200, 1040)
            << QList<QRect>{QRect(1920, 30, 1280, 994), QRect(0, 0, 1920, 1050)}
            << QList<QRect>{QRect(0, 0, 1920, 1050), QRect(1920, 30, 1280, 994)};
        QTest::newRow("an area of a monitor that is gone")
            << QList<Cardinals>{topOfSecond} << none << QRect()
            << QList<QRect>{QRect(0, 0, 1920, 1050), QRect(3200, 0, 1024, 768)}
            << QList<QRect>{QRect(0, 0, 1920, 1050), second.adjusted(0, 40, 0, 0)};
    }

    void workAreas()
    {
        QFETCH(QList<Cardinals>, mapped);
        QFETCH(QList<Cardinals>, other);
        QFETCH(QRect, netWorkArea);
        QFETCH(QList<QRect>, perMonitor);
        QFETCH(QList<QRect>, expected);
        X11WorkArea::Desktop desktop;
        desktop.root = root;
        desktop.perMonitor = perMonitor;
        if (!netWorkArea.isNull())
            desktop.workArea = netWorkArea;
        desktop.struts = struts(mapped);
        desktop.otherStruts = struts(other);
        QCOMPARE(X11WorkArea::areas({first, second}, desktop), expected);
    }

    void followsThePlatformsWorkAreas()
    {
        auto *fake = dynamic_cast<FakePlatform *>(Platform::instance());
        QVERIFY(fake);
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        const QList<QRect> qtAreas = cache->areas();
        QCOMPARE(qtAreas, (QList<QRect>{first, second}));
        QSignalSpy changed(cache, &DesktopAreaCache::workAreaChanged);
        const auto screensTold = [&] {
            QList<int> screens;
            for (const QList<QVariant> &arguments : std::as_const(changed))
                screens.append(arguments.at(0).toInt());
            changed.clear();
            return screens;
        };

        const QRect docked = second.adjusted(0, 40, 0, 0);
        fake->setWorkAreas({first, docked});
        QCOMPARE(screensTold(), QList<int>{1});
        QCOMPARE(cache->availableGeometry(1), docked);
        QWidget widget;
        widget.setGeometry(2000, 100, 200, 100);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        QCOMPARE(cache->availableGeometry(&widget), docked);

        fake->setWorkAreas({first, docked});
        QCOMPARE(screensTold(), QList<int>());
        fake->setWorkAreas({first.adjusted(0, 0, 0, -20), second});
        QCOMPARE(screensTold(), (QList<int>{0, 1}));
        // Areas that do not fit the screens are not the screens' areas.
        fake->setWorkAreas({docked});
        QCOMPARE(cache->areas(), qtAreas);
        QCOMPARE(screensTold(), QList<int>{0});
        fake->setWorkAreas({});
        QCOMPARE(cache->areas(), qtAreas);
        QCOMPARE(screensTold(), QList<int>());
    }

    void cacheOfTheScreens()
    {
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        QCOMPARE(cache->screenCount(), 2);
        QCOMPARE(cache->availableGeometry(0), QRect(0, 0, 1920, 1080));
        QCOMPARE(cache->availableGeometry(1), QRect(1920, 0, 1280, 1024));
        QCOMPARE(cache->availableGeometry(-1), cache->availableGeometry(cache->primaryScreen()));
        // An index kept from before a screen went away.
        QCOMPARE(cache->availableGeometry(2), QRect());
        QCOMPARE(cache->availableGeometry(-2), QRect());

        QCOMPARE(::screenAt(QPoint(2000, 10)), 1);
        QCOMPARE(::screenForRect(1900, 0, 2100, 100), 1);
        QCursor::setPos(QPoint(2500, 500));
        QCOMPARE(::screenAtCursor(), 1);

        QWidget widget;
        widget.setGeometry(2000, 100, 200, 100);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        QCOMPARE(cache->screenNumber(&widget), 1);
        QCOMPARE(cache->availableGeometry(&widget), QRect(1920, 0, 1280, 1024));
        QCOMPARE(cache->availableGeometry(static_cast<QWidget *>(nullptr)),
                 cache->availableGeometry(-1));
    }
};

int main(int argc, char **argv)
{
    useOffscreenScreens({"0,0,1920,1080", "1920,0,1280,1024"});
    QApplication app(argc, argv);
    TestDesktopAreaCache test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopareacache.moc"
