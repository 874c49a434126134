#include "desktopentryindex.h"
#include "fake/fakeplatform.h"
#include "windowinfo.h"

#include <QApplication>
#include <QFile>
#include <QFileIconProvider>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(WindowType)

namespace {
constexpr qint64 kOwnPid = 1000;
}

class TestWindowIdentification : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_data;
    FakePlatform *m_fake = nullptr;

    void writeEntry(const QString &id, const QByteArray &body)
    {
        QFile file(m_data.path() + QStringLiteral("/applications/") + id);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Desktop Entry]\nType=Application\n" + body);
    }

    WId addWindow(WId id, const QString &title, qint64 pid, WindowType type = WindowType::Normal,
                  bool visible = true)
    {
        FakePlatform::Window w;
        w.id = id;
        w.title = title;
        w.pid = pid;
        w.type = type;
        w.visible = visible;
        m_fake->addWindow(w);
        return id;
    }

    void addProcess(qint64 pid, const QString &exe, const QStringList &args = {}, qint64 parent = 1,
                    const QString &cwd = QString())
    {
        FakePlatform::Process p;
        p.pid = pid;
        p.executable = exe;
        p.arguments = args.isEmpty() ? QStringList{exe} : args;
        p.parent = parent;
        p.workingDirectory = cwd;
        m_fake->addProcess(p);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(m_data.path() + QStringLiteral("/applications")));
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
        qputenv("XDG_DATA_DIRS", m_data.path().toLocal8Bit() + "/none");
        writeEntry(QStringLiteral("startmenu.desktop"), "Name=Start\nExec=/opt/shell/startmenu\n");
        writeEntry(QStringLiteral("explorer.desktop"),
                   "Name=windows explorer\nExec=/opt/shell/explorer\n");
        writeEntry(QStringLiteral("editor.desktop"),
                   "Name=Text Editor\nExec=/opt/editor/editor %F\n");
        writeEntry(QStringLiteral("viewer.desktop"),
                   "Name=Photo Viewer\nExec=python3 /opt/viewer/viewer.py %U\nIcon=viewer\n");
        writeEntry(QStringLiteral("blank.desktop"), "Name=\nExec=/opt/blank/blank\n");
        // The viewer's icon, outside any theme, where old programs put theirs.
        QVERIFY(QDir().mkpath(m_data.path() + QStringLiteral("/pixmaps")));
        QImage red(32, 32, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(m_data.path() + QStringLiteral("/pixmaps/viewer.png")));
        DesktopEntryIndex::instance()->setLocaleName(QString());
    }

    void init()
    {
        m_fake = new FakePlatform;
        m_fake->setCurrentProcessId(kOwnPid);
        Platform::setInstance(m_fake);
        resetRememberedWindow();
        addProcess(kOwnPid, QStringLiteral("/usr/bin/Varlo"));
        addProcess(10, QStringLiteral("/opt/editor/editor"));
        addProcess(11, QStringLiteral("/opt/shell/startmenu"));
        addProcess(12, QStringLiteral("/opt/shell/explorer"));
        addProcess(13, QStringLiteral("/usr/bin/python3.11"),
                   {QStringLiteral("python3"), QStringLiteral("/opt/viewer/viewer.py")});
    }

    void cleanup() { Platform::setInstance(nullptr); }

    void eligibility_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<qint64>("pid");
        QTest::addColumn<WindowType>("type");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("eligible");

        QTest::newRow("plain window")
            << "notes.txt" << qint64(10) << WindowType::Normal << true << true;
        QTest::newRow("dialog") << "Save as" << qint64(10) << WindowType::Dialog << true << true;
        QTest::newRow("utility") << "Palette" << qint64(10) << WindowType::Utility << true << true;
        QTest::newRow("not visible")
            << "notes.txt" << qint64(10) << WindowType::Normal << false << false;
        QTest::newRow("empty title") << "" << qint64(10) << WindowType::Normal << true << false;
        QTest::newRow("desktop") << "Desktop" << qint64(10) << WindowType::Desktop << true << false;
        QTest::newRow("dock") << "Panel" << qint64(10) << WindowType::Dock << true << false;
        QTest::newRow("menu") << "File" << qint64(10) << WindowType::Menu << true << false;
        QTest::newRow("tooltip") << "Hint" << qint64(10) << WindowType::Tooltip << true << false;
        QTest::newRow("notification")
            << "Mail" << qint64(10) << WindowType::Notification << true << false;
        QTest::newRow("splash") << "Loading" << qint64(10) << WindowType::Splash << true << false;
    }

    void eligibility()
    {
        QFETCH(QString, title);
        QFETCH(qint64, pid);
        QFETCH(WindowType, type);
        QFETCH(bool, visible);
        QFETCH(bool, eligible);
        addWindow(0x100, title, pid, type, visible);
        QCOMPARE(isEligibleWindow(0x100), eligible);
    }

    void ownWindowInFrontKeepsRemembered()
    {
        addWindow(0x100, QStringLiteral("notes.txt"), 10);
        m_fake->setActiveWindow(0x100);
        QCOMPARE(foregroundWindow(), WId(0x100));

        addWindow(0x200, QStringLiteral("Varlo"), kOwnPid);
        addWindow(0x300, QStringLiteral("other.txt"), 10); // on top, but not active
        m_fake->setActiveWindow(0x200);
        const int before = m_fake->enumerations();
        QVERIFY(isOwnWindow(0x200));
        QCOMPARE(foregroundWindow(), WId(0x100));
        QCOMPARE(m_fake->enumerations(), before);
    }

    void shellInFrontPicksTopEligible()
    {
        addWindow(0x100, QStringLiteral("bottom.txt"), 10);
        addWindow(0x101, QStringLiteral("middle.txt"), 10);
        addWindow(0x102, QString(), 10);                                 // untitled
        addWindow(0x103, QStringLiteral("Varlo"), kOwnPid);              // ours
        addWindow(0x104, QStringLiteral("Panel"), 10, WindowType::Dock); // shell
        addWindow(0x105, QStringLiteral("Desktop"), 10, WindowType::Desktop);
        m_fake->setActiveWindow(0x105);
        QCOMPARE(foregroundWindow(), WId(0x101));

        // Nothing eligible any more: the remembered window stays until it goes.
        m_fake->window(0x100)->visible = false;
        m_fake->window(0x101)->type = WindowType::Dock;
        m_fake->setActiveWindow(0);
        QCOMPARE(foregroundWindow(), WId(0));
        m_fake->window(0x101)->type = WindowType::Normal;
        QCOMPARE(foregroundWindow(), WId(0x101));
    }

    void rememberedWindowClosed()
    {
        addWindow(0x100, QStringLiteral("notes.txt"), 10);
        m_fake->setActiveWindow(0x100);
        QCOMPARE(foregroundWindow(), WId(0x100));
        m_fake->removeWindow(0x100);
        addWindow(0x200, QStringLiteral("Varlo"), kOwnPid);
        m_fake->setActiveWindow(0x200);
        QCOMPARE(foregroundWindow(), WId(0));
    }

    void nothingEligible()
    {
        QVERIFY(!isEligibleWindow(0));
        QVERIFY(!isEligibleWindow(0x999)); // vanished
        addWindow(0x104, QStringLiteral("Panel"), 10, WindowType::Dock);
        m_fake->setActiveWindow(0x104);
        QCOMPARE(foregroundWindow(), WId(0));
        const WindowInfo info = foregroundWindowInfo();
        QCOMPARE(info.hwnd, WId(0));
        QCOMPARE(info.path, QStringLiteral("Desktop"));
        QCOMPARE(info.name, QStringLiteral("Desktop"));
        // The desktop's own icon, not the generic one every lookup falls back to.
        const QFileIconProvider provider;
        const QImage desktop = provider.icon(QFileIconProvider::Desktop).pixmap(16, 16).toImage();
        QVERIFY(desktop != provider.icon(QFileIconProvider::File).pixmap(16, 16).toImage());
        QCOMPARE(info.icon.pixmap(16, 16).toImage(), desktop);
    }

    void foregroundInfoOfScript()
    {
        addWindow(0x100, QStringLiteral("holiday.jpg"), 13);
        m_fake->setActiveWindow(0x100);
        const WindowInfo info = foregroundWindowInfo();
        QCOMPARE(info.hwnd, WId(0x100));
        QCOMPARE(info.path, QStringLiteral("/opt/viewer/viewer.py"));
        QCOMPARE(info.name, QStringLiteral("Photo Viewer"));
        QCOMPARE(info.icon.pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
    }

    void processPath_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("cwd");
        QTest::addColumn<QString>("parentExe");
        QTest::addColumn<QStringList>("parentArgs");
        QTest::addColumn<QString>("expected");

        const QString java = QStringLiteral("/usr/lib/jvm/java-17/bin/java");
        QTest::newRow("plain program") << "/opt/editor/editor" << QStringList() << ""
                                       << "" << QStringList() << "/opt/editor/editor";
        QTest::newRow("replaced by an upgrade")
            << "/opt/editor/editor (deleted)" << QStringList() << ""
            << "" << QStringList() << "/opt/editor/editor";
        QTest::newRow("python script")
            << "/usr/bin/python3.11" << QStringList{"python3", "-u", "/opt/tool/tool.py", "-v"}
            << ""
            << "" << QStringList() << "/opt/tool/tool.py";
        QTest::newRow("relative script")
            << "/usr/bin/perl" << QStringList{"perl", "-w", "../bin/run.pl"} << "/home/u/src"
            << "" << QStringList() << "/home/u/bin/run.pl";
        QTest::newRow("java archive")
            << java << QStringList{"java", "-Xmx1g", "-cp", "lib", "-jar", "/opt/app/app.jar"} << ""
            << "" << QStringList() << "/opt/app/app.jar";
        QTest::newRow("java class, native launcher")
            << java << QStringList{"java", "-cp", "/opt/app/lib", "org.example.Main"} << ""
            << "/opt/app/launcher" << QStringList() << "/opt/app/launcher";
        QTest::newRow("java class, wrapper script")
            << java << QStringList{"java", "org.example.Main"} << ""
            << "/usr/bin/dash" << QStringList{"/bin/sh", "/usr/bin/app"} << "/usr/bin/app";
        QTest::newRow("java class from an interactive shell")
            << java << QStringList{"java", "org.example.Main"} << ""
            << "/usr/bin/bash" << QStringList{"bash"} << java;
        QTest::newRow("python module")
            << "/usr/bin/python3" << QStringList{"python3", "-m", "tool"} << ""
            << "" << QStringList() << "/usr/bin/python3";
    }

    void processPath()
    {
        QFETCH(QString, exe);
        QFETCH(QStringList, args);
        QFETCH(QString, cwd);
        QFETCH(QString, parentExe);
        QFETCH(QStringList, parentArgs);
        QFETCH(QString, expected);
        if (!parentExe.isEmpty())
            addProcess(50, parentExe, parentArgs);
        addProcess(51, exe, args, parentExe.isEmpty() ? 1 : 50, cwd);
        addWindow(0x100, QStringLiteral("window"), 51);
        QCOMPARE(windowProcessPath(0x100), expected);
    }

    void processFailuresAreLogged()
    {
        QCOMPARE(windowProcessPath(0), QStringLiteral("Desktop"));

        addWindow(0x100, QStringLiteral("remote"), -1);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("GetWindowThreadProcessId: \\S"));
        QCOMPARE(windowProcessPath(0x100), QString());

        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("OpenProcess: No such process$"));
        QCOMPARE(processImagePath(4242), QString());

        FakePlatform::Process other;
        other.pid = 60;
        other.readable = false;
        m_fake->addProcess(other);
        QTest::ignoreMessage(QtDebugMsg,
                             QRegularExpression("GetProcessImageFileName: Permission denied$"));
        QCOMPARE(processImagePath(60), QString());

        addProcess(61, QStringLiteral("editor"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Failed to normalize path\\.$"));
        QCOMPARE(processImagePath(61), QStringLiteral("editor"));

        QCOMPARE(parentProcessId(4242), qint64(-1));
    }

    void names_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<WindowType>("type");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");

        QTest::newRow("menu name") << "notes.txt" << WindowType::Normal << "/opt/editor/editor"
                                   << "Text Editor";
        QTest::newRow("no entry: file name") << "x" << WindowType::Normal << "/usr/bin/frobber"
                                             << "frobber";
        QTest::newRow("no entry: .exe dropped")
            << "x" << WindowType::Normal << "/opt/wine/Notepad.exe"
            << "Notepad";
        QTest::newRow("no entry: upper-case .EXE kept")
            << "x" << WindowType::Normal << "/opt/wine/NOTEPAD.EXE"
            << "NOTEPAD.EXE";
        QTest::newRow("tool window by its title")
            << "Colours" << WindowType::Utility << "/opt/editor/editor"
            << "Colours";
        QTest::newRow("toolbar by its title")
            << "Tools" << WindowType::Toolbar << "/opt/editor/editor"
            << "Tools";
        QTest::newRow("unknown program: title") << "Some Title" << WindowType::Normal << ""
                                                << "Some Title";
        QTest::newRow("entry without a name is skipped")
            << "Blank" << WindowType::Normal << "/opt/blank/blank"
            << "blank";
        QTest::newRow("title that is a drive path")
            << "C:\\docs\\plan.txt" << WindowType::Normal << ""
            << "plan.txt";
    }

    void names()
    {
        QFETCH(QString, title);
        QFETCH(WindowType, type);
        QFETCH(QString, path);
        QFETCH(QString, name);
        addWindow(0x100, title, 10, type);
        WindowInfo info;
        info.hwnd = 0x100;
        info.path = path;
        QCOMPARE(applicationName(info), name);
        QCOMPARE(windowTitle(0x100), title);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestWindowIdentification test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowidentification.moc"
