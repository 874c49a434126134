#include "commonbehavior.h"
#include "desktopareacache.h"
#include "dragframe.h"
#include "fake/fakeplatform.h"
#include "offscreenscreens.h"
#include "settingsstore.h"
#include "shortcutlistitem.h"
#include "stubpanelhost.h"
#include "updatechecker.h"
#include "windowinfo.h"

#include <QApplication>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Three screens side by side; the work areas are the whole screens.
const QRect kScreens[] = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}, {3200, 0, 1024, 768}};

} // namespace

class TestCommonBehavior : public QObject
{
    Q_OBJECT

private:
    FakePlatform *m_fake = nullptr;
    std::unique_ptr<StubPanelHost> m_host;
    std::unique_ptr<CommonBehavior> m_behavior;
    QList<ShortcutListItem *> m_items;

    void addEditor(WId id, const QRect &client)
    {
        FakePlatform::Window w;
        w.id = id;
        w.title = QStringLiteral("notes");
        w.pid = 10;
        w.client = client;
        w.frameExtents = QMargins(0, 0, 0, 0);
        m_fake->addWindow(w);
        m_fake->setActiveWindow(id);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(DesktopAreaCache::instance()->screenCount(), 3);
        m_items << new ShortcutListItem(7, "left", "Ctrl+Alt+Left", QSize(2, 1), QRect(0, 0, 1, 1), false, true, false)
                << new ShortcutListItem(8, "global right", "Ctrl+Alt+Right", QSize(2, 1), QRect(1, 0, 1, 1), true, true, false);
    }

    void cleanupTestCase() { qDeleteAll(m_items); }

public:
    ShortcutListItem *findItem(int id) const
    {
        for (ShortcutListItem *item : m_items)
            if (item->id() == id)
                return item;
        return nullptr;
    }

private Q_SLOTS:

    void init()
    {
        {
            QSettings settings;
            settings.clear();
        }
        SettingsStore::writeSettingsDefaults();
        m_fake = new FakePlatform;
        m_fake->setCurrentProcessId(99);
        FakePlatform::Process p;
        p.pid = 10;
        p.executable = QStringLiteral("/usr/bin/editor");
        m_fake->addProcess(p);
        Platform::setInstance(m_fake);
        resetRememberedWindow();
        m_host = std::make_unique<StubPanelHost>();
        m_behavior = std::make_unique<CommonBehavior>(m_host.get());
        m_behavior->setShortcutLookup([this](int id) -> const ShortcutListItem * {
            for (ShortcutListItem *item : m_items)
                if (item->id() == id)
                    return item;
            return nullptr;
        });
    }

    void cleanup()
    {
        m_behavior.reset();
        m_host.reset();
        Platform::setInstance(nullptr);
    }

    void previewCoversTheScreensWorkArea()
    {
        m_host->panels = true;
        m_behavior->movePreview(1, QSize(6, 6), QRect(0, 0, 3, 6));
        DragFrame *preview = m_behavior->preview();
        QVERIFY(preview->isVisible());
        QCOMPARE(preview->geometry(), kScreens[1]);
        QCOMPARE(preview->dimensions(), QSize(6, 6));
        m_behavior->movePreview(2, QSize(6, 6), QRect(0, 0, 1, 1));
        QCOMPARE(preview->geometry(), kScreens[2]);

        // A placement always hides it first.
        addEditor(0x200, QRect(100, 100, 400, 300));
        m_behavior->moveWindow(0, QSize(2, 2), QRect(0, 0, 1, 1));
        QVERIFY(!preview->isVisible());
    }

    void previewOffTouchesNothing()
    {
        QSettings().setValue("show_preview", false);
        m_behavior->movePreview(0, QSize(6, 6), QRect(0, 0, 1, 1));
        QVERIFY(!m_behavior->preview()->isVisible());
    }

