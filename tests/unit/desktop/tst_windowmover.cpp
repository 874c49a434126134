#include "desktopareacache.h"
#include "fake/fakeplatform.h"
#include "offscreenscreens.h"
#include "windowinfo.h"
#include "windowmover.h"

#include <QApplication>
#include <QRegularExpression>
#include <QWidget>
#include <QtTest>

// Runs once with one screen and once with two (VARLO_TEST_SCREENS=2): the
// mover behaves differently on the two, and the screens cannot change at run
// time on the offscreen platform.
class TestWindowMover : public QObject
{
    Q_OBJECT

private:
    FakePlatform *m_fake = nullptr;
    bool m_dual = false;

    void addWindow(const QRect &client, std::optional<QMargins> frame, std::optional<QMargins> gtk,
                   bool maximized = false)
    {
        FakePlatform::Window w;
        w.id = 0x100;
        w.title = QStringLiteral("notes.txt");
        w.pid = 10;
        w.client = client;
        w.frameExtents = frame;
        w.clientSideExtents = gtk;
        w.maximized = maximized;
        m_fake->addWindow(w);
        FakePlatform::Process p;
        p.pid = 10;
        p.executable = QStringLiteral("/usr/bin/editor");
        m_fake->addProcess(p);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_dual = qgetenv("VARLO_TEST_SCREENS") == "2";
        QCOMPARE(DesktopAreaCache::instance()->screenCount(), m_dual ? 2 : 1);
    }

    void init()
    {
        m_fake = new FakePlatform;
        Platform::setInstance(m_fake);
        resetRememberedWindow();
    }

    void cleanup() { Platform::setInstance(nullptr); }

    // Each run gets the rows of its own screen layout.
    void apply_data()
    {
        QTest::addColumn<std::optional<QMargins>>("frame");
        QTest::addColumn<std::optional<QMargins>>("gtk");
        QTest::addColumn<bool>("wasMaximized");
        QTest::addColumn<bool>("maximize");
        QTest::addColumn<bool>("adjustChrome");
        QTest::addColumn<bool>("compositor");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("requests");

        // Target outer rectangle: 100,50 400x300. Openbox-like frame: 1 px sides, 20 px title.
        const std::optional<QMargins> ob = QMargins(1, 20, 1, 5);
        const std::optional<QMargins> none;
        // Position and size always go in one request.
        const QString plain = QStringLiteral("moveSize(100,50 398x275) raise");
        const QString chrome = plain;

        if (!m_dual) {
            QTest::newRow("frame, no invisible border")
                << ob << none << false << false << true << true << "" << chrome;
            QTest::newRow("16 x 8 invisible border")
                << std::optional<QMargins>() << std::optional<QMargins>(QMargins(8, 0, 8, 8))
                << false << false << true << true << ""
                << "moveSize(92,50 416x308) raise";
            QTest::newRow("a shadow the client states is trusted")
                << ob << std::optional<QMargins>(QMargins(26, 23, 26, 29)) << false << false
                << true << true << "" << "moveSize(74,27 450x327) raise";
            QTest::newRow("a stated shadow over 128 px is not")
                << ob << std::optional<QMargins>(QMargins(129, 0, 0, 0)) << false << false << true
                << true << "Ignoring unusual chrome adjustment: 129$" << chrome;
            QTest::newRow("negative ignored")
                << ob << std::optional<QMargins>(QMargins(-5, 0, -5, 0)) << false << false << true
                << true << "Ignoring unusual chrome adjustment: -10$" << chrome;
            QTest::newRow("absurd frame counts as none")
                << std::optional<QMargins>(QMargins(-1, 9000, 1, 1)) << none << false << false
                << false << true << "Ignoring unusual frame extents"
                << "moveSize(100,50 400x300) raise";
            QTest::newRow("chrome off") << ob << std::optional<QMargins>(QMargins(8, 0, 8, 8))
                                        << false << false << false << true << "" << plain;
            QTest::newRow("no compositor interface")
                << ob << std::optional<QMargins>(QMargins(8, 0, 8, 8)) << false << false << true
                << false << "" << plain;
            QTest::newRow("maximised window restored first")
                << ob << none << true << false << true << true << ""
                << "restore sync " + chrome;
            QTest::newRow("maximise on one screen: no move")
                << ob << none << false << true << true << true << ""
                << "raise maximize";
            QTest::newRow("maximised stays alone")
                << ob << none << true << true << true << true << ""
                << "";
        } else {
            QTest::newRow("two screens: move first")
                << ob << none << false << false << true << true << ""
                << "move(100,50) raise " + chrome;
            QTest::newRow("two screens, chrome off")
                << ob << none << false << false << false << true << ""
                << "move(100,50) raise " + plain;
            QTest::newRow("two screens: maximise on the target screen")
                << ob << none << false << true << true << true << ""
                << "move(100,50) raise maximize";
            QTest::newRow("two screens: restore, move, size")
                << ob << none << true << false << true << true << ""
                << "restore sync move(100,50) raise " + chrome;
            QTest::newRow("two screens: maximised stays alone")
                << ob << none << true << true << true << true << ""
                << "";
        }
    }

