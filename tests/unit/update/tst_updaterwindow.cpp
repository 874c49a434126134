#include "httpsserver.h"
#include "ontopmessagebox.h"
#include "paths.h"
#include "testsigning.h"
#include "updaterwindow.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

// The offer window against a loopback HTTPS server: the notes shown, the
// installer started only when the makers' signature holds.
class TestUpdaterWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    TestCertificates m_certificates;
    HttpsServer m_server;
    TestSigningKey m_makers;
    QString m_marker;

    QByteArray installer() const
    {
        return QStringLiteral("#!/bin/sh\necho installed > '%1'\n").arg(m_marker).toUtf8();
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath("config")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.filePath("runtime")));
        QVERIFY(Paths::makePrivateDir(m_home.filePath("runtime")));
        QVERIFY(m_certificates.create());
        QVERIFY(m_server.listen(m_certificates));
        qputenv("VARLO_UPDATE_URL", m_server.url(QStringLiteral("/")).toString().toUtf8());
        qputenv("VARLO_UPDATE_CA_FILE", QFile::encodeName(m_certificates.caFile()));
        m_makers = TestSigningKey::create();
        QVERIFY(m_makers.key);
        m_marker = m_home.filePath("installed");
        HttpsServer::Route notes;
        notes.body = "<h3>Version 1.5</h3><p>Faster <b>panels</b>.</p><img src=\"https://elsewhere.invalid/x.png\">";
        m_server.setRoute(QStringLiteral("/updates/winvarlo/releasenotes.html"), notes);
    }

    void offerTexts()
    {
        UpdaterWindow window;
        window.showNewVersion(QStringLiteral("1.5"));
        QCOMPARE(window.findChild<QLabel *>("labelVersionInfo")->text(),
                 QStringLiteral("Varlo 1.5 is now available - you're using version 1.4.4. Would you like to "
                                "download the new version now?"));
        auto *notes = window.findChild<QTextBrowser *>("webview");
        QTRY_VERIFY(notes->toPlainText().contains(QLatin1String("Faster panels.")));
        // Nothing but the page itself was asked for.
        QCOMPARE(m_server.requests().count(QStringLiteral("/updates/winvarlo/releasenotes.html")), 1);
        QVERIFY(!m_server.requests().join(' ').contains(QLatin1String("x.png")));

        window.findChild<QPushButton *>("buttonSkipVersion")->click();
        QCOMPARE(QSettings().value("update/skip_ver").toString(), QStringLiteral("1.5"));
        QVERIFY(!window.isVisible());
    }

    void install_data()
    {
        QTest::addColumn<int>("signature"); // 0 good, 1 a byte changed, 2 another file's, 3 none served
        QTest::addColumn<bool>("keyBuiltIn");
        QTest::addColumn<bool>("started");
        QTest::newRow("signed by the makers") << 0 << true << true;
        QTest::newRow("a byte of the signature changed") << 1 << true << false;
        QTest::newRow("signature of another file") << 2 << true << false;
        QTest::newRow("no signature on the server") << 3 << true << false;
        QTest::newRow("built without a key") << 0 << false << false;
    }

    void install()
    {
        QFETCH(int, signature);
        QFETCH(bool, keyBuiltIn);
        QFETCH(bool, started);
        QFile::remove(m_marker);
        HttpsServer::Route file;
        file.body = installer();
        m_server.setRoute(QStringLiteral("/winvarlo/downloads/InstallVarlo.exe"), file);
        HttpsServer::Route sig;
        sig.body = m_makers.sign(signature == 2 ? QByteArray("#!/bin/sh\nrm -rf ~\n") : file.body);
        if (signature == 1)
            sig.body[5] = char(sig.body[5] ^ 0x01);
        if (signature == 3)
            sig.status = 404;
        m_server.setRoute(QStringLiteral("/winvarlo/downloads/InstallVarlo.exe.sig"), sig);

        bool released = false;
        UpdaterWindow::setReleaseInstance([&] { released = true; });
        UpdaterWindow window(nullptr, {}, keyBuiltIn ? m_makers.publicKey : QByteArray());
        QSignalSpy done(&window, qOverload<>(&UpdaterWindow::finishedDownload));
        window.showNewVersion(QStringLiteral("1.5"));
        if (!started)
            OnTopMessageBox::answerNext(QMessageBox::Ok);
        window.findChild<QPushButton *>("buttonInstall")->click();
        auto *bar = window.findChild<QStackedWidget *>("buttonBar");
        QCOMPARE(bar->currentIndex(), 1);
        const QString saved = Paths::privateTempDir() + QStringLiteral("/InstallVarlo.exe");
        if (started) {
            QVERIFY(done.wait(15000));
            QVERIFY(released);
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_marker), 15000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(OnTopMessageBox::pendingAnswers(), 0, 15000);
            QCOMPARE(bar->currentIndex(), 0);
            QCOMPARE(done.count(), 0);
            QVERIFY(!released);
            // Deleted, never run.
            QVERIFY(!QFile::exists(saved));
            QVERIFY(!QFile::exists(m_marker));
        }
        UpdaterWindow::setReleaseInstance(nullptr);
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    TestUpdaterWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_updaterwindow.moc"
