#pragma once

#include <QByteArray>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class UpdaterWindow;
}

// Offers a newer version: names it and the running one, shows the release
// notes, and lets the user skip it, be reminded later or install it.
// Installing downloads the installer and its signature, starts the installer
// only when the signature holds, and quits so that it can replace Varlo.
class UpdaterWindow : public QWidget
{
    Q_OBJECT

public:
    /** trustedKey: the key installers must be signed with (the one built in). */
    explicit UpdaterWindow(QWidget *parent = nullptr, Qt::WindowFlags flags = {},
                           const QByteArray &trustedKey = builtInKey());
    ~UpdaterWindow() override;

    /** Shows the offer of version, the running version beside it. */
    virtual void showNewVersion(const QString &version);

    /**
     * What lets go of the single-instance lock and socket once the installer
     * runs, so that neither it nor the new version takes us for a running copy.
     */
    static void setReleaseInstance(std::function<void()> release);

    static QByteArray builtInKey();

Q_SIGNALS:
    /** The installer has been started and the program is about to quit. */
    void finishedDownload();

public Q_SLOTS:
    void updateProgress(qint64 received, qint64 total);
    /** The installer arrived: its signature is fetched and checked before it is started. */
    void finishedDownload(const QString &file);
    void canceled();

private Q_SLOTS:
    void on_buttonSkipVersion_clicked();
    void on_buttonRemindLater_clicked();
    void on_buttonInstall_clicked();

private:
    void adaptToDpi();
    void loadReleaseNotes();
    void startInstaller(const QString &file, const QByteArray &signature);
    void refuseInstaller(const QString &file, const QString &why);

    std::unique_ptr<Ui::UpdaterWindow> ui;
    struct Private;
    std::unique_ptr<Private> d;
};
