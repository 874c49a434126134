#include "desktopentryindex.h"
#include "fileversioninfo.h"
#include "iconfetcher.h"
#include "runtimeprogram.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileIconProvider>
#include <QFileSystemWatcher>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

// The desktop entries under a private XDG tree: a user folder that takes
// precedence over a system folder, and programs that exist on disk.
class TestDesktopEntries : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString home() const { return m_root.path() + QStringLiteral("/home/applications"); }
    QString system() const { return m_root.path() + QStringLiteral("/system/applications"); }
    QString bin() const { return m_root.path() + QStringLiteral("/bin"); }

    void write(const QString &path, const QByteArray &data)
    {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(data);
    }

    void program(const QString &name)
    {
        write(bin() + QLatin1Char('/') + name, "#!/bin/sh\n");
        QFile::setPermissions(bin() + QLatin1Char('/') + name,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString nameOf(DesktopEntryIndex &index, const QString &path, const QString &locale = {})
    {
        const DesktopEntryIndex::Entry *e = index.find(path);
        return e ? DesktopEntryIndex::localizedName(*e, locale) : QStringLiteral("(none)");
    }

    static QByteArray entry(const QString &name, const QString &program)
    {
        return "[Desktop Entry]\nType=Application\nName=" + name.toUtf8() +
               "\nExec=" + program.toUtf8() + "\n";
    }

    // A folder of count entries: "Program i" starts /opt/many/program-i.
    QString generated(const QString &name, int count)
    {
        const QString dir =
            m_root.path() + QLatin1Char('/') + name + QStringLiteral("/applications");
        for (int i = 0; i < count; ++i)
            write(dir + QStringLiteral("/program-%1.desktop").arg(i),
                  entry(QStringLiteral("Program %1").arg(i),
                        QStringLiteral("/opt/many/program-%1").arg(i)));
        return dir;
    }

    // The event loop one pass at a time, so that a state lasting from one
    // event to a later one (a build under way) is seen before it ends.
    static bool stepUntil(const std::function<bool()> &condition)
    {
        QTimer tick; // wakes the loop when nothing else does
        tick.start(20);
        const QDeadlineTimer deadline(20000);
        while (!condition()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        program(QStringLiteral("editor"));
        program(QStringLiteral("real-tool"));
        QVERIFY(QFile::link(bin() + QStringLiteral("/real-tool"), bin() + QStringLiteral("/tool")));
        qputenv("PATH", bin().toLocal8Bit() + ':' + qgetenv("PATH"));

        QImage red(16, 16, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(m_root.path() + QStringLiteral("/editor.png")));

        const QByteArray app = "[Desktop Entry]\nType=Application\n";
        write(home() + "/editor.desktop",
              app +
                  "Name=Editor\nName[de]=Bearbeiter\nName[de_AT]=Editierer\nExec=editor --new %F\n"
                  "Icon=" +
                  m_root.path().toUtf8() + "/editor.png\n");
        write(system() + "/editor.desktop", app + "Name=System Editor\nExec=editor\n");
        write(system() + "/kde/konsole.desktop",
              app + "Name=Konsole\nExec=konsole\nIcon=no-such-icon\n");
        write(system() + "/spaced.desktop",
              app + "Name=Spaced\nExec=\"/opt/my apps/spaced\" --x \"a \\\"q\\\" b\" %%\n");
        write(system() + "/envy.desktop", app + "Name=Envy\nExec=env A=1 B=2 /opt/envy/envy\n");
        write(system() + "/viewer.desktop",
              app + "Name=Viewer\nExec=python3 -u /opt/viewer/viewer.py %U\n");
        write(system() + "/module.desktop", app + "Name=Module\nExec=python3 -m module\n");
        write(system() + "/tool.desktop", app + "Name=Tool\nExec=" + bin().toUtf8() + "/tool\n");
        write(system() + "/helper.desktop",
              app + "Name=Helper\nNoDisplay=true\nExec=/opt/pair/pair --helper\n");
        write(home() + "/zpair.desktop", app + "Name=Pair\nExec=/opt/pair/pair\n");
        write(home() + "/gone.desktop", app + "Hidden=true\n");
        write(system() + "/gone.desktop", app + "Name=Gone\nExec=/opt/gone/gone\n");
        write(system() + "/Wine.desktop", app + "Name=Wine Thing\nExec=/opt/wine/thing.exe\n");

        // Broken entries that must not stop the others.
        write(system() + "/junk.desktop",
              app + "Name=Junk\nExec=/opt/junk/junk\n" + QByteArray(64, '\0'));
        write(system() + "/latin1.desktop", app + "Name=Caf\xe9\nExec=/opt/latin1/latin1\n");
        write(system() + "/huge.desktop",
              app + "Name=Huge\nExec=/opt/huge/huge\n" + QByteArray(2 * 1024 * 1024, '#'));
        write(system() + "/noname.desktop", app + "Exec=/opt/noname/noname\n");
        write(system() + "/quote.desktop", app + "Name=Quote\nExec=\"/opt/quote/quote --x\n");
        write(system() + "/tryexec.desktop",
              app + "Name=Absent\nTryExec=/nonexistent/absent\nExec=/opt/absent/absent\n");
        write(system() + "/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=http://x/\n");
        write(system() + "/other.desktop",
              "[Other Group]\nType=Application\nName=Other\nExec=/opt/other/other\n");

        qputenv("XDG_DATA_HOME", (m_root.path() + QStringLiteral("/home")).toLocal8Bit());
        qputenv("XDG_DATA_DIRS", (m_root.path() + QStringLiteral("/system")).toLocal8Bit());
    }

    void lookups_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        const QString b = bin();
        QTest::newRow("program found on PATH") << b + "/editor"
                                               << "Editor";
        QTest::newRow("symlinked program by its real path") << b + "/real-tool"
                                                            << "Tool";
        QTest::newRow("by file name") << "/usr/bin/konsole"
                                      << "Konsole";
        QTest::newRow("quoted program with a space") << "/opt/my apps/spaced"
                                                     << "Spaced";
        QTest::newRow("started through env") << "/opt/envy/envy"
                                             << "Envy";
        QTest::newRow("script of a runtime") << "/opt/viewer/viewer.py"
                                             << "Viewer";
        QTest::newRow("runtime itself is not the program") << "/usr/bin/python3"
                                                           << "(none)";
        QTest::newRow("shown entry before hidden helper") << "/opt/pair/pair"
                                                          << "Pair";
        QTest::newRow("hidden by the user") << "/opt/gone/gone"
                                            << "(none)";
        QTest::newRow("binary junk skipped") << "/opt/junk/junk"
                                             << "(none)";
        QTest::newRow("not UTF-8 skipped") << "/opt/latin1/latin1"
                                           << "(none)";
        QTest::newRow("huge file skipped") << "/opt/huge/huge"
                                           << "(none)";
        QTest::newRow("no Name skipped") << "/opt/noname/noname"
                                         << "(none)";
        QTest::newRow("broken quoting skipped") << "/opt/quote/quote"
                                                << "(none)";
        QTest::newRow("TryExec missing skipped") << "/opt/absent/absent"
                                                 << "(none)";
        QTest::newRow("other group ignored") << "/opt/other/other"
                                             << "(none)";
        QTest::newRow("unknown") << "/usr/bin/unknown"
                                 << "(none)";
        QTest::newRow("empty") << ""
                               << "(none)";
    }

    void lookups()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        DesktopEntryIndex index({home(), system()});
        QCOMPARE(nameOf(index, path), name);
    }

    void locale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("name");
        QTest::newRow("country match") << "de_AT"
                                       << "Editierer";
        QTest::newRow("language match") << "de_DE"
                                        << "Bearbeiter";
        QTest::newRow("language only") << "de"
                                       << "Bearbeiter";
        QTest::newRow("no translation") << "fr_FR"
                                        << "Editor";
        QTest::newRow("no locale") << ""
                                   << "Editor";
    }

    void locale()
    {
        QFETCH(QString, locale);
        QFETCH(QString, name);
        DesktopEntryIndex index({home(), system()});
        QCOMPARE(nameOf(index, bin() + "/editor", locale), name);
    }

    void rebuildsInTheBackgroundOnceChangesSettle()
    {
        const QString dir = generated(QStringLiteral("many"), 1000);
        DesktopEntryIndex index({dir});
        index.setSettleTime(200, 10000);
        QCOMPARE(index.entryCount(), 1000);
        for (int i = 0; i < 100; ++i)
            index.find(QStringLiteral("/opt/many/program-7"));
        QCOMPARE(index.buildCount(), 1);

        // A package upgrade: many entries at once.
        QSignalSpy changed(&index, &DesktopEntryIndex::changed);
        for (int i = 0; i < 50; ++i)
            write(dir + QStringLiteral("/burst-%1.desktop").arg(i),
                  entry(QStringLiteral("Burst %1").arg(i),
                        QStringLiteral("/opt/burst/burst-%1").arg(i)));
        QVERIFY(stepUntil([&] { return index.buildCount() == 2; }));
        // The new index is being read elsewhere; the old one answers meanwhile.
        QVERIFY(index.building());
        QCOMPARE(nameOf(index, "/opt/many/program-7"), QStringLiteral("Program 7"));
        QCOMPARE(nameOf(index, "/opt/burst/burst-49"), QStringLiteral("(none)"));
        QCOMPARE(changed.count(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 20000);
        QVERIFY(!index.building());
        QCOMPARE(index.buildCount(), 2);
        QCOMPARE(index.entryCount(), 1050);
        QCOMPARE(nameOf(index, "/opt/burst/burst-49"), QStringLiteral("Burst 49"));
    }

    void steadyChangesStillRebuild()
    {
        const QString dir = m_root.path() + QStringLiteral("/steady/applications");
        const QString file = dir + QStringLiteral("/steady.desktop");
        const QString program = QStringLiteral("/opt/steady/steady");
        write(file, entry(QStringLiteral("Steady 0"), program));
        DesktopEntryIndex index({dir});
        index.setSettleTime(300, 1000);
        QCOMPARE(index.entryCount(), 1);

        // Changes closer together than the quiet time, without end.
        int written = 0;
        QTimer stream;
        connect(&stream, &QTimer::timeout, this,
                [&] { write(file, entry(QStringLiteral("Steady %1").arg(++written), program)); });
        stream.start(50);
        QTRY_VERIFY_WITH_TIMEOUT(index.buildCount() > 1, 10000);
        stream.stop();
        QTRY_COMPARE_WITH_TIMEOUT(nameOf(index, program), QStringLiteral("Steady %1").arg(written),
                                  10000);
    }

    void noticesEditsInPlace()
    {
        const QString dir = m_root.path() + QStringLiteral("/edits/applications");
        write(dir + "/fresh.desktop",
              entry(QStringLiteral("Fresh"), QStringLiteral("/opt/fresh/fresh")));
        DesktopEntryIndex index({dir});
        index.setSettleTime(50, 1000);
        QCOMPARE(nameOf(index, "/opt/fresh/fresh"), QStringLiteral("Fresh"));

        // In a subfolder that appears later...
        const QString late = dir + QStringLiteral("/vendor/late.desktop");
        write(late, entry(QStringLiteral("Late"), QStringLiteral("/opt/late/late")));
        QTRY_COMPARE(nameOf(index, "/opt/late/late"), QStringLiteral("Late"));
        // ...edited in place, as an editor or cp does: no file comes or goes.
        {
            QFile file(late);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const QByteArray text = file.readAll().replace("Name=Late", "Name=Later");
            file.seek(0);
            file.write(text);
        }
        QTRY_COMPARE(nameOf(index, "/opt/late/late"), QStringLiteral("Later"));
        QFile::remove(late);
        QTRY_COMPARE(nameOf(index, "/opt/late/late"), QStringLiteral("(none)"));
        QCOMPARE(nameOf(index, "/opt/fresh/fresh"), QStringLiteral("Fresh"));
    }

    void noticesFoldersThatAppear()
    {
        const QString parent = m_root.path() + QStringLiteral("/later");
        QVERIFY(QDir().mkpath(parent));
        DesktopEntryIndex index({parent + QStringLiteral("/applications"),
                                 parent + QStringLiteral("/more/share/applications")});
        index.setSettleTime(50, 1000);
        QCOMPARE(index.entryCount(), 0);

        // Other programs' files beside the folder change nothing. A watch of
        // our own hears of the file in the same pass of the event loop as the index.
        QFileSystemWatcher fence({parent});
        QSignalSpy seen(&fence, &QFileSystemWatcher::directoryChanged);
        write(parent + "/recently-used.xbel", "<xbel/>");
        QVERIFY(seen.wait());
        QCoreApplication::processEvents();
        QVERIFY(!index.building());

        // Not even its parent exists yet.
        write(parent + "/more/share/applications/deep.desktop",
              entry(QStringLiteral("Deep"), QStringLiteral("/opt/deep/deep")));
        QTRY_COMPARE(nameOf(index, "/opt/deep/deep"), QStringLiteral("Deep"));
        write(parent + "/applications/new.desktop",
              entry(QStringLiteral("New"), QStringLiteral("/opt/new/new")));
        QTRY_COMPARE(nameOf(index, "/opt/new/new"), QStringLiteral("New"));
    }

    void destroyedWhileBuilding()
    {
        const QString dir = generated(QStringLiteral("destroyed"), 1000);
        // At start-up...
        auto index = std::make_unique<DesktopEntryIndex>(QStringList{dir});
        QVERIFY(index->building());
        index.reset();

        // ...and after a change.
        index = std::make_unique<DesktopEntryIndex>(QStringList{dir});
        index->setSettleTime(0, 0);
        QCOMPARE(index->entryCount(), 1000);
        write(dir + "/more.desktop",
              entry(QStringLiteral("More"), QStringLiteral("/opt/more/more")));
        QVERIFY(stepUntil([&] { return index->buildCount() == 2; }));
        QVERIFY(index->building());
        index.reset();
        // Nothing of the build may reach the index afterwards.
        QCoreApplication::sendPostedEvents();
    }

    void fileVersionInfo()
    {
        DesktopEntryIndex::instance()->setLocaleName(QStringLiteral("de_DE"));
        FileVersionInfo editor(bin() + "/editor");
        QCOMPARE(editor.fileDescription(), QStringLiteral("Bearbeiter"));
        FileVersionInfo info;
        QVERIFY(!info.load(QStringLiteral("/usr/bin/unknown")));
        QCOMPARE(info.fileDescription(), QString());
        QVERIFY(info.load(QStringLiteral("/opt/wine/thing.exe")));
        QCOMPARE(info.fileDescription(), QStringLiteral("Wine Thing"));
        DesktopEntryIndex::instance()->setLocaleName(QString());
    }

    static QImage look(const QIcon &icon) { return icon.pixmap(16, 16).toImage(); }

    void icons()
    {
        DesktopEntryIndex index({home(), system()});
        index.setSettleTime(50, 1000);
        IconFetcher fetcher(&index, nullptr);
        QCOMPARE(fetcher.size(), QSize(32, 32));

        const QIcon editor = fetcher.getIcon(bin() + "/editor");
        QCOMPARE(editor.pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
        QCOMPARE(fetcher.lookups(), 1);
        QCOMPARE(fetcher.getIcon(bin() + "/editor").cacheKey(), editor.cacheKey());
        QCOMPARE(fetcher.lookups(), 1);

        // A theme that lacks the icon, no entry, no file: the generic icon.
        // Only "Desktop" itself is the desktop's.
        QFileIconProvider provider;
        const QImage file = look(provider.icon(QFileIconProvider::File));
        const QImage desktop = look(provider.icon(QFileIconProvider::Desktop));
        QVERIFY(file != desktop);
        QCOMPARE(look(fetcher.getIcon(QStringLiteral("/usr/bin/konsole"))), file);
        QCOMPARE(look(fetcher.getIcon(QStringLiteral("/nonexistent/program"))), file);
        QCOMPARE(look(fetcher.getIcon(QString())), file);
        QCOMPARE(look(fetcher.getIcon(QStringLiteral("Desktop"))), desktop);
        QCOMPARE(look(fetcher.getIcon(QStringLiteral("desktop"))), file);
        QCOMPARE(fetcher.lookups(), 6);

        // New entries may bring new icons.
        write(home() + "/editor2.desktop",
              "[Desktop Entry]\nType=Application\nName=E2\nExec=/opt/e2/e2\n");
        QTRY_COMPARE((fetcher.getIcon(bin() + "/editor"), fetcher.lookups()), 7);
        QFile::remove(home() + "/editor2.desktop");
    }

    void runtimePrograms_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("cwd");
        QTest::addColumn<QString>("program");
        QTest::newRow("python script") << QStringList{"/usr/bin/python3", "app.py"} << "/srv"
                                       << "/srv/app.py";
        QTest::newRow("python options first")
            << QStringList{"python3.11", "-u", "-W", "ignore", "-X", "dev", "/a/b.py", "-x"} << ""
            << "/a/b.py";
        QTest::newRow("python -m") << QStringList{"python3", "-m", "http.server"} << "/srv"
                                   << "";
        QTest::newRow("python -mmodule") << QStringList{"python3", "-mhttp"} << "/srv"
                                         << "";
        QTest::newRow("python -c") << QStringList{"python3", "-c", "print(1)"} << "/srv"
                                   << "";
        QTest::newRow("python after --") << QStringList{"python3", "--", "-odd.py"} << "/s"
                                         << "/s/-odd.py";
        QTest::newRow("java -jar")
            << QStringList{"java", "-Dx=1", "-jar", "../app.jar"} << "/opt/a/lib"
            << "/opt/a/app.jar";
        QTest::newRow("java main class") << QStringList{"java", "-cp", "x.jar", "Main"} << "/s"
                                         << "";
        QTest::newRow("javaw") << QStringList{"/usr/bin/javaw", "-jar", "/x.jar"} << ""
                               << "/x.jar";
        QTest::newRow("perl -e") << QStringList{"perl", "-e", "1"} << "/s"
                                 << "";
        QTest::newRow("perl script") << QStringList{"perl5.36", "-w", "/usr/bin/tool"} << ""
                                     << "/usr/bin/tool";
        QTest::newRow("node --require") << QStringList{"node", "-r", "x", "main.js"} << "/s"
                                        << "/s/main.js";
        QTest::newRow("wrapper script") << QStringList{"/bin/sh", "/usr/bin/app", "--x"} << ""
                                        << "/usr/bin/app";
        QTest::newRow("sh -c") << QStringList{"sh", "-c", "exec app"} << "/s"
                               << "";
        QTest::newRow("relative without a folder") << QStringList{"python3", "app.py"} << ""
                                                   << "";
        QTest::newRow("not a runtime") << QStringList{"/usr/bin/editor", "file.txt"} << "/s"
                                       << "";
        QTest::newRow("python library name is no runtime")
            << QStringList{"python3-config", "x"} << "/s"
            << "";
        QTest::newRow("only the runtime") << QStringList{"python3"} << "/s"
                                          << "";
    }

    void runtimePrograms()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, cwd);
        QFETCH(QString, program);
        QCOMPARE(RuntimeProgram::programFromArguments(args, cwd), program);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestDesktopEntries test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopentries.moc"
