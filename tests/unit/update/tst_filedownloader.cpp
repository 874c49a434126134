#include "filedownloader.h"
#include "httpsserver.h"
#include "ontopmessagebox.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {
enum Outcome { Arrives, ErrorBox, Nothing };
const QByteArray Installer = "MZ installer bytes";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Peak resident memory in KiB since the last reset.
qint64 peakKiB()
{
    const QByteArray status = readFile("/proc/self/status");
    const auto match = QRegularExpression("VmHWM:\\s+(\\d+)").match(QString::fromLatin1(status));
    return match.captured(1).toLongLong();
}
} // namespace

class TestFileDownloader : public QObject
{
    Q_OBJECT

    TestCertificates m_certificates;
    HttpsServer m_server;
    HttpsServer m_plain;
    QTemporaryDir m_dir;

    QString savePath() const { return m_dir.filePath("InstallVarlo.exe"); }

    // Runs a parentless downloader (it deletes itself when done) to its end.
    void download(const QString &path, qint64 maxBytes, int stallMs, QSignalSpy **finished,
                  QSignalSpy **progress)
    {
        QPointer<FileDownloader> downloader = new FileDownloader(savePath());
        if (maxBytes > 0)
            downloader->setMaxBytes(maxBytes);
        if (stallMs > 0)
            downloader->setStallTimeout(stallMs);
        *finished = new QSignalSpy(downloader.data(), &FileDownloader::finished);
        *progress = new QSignalSpy(downloader.data(), &FileDownloader::progress);
        downloader->run(m_server.url(path).toString());
        QTRY_VERIFY_WITH_TIMEOUT(downloader.isNull(), 20000);
    }

    void answerLeftoverBoxes()
    {
        while (OnTopMessageBox::pendingAnswers() > 0)
            OnTopMessageBox().exec();
    }

    QStringList leftovers() const { return QDir(m_dir.path()).entryList(QDir::Files | QDir::System); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_certificates.create());
        qputenv("VARLO_UPDATE_CA_FILE", QFile::encodeName(m_certificates.caFile()));
        QVERIFY(m_server.listen(m_certificates));
        QVERIFY(m_plain.listenPlain());

        HttpsServer::Route file;
        file.body = Installer;
        m_server.setRoute("/file", file);
        m_plain.setRoute("/file", file);
        m_server.setRoute("/rel/file", file);
        for (int hops : {5, 6, 7}) {
            QStringList chain;
            for (int i = 0; i < hops; ++i)
                chain << QString("/chain%1/%2").arg(hops).arg(i);
            m_server.setRedirectChain(chain, "/file");
        }
        m_server.setRedirectChain({"/loop/a", "/loop/b"}, "/loop/a");

        HttpsServer::Route route;
        route.status = 302;
        route.headers = {{"Location", "../file"}};
        m_server.setRoute("/rel/dir/start", route);
        route.headers = {{"Location", m_plain.url("/file").toEncoded()}};
        m_server.setRoute("/tohttp", route);
        route.headers = {{"Location", "ftp://127.0.0.1/file"}};
        m_server.setRoute("/toftp", route);

