#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkReply;

// Finds out whether a newer Varlo has been published: fetches the release notes,
// takes the version of their first "Version" heading and offers it when it is
// newer than ours. A check is silent (automatic) or reported (asked for by the
// user, who also hears that Varlo is up to date or the server is unreachable).
// In automatic mode a silent check runs once a day.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    /** Sends the GET for url and returns its reply, or nullptr when it could not be sent. */
    using RequestFunction = std::function<QNetworkReply *(const QUrl &url)>;
    using Clock = std::function<QDateTime()>;
    using OnlineTest = std::function<bool()>;

    /** Release notes larger than this are refused. */
    static constexpr qint64 maxReleaseNotesSize = 1024 * 1024;

    explicit UpdateChecker(QObject *parent = nullptr);
    ~UpdateChecker() override;

    /** The program's version without the build number, e.g. "1.4.4". */
    static QString currentVersion();

    /**
     * The version in the first "<h3>Version ...</h3>" heading of a release-notes
     * page; empty when the page has no such heading.
     */
    static QString extractVersion(const QString &page);

    /**
     * True when the dotted version (major.minor.patch; missing parts are 0,
     * parts after the third are ignored) is newer than ours. A malformed
     * version is logged and is not newer.
     */
    static bool isNewerVersion(const QString &version);

    /** The release-notes page; only an https URL is ever fetched. */
    QUrl releaseNotesUrl() const;
    void setReleaseNotesUrl(const QUrl &url);

    // Seams: how the request is sent, what time it is, whether the machine is online.
    void setRequestFunction(RequestFunction request);
    /** How long the release notes may stall before the check gives up (30 s). */
    void setStallTimeout(int ms);
    void setClock(Clock clock);
    void setOnlineTest(OnlineTest online);

    bool isAutoCheck() const;
    /** A version request is on its way. */
    bool checkInFlight() const;
    /** Seconds until the next automatic check, or -1 when none is scheduled. */
    int secondsToNextCheck() const;

Q_SIGNALS:
    /**
     * A newer version is to be offered to the user (the updater window shows
     * it, centred on the primary screen).
     */
    void newVersionAvailable(QString version);
    /** The downloaded installer runs and the program is about to quit. */
    void downloadFinished();

public Q_SLOTS:
    /**
     * Starts a check. While one is on its way no second request is sent; a
     * reported check then makes the running one reported.
     */
    void checkForNewVersion(bool show_msg);
    void checkForNewVersion();
    /** Handles the reply to a version request. */
    void finished(QNetworkReply *reply);
    /** The daily schedule step: checks, and arms the timer for the next check. */
    void updateTimerCallback();
    /** Switches automatic mode and runs the schedule step at once. */
    void setAutoCheck(bool on);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
