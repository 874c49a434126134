#include "ontopmessagebox.h"
#include "settingsstore.h"
#include "updatechecker.h"

#include <QApplication>
#include <QNetworkReply>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A reply the test finishes when it wants: the body arrives in one piece
// (readyRead) and then the reply finishes, with or without an error.
class FakeReply : public QNetworkReply
{
public:
    explicit FakeReply(const QUrl &url)
    {
        setUrl(url);
        open(QIODevice::ReadOnly);
    }

    void complete(const QByteArray &body, NetworkError error = NoError)
    {
        if (error != NoError) {
            setError(error, QStringLiteral("Connection refused"));
            Q_EMIT errorOccurred(error);
        } else {
            m_body = body;
            Q_EMIT readyRead();
        }
        if (isFinished())
            return;
        setFinished(true);
        Q_EMIT finished();
    }

    void abort() override
    {
        setError(OperationCanceledError, QStringLiteral("Operation canceled"));
        setFinished(true);
        Q_EMIT finished();
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return m_body.size() - m_pos + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin(maxSize, qint64(m_body.size()) - m_pos);
        memcpy(data, m_body.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }

private:
    QByteArray m_body;
    qint64 m_pos = 0;
};

const QString kUpToDate = QStringLiteral("box:Varlo is up to date \"1.4.4\"");
const QString kUnreachable = QStringLiteral("box:Sorry!");

QByteArray page(const QByteArray &version)
{
    return "<html><body><h1>Varlo</h1><h3>Version " + version + "</h3><p>Notes</p></body></html>";
}

} // namespace

class TestUpdateChecker : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<UpdateChecker> m_checker;
    QList<QPointer<FakeReply>> m_requests;
    bool m_online = true;
    QDateTime m_now;

    FakeReply *lastRequest() const
    {
        return m_requests.isEmpty() ? nullptr : m_requests.last().data();
    }

    // What the user saw of the check that reply answers: "offer:VERSION",
    // "box:TEXT" or "none".
    QString outcome(const QByteArray &body,
                    QNetworkReply::NetworkError error = QNetworkReply::NoError)
    {
        QSignalSpy offers(m_checker.get(), &UpdateChecker::newVersionAvailable);
        OnTopMessageBox::answerNext(QMessageBox::Ok);
        FakeReply *reply = lastRequest();
        if (!reply)
            return QStringLiteral("no request");
        reply->complete(body, error);
        QString seen = QStringLiteral("none");
        if (OnTopMessageBox::pendingAnswers() == 0)
            seen = QStringLiteral("box:") + OnTopMessageBox::lastAnsweredText();
        if (!offers.isEmpty())
            seen = QStringLiteral("offer:") + offers.constFirst().constFirst().toString();
        drainAnswers();
        return seen;
    }

    static void drainAnswers()
    {
        while (OnTopMessageBox::pendingAnswers() > 0)
            OnTopMessageBox().exec();
    }

