#include "httpsserver.h"
#include "ontopmessagebox.h"
#include "settingsstore.h"
#include "updatechecker.h"

#include <QApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// A reported check against servers that misbehave, over real HTTPS on
// loopback: each ends in an offer or one box, with memory and time bounded.
class TestUpdateCheckerNetwork : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    TestCertificates m_certificates;
    HttpsServer m_server;
    HttpsServer m_plain;

    static QString notesPath() { return QStringLiteral("/updates/winvarlo/releasenotes.html"); }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
        SettingsStore::writeSettingsDefaults();
        QVERIFY(m_certificates.create());
        QVERIFY(m_server.listen(m_certificates));
        QVERIFY(m_plain.listenPlain());
        qputenv("VARLO_UPDATE_URL", m_server.url(QStringLiteral("/")).toString().toUtf8());
        qputenv("VARLO_UPDATE_CA_FILE", QFile::encodeName(m_certificates.caFile()));
    }

    void hostileServers_data()
    {
        QTest::addColumn<QString>("serve"); // what the notes' path answers
        QTest::addColumn<QString>("seen");
        const QString sorry = QStringLiteral("box:Sorry!");
        const QString upToDate = QStringLiteral("box:Varlo is up to date \"1.4.4\"");
        QTest::newRow("1.5 published") << "page" << "offer:1.5";
        QTest::newRow("404") << "404" << sorry;
        QTest::newRow("empty body") << "empty" << upToDate;
        QTest::newRow("100 MB body") << "huge" << sorry;
        QTest::newRow("one byte a second") << "slow" << sorry;
        QTest::newRow("five redirects") << "redirects 5" << "offer:1.5";
        QTest::newRow("six redirects") << "redirects 6" << sorry;
        QTest::newRow("redirect loop") << "loop" << sorry;
        QTest::newRow("relative redirect") << "relative" << "offer:1.5";
        QTest::newRow("redirect to plain HTTP") << "http" << sorry;
    }

    void hostileServers()
    {
        QFETCH(QString, serve);
        QFETCH(QString, seen);
        const QByteArray page = "<html><h3>Version 1.5</h3></html>";
        HttpsServer::Route route;
        route.body = page;
        if (serve == QLatin1String("404")) {
            route.status = 404;
        } else if (serve == QLatin1String("empty")) {
            route.body.clear();
        } else if (serve == QLatin1String("huge")) {
            route.body.clear();
            route.streamBytes = 100 * 1024 * 1024;
        } else if (serve == QLatin1String("slow")) {
            route.byteIntervalMs = 1000;
        } else if (serve.startsWith(QLatin1String("redirects"))) {
            const int hops = serve.section(' ', 1).toInt();
            QStringList paths{notesPath()};
            for (int i = 1; i < hops; ++i)
                paths << QStringLiteral("/hop%1").arg(i);
            m_server.setRoute(QStringLiteral("/final"), route);
            m_server.setRedirectChain(paths, QStringLiteral("/final"));
        } else if (serve == QLatin1String("loop")) {
            route.status = 302;
            route.body.clear();
            route.headers = {{"Location", m_server.url(notesPath()).toEncoded()}};
        } else if (serve == QLatin1String("relative")) {
            m_server.setRoute(QStringLiteral("/updates/notes/current.html"), route);
            route.status = 302;
            route.body.clear();
            route.headers = {{"Location", "../notes/current.html"}};
        } else if (serve == QLatin1String("http")) {
            m_plain.setRoute(notesPath(), route);
            route.status = 302;
            route.body.clear();
            route.headers = {{"Location", m_plain.url(notesPath()).toEncoded()}};
        }
        if (!serve.startsWith(QLatin1String("redirects")))
            m_server.setRoute(notesPath(), route);

        UpdateChecker checker;
        checker.setOnlineTest([] { return true; });
        // Short only where a stall is the point: a first handshake on a busy
        // machine under the sanitizers can take longer than that.
        checker.setStallTimeout(serve == QLatin1String("slow") ? 300 : 15000);
        QSignalSpy offers(&checker, &UpdateChecker::newVersionAvailable);
        OnTopMessageBox::answerNext(QMessageBox::Ok);
        checker.checkForNewVersion(true);
        QTRY_VERIFY_WITH_TIMEOUT(!checker.checkInFlight(), 20000);
        QString outcome = QStringLiteral("none");
        if (OnTopMessageBox::pendingAnswers() == 0)
            outcome = QStringLiteral("box:") + OnTopMessageBox::lastAnsweredText();
        if (!offers.isEmpty())
            outcome = QStringLiteral("offer:") + offers.constFirst().constFirst().toString();
        while (OnTopMessageBox::pendingAnswers() > 0)
            OnTopMessageBox().exec();
        QCOMPARE(outcome, seen);
        // Nothing ever went to the plain server.
        QVERIFY(m_plain.requests().isEmpty());
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    TestUpdateCheckerNetwork test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_updatechecker_network.moc"
