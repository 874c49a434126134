// The appearance tab's previews on a private two-screen desktop with Openbox:
// where they really lie, that clicks go through them, and that they follow
// the margins.

#include "appearancetab.h"
#include "cellgrid.h"
#include "desktopareacache.h"
#include "dragframe.h"
#include "settingsstore.h"
#include "xtestutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QTest>

namespace {

QString describe(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// The colour on screen at a root position, as the server shows it.
QColor colourAt(const QPoint &root)
{
    QScreen *screen = QGuiApplication::screenAt(root);
    if (!screen)
        return {};
    const QPoint local = root - screen->geometry().topLeft();
    return screen->grabWindow(0, local.x(), local.y(), 1, 1).toImage().pixelColor(0, 0);
}

bool previewBlue(const QColor &c)
{
    // The cells' fill, whatever the server makes of the window's opacity.
    return c.blue() > c.red() + 60 && c.blue() > c.green() + 30;
}

} // namespace

class TestX11Appearance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(XTestUtil::xrunScreens() >= 2, "needs two screens (Xorg with the dummy driver)");
        SettingsStore::writeSettingsDefaults();
        QSettings settings;
        settings.setValue("margins/enabled", true);
        settings.setValue("grid/reset", true);
        settings.setValue("grid/reset_size", QSize(3, 2));
    }

    void cleanupTestCase() { XTestUtil::cleanup(); }

    void previewsOnTwoScreens()
    {
        DesktopAreaCache *cache = DesktopAreaCache::instance();
        // A dock along the top of the second screen, so that its work area is
        // not the whole screen.
        const StartedWindow dock = XTestUtil::startTestClient(
            {"--dock", "top", "--thickness", "40", "--screen-rect", "1280x1024+1920+0"});
        QVERIFY2(dock, qPrintable(XTestUtil::lastError()));
        const QList<QRect> areas{QRect(0, 0, 1920, 1080), QRect(1920, 40, 1280, 984)};
        QVERIFY(XTestUtil::waitFor([&] { return cache->areas() == areas; }));

        const StartedWindow below = XTestUtil::startTestClient(
            {"--events", "--geometry", "300x200+2200+300", "--title", "below"});
        QVERIFY2(below, qPrintable(XTestUtil::lastError()));

        AppearanceTab tab(nullptr);
        tab.showPreviewScreens();
        const QList<DragFrame *> previews = tab.previewScreens();
        QCOMPARE(previews.size(), 2);
        for (int screen = 0; screen < 2; ++screen) {
            const quint32 id = quint32(previews.at(screen)->winId());
            QVERIFY2(XTestUtil::waitFor(
                         [&] { return XTestUtil::clientGeometry(id) == areas.at(screen); }),
                     qPrintable(describe(XTestUtil::clientGeometry(id))));
            QVERIFY(XTestUtil::atomProperty(id, "_NET_WM_STATE").contains("_NET_WM_STATE_ABOVE"));
        }

        // The window manager moves and shrinks one: it goes back on its area.
        const quint32 second = quint32(previews.at(1)->winId());
        ConfigureWatcher watcher(second);
        QVERIFY(XTestUtil::run("xdotool", {"windowsize", QString::number(second), "500", "400",
                                           "windowmove", QString::number(second), "2000", "100"})
                    .ok());
        // Seen in the events: the correction may have come before a look at the window.
        QVERIFY2(watcher.waitFor([&] { return watcher.sizesSeen().contains(QSize(500, 400)); }, 15000),
                 "the window manager did not resize the preview");
        QVERIFY2(
            XTestUtil::waitFor([&] { return XTestUtil::clientGeometry(second) == areas.at(1); }),
            qPrintable(describe(XTestUtil::clientGeometry(second))));

        // Above the other window, and a click there still reaches it.
        const QList<quint32> stack = XTestUtil::rootChildren();
        QVERIFY(stack.indexOf(XTestUtil::topLevelOf(second)) >
                stack.indexOf(XTestUtil::topLevelOf(below.window)));
        const QPoint inBelow = XTestUtil::clientGeometry(below.window).center();
        QVERIFY(XTestUtil::movePointer(inBelow));
        QVERIFY2(XTestUtil::waitFor([&] {
                     return XTestUtil::windowUnderPointer() == XTestUtil::topLevelOf(below.window);
                 }),
                 "the preview takes the pointer");
        QVERIFY(XTestUtil::click());
        QVERIFY2(!XTestUtil::waitForClientOutput(below.window, "button 1").isEmpty(),
                 "the click did not pass through the preview");

        // The first cell starts 10 px in from the left of the work area. A
        // margin of 60 leaves a point 30 px in uncovered.
        const QPoint probe(30, 300);
        QVERIFY2(XTestUtil::waitFor([&] { return previewBlue(colourAt(probe)); }),
                 qPrintable(colourAt(probe).name()));
        tab.findChild<QSpinBox *>("spinBoxMarginScreenLeft")->setValue(60);
        for (DragFrame *preview : previews)
            QCOMPARE(preview->cellGrid()->marginMetrics().screenLeft, 60.0);
        QVERIFY2(XTestUtil::waitFor([&] { return !previewBlue(colourAt(probe)); }),
                 qPrintable(colourAt(probe).name()));
        const QPoint secondProbe(1920 + 30, 300);
        QVERIFY(XTestUtil::waitFor([&] { return !previewBlue(colourAt(secondProbe)); }));

        tab.clearPreviewScreens();
        QVERIFY(tab.previewScreens().isEmpty());
        QVERIFY(XTestUtil::waitFor([&] { return !previewBlue(colourAt(QPoint(100, 300))); }));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orrith LLC");
    QCoreApplication::setApplicationName("Varlo");
    TestX11Appearance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_appearance.moc"
