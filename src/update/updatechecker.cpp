#include "updatechecker.h"

#include "ontopmessagebox.h"
#include "updatesource.h"
#include "varlolog.h"

#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSettings>
#include <QTimer>

#include <array>

namespace {

const QString kSkipVersion = QStringLiteral("update/skip_ver");
const QString kLastUpdate = QStringLiteral("update/lastupdate");
const QString kHeading = QStringLiteral("<h3>Version ");
const QString kHeadingEnd = QStringLiteral("</h3>");

constexpr int kDay = 86400;

bool machineIsOnline()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if (flags.testFlag(QNetworkInterface::IsUp) &&
            !flags.testFlag(QNetworkInterface::IsLoopBack) && !iface.addressEntries().isEmpty())
            return true;
    }
    return false;
}

// Major, minor and patch of a dotted version; missing parts are 0, parts after
// the third are ignored. False when one of the first three is not a number.
bool parseVersion(const QString &version, std::array<int, 3> &out)
{
    const QStringList parts = version.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    out = {0, 0, 0};
    for (int i = 0; i < 3 && i < parts.size(); ++i) {
        bool ok = false;
        out[i] = parts.at(i).toInt(&ok, 10);
        // A sign is no part of a version number.
        if (!ok || out[i] < 0 || parts.at(i).startsWith(QLatin1Char('+')))
            return false;
    }
    return true;
}

} // namespace

struct UpdateChecker::Private
{
    QNetworkAccessManager *network = nullptr;
    QTimer *timer = nullptr;
    bool showMsg = false;
    bool autoCheck = false;
    QPointer<QNetworkReply> reply;
    bool tooLarge = false;
    QUrl url = UpdateSource::releaseNotesUrl();
    RequestFunction request;
    Clock clock;
    OnlineTest online;
    int stallTimeoutMs = UpdateSource::StallTimeoutMs;
};

UpdateChecker::UpdateChecker(QObject *parent) : QObject(parent), d(std::make_unique<Private>())
{
    d->network = new QNetworkAccessManager(this);
    d->timer = new QTimer(this);
    // A coarse timer may fire a little early, and a day that ends a second
    // early would schedule a second check for one second later.
    d->timer->setTimerType(Qt::PreciseTimer);
    connect(d->timer, &QTimer::timeout, this, &UpdateChecker::updateTimerCallback);

    d->request = [this](const QUrl &url) {
        // The update connections' certificates; redirections followed by Qt
        // here, never from https to http and at most five of them.
        QNetworkRequest request = UpdateSource::request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setMaximumRedirectsAllowed(UpdateSource::MaxRedirects);
        // A server that accepts the connection and then says nothing must
        // not hold the one request we allow in flight for ever.
        request.setTransferTimeout(d->stallTimeoutMs);
        return d->network->get(request);
    };
    d->clock = [] { return QDateTime::currentDateTime(); };
    d->online = machineIsOnline;
}

UpdateChecker::~UpdateChecker()
{
    if (d->reply) {
        d->reply->disconnect(this);
        d->reply->abort();
        d->reply->deleteLater();
    }
}

QString UpdateChecker::currentVersion()
{
    return QStringLiteral(VARLO_VERSION);
}

QString UpdateChecker::extractVersion(const QString &page)
{
    const int start = page.indexOf(kHeading);
    if (start < 0)
        return {};
    const int from = start + kHeading.size();
    const int end = page.indexOf(kHeadingEnd, from);
    // An unclosed heading has no version, not the rest of the page.
    if (end < 0)
        return {};
    return page.mid(from, end - from);
}

bool UpdateChecker::isNewerVersion(const QString &version)
{
    std::array<int, 3> published;
    if (!parseVersion(version, published)) {
        vWarning() << "Error comparing versions.";
        vDebug() << "Malformed version string:" << version;
        return false;
    }
    std::array<int, 3> ours;
    parseVersion(currentVersion(), ours);
    return published > ours;
}

QUrl UpdateChecker::releaseNotesUrl() const
{
    return d->url;
}

void UpdateChecker::setReleaseNotesUrl(const QUrl &url)
{
    d->url = url;
}

void UpdateChecker::setStallTimeout(int ms)
{
    d->stallTimeoutMs = ms;
}

void UpdateChecker::setRequestFunction(RequestFunction request)
{
    d->request = std::move(request);
}

void UpdateChecker::setClock(Clock clock)
{
    d->clock = std::move(clock);
}