    void previewOfAScreenThatIsGone()
    {
        m_behavior->movePreview(7, QSize(6, 6), QRect(0, 0, 1, 1));
        QVERIFY(!m_behavior->preview()->isVisible());
    }

    void moveWindowPlacesTheForegroundWindow()
    {
        addEditor(0x200, QRect(100, 100, 400, 300));
        m_behavior->moveWindow(1, QSize(2, 2), QRect(1, 1, 1, 1));
        // On several screens the window reaches its screen first.
        QCOMPARE(m_fake->requests(), QStringLiteral("move(2560,512) raise moveSize(2560,512 640x512) raise"));

        // Nothing of another program in front: the log must not claim a placement.
        m_fake->clearRequests();
        m_fake->removeWindow(0x200);
        resetRememberedWindow();
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Nothing placed on screen 1"));
        m_behavior->moveWindow(1, QSize(2, 2), QRect(1, 1, 1, 1));
        QCOMPARE(m_fake->requests(), QString());
        addEditor(0x200, QRect(100, 100, 400, 300));

        // Margins that leave no room: nothing is sent.
        m_fake->clearRequests();
        QSettings s;
        s.setValue("margins/enabled", true);
        s.setValue("margins/screen_left", 5000);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Placement ignored"));
        m_behavior->moveWindow(1, QSize(2, 2), QRect(1, 1, 1, 1));
        QCOMPARE(m_fake->requests(), QString());
    }

    // The user switches to another window and calls the panels at once:
    // the window switched to is the one placed, not the one of the last tick.
    void switchingWindowsIsSeenAtOnce()
    {
        addEditor(0x200, QRect(100, 100, 400, 300));
        QCoreApplication::sendPostedEvents();
        QSignalSpy told(m_behavior.get(), &CommonBehavior::foregroundWindowChanged);
        addEditor(0x300, QRect(500, 100, 400, 300));
        QCoreApplication::sendPostedEvents(); // what is queued, never the next tick
        QCOMPARE(told.count(), 1);
        FakePlatform::Window panel;
        panel.id = 0x900;
        panel.title = QStringLiteral("Varlo");
        panel.pid = 99;
        panel.type = WindowType::Utility;
        m_fake->addWindow(panel);
        m_fake->setActiveWindow(0x900);
        QCOMPARE(foregroundWindow(), WId(0x300));
    }

    void foregroundDataIsEmittedEveryTick()
    {
        addEditor(0x200, QRect(100, 100, 400, 300));
        QSignalSpy spy(m_behavior.get(), &CommonBehavior::foregroundWindowChanged);
        m_behavior->setForegroundWindowData();
        m_behavior->setForegroundWindowData();
        QCOMPARE(spy.count(), 2);
        QVERIFY(spy.wait(5000)); // and the timer keeps it coming
    }

    void shortcutsCycleThroughTheScreens()
    {
        QSettings().setValue("cycle_screens", true);
        m_host->panels = true;
        QSettings().setValue("keep_open", true);
        addEditor(0x200, QRect(2000, 100, 400, 300)); // on screen 1

        QList<int> screens;
        for (int i = 0; i < 4; ++i) {
            m_behavior->shortcutActivated(7);
            screens << m_behavior->cycleScreen();
        }
        QCOMPARE(screens, QList<int>({1, 2, 0, 1}));

        // Another shortcut starts again from the window's own screen...
        m_behavior->shortcutActivated(8);
        QCOMPARE(m_behavior->cycleScreen(), 1);
        // ... and so does another window.
        m_behavior->shortcutActivated(8);
        QCOMPARE(m_behavior->cycleScreen(), 2);
        addEditor(0x300, QRect(3300, 100, 200, 200)); // on screen 2
        m_behavior->shortcutActivated(8);
        QCOMPARE(m_behavior->cycleScreen(), 2);
        QVERIFY(m_host->calls.isEmpty()); // keep_open: nothing hidden

        // The model rebuilds its items at every change: the same id is the
        // same shortcut, another id is not, wherever its item lives.
        m_behavior->shortcutActivated(8);
        QCOMPARE(m_behavior->cycleScreen(), 0);
        const int at = int(m_items.indexOf(findItem(8)));
        auto replace = [&](int id) {
            delete m_items.takeAt(at);
            m_items.insert(at, new ShortcutListItem(id, "global right", "Ctrl+Alt+Right", QSize(2, 1),
                                                    QRect(1, 0, 1, 1), true, true, false));
        };
        replace(8);
        m_behavior->shortcutActivated(8);
        QCOMPARE(m_behavior->cycleScreen(), 1);
        replace(9);
        m_behavior->shortcutActivated(9);
        QCOMPARE(m_behavior->cycleScreen(), 1); // from the window's own screen again
        replace(8);
    }

