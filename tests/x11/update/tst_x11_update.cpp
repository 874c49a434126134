// An update from the tray on a private desktop: a loopback HTTPS server
// offers 1.5 with a signed installer (a script that leaves a marker file);
// Varlo, built to trust the tests' key, offers it, installs it and makes way.

#include "httpsserver.h"
#include "updaterwindow.h"
#include "varlorun.h"
#include "xtestutil.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace VarloRun;

namespace {

QString windowName(quint32 window)
{
    const CommandResult r = XTestUtil::run(QStringLiteral("xprop"),
                                           {"-id", QString::number(window), "-notype", "_NET_WM_NAME"});
    return QString::fromUtf8(r.standardOutput).trimmed();
}

} // namespace

class TestX11Update : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestCertificates m_certificates;
    HttpsServer m_server;
    QString m_marker;
    QPoint m_install;
    QPoint m_skip;
    QProcess *m_varlo = nullptr;

    QProcess *startVarlo()
    {
        QFile::remove(logPath());
        QProcess *varlo = XTestUtil::startProcess(XTestUtil::binDir() + QStringLiteral("/varlo-testkeyed"),
                                                  {QStringLiteral("-background")});
        return varlo && waitForLog(kReady) ? varlo : nullptr;
    }

    quint32 updaterWindow() const
    {
        for (quint32 w : XTestUtil::windowsOf(m_varlo->processId())) {
            if (windowName(w).contains(QLatin1String("\"Software Update\"")))
                return w;
        }
        return 0;
    }

    bool checkFromTheTray()
    {
        quint32 icon = 0;
        // "Check for updates now" is the second entry.
        return XTestUtil::waitFor([&] { return (icon = trayIconOf(m_varlo->processId())) != 0; })
               && chooseFromTrayMenu(m_varlo->processId(), icon, {"Down", "Down", "Return"});
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_certificates.create());
        QVERIFY(m_server.listen(m_certificates));
        qputenv("VARLO_UPDATE_URL", m_server.url(QStringLiteral("/")).toString().toUtf8());
        qputenv("VARLO_UPDATE_CA_FILE", QFile::encodeName(m_certificates.caFile()));
        m_marker = m_dir.filePath(QStringLiteral("installed"));

        HttpsServer::Route notes;
        notes.body = "<h3>Version 1.5</h3><p>Faster panels.</p>";
        m_server.setRoute(QStringLiteral("/updates/winvarlo/releasenotes.html"), notes);
        HttpsServer::Route installer;
        installer.body = QStringLiteral("#!/bin/sh\necho installed > '%1'\n").arg(m_marker).toUtf8();
        m_server.setRoute(QStringLiteral("/winvarlo/downloads/InstallVarlo.exe"), installer);
        // Signed as the makers sign, with the key this Varlo trusts.
        QFile script(m_dir.filePath(QStringLiteral("installer")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(installer.body);
        script.close();
        const QString signature = m_dir.filePath(QStringLiteral("installer.sig"));
        const CommandResult signing = XTestUtil::run(
            QStringLiteral("openssl"), {"pkeyutl", "-sign", "-rawin", "-inkey", qEnvironmentVariable("VARLO_TEST_INSTALLER_KEY"),
                                        "-in", script.fileName(), "-out", signature});
        QVERIFY2(signing.ok(), signing.standardError.constData());
        QFile sig(signature);
        QVERIFY(sig.open(QIODevice::ReadOnly));
        HttpsServer::Route signatureRoute;
        signatureRoute.body = sig.readAll();
        QCOMPARE(signatureRoute.body.size(), 64);
        m_server.setRoute(QStringLiteral("/winvarlo/downloads/InstallVarlo.exe.sig"), signatureRoute);

        // Where the buttons are: the same window laid out here.
        UpdaterWindow probe;
        probe.show();
        QVERIFY(QTest::qWaitForWindowExposed(&probe));
        const auto centre = [&](const char *name) {
            const QWidget *button = probe.findChild<QPushButton *>(QLatin1String(name));
            return button->mapTo(&probe, button->rect().center());
        };
        m_install = centre("buttonInstall");
        m_skip = centre("buttonSkipVersion");
        probe.close();

        // Automatic checks off: the one from the tray is the user's.
        QSettings().setValue(QStringLiteral("update/auto_check"), false);
        QVERIFY2(startTray(), qPrintable(XTestUtil::lastError()));
    }

    void cleanup()
    {
        QVERIFY(stop(m_varlo));
        m_varlo = nullptr;
    }

    void cleanupTestCase() { XTestUtil::cleanup(); }

    // Skipped: an automatic check at the next start offers nothing; the
    // user's own check offers it again.
    void skipThisVersion()
    {
        m_varlo = startVarlo();
        QVERIFY2(m_varlo, qPrintable(log()));
        QVERIFY(checkFromTheTray());
        quint32 window = 0;
        QVERIFY2(XTestUtil::waitFor([&] { return (window = updaterWindow()) != 0; }), qPrintable(log()));
        QVERIFY2(log().contains(QLatin1String("New version:")), qPrintable(log()));
        // A picture of the offer, release notes loaded, to be looked at.
        QVERIFY(XTestUtil::syncClient(window));
        const QRect area = XTestUtil::outerFrame(window).adjusted(-16, -16, 16, 16);
        QVERIFY(QGuiApplication::primaryScreen()
                    ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                    .save(qEnvironmentVariable("VARLO_RENDER_DIR") + QStringLiteral("/updater_x11.png")));
        QVERIFY(XTestUtil::clickAt(XTestUtil::clientGeometry(window).topLeft() + m_skip));
        QVERIFY(XTestUtil::waitFor([&] { return updaterWindow() == 0; }));
        QVERIFY(stop(m_varlo));

        QSettings().setValue(QStringLiteral("update/auto_check"), true);
        m_varlo = startVarlo();
        QVERIFY2(m_varlo, qPrintable(log()));
        QVERIFY2(waitForLog(QStringLiteral("New version")), qPrintable(log()));
        QVERIFY(XTestUtil::syncClient(XTestUtil::windowsOf(m_varlo->processId(), true).value(0)));
        QVERIFY(XTestUtil::syncWindowManager());
        QCOMPARE(updaterWindow(), 0u);
        QVERIFY(checkFromTheTray());
        QVERIFY2(XTestUtil::waitFor([&] { return updaterWindow() != 0; }), qPrintable(log()));
        QSettings().setValue(QStringLiteral("update/auto_check"), false);
    }

    // Install: the signed installer runs, Varlo ends, and a new start is the
    // first instance again.
    void installTheUpdate()
    {
        m_varlo = startVarlo();
        QVERIFY2(m_varlo, qPrintable(log()));
        QVERIFY(checkFromTheTray());
        quint32 window = 0;
        QVERIFY2(XTestUtil::waitFor([&] { return (window = updaterWindow()) != 0; }), qPrintable(log()));
        QVERIFY(XTestUtil::clickAt(XTestUtil::clientGeometry(window).topLeft() + m_install));
        QVERIFY2(XTestUtil::waitFor([&] { return QFile::exists(m_marker); }, 20000), qPrintable(log()));
        QVERIFY2(m_varlo->waitForFinished(15000), qPrintable(log()));
        QCOMPARE(m_varlo->exitCode(), 0);

        m_varlo = startVarlo();
        QVERIFY2(m_varlo, qPrintable(log()));
        QVERIFY(m_varlo->state() == QProcess::Running);
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    TestX11Update test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_update.moc"
