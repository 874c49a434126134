#include "application.h"
#include "fake/fakeplatform.h"
#include "settingsstore.h"

#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

// The tray icon and its menu as the application builds them. The menu is
// built once per run, so each case is a run of its own (this binary again).
class TestTray : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void menuAndToolTip_data()
    {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<bool>("shown");

        const QString full = "Preferences|Check for updates now||Help|About Varlo|Quit";
        QTest::newRow("defaults") << QStringList() << full << "Varlo" << true;
        QTest::newRow("no update entry") << QStringList{"NoUpdate=true"}
                                         << "Preferences||Help|About Varlo|Quit" << "Varlo" << true;
        QTest::newRow("panel hot key")
            << QStringList{"use_hotkey=true", "hotkey=Ctrl+Alt+D"} << full
            << "Varlo (press \"Ctrl+Alt+D\" to activate)" << true;
        // Another program holds it: the tip must not promise a key that does nothing.
        QTest::newRow("panel hot key held elsewhere")
            << QStringList{"use_hotkey=true", "hotkey=Ctrl+Alt+D", "held-elsewhere"} << full
            << "Varlo (\"Ctrl+Alt+D\" is not registered: it is in use)" << true;
        QTest::newRow("hot key switched off")
            << QStringList{"use_hotkey=false", "hotkey=Ctrl+Alt+D"} << full << "Varlo" << true;
        QTest::newRow("no icon") << QStringList{"show_tray=false"} << full << "Varlo" << false;
    }

    void menuAndToolTip()
    {
        QFETCH(QStringList, settings);
        QFETCH(QString, menu);
        QFETCH(QString, toolTip);
        QFETCH(bool, shown);
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkdir("runtime"));
        QFile::setPermissions(home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), QStringList{"--tray-child"} + settings);
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split('\n');
        QCOMPARE(lines.value(0), menu);
        QCOMPARE(lines.value(1), toolTip);
        QCOMPARE(lines.value(2), QString(shown ? "shown" : "hidden"));
    }
};

int main(int argc, char **argv)
{
    if (argc >= 2 && qstrcmp(argv[1], "--tray-child") == 0) {
        Application app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
        QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
        SettingsStore::writeSettingsDefaults();
        {
            QSettings settings;
            for (int i = 2; i < argc; ++i) {
                const QString setting = QString::fromLocal8Bit(argv[i]);
                if (setting == QLatin1String("held-elsewhere")) {
                    auto *fake = dynamic_cast<FakePlatform *>(Platform::instance());
                    if (!fake)
                        return 3;
                    fake->setHotKeyHeldElsewhere('D', Platform::ModControl | Platform::ModAlt);
                    continue;
                }
                const QString value = setting.section('=', 1);
                settings.setValue(setting.section('=', 0, 0),
                                  value == "true" || value == "false" ? QVariant(value == "true") : QVariant(value));
            }
        }
        app.init();
        QStringList texts;
        for (QAction *action : app.trayIcon()->contextMenu()->actions())
            texts << action->text();
        std::printf("%s\n%s\n%s\n", qPrintable(texts.join('|')), qPrintable(app.trayIcon()->toolTip()),
                    app.trayIcon()->isVisible() ? "shown" : "hidden");
        return 0;
    }
    QApplication app(argc, argv);
    TestTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tray.moc"
