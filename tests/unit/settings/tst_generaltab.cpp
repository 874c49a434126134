#include "autostart.h"
#include "databasefixture.h"
#include "desktopentry.h"
#include "fake/fakeplatform.h"
#include "generaltab.h"
#include "globalshortcut.h"
#include "keydisplaytext.h"
#include "settingsstore.h"
#include "shortcutedit.h"
#include "shortcutmanager.h"
#include "shortcutmodel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

using Grabs = QList<QPair<quint32, quint32>>;
Q_DECLARE_METATYPE(QKeyCombination)

namespace {

constexpr quint32 CtrlAlt = Platform::ModControl | Platform::ModAlt;

const QString kReminder =
    QStringLiteral("To access the Varlo panel, you will need to use your global "
                   "shortcut or relaunch Varlo from the start menu.");

// Answers every message box the tab runs (OK) and notes what it said.
class BoxWatcher : public QObject
{
public:
    struct Box
    {
        QString title;
        QString text;
        QString informative;
    };
    QList<Box> boxes;

    BoxWatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxes.append({box->windowTitle(), box->text(), box->informativeText()});
                box->accept();
            }
        });
        m_timer.start(1);
    }

private:
    QTimer m_timer;
};

// A key pressed in the recorder; QTest's own key clicks know only keys that type text.
void press(QWidget *widget, QKeyCombination keys)
{
    QKeyEvent event(QEvent::KeyPress, keys.key(), keys.keyboardModifiers());
    QApplication::sendEvent(widget, &event);
}

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeText(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

} // namespace

