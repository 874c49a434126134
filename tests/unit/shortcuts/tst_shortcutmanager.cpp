#include "databasefixture.h"
#include "fake/fakeplatform.h"
#include "globalshortcut.h"
#include "shortcutlistitem.h"
#include "shortcutmanager.h"
#include "shortcutmodel.h"

#include <QApplication>
#include <QSettings>
#include <QSignalSpy>

using Grabs = QList<QPair<quint32, quint32>>;

// The hot keys the manager keeps live, on the fake desktop over a real
// database file.
class TestShortcutManager : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataHome> m_home;
    FakePlatform *m_fake = nullptr;
    static constexpr quint32 CtrlAlt = Platform::ModControl | Platform::ModAlt;

    ShortcutManager *manager() { return ShortcutManager::instance(); }

    // Three named shortcuts: disabled, enabled but not global, global.
    void addRows()
    {
        ShortcutModel *model = manager()->model();
        QVERIFY(model->addShortcut("off", "Ctrl+Alt+Up", QSize(2, 2), QRect(0, 0, 1, 1), true, false, false));
        QVERIFY(model->addShortcut("panel only", "Ctrl+Alt+Left", QSize(2, 1), QRect(0, 0, 1, 1), false, true, false));
        QVERIFY(model->addShortcut("always", "Ctrl+Alt+Right", QSize(2, 1), QRect(1, 0, 1, 1), true, true, false));
    }

    Grabs grabs() const
    {
        Grabs sorted = m_fake->grabbedHotKeys();
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<DataHome>();
        QSettings().clear();
        m_fake = new FakePlatform;
        Platform::setInstance(m_fake);
        DatabaseUtil database;
        QVERIFY(database.initialize());
    }

    void cleanup()
    {
        ShortcutManager::destroyInstance();
        Platform::setInstance(nullptr);
        m_home.reset();
    }

    // Every change registers all enabled ones; the switches narrow it down as
    // the application asks: background, panels shown, settings shown.
    void theSwitches()
    {
        addRows();
        QCOMPARE(grabs(), (Grabs{{0x25, CtrlAlt}, {0x27, CtrlAlt}}));
        manager()->disableAllShortcuts();
        QCOMPARE(grabs(), Grabs{});
        manager()->enableAllShortcuts();
        QCOMPARE(grabs(), (Grabs{{0x25, CtrlAlt}, {0x27, CtrlAlt}}));
        manager()->disableNonGlobalShortcuts();
        QCOMPARE(grabs(), (Grabs{{0x27, CtrlAlt}}));
        manager()->disableAllShortcuts();
        QCOMPARE(grabs(), Grabs{});
    }

    void aNamedShortcutFiresWithItsRowid()
    {
        addRows();
        QSignalSpy fired(manager(), &ShortcutManager::shortcutActivated);
        QVERIFY(m_fake->pressHotKey(0x27, CtrlAlt));
        QVERIFY(fired.wait(1000));
        QCOMPARE(fired.first().first().toInt(), manager()->model()->findByShortcut(QKeySequence("Ctrl+Alt+Right"))->id());
        // The disabled one is never grabbed.
        QVERIFY(!m_fake->pressHotKey(0x26, CtrlAlt));
    }

    void panelHotKey()
    {
        QSignalSpy toggled(manager(), &ShortcutManager::gridWindowShortcutActivated);
        QSettings().setValue("use_hotkey", true);
        manager()->setGridWindowShortcut(QKeySequence("Ctrl+Alt+D"));
        QCOMPARE(QSettings().value("hotkey").toString(), QStringLiteral("Ctrl+Alt+D"));
        QVERIFY(manager()->gridWindowShortcut()->isRegistered());
        QVERIFY(m_fake->pressHotKey(0x44, CtrlAlt));
        QVERIFY(toggled.wait(1000));

        // Another combination replaces it; the named switches leave it alone.
        manager()->setGridWindowShortcut(QKeySequence("Ctrl+Alt+E"));
        manager()->disableAllShortcuts();
        QCOMPARE(grabs(), (Grabs{{0x45, CtrlAlt}}));

        manager()->setGridWindowShortcutEnabled(false);
        QCOMPARE(grabs(), Grabs{});
        QCOMPARE(QSettings().value("use_hotkey").toBool(), false);
        manager()->setGridWindowShortcutEnabled(false);
        QCOMPARE(QSettings().value("use_hotkey").toBool(), false);

        // Held by another program: logged, and the choice is still stored.
        m_fake->setHotKeyHeldElsewhere(0x45, CtrlAlt);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("GlobalShortcut failed to register: Ctrl\\+Alt\\+E"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Failed to register global trigger Ctrl\\+Alt\\+E"));
        manager()->setGridWindowShortcutEnabled(true);
        QVERIFY(!manager()->gridWindowShortcut()->isRegistered());
        QCOMPARE(QSettings().value("use_hotkey").toBool(), true);
    }

    // A named shortcut another program holds stays out of the switches until
    // the next change; the others are not held back by it.
    void aRefusedShortcutStaysOut()
    {
        m_fake->setHotKeyHeldElsewhere(0x25, CtrlAlt);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("failed to register: Ctrl\\+Alt\\+Left"));
        addRows();
        QCOMPARE(manager()->shortcuts().size(), 1);
        QCOMPARE(grabs(), (Grabs{{0x27, CtrlAlt}}));
        manager()->disableAllShortcuts();
        manager()->enableAllShortcuts();
        QCOMPARE(grabs(), (Grabs{{0x27, CtrlAlt}}));
    }
};

QTEST_MAIN(TestShortcutManager)
#include "tst_shortcutmanager.moc"