void UpdateChecker::setOnlineTest(OnlineTest online)
{
    d->online = std::move(online);
}

bool UpdateChecker::isAutoCheck() const
{
    return d->autoCheck;
}

bool UpdateChecker::checkInFlight() const
{
    return !d->reply.isNull();
}

int UpdateChecker::secondsToNextCheck() const
{
    return d->timer->isActive() ? d->timer->interval() / 1000 : -1;
}

void UpdateChecker::checkForNewVersion()
{
    checkForNewVersion(false);
}

void UpdateChecker::checkForNewVersion(bool show_msg)
{
    if (d->reply) {
        // One request at a time. The user who asked now still hears the outcome.
        d->showMsg = d->showMsg || show_msg;
        vDebug() << "Version check already running.";
        return;
    }
    if (!d->online()) {
        vDebug() << "Offline: no version check.";
        return;
    }
    if (d->url.scheme() != QLatin1String("https")) {
        vWarning() << "Release notes are fetched over https only, not from" << d->url.toString();
        return;
    }
    QNetworkReply *reply = d->request(d->url);
    if (!reply)
        return;
    d->showMsg = show_msg;
    d->tooLarge = false;
    d->reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (reply->isRunning() && reply->bytesAvailable() > maxReleaseNotesSize) {
            d->tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finished(reply); });
}

void UpdateChecker::finished(QNetworkReply *reply)
{
    if (!reply)
        return;
    const bool current = reply == d->reply;
    const bool showMsg = current && d->showMsg;
    const bool tooLarge = current && d->tooLarge;
    if (current) {
        d->reply = nullptr;
        d->showMsg = false;
        d->tooLarge = false;
    }
    reply->disconnect(this);
    reply->deleteLater();

    const QString tooLargeText =
        QStringLiteral("Release notes larger than %1 bytes.").arg(maxReleaseNotesSize);
    QString error;
    QByteArray body;
    if (tooLarge) {
        error = tooLargeText;
    } else if (reply->error() != QNetworkReply::NoError) {
        error = reply->errorString();
    } else {
        body = reply->read(maxReleaseNotesSize + 1);
        if (body.size() > maxReleaseNotesSize)
            error = tooLargeText;
    }
    if (!error.isEmpty()) {
        vDebug() << "Error retrieving version information:" << error;
        if (showMsg) {
            OnTopMessageBox box;
            box.setText(QStringLiteral("Sorry!"));
            box.setInformativeText(
                QStringLiteral("We couldn't reach the server to check for a new version of "
                               "the program.\n\nPlease try again in a few minutes."));
            box.exec();
        }
        return;
    }

    const QString version = extractVersion(QString::fromUtf8(body));
    if (isNewerVersion(version)) {
        const QString skipped = QSettings().value(kSkipVersion).toString();
        vDebug() << "Skip version:" << skipped;
        vDebug() << "New version:" << version;
        if (!showMsg && version == skipped)
            return;
        Q_EMIT newVersionAvailable(version);
        return;
    }
    if (showMsg) {
        OnTopMessageBox box;
        box.setWindowTitle(QStringLiteral("No update available"));
        box.setText(QStringLiteral("Varlo is up to date \"%1\"").arg(currentVersion()));
        box.setIcon(QMessageBox::Information);
        box.exec();
    }
}

void UpdateChecker::setAutoCheck(bool on)
{
    d->autoCheck = on;
    updateTimerCallback();
}

void UpdateChecker::updateTimerCallback()
{
    vDebug() << "Automatically check for updates:" << d->autoCheck;
    if (!d->autoCheck) {
        d->timer->stop();
        return;
    }
    checkForNewVersion(false);

    QSettings settings;
    const QDateTime now = d->clock();
    QDateTime reference = settings.value(kLastUpdate).toDateTime();
    if (reference.isValid()) {
        vDebug() << "Last update check:" << reference;
    } else {
        // The first check of a new installation waits for 03:00.
        reference = QDateTime(now.date(), QTime(3, 0)).addDays(-1);
        settings.setValue(kLastUpdate, reference);
    }

    const qint64 elapsed = reference.secsTo(now);
    qint64 remaining = kDay - elapsed;
    if (elapsed > kDay || elapsed < 0) {
        remaining = kDay;
        settings.setValue(kLastUpdate, now);
    }
    if (remaining == 0)
        remaining = kDay;
    vDebug() << remaining << "seconds till next update check.";
    d->timer->start(int(remaining) * 1000);
}