    void apply()
    {
        QFETCH(std::optional<QMargins>, frame);
        QFETCH(std::optional<QMargins>, gtk);
        QFETCH(bool, wasMaximized);
        QFETCH(bool, maximize);
        QFETCH(bool, adjustChrome);
        QFETCH(bool, compositor);
        QFETCH(QString, log);
        QFETCH(QString, requests);

        // On two screens the window starts on the other one than the target.
        addWindow(QRect(m_dual ? 2500 : 500, 500, 300, 200), frame, gtk, wasMaximized);
        m_fake->setCompositorAvailable(compositor);
        if (!log.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(log));
        applyWindowRect(QRect(100, 50, 400, 300), 1.0f, maximize, adjustChrome, 0x100);
        QCOMPARE(m_fake->requests(), requests);
    }

    // Restoring happens later, and a manager may frame a maximised window
    // without borders: the frame must be measured once the restore is done.
    void restoreIsWaitedForBeforeMeasuring()
    {
        FakePlatform::Window w;
        w.id = 0x100;
        w.title = QStringLiteral("notes.txt");
        w.pid = 10;
        w.client = QRect(0, 0, 1920, 1080);
        w.frameExtents = QMargins(1, 20, 1, 5);
        w.maximizedFrameExtents = QMargins();
        w.maximized = true;
        m_fake->addWindow(w);
        m_fake->setWindowManagerLags(true);
        applyWindowRect(QRect(100, 50, 400, 300), 1.0f, false, true, 0x100);
        QVERIFY(m_fake->requests().startsWith(QStringLiteral("restore sync ")));
        QVERIFY2(m_fake->requests().endsWith(QStringLiteral("moveSize(100,50 398x275) raise")),
                 qPrintable(m_fake->requests()));
    }

    // A client draws its shadow again only once it is restored: the
    // placement follows when the shadow arrives, and only then.
    void shadowDrawnAfterTheRestoreIsFollowed()
    {
        addWindow(QRect(0, 0, 1920, 1080), std::nullopt, QMargins(), true);
        m_fake->setWindowManagerLags(true);
        applyWindowRect(QRect(100, 50, 400, 300), 1.0f, false, true, 0x100);
        QVERIFY2(m_fake->requests().endsWith(QStringLiteral("moveSize(100,50 400x300) raise")),
                 qPrintable(m_fake->requests()));
        m_fake->clearRequests();
        m_fake->setClientSideExtents(0x100, QMargins(26, 23, 26, 29));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(m_fake->requests(), QStringLiteral("moveSize(74,27 452x352) raise"));
        m_fake->clearRequests();
        m_fake->setClientSideExtents(0x100, QMargins(26, 23, 26, 29)); // told again, unchanged
        QCoreApplication::sendPostedEvents();
        QCOMPARE(m_fake->requests(), QString());
    }

    // On its own screen a window is placed with one request, however many
    // screens there are: a move first would only cost the manager a round.
    void onItsOwnScreenOneRequest()
    {
        addWindow(QRect(500, 500, 300, 200), QMargins(1, 20, 1, 5), std::nullopt);
        applyWindowRect(QRect(100, 50, 400, 300), 1.0f, false, true, 0x100);
        QCOMPARE(m_fake->requests(), QStringLiteral("moveSize(100,50 398x275) raise"));
    }

    void visibleFrameLandsOnTarget()
    {
        // A client-side decorated window with a shadow on every side.
        addWindow(QRect(0, 0, 300, 200), QMargins(), QMargins(10, 6, 10, 14));
        const QRect target(m_dual ? 2000 : 100, 40, 640, 480);
        applyWindowRect(target, 1.0f, false, true, 0x100);
        const WindowGeometry after = m_fake->windowGeometry(0x100);
        QCOMPARE(WindowChrome::visibleFrame(after), target);
    }