private Q_SLOTS:
    void init()
    {
        QSettings().clear();
        SettingsStore::writeSettingsDefaults();
        m_online = true;
        m_now = QDateTime(QDate(2024, 6, 12), QTime(10, 0));
        m_checker = std::make_unique<UpdateChecker>();
        m_checker->setOnlineTest([this] { return m_online; });
        m_checker->setClock([this] { return m_now; });
        m_checker->setRequestFunction([this](const QUrl &url) {
            auto *reply = new FakeReply(url);
            m_requests << reply;
            return reply;
        });
    }

    void cleanup()
    {
        m_checker.reset();
        for (const QPointer<FakeReply> &reply : std::as_const(m_requests))
            if (reply && !reply->isFinished())
                delete reply.data();
        m_requests.clear();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        drainAnswers();
    }

    void publishedVersion_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");

        QTest::newRow("ours") << page("1.4.4") << kUpToDate;
        QTest::newRow("minor newer") << page("1.5") << "offer:1.5";
        QTest::newRow("patch newer") << page("1.4.5") << "offer:1.4.5";
        QTest::newRow("shorter, older") << page("1.4") << kUpToDate;
        QTest::newRow("fourth part ignored") << page("2.0.0.7") << "offer:2.0.0.7";
        QTest::newRow("numbers, not text") << page("1.10") << "offer:1.10";
        QTest::newRow("older major, larger minor") << page("0.9.9") << kUpToDate;
        QTest::newRow("empty middle part") << page("1..5") << kUpToDate;
        QTest::newRow("junk in the version") << page("1.5-beta") << kUpToDate;
        QTest::newRow("huge number") << page("4294967297.0") << kUpToDate;
        QTest::newRow("no heading") << QByteArray("<h2>Version 1.5</h2>") << kUpToDate;
        QTest::newRow("heading in other case") << QByteArray("<h3>version 1.5</h3>") << kUpToDate;
        QTest::newRow("unclosed heading") << QByteArray("<h3>Version 1.5<p>text</p>") << kUpToDate;
        QTest::newRow("empty body") << QByteArray() << kUpToDate;
        QTest::newRow("first heading counts")
            << QByteArray("junk <h3>Version 1.5</h3> <h3>Version 9.0</h3> junk") << "offer:1.5";
    }

    void publishedVersion()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        m_checker->checkForNewVersion(true);
        QCOMPARE(outcome(body), expected);
    }

    void skippedVersion_data()
    {
        QTest::addColumn<QString>("skipped");
        QTest::addColumn<QByteArray>("published");
        QTest::addColumn<bool>("reported");
        QTest::addColumn<QString>("expected");

        QTest::newRow("automatic, skipped") << "1.5" << QByteArray("1.5") << false << "none";
        QTest::newRow("reported, skipped") << "1.5" << QByteArray("1.5") << true << "offer:1.5";
        QTest::newRow("automatic, newer than skipped")
            << "1.5" << QByteArray("1.6") << false << "offer:1.6";
        QTest::newRow("automatic, nothing skipped")
            << "" << QByteArray("1.5") << false << "offer:1.5";
    }

    void skippedVersion()
    {
        QFETCH(QString, skipped);
        QFETCH(QByteArray, published);
        QFETCH(bool, reported);
        QFETCH(QString, expected);
        QSettings().setValue("update/skip_ver", skipped);
        m_checker->checkForNewVersion(reported);
        QCOMPARE(outcome(page(published)), expected);
    }

    void failedReply_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("reported");
        QTest::addColumn<QString>("expected");

        const QByteArray huge = page("9.0") + QByteArray(UpdateChecker::maxReleaseNotesSize, ' ');
        const QByteArray limit = page("9.0").leftJustified(UpdateChecker::maxReleaseNotesSize, ' ');
        QTest::newRow("unreachable, reported")
            << QByteArray() << int(QNetworkReply::ConnectionRefusedError) << true << kUnreachable;
        QTest::newRow("unreachable, automatic")
            << QByteArray() << int(QNetworkReply::ConnectionRefusedError) << false << "none";
        QTest::newRow("notes over 1 MiB, reported")
            << huge << int(QNetworkReply::NoError) << true << kUnreachable;
        QTest::newRow("notes over 1 MiB, automatic")
            << huge << int(QNetworkReply::NoError) << false << "none";
        QTest::newRow("notes of 1 MiB")
            << limit << int(QNetworkReply::NoError) << false << "offer:9.0";
    }

    // Neither a failed nor a malformed reply disturbs the daily schedule.
    void failedReply()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, error);
        QFETCH(bool, reported);
        QFETCH(QString, expected);
        m_checker->setAutoCheck(true);
        const int scheduled = m_checker->secondsToNextCheck();
        const QVariant reference = QSettings().value("update/lastupdate");
        QCOMPARE(outcome(page("1.4.4")), QString("none")); // the automatic check at once

        m_checker->checkForNewVersion(reported);
        QCOMPARE(outcome(body, QNetworkReply::NetworkError(error)), expected);
        QCOMPARE(m_requests.size(), 2);
        QVERIFY(!m_checker->checkInFlight());
        QCOMPARE(m_checker->secondsToNextCheck(), scheduled);
        QCOMPARE(QSettings().value("update/lastupdate"), reference);
    }

    void noRequest_data()
    {
        QTest::addColumn<bool>("online");
        QTest::addColumn<QUrl>("url");

        QTest::newRow("offline") << false << QUrl();
        QTest::newRow("plain http")
            << true << QUrl("http://update.orrith.example/updates/winvarlo/releasenotes.html");
    }

    // Not even a reported check says anything.
    void noRequest()
    {
        QFETCH(bool, online);
        QFETCH(QUrl, url);
        m_online = online;
        if (!url.isEmpty())
            m_checker->setReleaseNotesUrl(url);
        m_checker->checkForNewVersion(true);
        QVERIFY(m_requests.isEmpty());
        QVERIFY(!m_checker->checkInFlight());
        QCOMPARE(outcome(page("1.5")), QString("no request"));
    }

    void oneCheckInFlight_data()
    {
        QTest::addColumn<bool>("first");
        QTest::addColumn<bool>("second");
        QTest::addColumn<QString>("expected");

        QTest::newRow("automatic, then reported") << false << true << kUpToDate;
        QTest::newRow("reported, then automatic") << true << false << kUpToDate;
        QTest::newRow("automatic twice") << false << false << "none";
    }

    // The user who asks while a check runs still hears its outcome; a silent
    // check never silences one the user asked for.
    void oneCheckInFlight()
    {
        QFETCH(bool, first);
        QFETCH(bool, second);
        QFETCH(QString, expected);
        m_checker->checkForNewVersion(first);
        m_checker->checkForNewVersion(second);
        QCOMPARE(m_requests.size(), 1);
        QVERIFY(m_checker->checkInFlight());
        QCOMPARE(outcome(page("1.4.4")), expected);

        QVERIFY(!m_checker->checkInFlight());
        m_checker->checkForNewVersion(false);
        QCOMPARE(m_requests.size(), 2);
    }

    void schedule_data()
    {
        QTest::addColumn<bool>("autoCheck");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QDateTime>("storedAfter");

        const QDateTime ten(QDate(2024, 6, 12), QTime(10, 0));
        const QDateTime two(QDate(2024, 6, 12), QTime(2, 0));
        QTest::newRow("25 h ago") << true << ten << QVariant(ten.addSecs(-25 * 3600)) << 86400
                                  << ten;
        QTest::newRow("23 h ago") << true << ten << QVariant(ten.addSecs(-23 * 3600)) << 3600
                                  << ten.addSecs(-23 * 3600);
        QTest::newRow("24 h ago") << true << ten << QVariant(ten.addDays(-1)) << 86400
                                  << ten.addDays(-1);
        QTest::newRow("none, at 02:00")
            << true << two << QVariant() << 3600 << QDateTime(QDate(2024, 6, 11), QTime(3, 0));
        QTest::newRow("none, at 10:00") << true << ten << QVariant() << 86400 << ten;
        QTest::newRow("damaged") << true << ten << QVariant("not a time") << 86400 << ten;
        QTest::newRow("in the future")
            << true << ten << QVariant(ten.addSecs(3600)) << 86400 << ten;
        QTest::newRow("automatic mode off")
            << false << ten << QVariant(ten.addSecs(-23 * 3600)) << -1 << ten.addSecs(-23 * 3600);
    }

    void schedule()
    {
        QFETCH(bool, autoCheck);
        QFETCH(QDateTime, now);
        QFETCH(QVariant, stored);
        QFETCH(int, seconds);
        QFETCH(QDateTime, storedAfter);
        if (stored.isValid())
            QSettings().setValue("update/lastupdate", stored);
        m_now = now;
        m_checker->setAutoCheck(autoCheck);
        QCOMPARE(m_checker->isAutoCheck(), autoCheck);
        QCOMPARE(m_checker->secondsToNextCheck(), seconds);
        QCOMPARE(QSettings().value("update/lastupdate").toDateTime(), storedAfter);
        // Automatic mode checks at once, silently.
        QCOMPARE(m_requests.size(), autoCheck ? 1 : 0);
        QCOMPARE(outcome(page("1.4.4")), QString(autoCheck ? "none" : "no request"));
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orrith LLC");
    QCoreApplication::setApplicationName("Varlo-test");
    TestUpdateChecker test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_updatechecker.moc"
