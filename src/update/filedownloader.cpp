#include "filedownloader.h"

#include "ontopmessagebox.h"
#include "updatesource.h"
#include "varlolog.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryFile>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
// Qt keeps at most this much of a reply unread, whatever the server sends.
constexpr qint64 ReadBufferBytes = 256 * 1024;
} // namespace

struct FileDownloader::Private
{
    int redirectCount = 0;
    QString savePath;
    QNetworkAccessManager *network = nullptr;
    QNetworkReply *currentReply = nullptr;
    std::unique_ptr<QTemporaryFile> part; // the body so far, beside savePath
    qint64 received = 0;                  // bytes of the current reply's body
    qint64 maxBytes = UpdateSource::InstallerMaxBytes;
    QTimer stallTimer;
    // Why we aborted the current reply ourselves; empty for a user's cancel.
    QString abortReason;
    bool abortSilently = false; // the reason has been logged, no box
    bool ended = false;
};

FileDownloader::FileDownloader(const QString &savePath, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->savePath = savePath;
    d->network = new QNetworkAccessManager(this);
    connect(d->network, &QNetworkAccessManager::finished, this, &FileDownloader::replyFinished);
    d->stallTimer.setSingleShot(true);
    d->stallTimer.setInterval(UpdateSource::StallTimeoutMs);
    connect(&d->stallTimer, &QTimer::timeout, this, [this] {
        stop(QStringLiteral("No data received for %1 seconds").arg(d->stallTimer.interval() / 1000.0),
             true);
    });
}

FileDownloader::~FileDownloader()
{
    d->network->disconnect(this);
    if (d->currentReply) {
        d->currentReply->disconnect(this);
        d->currentReply->abort();
    }
}

void FileDownloader::setMaxBytes(qint64 bytes)
{
    d->maxBytes = bytes;
}

void FileDownloader::setStallTimeout(int ms)
{
    d->stallTimer.setInterval(ms);
}

void FileDownloader::run(const QString &url)
{
    if (d->ended || d->currentReply) {
        vWarning() << "A downloader serves one download; ignoring" << url;
        return;
    }
    vDebug() << "Downloading url: " + url;
    const QUrl parsed(url);
    if (!UpdateSource::isAllowed(parsed))
        return fail(QStringLiteral("Refusing a URL that is not https: ") + url);
    get(parsed);
}

void FileDownloader::cancel()
{
    if (d->currentReply)
        d->currentReply->abort();
}

void FileDownloader::get(const QUrl &url)
{
    d->received = 0;
    QNetworkReply *reply = d->network->get(UpdateSource::request(url));
    d->currentReply = reply;
    reply->setReadBufferSize(ReadBufferBytes);
    connect(reply, &QNetworkReply::downloadProgress, this, &FileDownloader::progress);
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { receive(reply); });
    d->stallTimer.start();
}

// Aborts the current reply for a reason of ours; replyFinished() reports it.
void FileDownloader::stop(const QString &reason, bool showBox)
{
    if (!d->currentReply || !d->abortReason.isEmpty())
        return;
    d->abortReason = reason;
    d->abortSilently = !showBox;
    d->currentReply->abort();
}

void FileDownloader::receive(QNetworkReply *reply)
{
    if (reply != d->currentReply || !d->abortReason.isEmpty() || !reply->isOpen())
        return;
    d->stallTimer.start();
    const QByteArray chunk = reply->readAll();
    if (chunk.isEmpty())
        return;
    d->received += chunk.size();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (d->received > d->maxBytes || (length.isValid() && length.toLongLong() > d->maxBytes))
        return stop(QStringLiteral("The download is larger than %1 bytes").arg(d->maxBytes), true);

    // Only the body of the final answer is the file; redirects and error
    // pages are read and dropped.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299 || reply->error() != QNetworkReply::NoError)
        return;

    if (!d->part) {
        // A fresh name that open() creates exclusively: nothing planted
        // beside the save path is followed or reused.
        d->part = std::make_unique<QTemporaryFile>(d->savePath + QStringLiteral(".part-XXXXXX"));
        if (!d->part->open()) {
            vWarning() << "Failed to open save file: " + d->part->errorString();
            d->part.reset();
            return stop(QStringLiteral("save file"), false);
        }
        vDebug() << "Saving to: " + d->savePath;
    }
    if (d->part->write(chunk) != chunk.size()) {
        vWarning() << "Failed to write save file: " + d->part->errorString();
        return stop(QStringLiteral("save file"), false);
    }
}

void FileDownloader::replyFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != d->currentReply)
        return;
    receive(reply); // anything that came with the end
    d->stallTimer.stop();
    d->currentReply = nullptr;

    if (d->redirectCount > UpdateSource::MaxRedirects) {
        vWarning() << "Exceeded maximum number of redirections. Closing connection.";
        return end();
    }
    if (!d->abortReason.isEmpty()) {
        if (d->abortSilently)
            return end();
        return fail(d->abortReason);
    }
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        end();
        Q_EMIT canceled();
        return;
    }
    if (reply->error() != QNetworkReply::NoError)
        return fail(reply->errorString());

    bool refused = false;
    const QUrl target = UpdateSource::redirectTarget(reply, &refused);
    if (refused)
        return fail(QStringLiteral("Refusing a redirect that leaves https: ") + target.toString());
    if (!target.isEmpty()) {
        ++d->redirectCount;
        vDebug() << "Downloading url: " + target.toString();
        return get(target);
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        return fail(QStringLiteral("Unexpected HTTP status %1").arg(status));

    if (!d->part || d->part->size() == 0) {
        vDebug() << "No data received from download...";
        return end();
    }
    // The server said how much it would send: less is a broken transfer,
    // never a file to start.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 written = d->part->size();
    if (length.isValid() && length.toLongLong() != written)
        return fail(QStringLiteral("Incomplete download: %1 of %2 bytes").arg(written).arg(length.toLongLong()));

    // rename() replaces whatever has the final name, a planted symbolic link
    // included, instead of writing through it.
    const QByteArray from = QFile::encodeName(d->part->fileName());
    const QByteArray to = QFile::encodeName(d->savePath);
    const bool renamed = d->part->flush()
        && d->part->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)
        && std::rename(from.constData(), to.constData()) == 0;
    if (!renamed) {
        vWarning() << "Failed to save file: " + d->savePath + ": " + QString::fromLocal8Bit(std::strerror(errno));
        return end();
    }
    d->part->setAutoRemove(false);
    d->part.reset();
    vDebug() << "File downloaded: " << written << " bytes written to " + d->savePath;
    end();
    Q_EMIT finished(d->savePath);
}

void FileDownloader::fail(const QString &errorText)
{
    vWarning() << "Error downloading file: " + errorText;
    d->ended = true;
    d->part.reset();
    showDownloadFailure();
    end();
}

void FileDownloader::showDownloadFailure()
{
    OnTopMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("Sorry!"));
    box.setInformativeText(QStringLiteral(
        "We couldn't reach the server to download your update. Please try again in a few minutes."));
    box.exec();
}

// The download is over: drop what was not completed, and go away once the
// last signal has been delivered if nobody owns us.
void FileDownloader::end()
{
    d->ended = true;
    d->part.reset();
    if (!parent())
        deleteLater();
}
