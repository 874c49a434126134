// The general tab end to end: the real Varlo beside a tray host (trayer) on a
// private desktop with Openbox, its settings opened from the tray menu and
// changed with the real pointer and keyboard (XTEST).

#include "autostart.h"
#include "databaseutil.h"
#include "desktopentry.h"
#include "settingsstore.h"
#include "settingswindow.h"
#include "varlorun.h"
#include "xtestutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

namespace {

using namespace VarloRun;

const QSize kSettingsSize(373, 358);

// Where a click toggles the check box: inside its indicator and text.
QPoint clickPoint(const QWidget *window, const char *name)
{
    const auto *box = window->findChild<QCheckBox *>(QLatin1String(name));
    if (!box)
        return {};
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect area = box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box);
    return box->mapTo(window, area.center());
}

QString windowName(quint32 window)
{
    const CommandResult r = XTestUtil::run(
        QStringLiteral("xprop"), {"-id", QString::number(window), "-notype", "_NET_WM_NAME"});
    return QString::fromUtf8(r.standardOutput).trimmed();
}

} // namespace

class TestX11General : public QObject
{
    Q_OBJECT

private:
    QProcess *m_varlo = nullptr;
    QPoint m_autoStart;
    QPoint m_showTray;

    QList<quint32> windowsOfVarlo() const { return XTestUtil::windowsOf(m_varlo->processId()); }

    quint32 settingsWindow() const
    {
        for (quint32 w : windowsOfVarlo()) {
            if (XTestUtil::clientGeometry(w).size() == kSettingsSize)
                return w;
        }
        return 0;
    }

    quint32 trayIcon() const { return trayIconOf(m_varlo->processId()); }

    static bool entryReadsBack(const QString &program)
    {
        return execArguments(desktopEntryValue(AutoStart::entryPath(), QStringLiteral("Exec"))) ==
               QStringList{program, QStringLiteral("-background")};
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The same settings window built here lays the tab out as in Varlo:
        // the check boxes' places in it are where the pointer goes.
        SettingsStore::writeSettingsDefaults();
        {
            DatabaseUtil database;
            QVERIFY(database.initialize());
        }
        SettingsWindow window(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.size(), kSettingsSize);
        m_autoStart = clickPoint(&window, "checkAutoStart");
        m_showTray = clickPoint(&window, "checkShowTray");
        QVERIFY(QRect(QPoint(), kSettingsSize).contains(m_autoStart));
        QVERIFY(QRect(QPoint(), kSettingsSize).contains(m_showTray));
    }

    void cleanup()
    {
        QVERIFY(stop(m_varlo));
        XTestUtil::cleanup();
    }

    // Preferences from the tray menu; the login entry comes and goes with its
    // box; the tray icon goes after the reminder is answered.
    void loginEntryAndTrayIcon()
    {
        QVERIFY2(startTray(), qPrintable(XTestUtil::lastError()));
        m_varlo = start();
        QVERIFY2(m_varlo, qPrintable(log()));
        quint32 icon = 0;
        QVERIFY2(XTestUtil::waitFor([&] { return (icon = trayIcon()) != 0; }), qPrintable(log()));
        QVERIFY(!QFile::exists(AutoStart::entryPath()));

        // The first entry of the menu is "Preferences".
        QVERIFY(chooseFromTrayMenu(m_varlo->processId(), icon, {"Down", "Return"}));
        quint32 settings = 0;
        QVERIFY2(XTestUtil::waitFor([&] { return (settings = settingsWindow()) != 0; }),
                 qPrintable(log()));
        const QPoint origin = XTestUtil::clientGeometry(settings).topLeft();

        const QString program =
            QFileInfo(programPath()).canonicalFilePath();
        QVERIFY(XTestUtil::clickAt(origin + m_autoStart));
        QVERIFY2(XTestUtil::waitFor([&] { return entryReadsBack(program); }),
                 qPrintable(log()));
        const QString problems = desktopFileProblems(AutoStart::entryPath());
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
        QVERIFY(XTestUtil::clickAt(origin + m_autoStart));
        QVERIFY2(XTestUtil::waitFor([] { return !QFile::exists(AutoStart::entryPath()); }),
                 qPrintable(log()));

        const QList<quint32> open = windowsOfVarlo();
        QVERIFY(XTestUtil::clickAt(origin + m_showTray));
        quint32 reminder = 0;
        QVERIFY(XTestUtil::waitFor([&] {
            for (quint32 w : windowsOfVarlo()) {
                if (!open.contains(w) && windowName(w).contains("\"Remember!\""))
                    reminder = w;
            }
            return reminder != 0;
        }));
        // The icon stays until the reminder is answered.
        QVERIFY(XTestUtil::syncClient(reminder));
        QVERIFY(trayIcon() != 0);
        QVERIFY(XTestUtil::activate(reminder));
        QVERIFY(XTestUtil::key(QStringLiteral("Return")));
        QVERIFY(XTestUtil::waitFor([&] { return !windowsOfVarlo().contains(reminder); }));
        QVERIFY2(XTestUtil::waitFor([&] { return trayIcon() == 0; }), qPrintable(log()));
        QVERIFY(settingsWindow() != 0);
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    TestX11General test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_general.moc"
