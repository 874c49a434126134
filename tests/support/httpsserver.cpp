#include "httpsserver.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

bool TestCertificates::create()
{
    if (!m_dir.isValid())
        return false;
    QFile extensions(m_dir.filePath("server.ext"));
    if (!extensions.open(QIODevice::WriteOnly))
        return false;
    extensions.write("basicConstraints=CA:FALSE\n"
                     "extendedKeyUsage=serverAuth\n"
                     "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    extensions.close();

    const QList<QStringList> steps = {
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=Varlo Test CA",
         "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
         "keyUsage=critical,keyCertSign,cRLSign"},
        {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1"},
        {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
         "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext"},
    };
    for (const QStringList &arguments : steps) {
        QProcess openssl;
        openssl.setWorkingDirectory(m_dir.path());
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start("openssl", arguments);
        if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit
            || openssl.exitCode() != 0) {
            qWarning() << "openssl" << arguments.first() << "failed:" << openssl.readAll();
            return false;
        }
    }
    return true;
}

HttpsServer::HttpsServer(QObject *parent) : QObject(parent) {}

HttpsServer::~HttpsServer() = default;

bool HttpsServer::listen(const TestCertificates &certificates)
{
    QFile certificateFile(certificates.certificateFile());
    QFile keyFile(certificates.keyFile());
    if (!certificateFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return false;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(QSslCertificate(&certificateFile, QSsl::Pem));
    config.setPrivateKey(QSslKey(&keyFile, QSsl::Ec, QSsl::Pem));
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    auto *server = new QSslServer(this);
    server->setSslConfiguration(config);
    m_server = server;
    m_tls = true;
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection())
            serve(socket);
    });
    return m_server->listen(QHostAddress::LocalHost);
}

bool HttpsServer::listenPlain()
{
    m_server = new QTcpServer(this);
    m_tls = false;
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection())
            serve(socket);
    });
    return m_server->listen(QHostAddress::LocalHost);
}

QUrl HttpsServer::url(const QString &path) const
{
    QUrl url;
    url.setScheme(m_tls ? "https" : "http");
    url.setHost("127.0.0.1");
    url.setPort(m_server ? m_server->serverPort() : 0);
    url.setPath(path);
    return url;
}

void HttpsServer::setRoute(const QString &path, const Route &route)
{
    m_routes.insert(path, route);
}

void HttpsServer::setRedirectChain(const QStringList &paths, const QString &final)
{
    for (int i = 0; i < paths.size(); ++i) {
        Route route;
        route.status = 302;
        const QString next = i + 1 < paths.size() ? paths.at(i + 1) : final;
        route.headers = {{"Location", url(next).toEncoded()}};
        route.body = "moved";
        setRoute(paths.at(i), route);
    }
}

void HttpsServer::serve(QTcpSocket *socket)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::errorOccurred, socket, &QObject::deleteLater);
    auto *request = new QByteArray;
    connect(socket, &QObject::destroyed, [request] { delete request; });
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
        if (request->endsWith("\r\n\r\n"))
            return; // one request per connection
        request->append(socket->readAll());
        if (!request->contains("\r\n\r\n"))
            return;
        request->truncate(request->indexOf("\r\n\r\n") + 4);
        // "GET /path HTTP/1.1"
        const QList<QByteArray> words = request->left(request->indexOf("\r\n")).split(' ');
        const QString path = QUrl(QString::fromLatin1(words.value(1))).path();
        m_requests.append(path);
        respond(socket, path);
    });
}

void HttpsServer::respond(QTcpSocket *socket, const QString &path)
{
    const auto found = m_routes.constFind(path);
    Route route;
    if (found == m_routes.constEnd()) {
        route.status = 404;
        route.body = "not found";
    } else {
        route = *found;
    }
    const qint64 bodySize = route.streamBytes > 0 ? route.streamBytes : route.body.size();
    QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status) + " Scripted\r\n";
    for (const auto &header : std::as_const(route.headers))
        head += header.first + ": " + header.second + "\r\n";
    if (route.contentLength != -2)
        head += "Content-Length: "
            + QByteArray::number(route.contentLength >= 0 ? route.contentLength : bodySize) + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);

    auto finish = [socket, keepOpen = route.keepOpen] {
        if (!keepOpen)
            socket->disconnectFromHost();
    };
    if (route.streamBytes > 0) {
        // Refill whenever the socket has little left to send.
        auto *left = new qint64(route.streamBytes);
        connect(socket, &QObject::destroyed, [left] { delete left; });
        const bool tls = m_tls;
        auto refill = [socket, left, finish, tls] {
            constexpr qint64 Chunk = 64 * 1024;
            // A TLS socket passes data on to its encrypted buffer at once: count both.
            qint64 queued = socket->bytesToWrite();
            if (tls)
                queued += static_cast<QSslSocket *>(socket)->encryptedBytesToWrite();
            if (*left == 0 || queued > Chunk)
                return;
            const qint64 size = std::min(Chunk, *left);
            socket->write(QByteArray(size, 'x'));
            *left -= size;
            if (*left == 0)
                finish();
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, refill);
        if (m_tls)
            connect(static_cast<QSslSocket *>(socket), &QSslSocket::encryptedBytesWritten, socket, refill);
        refill();
    } else if (route.byteIntervalMs > 0) {
        auto *timer = new QTimer(socket);
        auto *sent = new int(0);
        connect(timer, &QObject::destroyed, [sent] { delete sent; });
        connect(timer, &QTimer::timeout, socket, [socket, timer, sent, body = route.body, finish] {
            if (*sent < body.size())
                socket->write(body.mid((*sent)++, 1));
            if (*sent == body.size()) {
                timer->stop();
                finish();
            }
        });
        timer->start(route.byteIntervalMs);
    } else {
        socket->write(route.body);
        finish();
    }
}
