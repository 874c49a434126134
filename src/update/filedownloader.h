#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QNetworkReply;

/**
 * Downloads one file over HTTPS into a local path. The body is written as it
 * arrives into a temporary file beside that path and renamed onto it only when
 * the whole body is there, with mode 0700; finished() comes after that, so
 * whoever checks or starts the file sees it complete under its final name.
 * A downloader without a parent deletes itself once its download has ended.
 */
class FileDownloader : public QObject
{
    Q_OBJECT
public:
    explicit FileDownloader(const QString &savePath, QObject *parent = nullptr);
    ~FileDownloader() override;

    /** Largest body accepted; a larger one ends the download and nothing is kept. */
    void setMaxBytes(qint64 bytes);
    /** How long a transfer may go without receiving anything before it is aborted. */
    void setStallTimeout(int ms);

public Q_SLOTS:
    void run(const QString &url = QString());
    /** Aborts the request in flight (canceled() follows); nothing when none is. */
    void cancel();
    void replyFinished(QNetworkReply *reply);

public:
    /** The box that tells the user the update could not be downloaded. */
    static void showDownloadFailure();

Q_SIGNALS:
    void progress(qint64 received, qint64 total);
    /** The complete file is in place; file is the save path. */
    void finished(const QString &file);
    void canceled();

private:
    void get(const QUrl &url);
    void receive(QNetworkReply *reply);
    void stop(const QString &reason, bool showBox);
    void fail(const QString &errorText);
    void end();
    struct Private;
    std::unique_ptr<Private> d;
};
