// The general tab end to end: the real Varlo beside a tray host (trayer) on a
// private desktop with Openbox, its settings opened from the tray menu and
// changed with the real pointer and keyboard (XTEST).

#include "autostart.h"
#include "databaseutil.h"
#include "desktopentry.h"
#include "settingsstore.h"
#include "settingswindow.h"
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

QString logText()
{
    QFile f(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/varlo.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

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

    // The window of ours a tray host took in: one of ours below another's top
    // level that the window manager does not list (the settings window sits in a frame too).
    quint32 trayIcon() const
    {
        const QList<quint32> managed = XTestUtil::clientList();
        for (quint32 w : XTestUtil::descendantsOf(XTestUtil::rootWindow())) {
            if (managed.contains(w))
                continue;
            const QList<quint32> pid = XTestUtil::cardinalProperty(w, "_NET_WM_PID");
            if (!pid.isEmpty() && pid.first() == quint32(m_varlo->processId()) &&
                XTestUtil::topLevelOf(w) != w && XTestUtil::clientGeometry(w).isValid())
                return w;
        }
        return 0;
    }

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
        if (m_varlo && m_varlo->state() != QProcess::NotRunning) {
            m_varlo->terminate();
            QVERIFY(m_varlo->waitForFinished(10000));
        }
        XTestUtil::cleanup();
    }

    // Preferences from the tray menu; the login entry comes and goes with its
    // box; the tray icon goes after the reminder is answered.
    void loginEntryAndTrayIcon()
    {
        QVERIFY2(
            XTestUtil::startProcess(QStringLiteral("trayer"),
                                    {"--edge", "top", "--align", "right", "--widthtype", "pixel",
                                     "--width", "200", "--heighttype", "pixel", "--height", "32"}),
            qPrintable(XTestUtil::lastError()));
        QVERIFY(
            XTestUtil::waitFor([] { return XTestUtil::selectionOwned("_NET_SYSTEM_TRAY_S0"); }));
        QFile::remove(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/varlo.log"));
        m_varlo = XTestUtil::startProcess(XTestUtil::binDir() + QStringLiteral("/Varlo"),
                                          {"-background"});
        QVERIFY(m_varlo);
        quint32 icon = 0;
        QVERIFY2(XTestUtil::waitFor([&] { return (icon = trayIcon()) != 0; }, 15000),
                 qPrintable(logText()));
        QVERIFY2(XTestUtil::waitFor(
                     [] { return logText().contains("| Finished application initialization."); }),
                 qPrintable(logText()));
        QVERIFY(!QFile::exists(AutoStart::entryPath()));

        // The first entry of the menu is "Preferences".
        const int before = int(windowsOfVarlo().size());
        QVERIFY(XTestUtil::clickAt(XTestUtil::clientGeometry(icon).center(), 3));
        QVERIFY(XTestUtil::waitFor([&] { return windowsOfVarlo().size() > before; }));
        QVERIFY(XTestUtil::key(QStringLiteral("Down")));
        QVERIFY(XTestUtil::key(QStringLiteral("Return")));
        quint32 settings = 0;
        QVERIFY2(XTestUtil::waitFor([&] { return (settings = settingsWindow()) != 0; }),
                 qPrintable(logText()));
        const QPoint origin = XTestUtil::clientGeometry(settings).topLeft();

        const QString program =
            QFileInfo(XTestUtil::binDir() + QStringLiteral("/Varlo")).canonicalFilePath();
        QVERIFY(XTestUtil::clickAt(origin + m_autoStart));
        QVERIFY2(XTestUtil::waitFor([&] { return entryReadsBack(program); }),
                 qPrintable(logText()));
        const QString problems = desktopFileProblems(AutoStart::entryPath());
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
        QVERIFY(XTestUtil::clickAt(origin + m_autoStart));
        QVERIFY2(XTestUtil::waitFor([] { return !QFile::exists(AutoStart::entryPath()); }),
                 qPrintable(logText()));

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
        QVERIFY2(XTestUtil::waitFor([&] { return trayIcon() == 0; }), qPrintable(logText()));
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
