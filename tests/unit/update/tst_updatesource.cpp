#include "httpsserver.h"
#include "updatesource.h"

#include <QNetworkAccessManager>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

class TestUpdateSource : public QObject
{
    Q_OBJECT

    TestCertificates m_trusted;
    TestCertificates m_stranger;
    HttpsServer m_server;
    HttpsServer m_untrusted;
    HttpsServer m_plain;

    // Fetches url to the end; returns the body, or "error: " and the reason.
    QString fetch(const QUrl &url, qint64 maxBytes = 0)
    {
        // A fresh one each time: a manager keeps its connections' TLS settings.
        QNetworkAccessManager network;
        QPointer<TextFetch> fetch = new TextFetch(&network);
        if (maxBytes > 0)
            fetch->setMaxBytes(maxBytes);
        QSignalSpy finished(fetch.data(), &TextFetch::finished);
        fetch->start(url);
        if (!finished.wait(20000))
            return "no answer";
        const QString error = finished.at(0).at(1).toString();
        return error.isEmpty() ? QString::fromUtf8(finished.at(0).at(0).toByteArray()) : "error: " + error;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_trusted.create());
        QVERIFY(m_stranger.create());
        QVERIFY(m_server.listen(m_trusted));
        QVERIFY(m_untrusted.listen(m_stranger));
        QVERIFY(m_plain.listenPlain());
        HttpsServer::Route notes;
        notes.body = "<h3>Version 1.5</h3>";
        for (HttpsServer *server : {&m_server, &m_untrusted, &m_plain})
            server->setRoute("/updates/winvarlo/releasenotes.html", notes);
        HttpsServer::Route redirect;
        redirect.status = 301;
        redirect.headers = {{"Location", m_plain.url("/updates/winvarlo/releasenotes.html").toEncoded()}};
        m_server.setRoute("/tohttp", redirect);
        HttpsServer::Route big;
        big.streamBytes = 2 * 1024 * 1024;
        m_server.setRoute("/big", big);
    }

    void addresses_data()
    {
        QTest::addColumn<QByteArray>("base");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QString>("installer");
        QTest::newRow("built in") << QByteArray() << "https://updates.varlo.invalid/updates/winvarlo/releasenotes.html"
                                  << "https://updates.varlo.invalid/winvarlo/downloads/InstallVarlo.exe";
        QTest::newRow("overridden, with a path") << QByteArray("https://mirror.example:8443/varlo/")
                                                 << "https://mirror.example:8443/varlo/updates/winvarlo/releasenotes.html"
                                                 << "https://mirror.example:8443/varlo/winvarlo/downloads/InstallVarlo.exe";
    }

    void addresses()
    {
        QFETCH(QByteArray, base);
        QFETCH(QString, notes);
        QFETCH(QString, installer);
        if (base.isEmpty())
            qunsetenv("VARLO_UPDATE_URL");
        else
            qputenv("VARLO_UPDATE_URL", base);
        QCOMPARE(UpdateSource::releaseNotesUrl().toString(), notes);
        QCOMPARE(UpdateSource::installerUrl().toString(), installer);
        qunsetenv("VARLO_UPDATE_URL");
    }

    void onlyHttpsIsAllowed_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("https") << "https://updates.varlo.invalid/x" << true;
        QTest::newRow("http") << "http://updates.varlo.invalid/x" << false;
        QTest::newRow("ftp") << "ftp://updates.varlo.invalid/x" << false;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("relative") << "/x" << false;
        QTest::newRow("no host") << "https:///x" << false;
    }

    void onlyHttpsIsAllowed()
    {
        QFETCH(QString, url);
        QFETCH(bool, allowed);
        QCOMPARE(UpdateSource::isAllowed(QUrl(url)), allowed);
    }

    void extraCertificatesAreAddedToTheSystemOnes()
    {
        qputenv("VARLO_UPDATE_CA_FILE", QFile::encodeName(m_trusted.caFile()));
        const QList<QSslCertificate> trusted = UpdateSource::sslConfiguration().caCertificates();
        QCOMPARE(trusted.size(), QSslConfiguration::systemCaCertificates().size() + 1);
        QVERIFY(trusted.contains(QSslCertificate::fromPath(m_trusted.caFile()).value(0)));
        const QNetworkRequest request = UpdateSource::request(QUrl("https://a.invalid/"));
        QCOMPARE(request.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
                 int(QNetworkRequest::ManualRedirectPolicy));
    }

    void fetch_data()
    {
        QTest::addColumn<QString>("server"); // which of the three answers
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("result");
        QTest::newRow("trusted") << "trusted" << "/updates/winvarlo/releasenotes.html" << "<h3>Version 1.5</h3>";
        QTest::newRow("untrusted certificate") << "untrusted" << "/updates/winvarlo/releasenotes.html" << "error: ";
        QTest::newRow("plain http") << "plain" << "/updates/winvarlo/releasenotes.html" << "error: Refusing";
        QTest::newRow("redirect to http") << "trusted" << "/tohttp" << "error: Refusing a redirect";
        QTest::newRow("404") << "trusted" << "/nothing" << "error: ";
        QTest::newRow("over 1 MiB") << "trusted" << "/big" << "error: The document is larger";
    }

    void fetch()
    {
        QFETCH(QString, server);
        QFETCH(QString, path);
        QFETCH(QString, result);
        qputenv("VARLO_UPDATE_CA_FILE", QFile::encodeName(m_trusted.caFile()));
        HttpsServer *answering = server == "trusted" ? &m_server : server == "plain" ? &m_plain : &m_untrusted;
        const int before = m_plain.requests().size();
        const QString got = fetch(answering->url(path));
        QVERIFY2(result.startsWith("error: ") ? got.startsWith(result) : got == result, qPrintable(got));
        QCOMPARE(m_plain.requests().size(), before);
    }

    void baseFromTheEnvironment()
    {
        qputenv("VARLO_UPDATE_CA_FILE", QFile::encodeName(m_trusted.caFile()));
        qputenv("VARLO_UPDATE_URL", m_server.url("/").toEncoded());
        QCOMPARE(fetch(UpdateSource::releaseNotesUrl()), QString("<h3>Version 1.5</h3>"));
        // The same server is refused when its authority is not the one named.
        qputenv("VARLO_UPDATE_CA_FILE", QFile::encodeName(m_stranger.caFile()));
        QVERIFY(fetch(UpdateSource::releaseNotesUrl()).startsWith("error: "));
        qunsetenv("VARLO_UPDATE_URL");
    }
};

QTEST_MAIN(TestUpdateSource)
#include "tst_updatesource.moc"