    void foregroundWindowIsPlaced()
    {
        addWindow(QRect(0, 0, 300, 200), QMargins(1, 20, 1, 5), std::nullopt);
        m_fake->setActiveWindow(0x100);
        applyWindowRect(QRect(100, 50, 400, 300), 1.0f, false, true, kForegroundWindow);
        QCOMPARE(WindowChrome::outerFrame(m_fake->windowGeometry(0x100)), QRect(100, 50, 400, 300));
    }

    void nothingToPlace()
    {
        applyWindowRect(QRect(100, 50, 400, 300), 1.0f, false, true, kForegroundWindow);
        applyWindowRect(QRect(100, 50, 400, 300), 1.0f, true, true, kForegroundWindow);
        QCOMPARE(m_fake->requests(), QString());

        // Identified, then closed before the move.
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Window 0x123 is gone"));
        applyWindowRect(QRect(100, 50, 400, 300), 1.0f, false, true, 0x123);
        QCOMPARE(m_fake->requests(), QString());
    }

    void scaleFactor_data()
    {
        QTest::addColumn<std::optional<QMargins>>("gtk");
        QTest::addColumn<bool>("compositor");
        QTest::addColumn<WId>("window");
        QTest::addColumn<QString>("log");
        QTest::addColumn<float>("factor");
        QTest::newRow("no invisible border")
            << std::optional<QMargins>() << true << WId(0x100) << "" << 1.0f;
        QTest::newRow("visible frame twice as wide")
            << std::optional<QMargins>(QMargins(-150, 0, -150, 0)) << true << WId(0x100) << ""
            << 0.5f;
        QTest::newRow("no compositor interface")
            << std::optional<QMargins>(QMargins(-150, 0, -150, 0)) << false << WId(0x100) << ""
            << 1.0f;
        QTest::newRow("window gone") << std::optional<QMargins>() << true << WId(0x999)
                                     << "Error getting window rect" << 1.0f;
        QTest::newRow("nothing visible")
            << std::optional<QMargins>(QMargins(150, 0, 150, 0)) << true << WId(0x100)
            << "Error getting window attribute" << 1.0f;
    }

    void scaleFactor()
    {
        QFETCH(std::optional<QMargins>, gtk);
        QFETCH(bool, compositor);
        QFETCH(WId, window);
        QFETCH(QString, log);
        QFETCH(float, factor);
        addWindow(QRect(0, 0, 300, 200), std::nullopt, gtk);
        m_fake->setCompositorAvailable(compositor);
        if (!log.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(log));
        QCOMPARE(windowScaleFactor(window), factor);
    }

    void composition()
    {
        m_fake->setCompositorAvailable(false);
        m_fake->setCompositingActive(true);
        QVERIFY(!loadDwm());
        QVERIFY(!isCompositionEnabled());
        QVERIFY(!isColorizationTranslucent());

        QWidget window;
        window.resize(300, 200);
        QWidget child(&window);
        child.setGeometry(10, 20, 100, 50);
        QVERIFY(!enableBlurBehind(&window, true));

        m_fake->setCompositorAvailable(true);
        m_fake->setCompositingActive(false);
        QVERIFY(loadDwm());
        QVERIFY(!isColorizationTranslucent());
        QVERIFY(!enableBlurBehind(&window, true));
        QCOMPARE(m_fake->requests(), QString());

        m_fake->setCompositingActive(true);
        QVERIFY(isCompositionEnabled());
        QVERIFY(isColorizationTranslucent());
        QVERIFY(enableBlurBehind(&window, true));
        QVERIFY(enableBlurBehind(&child, true));
        QVERIFY(enableBlurBehind(&child, false));
        QCOMPARE(m_fake->requests(),
                 QStringLiteral("blur(on 2,2 296x196) blur(on 12,22 96x46) blur(off)"));
    }
};

int main(int argc, char **argv)
{
    if (qgetenv("VARLO_TEST_SCREENS") == "2")
        useOffscreenScreens({"0,0,1920,1080", "1920,0,1280,1024"});
    else
        useOffscreenScreens({"0,0,1920,1080"});
    QApplication app(argc, argv);
    TestWindowMover test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowmover.moc"
