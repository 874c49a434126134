#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

// Where updates come from and how they are fetched. Every update connection is
// HTTPS: plain HTTP is accepted for nothing, redirects are followed by hand so
// that none leads away from HTTPS, and the certificates trusted are the
// system's plus those of $VARLO_UPDATE_CA_FILE.
namespace UpdateSource {

constexpr qint64 ReleaseNotesMaxBytes = 1024 * 1024;
constexpr qint64 InstallerMaxBytes = 256 * 1024 * 1024;
constexpr int StallTimeoutMs = 30000;
constexpr int MaxRedirects = 5;

/** The server's base URL: $VARLO_UPDATE_URL when set, else the one the build fixed. */
QUrl baseUrl();
/** The release-notes page (it carries the newest version in its first "<h3>Version "). */
QUrl releaseNotesUrl();
/** The installer of the newest version. */
QUrl installerUrl();
/** Where the installer is saved: "InstallVarlo.exe" in the user's private folder. */
QString installerSavePath();

/** True for an absolute https URL with a host; false for anything else. */
bool isAllowed(const QUrl &url);

/**
 * The TLS settings of update connections: the system's CA certificates plus
 * those read from the PEM file $VARLO_UPDATE_CA_FILE (an unreadable file adds
 * none and is logged). Read once per process.
 */
QSslConfiguration sslConfiguration();

/**
 * A GET request for url with the update TLS settings, redirects left to the
 * caller, and no content encoding (so the sizes counted are the bytes sent).
 */
QNetworkRequest request(const QUrl &url);

/**
 * Where the finished reply redirects to, resolved against the URL that
 * answered; an empty URL when it does not redirect. *refused is set when the
 * target is not an allowed (https) URL.
 */
QUrl redirectTarget(const QNetworkReply *reply, bool *refused);

} // namespace UpdateSource

/**
 * Fetches one small document (the release notes) over HTTPS: at most
 * maxBytes, redirects followed by hand (at most UpdateSource::MaxRedirects,
 * HTTPS only), aborted when nothing arrives for the stall time. Emits
 * finished() once, then deletes itself unless it has a parent.
 */
class TextFetch : public QObject
{
    Q_OBJECT
public:
    explicit TextFetch(QNetworkAccessManager *network, QObject *parent = nullptr);
    ~TextFetch() override;

    void setMaxBytes(qint64 bytes);
    void setStallTimeout(int ms);
    void start(const QUrl &url);
    /** Aborts the fetch; finished() then reports the error "Operation canceled". */
    void abort();

Q_SIGNALS:
    /** error is empty on success; on failure body is empty and error says why. */
    void finished(const QByteArray &body, const QString &error);

private:
    void get(const QUrl &url);
    void take(QNetworkReply *reply);
    void done(const QByteArray &body, const QString &error);
    struct Private;
    std::unique_ptr<Private> d;
};