// The general tab on the fake desktop: what building it does to the store,
// the login entry and the hot keys, and what the user's changes do.
class TestGeneralTab : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataHome> m_home;
    FakePlatform *m_fake = nullptr;
    std::unique_ptr<QWidget> m_window;
    GeneralTab *m_tab = nullptr;

    GeneralTab *makeTab()
    {
        m_window = std::make_unique<QWidget>();
        m_tab = new GeneralTab(m_window.get());
        return m_tab;
    }
    template <typename T> T *child(const char *name) const
    {
        return m_tab->findChild<T *>(QLatin1String(name));
    }
    QCheckBox *box(const char *name) const { return child<QCheckBox>(name); }
    ShortcutEdit *recorder() const { return child<ShortcutEdit>("gridwindowShortcut"); }

    Grabs grabs() const
    {
        Grabs sorted = m_fake->grabbedHotKeys();
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }
    static QVariant stored(const QString &key) { return QSettings().value(key); }
    static void store(const QString &key, const QVariant &value)
    {
        QSettings().setValue(key, value);
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<DataHome>();
        QSettings().clear();
        SettingsStore::writeSettingsDefaults();
        const QString autostart = QFileInfo(AutoStart::entryPath()).absolutePath();
        QFile::setPermissions(autostart, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir(autostart).removeRecursively();
        QFile::remove(autostart);
        m_fake = new FakePlatform;
        Platform::setInstance(m_fake);
        DatabaseUtil database;
        QVERIFY(database.initialize());
        ShortcutModel *model = ShortcutManager::instance()->model();
        QVERIFY(model->addShortcut("left", "Ctrl+Alt+Left", QSize(2, 1), QRect(0, 0, 1, 1), true,
                                   true, false));
        QVERIFY(model->addShortcut("off", "Ctrl+Alt+Up", QSize(2, 1), QRect(0, 0, 1, 1), true,
                                   false, false));
        // While the settings are shown no named shortcut is live.
        ShortcutManager::instance()->disableAllShortcuts();
    }

    void cleanup()
    {
        m_window.reset();
        m_tab = nullptr;
        ShortcutManager::destroyInstance();
        Platform::setInstance(nullptr);
        m_home.reset();
    }

    // Building the tab is part of every start: the login entry, the boxes,
    // the panel hot key and its registration follow the store.
    void buildingFollowsTheStore_data()
    {
        QTest::addColumn<QVariantMap>("settings");
        QTest::addColumn<bool>("entry");
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QString>("hotkey");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<Grabs>("grabbed");

        const QStringList defaults{"checkShowTray", "checkAutoUpdate"};
        QTest::newRow("defaults") << QVariantMap{} << false << defaults << ""
                                  << "" << Grabs{};
        QTest::newRow("login entry") << QVariantMap{{"auto_start", true}} << true
                                     << defaults + QStringList{"checkAutoStart"} << ""
                                     << "" << Grabs{};
        QTest::newRow("all on") << QVariantMap{{"keep_open", true},
                                               {"cycle_screens", true},
                                               {"use_hotkey", true},
                                               {"hotkey", "Ctrl+Alt+D"}}
                                << false
                                << defaults +
                                       QStringList{"checkKeepOpen", "checkCycle", "checkUseHotkey"}
                                << "Ctrl+Alt+D"
                                << "Ctrl + Alt + D" << Grabs{{0x44, CtrlAlt}};
        QTest::newRow("all off") << QVariantMap{{"show_tray", false},
                                                {"update/auto_check", false},
                                                {"hotkey", "Ctrl+Alt+D"}}
                                 << false << QStringList{} << "Ctrl+Alt+D"
                                 << "Ctrl + Alt + D" << Grabs{};
        QTest::newRow("hand-written key text")
            << QVariantMap{{"use_hotkey", true}, {"hotkey", "ctrl+alt+d"}} << false
            << defaults + QStringList{"checkUseHotkey"} << "Ctrl+Alt+D"
            << "Ctrl + Alt + D" << Grabs{{0x44, CtrlAlt}};
        // Values the widgets cannot show: the tab opens, the text is kept.
        QTest::newRow("no key combination")
            << QVariantMap{{"use_hotkey", true}, {"hotkey", "Ctrl+Nonsense"}} << false
            << defaults + QStringList{"checkUseHotkey"} << "Ctrl+Nonsense"
            << "" << Grabs{};
        QTest::newRow("damaged types") << QVariantMap{{"show_tray", QStringList{"a", "b"}},
                                                      {"hotkey", QSize(3, 4)},
                                                      {"auto_start", "perhaps"}}
                                       << false << defaults << ""
                                       << "" << Grabs{};
        QTest::newRow("keys removed") << QVariantMap{{"show_tray", QVariant()},
                                                     {"update/auto_check", QVariant()},
                                                     {"hotkey", QVariant()}}
                                      << false << QStringList{} << QString() << "" << Grabs{};
    }

    void buildingFollowsTheStore()
    {
        QFETCH(QVariantMap, settings);
        QFETCH(bool, entry);
        QFETCH(QStringList, checked);
        QFETCH(QString, hotkey);
        QFETCH(QString, shown);
        QFETCH(Grabs, grabbed);

        for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
            if (it.value().isValid())
                store(it.key(), it.value());
            else
                QSettings().remove(it.key());
        }
        // Left by an earlier install elsewhere: removed, or rewritten for this one.
        writeText(
            AutoStart::entryPath(),
            "[Desktop Entry]\nType=Application\nName=Varlo\nExec=/old/place/Varlo -background\n");

        makeTab();
        QCOMPARE(QFile::exists(AutoStart::entryPath()), entry);
        if (entry) {
            QCOMPARE(execArguments(desktopEntryValue(AutoStart::entryPath(), "Exec")),
                     (QStringList{QCoreApplication::applicationFilePath(), "-background"}));
        }
        QStringList isChecked;
        for (QCheckBox *b : m_tab->findChildren<QCheckBox *>()) {
            if (b->isChecked())
                isChecked << b->objectName();
        }
        std::sort(isChecked.begin(), isChecked.end());
        std::sort(checked.begin(), checked.end());
        QCOMPARE(isChecked, checked);
        // Loading a box writes back what it read, and only that.
        for (const char *key :
             {"show_tray", "keep_open", "cycle_screens", "auto_start", "update/auto_check"}) {
            if (settings.contains(key) && !settings.value(key).isValid())
                QVERIFY2(!QSettings().contains(key), key);
        }
        QCOMPARE(stored("hotkey").toString(), hotkey);
        QCOMPARE(recorder()->text(), shown);
        QCOMPARE(grabs(), grabbed);
    }

    void noUpdateHidesTheUpdateControls_data()
    {
        QTest::addColumn<QVariant>("noUpdate");
        QTest::addColumn<bool>("autoCheck");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("checked");

        QTest::newRow("updates, automatic") << QVariant(false) << true << true << true;
        QTest::newRow("updates, by hand") << QVariant(false) << false << true << false;
        // Set by hand in the file; the box, which starts the automatic checks, is never set.
        QTest::newRow("no updates") << QVariant("true") << true << false << false;
    }

    void noUpdateHidesTheUpdateControls()
    {
        QFETCH(QVariant, noUpdate);
        QFETCH(bool, autoCheck);
        QFETCH(bool, shown);
        QFETCH(bool, checked);

        store("NoUpdate", noUpdate);
        store("update/auto_check", autoCheck);
        makeTab();
        auto *check = box("checkAutoUpdate");
        auto *button = child<QPushButton>("buttonUpdateCheck");
        QCOMPARE(check->isChecked(), checked);
        for (QWidget *w : {static_cast<QWidget *>(check), static_cast<QWidget *>(button)}) {
            QCOMPARE(w->isHidden(), !shown);
            QCOMPARE(w->isEnabled(), shown);
        }
        QCOMPARE(stored("update/auto_check").toBool(), autoCheck);
    }

    // Turning the icon off reminds of the other ways in first; turning it on says nothing.
    void theReminderComesBeforeTheTray()
    {
        makeTab();
        BoxWatcher watcher;
        QList<int> boxesAtUpdate;
        connect(m_tab, &GeneralTab::updateTray, this,
                [&] { boxesAtUpdate << int(watcher.boxes.size()); });

        box("checkShowTray")->click();
        QCOMPARE(boxesAtUpdate, QList<int>{1});
        QCOMPARE(watcher.boxes.size(), 1);
        QCOMPARE(watcher.boxes.first().title, QStringLiteral("Remember!"));
        QCOMPARE(watcher.boxes.first().text, kReminder);
        QCOMPARE(stored("show_tray").toBool(), false);

        box("checkShowTray")->click();
        QCOMPARE(boxesAtUpdate, (QList<int>{1, 1}));
        QCOMPARE(stored("show_tray").toBool(), true);
    }

    // A combination typed into the recorder becomes the panel hot key unless
    // it could not call the panels; then the one in use stays, registered.
    void recordingTheHotKey_data()
    {
        QTest::addColumn<bool>("useHotkey");
        QTest::addColumn<QKeyCombination>("typed");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("hotkey");
        QTest::addColumn<Grabs>("grabbed");
        QTest::addColumn<int>("trayUpdates");

        const Grabs ctrlAltD{{0x44, CtrlAlt}};
        const auto ctrlAlt = [](Qt::Key key) {
            return QKeyCombination(Qt::ControlModifier | Qt::AltModifier, key);
        };
        QTest::newRow("free") << true << ctrlAlt(Qt::Key_E) << ""
                              << "Ctrl+Alt+E" << Grabs{{0x45, CtrlAlt}} << 1;
        QTest::newRow("the same again") << true << ctrlAlt(Qt::Key_D) << ""
                                        << "Ctrl+Alt+D" << ctrlAltD << 0;
        QTest::newRow("a function key alone") << true << QKeyCombination(Qt::Key_F5) << ""
                                              << "F5" << Grabs{{0x74, 0}} << 1;
        QTest::newRow("a disabled shortcut's") << true << ctrlAlt(Qt::Key_Up) << ""
                                               << "Ctrl+Alt+Up" << Grabs{{0x26, CtrlAlt}} << 1;
        QTest::newRow("a named shortcut's")
            << true << ctrlAlt(Qt::Key_Left) << "because the shortcut \"left\" already uses it."
            << "Ctrl+Alt+D" << ctrlAltD << 0;
        QTest::newRow("no modifier")
            << true << QKeyCombination(Qt::Key_Space) << "at least one modifier"
            << "Ctrl+Alt+D" << ctrlAltD << 0;
        QTest::newRow("a key no hot key can have")
            << true << ctrlAlt(Qt::Key_Dead_Grave) << "this key cannot be used"
            << "Ctrl+Alt+D" << ctrlAltD << 0;
        QTest::newRow("held by another program")
            << true << ctrlAlt(Qt::Key_H) << "because another program uses it."
            << "Ctrl+Alt+D" << ctrlAltD << 1;
        // Not live, so nobody can be in its way yet.
        QTest::newRow("held elsewhere, hot key off") << false << ctrlAlt(Qt::Key_H) << ""
                                                     << "Ctrl+Alt+H" << Grabs{} << 1;
        QTest::newRow("a named shortcut's, hot key off")
            << false << ctrlAlt(Qt::Key_Left) << "already uses it"
            << "Ctrl+Alt+D" << Grabs{} << 0;
    }

    void recordingTheHotKey()
    {
        QFETCH(bool, useHotkey);
        QFETCH(QKeyCombination, typed);
        QFETCH(QString, refusal);
        QFETCH(QString, hotkey);
        QFETCH(Grabs, grabbed);
        QFETCH(int, trayUpdates);

        store("use_hotkey", useHotkey);
        store("hotkey", "Ctrl+Alt+D");
        m_fake->setHotKeyHeldElsewhere(0x48, CtrlAlt);
        makeTab();
        BoxWatcher watcher;
        QSignalSpy trayUpdated(m_tab, &GeneralTab::updateTray);
        QSignalSpy handedOn(m_tab, &GeneralTab::setGridWindowShortcut);

        if (refusal.contains("another program"))
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("GlobalShortcut failed to register"));
        press(recorder(), typed);
        if (refusal.isEmpty()) {
            QVERIFY(watcher.boxes.isEmpty());
        } else {
            QCOMPARE(watcher.boxes.size(), 1);
            QVERIFY2(watcher.boxes.first().informative.contains(refusal),
                     qPrintable(watcher.boxes.first().informative));
        }
        QCOMPARE(stored("hotkey").toString(), hotkey);
        QCOMPARE(grabs(), grabbed);
        QCOMPARE(recorder()->shortcut(), QKeySequence(hotkey, QKeySequence::PortableText));
        QCOMPARE(recorder()->text(), VarloWidgets::displayText(
                                         QKeySequence(hotkey).toString(QKeySequence::NativeText)));
        QCOMPARE(trayUpdated.size(), trayUpdates);
        QCOMPARE(stored("use_hotkey").toBool(), useHotkey);
        if (!grabbed.isEmpty())
            QVERIFY(ShortcutManager::instance()->gridWindowShortcut()->isRegistered());

        // The refused combination is not stuck: it is refused again, and the
        // one in use can be recorded over once more.
        if (!refusal.isEmpty()) {
            press(recorder(), typed);
            QCOMPARE(watcher.boxes.size(), 2);
            press(recorder(), Qt::ControlModifier | Qt::AltModifier | Qt::Key_E);
            QCOMPARE(stored("hotkey").toString(), QStringLiteral("Ctrl+Alt+E"));
            QCOMPARE(handedOn.last().first().value<QKeySequence>(), QKeySequence("Ctrl+Alt+E"));
        }
    }

    // The recorder's clear button lets the hot key go with what it shows.
    void clearingTheRecorderLetsTheHotKeyGo()
    {
        store("use_hotkey", true);
        store("hotkey", "Ctrl+Alt+D");
        makeTab();
        QSignalSpy trayUpdated(m_tab, &GeneralTab::updateTray);
        auto *clear = recorder()->findChild<QAbstractButton *>();
        QVERIFY(clear);
        clear->click();
        QCOMPARE(recorder()->text(), QString());
        QCOMPARE(stored("hotkey").toString(), QString());
        QCOMPARE(grabs(), Grabs{});
        QCOMPARE(trayUpdated.size(), 1);
        press(recorder(), Qt::ControlModifier | Qt::AltModifier | Qt::Key_D);
        QCOMPARE(stored("hotkey").toString(), QStringLiteral("Ctrl+Alt+D"));
        QCOMPARE(grabs(), (Grabs{{0x44, CtrlAlt}}));
    }

    // Switching the hot key on when its combination cannot call the panels
    // says why and leaves it off.
    void switchingTheHotKeyOn_data()
    {
        QTest::addColumn<QString>("hotkey");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<Grabs>("grabbed");

        QTest::newRow("free") << "Ctrl+Alt+D"
                              << "" << Grabs{{0x44, CtrlAlt}};
        QTest::newRow("held by another program") << "Ctrl+Alt+H"
                                                 << "another program uses it" << Grabs{};
        QTest::newRow("a named shortcut's") << "Ctrl+Alt+Left"
                                            << "\"left\" already uses it" << Grabs{};
        QTest::newRow("none recorded") << ""
                                       << "" << Grabs{};
    }

    void switchingTheHotKeyOn()
    {
        QFETCH(QString, hotkey);
        QFETCH(QString, refusal);
        QFETCH(Grabs, grabbed);

        store("hotkey", hotkey);
        m_fake->setHotKeyHeldElsewhere(0x48, CtrlAlt);
        makeTab();
        BoxWatcher watcher;
        QSignalSpy trayUpdated(m_tab, &GeneralTab::updateTray);
        if (refusal.contains("another program"))
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("GlobalShortcut failed to register"));
        box("checkUseHotkey")->click();
        QCOMPARE(watcher.boxes.size(), refusal.isEmpty() ? 0 : 1);
        if (!refusal.isEmpty())
            QVERIFY(watcher.boxes.first().informative.contains(refusal));
        QCOMPARE(box("checkUseHotkey")->isChecked(), refusal.isEmpty());
        QCOMPARE(stored("use_hotkey").toBool(), refusal.isEmpty());
        QCOMPARE(grabs(), grabbed);
        QCOMPARE(stored("hotkey").toString(), hotkey);
        QCOMPARE(trayUpdated.size(), 1);
    }

    // The entry's Exec reads back as the program's path and -background,
    // whatever the path holds, and the desktop's own checker accepts it.
    void theEntryQuotesTheProgram_data()
    {
        QTest::addColumn<QString>("program");

        QTest::newRow("plain") << "/usr/bin/Varlo";
        QTest::newRow("blanks") << "/home/jo smith/my programs/Varlo";
        QTest::newRow("double quotes") << "/opt/\"quoted\"/Varlo";
        QTest::newRow("dollar") << "/opt/$HOME/$(id)/Varlo";
        QTest::newRow("backslash") << "/opt/back\\slash\\/Varlo";
        QTest::newRow("backtick") << "/opt/`id`/Varlo";
        QTest::newRow("percent") << "/opt/100%/%f/Varlo";
        QTest::newRow("all at once") << "/opt/a \"b\" $c \\d `e` 'f' %g/Varlo";
        QTest::newRow("not ASCII") << "/home/jürgen/Programme für Fenster/Varlo";
    }

    void theEntryQuotesTheProgram()
    {
        QFETCH(QString, program);
        QVERIFY(AutoStart::install(program));
        const QString path = AutoStart::entryPath();
        QCOMPARE(execArguments(desktopEntryValue(path, "Exec")),
                 (QStringList{program, "-background"}));
        QCOMPARE(desktopEntryValue(path, "TryExec"), program);
        const QString problems = desktopFileProblems(path);
        QVERIFY2(problems.isEmpty(), qPrintable(problems + "\n" + fileText(path)));
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files),
                 QStringList{"varlo.desktop"});
        QVERIFY(AutoStart::remove());
        QVERIFY(!QFile::exists(path));
    }

    // A link where the entry goes is replaced, never written through; the
    // other entries of the folder are left alone.
    void onlyTheEntryIsTouched()
    {
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath("mine.desktop");
        writeText(target, "keep me");
        const QString folder = QFileInfo(AutoStart::entryPath()).absolutePath();
        writeText(folder + "/other.desktop", "[Desktop Entry]\n");
        QVERIFY(QFile::link(target, AutoStart::entryPath()));

        store("auto_start", true);
        makeTab();
        QVERIFY(!QFileInfo(AutoStart::entryPath()).isSymLink());
        QVERIFY(fileText(AutoStart::entryPath()).contains("Exec="));
        QCOMPARE(fileText(target), QStringLiteral("keep me"));

        box("checkAutoStart")->click();
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"other.desktop"});
        QCOMPARE(fileText(target), QStringLiteral("keep me"));
    }

    // An entry that cannot be written or removed is logged once, and the
    // box stays as the user set it.
    void anEntryThatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("autostart is a file") << "file";
        QTest::newRow("the entry is a folder") << "folder";
        QTest::newRow("read-only folder") << "read-only";
    }

    void anEntryThatCannotBeWritten()
    {
        QFETCH(QString, obstacle);
        const QString path = AutoStart::entryPath();
        const QString folder = QFileInfo(path).absolutePath();
        if (obstacle == "file") {
            writeText(folder, "not a folder");
        } else if (obstacle == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else {
            if (::geteuid() == 0)
                QSKIP("root writes into read-only folders");
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        }
        store("auto_start", true);
        {
            LogCapture log;
            makeTab();
            QCOMPARE(log.texts(QtWarningMsg).filter("login entry").size(), 1);
        }
        QVERIFY(box("checkAutoStart")->isChecked());
        QCOMPARE(stored("auto_start").toBool(), true);

        box("checkAutoStart")->click();
        QCOMPARE(stored("auto_start").toBool(), false);
    }

    // Quit ends the event loop, so that the clean-up after it runs.
    void quitEndsTheEventLoop()
    {
        makeTab();
        QTimer::singleShot(0, child<QPushButton>("buttonQuit"), &QPushButton::click);
        QCOMPARE(QCoreApplication::exec(), 0);
    }
};

int main(int argc, char **argv)
{
    // Settings and login entries of this run only; QSettings reads the folder once.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    TestGeneralTab test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_generaltab.moc"
