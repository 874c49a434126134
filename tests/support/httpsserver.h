#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

class QTcpServer;

/**
 * A certificate authority and a server certificate for 127.0.0.1 and
 * localhost, made with the openssl command in a temporary folder. caFile() is
 * what a test trusts (VARLO_UPDATE_CA_FILE).
 */
class TestCertificates
{
public:
    /** Creates the files; false (and a warning) when openssl fails. */
    bool create();
    QString caFile() const { return m_dir.filePath("ca.pem"); }
    QString certificateFile() const { return m_dir.filePath("server.pem"); }
    QString keyFile() const { return m_dir.filePath("server.key"); }

private:
    QTemporaryDir m_dir;
};

/**
 * A loopback web server on a free port, HTTPS (QSslServer) or plain HTTP,
 * answering scripted routes. Each connection serves one request and is then
 * closed unless the route says otherwise.
 */
class HttpsServer : public QObject
{
    Q_OBJECT
public:
    struct Route
    {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        /** Content-Length to announce; -1: the body's size; -2: none (the close ends the body). */
        qint64 contentLength = -1;
        /** Send the body one byte per interval instead of at once. */
        int byteIntervalMs = 0;
        /** Stream this many bytes of filler as the body, never held in memory at once. */
        qint64 streamBytes = 0;
        /** Keep the connection open after the body (a stall when less was sent than announced). */
        bool keepOpen = false;
    };

    explicit HttpsServer(QObject *parent = nullptr);
    ~HttpsServer() override;

    /** Listens for HTTPS on 127.0.0.1 with the given server certificate. */
    bool listen(const TestCertificates &certificates);
    /** Listens for plain HTTP on 127.0.0.1. */
    bool listenPlain();

    QUrl url(const QString &path) const;
    void setRoute(const QString &path, const Route &route);
    /** Routes path0 -> path1 -> ... -> final by 302 with absolute Locations. */
    void setRedirectChain(const QStringList &paths, const QString &final);
    /** The paths requested so far, in order. */
    QStringList requests() const { return m_requests; }

private:
    void serve(class QTcpSocket *socket);
    void respond(QTcpSocket *socket, const QString &path);

    QTcpServer *m_server = nullptr;
    bool m_tls = false;
    QHash<QString, Route> m_routes;
    QStringList m_requests;
};
