#include "singleinstance.h"

#include "paths.h"
#include "varlolog.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
const char kWakeWord[] = "wake\n";
// The running instance's answer: the wake-up was taken.
const char kAnswer[] = "ok\n";

long elapsedSince(const timespec &start)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}
} // namespace

struct SingleInstance::Private
{
    QString dir;
    std::unique_ptr<QLockFile> lock;
    QPointer<QLocalServer> server;
};

SingleInstance::SingleInstance()
    : d(std::make_unique<Private>())
{
    d->dir = Paths::privateTempDir();
}

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::lockPath() const
{
    return d->dir + QLatin1String("/ORRITH_VARLO-") + Paths::displayScope() + QLatin1String(".lock");
}

QString SingleInstance::socketPath() const
{
    return d->dir + QLatin1String("/VarloBroadcast-") + Paths::displayScope();
}

SingleInstance::Result SingleInstance::acquire()
{
    if (d->dir.isEmpty())
        return Failed;
    d->lock = std::make_unique<QLockFile>(lockPath());
    // Never stale by age: a long-running instance keeps its lock. A lock whose
    // process is gone is still taken over (QLockFile checks the pid).
    d->lock->setStaleLockTime(0);
    if (d->lock->tryLock(0))
        return First;
    if (d->lock->error() == QLockFile::LockFailedError)
        return Other;
    return Failed;
}

bool SingleInstance::wakeRunningInstance(const QString &socketPath, int connectTimeoutMs,
                                         int answerTimeoutMs)
{
    // Plain sockets: there is no application object in a second start.
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof(addr.sun_path))
        return false;
    memcpy(addr.sun_path, path.constData(), size_t(path.size()));

    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int fd = -1;
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0)
            break;
        ::close(fd);
        // The running instance holds the lock but listens only once it is ready.
        if (elapsedSince(start) >= connectTimeoutMs)
            return false;
        ::usleep(20 * 1000);
    }

    // The kernel accepts a connection on behalf of a process that hangs, so
    // only the answer tells that the wake-up arrived.
    const ssize_t sent = ::send(fd, kWakeWord, sizeof(kWakeWord) - 1, MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    QByteArray answer;
    timespec waitStart;
    clock_gettime(CLOCK_MONOTONIC, &waitStart);
    while (sent == ssize_t(sizeof(kWakeWord) - 1)) {
        const long left = answerTimeoutMs - elapsedSince(waitStart);
        if (left <= 0)
            break;
        timeval tv = {left / 1000, (left % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        char buf[16];
        const ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        answer.append(buf, int(n));
        if (answer.contains('\n'))
            break;
    }
    ::close(fd);
    return answer.startsWith(QByteArray(kAnswer, sizeof(kAnswer) - 1));
}

qint64 SingleInstance::lockHolder() const
{
    qint64 pid = -1;
    QString host, application;
    QLockFile probe(lockPath());
    if (!probe.getLockInfo(&pid, &host, &application))
        return -1;
    return pid;
}

bool SingleInstance::listen()
{
    if (!d->lock || !d->lock->isLocked())
        return false;
    // We hold the lock, so a socket file left here belongs to a dead instance.
    QLocalServer::removeServer(socketPath());
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath())) {
        vWarning() << "Cannot listen for a second start, later starts cannot wake this one:"
                   << server->errorString();
        delete server;
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, [this, server] {
        while (QLocalSocket *socket = server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            auto readWord = [this, socket] {
                if (socket->property("varloWoken").toBool())
                    return;
                if (socket->bytesAvailable() < qint64(sizeof(kWakeWord) - 1)
                    && socket->state() == QLocalSocket::ConnectedState)
                    return;
                const QByteArray word = socket->readAll();
                if (word.startsWith("wake")) {
                    socket->setProperty("varloWoken", true);
                    // Answered first: a slot that opens a modal window must
                    // not keep the later start waiting.
                    socket->write(kAnswer, qint64(sizeof(kAnswer) - 1));
                    socket->flush();
                    Q_EMIT wakeUpRequested();
                }
                socket->disconnectFromServer();
            };
            connect(socket, &QLocalSocket::readyRead, this, readWord);
            connect(socket, &QLocalSocket::readChannelFinished, this, readWord);
            if (socket->bytesAvailable() > 0)
                readWord();
        }
    });
    d->server = server;
    return true;
}

void SingleInstance::release()
{
    if (d->server) {
        d->server->close();
        delete d->server;
    }
    if (d->lock && d->lock->isLocked())
        d->lock->unlock();
    d->lock.reset();
}