        route = {};
        m_server.setRoute("/empty", route);
        route.body = "0123456789";
        route.contentLength = 100;
        m_server.setRoute("/truncated", route);
        route.keepOpen = true;
        m_server.setRoute("/stall", route);
        route = {};
        route.streamBytes = 4 * 1024 * 1024;
        route.contentLength = -2;
        m_server.setRoute("/huge", route);
        route = {};
        route.body = "x";
        route.contentLength = 512 * 1024 * 1024;
        route.keepOpen = true;
        m_server.setRoute("/hugeannounced", route);
        route = {};
        route.body = "slow but steady";
        route.byteIntervalMs = 30;
        m_server.setRoute("/slow", route);
    }

    void cleanup()
    {
        answerLeftoverBoxes();
        QFile::remove(savePath());
    }

    void outcome_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("maxBytes"); // 0: the real limit
        QTest::addColumn<int>("stallMs");     // 0: the real limit
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("warning");

        const QString tooMany = "Exceeded maximum number of redirections. Closing connection.";
        QTest::newRow("plain file") << "/file" << 0ll << 0 << int(Arrives) << 1 << "";
        QTest::newRow("5 redirects") << "/chain5/0" << 0ll << 0 << int(Arrives) << 6 << "";
        // The request after the sixth redirect is made and its answer dropped.
        QTest::newRow("6 redirects") << "/chain6/0" << 0ll << 0 << int(Nothing) << 7 << tooMany;
        QTest::newRow("7 redirects") << "/chain7/0" << 0ll << 0 << int(Nothing) << 7 << tooMany;
        QTest::newRow("redirect loop") << "/loop/a" << 0ll << 0 << int(Nothing) << 7 << tooMany;
        QTest::newRow("relative redirect") << "/rel/dir/start" << 0ll << 0 << int(Arrives) << 2 << "";
        QTest::newRow("redirect to http") << "/tohttp" << 0ll << 0 << int(ErrorBox) << 1
                                          << "Refusing a redirect that leaves https";
        QTest::newRow("redirect to ftp") << "/toftp" << 0ll << 0 << int(ErrorBox) << 1
                                         << "Refusing a redirect that leaves https";
        QTest::newRow("404") << "/missing" << 0ll << 0 << int(ErrorBox) << 1 << "Error downloading file";
        QTest::newRow("empty body") << "/empty" << 0ll << 0 << int(Nothing) << 1 << "";
        QTest::newRow("truncated body") << "/truncated" << 0ll << 0 << int(ErrorBox) << 1
                                        << "Error downloading file";
        QTest::newRow("over the limit") << "/huge" << 64 * 1024ll << 0 << int(ErrorBox) << 1
                                        << "larger than 65536 bytes";
        QTest::newRow("announced over the limit") << "/hugeannounced" << 0ll << 0 << int(ErrorBox) << 1
                                                  << "larger than 268435456 bytes";
        QTest::newRow("stall") << "/stall" << 0ll << 300 << int(ErrorBox) << 1 << "No data received for 0.3 seconds";
        // Ten times the gap between bytes, and room for a slow first handshake.
        QTest::newRow("slow is no stall") << "/slow" << 0ll << 1000 << int(Arrives) << 1 << "";
    }

    void outcome()
    {
        QFETCH(QString, path);
        QFETCH(qint64, maxBytes);
        QFETCH(int, stallMs);
        QFETCH(int, outcome);
        QFETCH(int, requests);
        QFETCH(QString, warning);

        const int plainRequests = m_plain.requests().size();
        const int before = m_server.requests().size();
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));
        // Answered in advance in every row, so that an unexpected box cannot block.
        OnTopMessageBox::answerNext(QMessageBox::Ok);
        QSignalSpy *finished = nullptr;
        QSignalSpy *progress = nullptr;
        download(path, maxBytes, stallMs, &finished, &progress);
        std::unique_ptr<QSignalSpy> finishedOwner(finished), progressOwner(progress);

        QCOMPARE(OnTopMessageBox::pendingAnswers(), outcome == ErrorBox ? 0 : 1);
        if (outcome == ErrorBox)
            QCOMPARE(OnTopMessageBox::lastAnsweredText(), QString("Sorry!"));
        QCOMPARE(m_server.requests().size() - before, requests);
        QCOMPARE(m_plain.requests().size(), plainRequests); // never a plain request
        if (outcome == Arrives) {
            QCOMPARE(finished->count(), 1);
            QCOMPARE(finished->at(0).at(0).toString(), savePath());
            QCOMPARE(leftovers(), QStringList{"InstallVarlo.exe"});
            QVERIFY(readFile(savePath()) == Installer || path == "/slow");
            struct stat info;
            QCOMPARE(::lstat(QFile::encodeName(savePath()).constData(), &info), 0);
            QVERIFY(S_ISREG(info.st_mode));
            QCOMPARE(info.st_mode & 07777, mode_t(0700));
        } else {
            QCOMPARE(finished->count(), 0);
            QCOMPARE(leftovers(), QStringList()); // no file and no partial one
        }
    }

    void progressFromEveryRequestOfAChain()
    {
        QSignalSpy *finished = nullptr;
        QSignalSpy *progress = nullptr;
        download("/chain5/0", 0, 0, &finished, &progress);
        std::unique_ptr<QSignalSpy> finishedOwner(finished), progressOwner(progress);
        QCOMPARE(finished->count(), 1);
        // Every redirect answer ("moved", 5 bytes) reports its own completion,
        // counted from zero for each request; the last reports the whole file.
        int hops = 0;
        for (const QList<QVariant> &report : std::as_const(*progress))
            hops += report.at(0).toLongLong() == 5 && report.at(1).toLongLong() == 5;
        QVERIFY2(hops >= 5, qPrintable(QString::number(hops)));
        QCOMPARE(progress->last().at(0).toLongLong(), qint64(Installer.size()));
        QCOMPARE(progress->last().at(1).toLongLong(), qint64(Installer.size()));
    }

    void cancel()
    {
        HttpsServer::Route route;
        route.body = QByteArray(200, 'y');
        route.byteIntervalMs = 20;
        m_server.setRoute("/long", route);

        QObject owner;
        auto *downloader = new FileDownloader(savePath(), &owner);
        QSignalSpy canceled(downloader, &FileDownloader::canceled);
        QSignalSpy progress(downloader, &FileDownloader::progress);
        downloader->run(m_server.url("/long").toString());
        QTRY_VERIFY(!progress.isEmpty() && progress.last().at(0).toLongLong() > 0);
        downloader->cancel();
        QTRY_COMPARE(canceled.count(), 1);
        QCOMPARE(leftovers(), QStringList());
        QCOMPARE(OnTopMessageBox::pendingAnswers(), 0); // no box

        // After the end there is nothing to cancel.
        auto *done = new FileDownloader(savePath(), &owner);
        QSignalSpy finished(done, &FileDownloader::finished);
        QSignalSpy canceledAfter(done, &FileDownloader::canceled);
        done->run(m_server.url("/file").toString());
        QTRY_COMPARE(finished.count(), 1);
        done->cancel();
        QCoreApplication::processEvents();
        QCOMPARE(canceledAfter.count(), 0);
        QCOMPARE(readFile(savePath()), Installer);
    }

    void plantedSymlinkIsReplacedNotFollowed()
    {
        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath("victim");
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
        file.close();
        QVERIFY(QFile::link(victim, savePath()));

        QSignalSpy *finished = nullptr;
        QSignalSpy *progress = nullptr;
        download("/file", 0, 0, &finished, &progress);
        std::unique_ptr<QSignalSpy> finishedOwner(finished), progressOwner(progress);
        QCOMPARE(finished->count(), 1);
        QCOMPARE(readFile(victim), QByteArray("precious"));
        QVERIFY(!QFileInfo(savePath()).isSymLink());
        QCOMPARE(readFile(savePath()), Installer);
    }

    void largeFileIsWrittenAsItArrives()
    {
        const qint64 size = 96 * 1024 * 1024;
        HttpsServer::Route route;
        route.streamBytes = size;
        m_server.setRoute("/large", route);
        QFile clearRefs("/proc/self/clear_refs");
        if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
            QSKIP("cannot reset the peak memory reading");
        clearRefs.close();
        const qint64 start = peakKiB();

        QSignalSpy *finished = nullptr;
        QSignalSpy *progress = nullptr;
        download("/large", 0, 0, &finished, &progress);
        std::unique_ptr<QSignalSpy> finishedOwner(finished), progressOwner(progress);
        QCOMPARE(finished->count(), 1);
        QCOMPARE(QFileInfo(savePath()).size(), size);
        const qint64 grownMiB = (peakKiB() - start) / 1024;
#if defined(__SANITIZE_ADDRESS__)
        // The sanitizer keeps freed memory aside: the peak says nothing here.
        Q_UNUSED(grownMiB)
        return;
#endif
        QVERIFY2(grownMiB < 32, qPrintable(QString("peak grew by %1 MiB").arg(grownMiB)));
    }
};

QTEST_MAIN(TestFileDownloader)
#include "tst_filedownloader.moc"