    void withoutCyclingEveryPressStaysOnTheWindowsScreen()
    {
        m_host->panels = true;
        addEditor(0x200, QRect(2000, 100, 400, 300));
        m_behavior->shortcutActivated(7);
        m_behavior->shortcutActivated(7);
        QCOMPARE(m_behavior->cycleScreen(), 1);
        QCOMPARE(m_host->calls, QStringList({"hideGrids(0)", "hideGrids(0)"}));
    }

    void whichShortcutsActWhen()
    {
        addEditor(0x200, QRect(100, 100, 400, 300));
        // Panels hidden: the non-global shortcut does nothing, the global one places.
        m_behavior->shortcutActivated(7);
        QCOMPARE(m_fake->requests(), QString());
        m_behavior->shortcutActivated(8);
        QVERIFY(!m_fake->requests().isEmpty());
        QCOMPARE(m_host->calls, QStringList({"hideGrids(0)"}));

        // Settings shown: nothing acts.
        m_fake->clearRequests();
        m_host->settings = true;
        m_behavior->shortcutActivated(8);
        QCOMPARE(m_fake->requests(), QString());

        // An id that is gone does nothing.
        m_host->settings = false;
        m_host->panels = true;
        m_behavior->shortcutActivated(12345);
        QCOMPARE(m_fake->requests(), QString());
    }

    void followsMouseUsesThePointersScreen()
    {
        QSettings().setValue("follows_mouse", true);
        m_host->panels = true;
        addEditor(0x200, QRect(100, 100, 400, 300)); // on screen 0
        QCursor::setPos(3300, 300);                   // pointer on screen 2
        QCOMPARE(QCursor::pos(), QPoint(3300, 300));
        m_behavior->shortcutActivated(7);
        QCOMPARE(m_behavior->cycleScreen(), 2);
    }

    void downloadFinishedClearsTheScreen()
    {
        Q_EMIT m_behavior->updateChecker()->downloadFinished();
        QCOMPARE(m_host->calls, QStringList({"hideGrids(0)", "hideSettings"}));
    }

    void updateCallsReachTheChecker()
    {
        UpdateChecker *checker = m_behavior->updateChecker();
        QVERIFY(checker);
        int requests = 0;
        checker->setOnlineTest([] { return true; });
        checker->setRequestFunction([&requests](const QUrl &) {
            ++requests;
            return nullptr;
        });
        m_behavior->forceUpdateCheck();
        m_behavior->updateCheck();
        QCOMPARE(requests, 2);
        m_behavior->setUpdateCheck(true);
        QVERIFY(checker->isAutoCheck());
        QVERIFY(checker->secondsToNextCheck() > 0);
        QCOMPARE(requests, 3);
        m_behavior->setUpdateCheck(false);
        QCOMPARE(checker->secondsToNextCheck(), -1);
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    useOffscreenScreens({"0,0,1920,1080", "1920,0,1280,1024", "3200,0,1024,768"});
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orrith LLC");
    QCoreApplication::setApplicationName("Varlo-test");
    TestCommonBehavior test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_commonbehavior.moc"
