#include "updatesource.h"

#include "paths.h"
#include "varlolog.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QPointer>
#include <QTimer>

namespace UpdateSource {

QUrl baseUrl()
{
    const QString fromEnvironment = qEnvironmentVariable("VARLO_UPDATE_URL");
    return QUrl(fromEnvironment.isEmpty() ? QStringLiteral(VARLO_UPDATE_BASE_URL) : fromEnvironment);
}

static QUrl underBase(const QString &path)
{
    QUrl url = baseUrl();
    QString basePath = url.path();
    while (basePath.endsWith(QLatin1Char('/')))
        basePath.chop(1);
    url.setPath(basePath + path);
    return url;
}

QUrl releaseNotesUrl()
{
    return underBase(QStringLiteral("/updates/winvarlo/releasenotes.html"));
}

QUrl installerUrl()
{
    return underBase(QStringLiteral("/winvarlo/downloads/InstallVarlo.exe"));
}

QString installerSavePath()
{
    return Paths::privateTempDir() + QStringLiteral("/InstallVarlo.exe");
}

bool isAllowed(const QUrl &url)
{
    return url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty();
}

QSslConfiguration sslConfiguration()
{
    // Without extra certificates the system's are looked up as a handshake
    // needs them; reading them all would keep a few megabytes for the
    // program's life.
    const QString caFile = qEnvironmentVariable("VARLO_UPDATE_CA_FILE");
    if (caFile.isEmpty())
        return QSslConfiguration::defaultConfiguration();

    // Reading the system's certificates costs a folder scan: keep the result
    // for as long as the extra file's name stays the same.
    static QString cachedFor;
    static QSslConfiguration cached;
    if (!cachedFor.isEmpty() && caFile == cachedFor)
        return cached;

    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> certificates = QSslConfiguration::systemCaCertificates();
    const QList<QSslCertificate> extra = QSslCertificate::fromPath(
        caFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
    if (extra.isEmpty())
        vWarning() << "No certificates read from VARLO_UPDATE_CA_FILE" << caFile;
    certificates += extra;
    config.setCaCertificates(certificates);
    cached = config;
    cachedFor = caFile;
    return config;
}

QNetworkRequest request(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setSslConfiguration(sslConfiguration());
    // Without compression the limits count the bytes that are really written,
    // and a small compressed body cannot unpack into a huge one.
    request.setRawHeader("Accept-Encoding", "identity");
    return request;
}

QUrl redirectTarget(const QNetworkReply *reply, bool *refused)
{
    *refused = false;
    const QVariant target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (target.isNull())
        return {};
    const QUrl resolved = reply->url().resolved(target.toUrl());
    *refused = !isAllowed(resolved);
    return resolved;
}

} // namespace UpdateSource

struct TextFetch::Private
{
    QNetworkAccessManager *network = nullptr;
    // Guarded: the network object may go first, taking its replies with it.
    QPointer<QNetworkReply> reply;
    QTimer stallTimer;
    qint64 maxBytes = UpdateSource::ReleaseNotesMaxBytes;
    QByteArray body;
    QString abortReason;
    int redirects = 0;
    bool ended = false;
};

TextFetch::TextFetch(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->network = network;
    d->stallTimer.setSingleShot(true);
    d->stallTimer.setInterval(UpdateSource::StallTimeoutMs);
    connect(&d->stallTimer, &QTimer::timeout, this, [this] {
        d->abortReason = QStringLiteral("No data received for %1 seconds")
                             .arg(d->stallTimer.interval() / 1000.0);
        if (d->reply)
            d->reply->abort();
    });
}

TextFetch::~TextFetch()
{
    if (d->reply) {
        d->reply->disconnect(this);
        d->reply->abort();
        d->reply->deleteLater();
    }
}

void TextFetch::setMaxBytes(qint64 bytes)
{
    d->maxBytes = bytes;
}

void TextFetch::setStallTimeout(int ms)
{
    d->stallTimer.setInterval(ms);
}

void TextFetch::start(const QUrl &url)
{
    if (!UpdateSource::isAllowed(url)) {
        // Queued, so that the caller has connected to finished() in any case.
        QMetaObject::invokeMethod(
            this, [this, url] { done({}, QStringLiteral("Refusing a URL that is not https: ") + url.toString()); },
            Qt::QueuedConnection);
        return;
    }
    get(url);
}

void TextFetch::abort()
{
    if (d->reply)
        d->reply->abort();
}

void TextFetch::get(const QUrl &url)
{
    d->body.clear();
    d->reply = d->network->get(UpdateSource::request(url));
    d->stallTimer.start();
    QNetworkReply *reply = d->reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { take(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        d->stallTimer.stop();
        if (d->abortReason.isEmpty())
            take(reply);
        d->reply = nullptr;
        reply->deleteLater();
        if (!d->abortReason.isEmpty())
            return done({}, d->abortReason);
        if (reply->error() != QNetworkReply::NoError)
            return done({}, reply->errorString());
        bool refused = false;
        const QUrl target = UpdateSource::redirectTarget(reply, &refused);
        if (refused)
            return done({}, QStringLiteral("Refusing a redirect that leaves https: ") + target.toString());
        if (!target.isEmpty()) {
            if (++d->redirects > UpdateSource::MaxRedirects)
                return done({}, QStringLiteral("Too many redirections"));
            return get(target);
        }
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status < 200 || status > 299)
            return done({}, QStringLiteral("Unexpected HTTP status %1").arg(status));
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() != d->body.size())
            return done({}, QStringLiteral("Incomplete document: %1 of %2 bytes")
                                .arg(d->body.size())
                                .arg(length.toLongLong()));
        done(d->body, {});
    });
}

void TextFetch::take(QNetworkReply *reply)
{
    if (!reply->isOpen())
        return;
    d->stallTimer.start();
    const QByteArray chunk = reply->readAll();
    if (d->body.size() + chunk.size() > d->maxBytes) {
        d->abortReason = QStringLiteral("The document is larger than %1 bytes").arg(d->maxBytes);
        reply->abort();
        return;
    }
    d->body += chunk;
}

void TextFetch::done(const QByteArray &body, const QString &error)
{
    if (d->ended)
        return;
    d->ended = true;
    Q_EMIT finished(body, error);
    if (!parent())
        deleteLater();
}
