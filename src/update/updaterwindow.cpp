#include "updaterwindow.h"
#include "ui_updaterwindow.h"

#include "dpimetrics.h"
#include "filedownloader.h"
#include "updatechecker.h"
#include "updatesignature.h"
#include "updatesource.h"
#include "varlolog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSettings>

namespace {
std::function<void()> g_releaseInstance;
// A signature is 64 bytes; anything much larger is not one.
constexpr qint64 kSignatureMaxBytes = 1024;
} // namespace

struct UpdaterWindow::Private
{
    QString currentVersion;
    QString newVersion;
    QString versionTemplate;
    QByteArray trustedKey;
    QNetworkAccessManager *network = nullptr;
};

UpdaterWindow::UpdaterWindow(QWidget *parent, Qt::WindowFlags flags, const QByteArray &trustedKey)
    : QWidget(parent, flags | Qt::WindowStaysOnTopHint), ui(std::make_unique<Ui::UpdaterWindow>()),
      d(std::make_unique<Private>())
{
    setWindowModality(Qt::ApplicationModal);
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Software Update"));
    setWindowIcon(QIcon(QStringLiteral(":/images/Varlo.ico")));
    adaptToDpi();
    d->currentVersion = UpdateChecker::currentVersion();
    d->versionTemplate = ui->labelVersionInfo->text();
    d->trustedKey = trustedKey;
    d->network = new QNetworkAccessManager(this);

    // The notes are shown, never followed: a link opens in the user's browser.
    connect(ui->webview, &QTextBrowser::anchorClicked, this, [](const QUrl &url) {
        if (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
            QDesktopServices::openUrl(url);
    });
    loadReleaseNotes();
}

UpdaterWindow::~UpdaterWindow() = default;

QByteArray UpdaterWindow::builtInKey()
{
    return UpdateSignature::builtInPublicKey();
}

void UpdaterWindow::setReleaseInstance(std::function<void()> release)
{
    g_releaseInstance = std::move(release);
}

void UpdaterWindow::adaptToDpi()
{
    const int artwork = DpiMetrics::artworkDpi();
    if (artwork == 96)
        return;
    const int icon = artwork == 120 ? 80 : artwork == 144 ? 96 : 128;
    const int small = artwork == 120 ? 20 : artwork == 144 ? 24 : 32;
    ui->updateIcon->setPixmap(QPixmap(QStringLiteral(":/images/varlo_%1.png").arg(icon)));
    setWindowIcon(QIcon(QStringLiteral(":/images/varlo_%1.png").arg(small)));
    setGeometry(0, 0, DpiMetrics::scaleX(width()), DpiMetrics::scaleY(height()));
}

void UpdaterWindow::loadReleaseNotes()
{
    // Owned by the window: one still running when the window goes goes with it.
    auto *fetch = new TextFetch(d->network, this);
    connect(fetch, &TextFetch::finished, this,
            [this, fetch](const QByteArray &body, const QString &error) {
                fetch->deleteLater();
                if (!error.isEmpty()) {
                    vDebug() << "Release notes not loaded:" << error;
                    ui->webview->setPlainText(QStringLiteral("The release notes could not be loaded."));
                    return;
                }
                ui->webview->setHtml(QString::fromUtf8(body));
            });
    fetch->start(UpdateSource::releaseNotesUrl());
}

void UpdaterWindow::showNewVersion(const QString &version)
{
    d->newVersion = version;
    ui->labelVersionInfo->setText(d->versionTemplate.arg(version, d->currentVersion));
    show();
}

void UpdaterWindow::on_buttonSkipVersion_clicked()
{
    QSettings().setValue(QStringLiteral("update/skip_ver"), d->newVersion);
    close();
}

void UpdaterWindow::on_buttonRemindLater_clicked()
{
    close();
}

void UpdaterWindow::on_buttonInstall_clicked()
{
    ui->progressBar->setValue(0);
    ui->buttonBar->setCurrentIndex(1);
    // Deletes itself after its last signal.
    auto *downloader = new FileDownloader(UpdateSource::installerSavePath());
    connect(downloader, &FileDownloader::progress, this, &UpdaterWindow::updateProgress);
    connect(downloader, &FileDownloader::finished, this,
            qOverload<const QString &>(&UpdaterWindow::finishedDownload));
    connect(ui->buttonCancel, &QPushButton::clicked, downloader, &FileDownloader::cancel);
    connect(downloader, &FileDownloader::canceled, this, &UpdaterWindow::canceled);
    downloader->run(UpdateSource::installerUrl().toString());
}

void UpdaterWindow::updateProgress(qint64 received, qint64 total)
{
    ui->progressBar->setMaximum(int(qMin<qint64>(total, INT_MAX)));
    ui->progressBar->setValue(int(qMin<qint64>(received, INT_MAX)));
}

void UpdaterWindow::finishedDownload(const QString &file)
{
    QUrl signatureUrl = UpdateSource::installerUrl();
    signatureUrl.setPath(signatureUrl.path() + QStringLiteral(".sig"));
    auto *fetch = new TextFetch(d->network, this);
    fetch->setMaxBytes(kSignatureMaxBytes);
    connect(fetch, &TextFetch::finished, this,
            [this, file, fetch](const QByteArray &signature, const QString &error) {
                fetch->deleteLater();
                if (!error.isEmpty())
                    refuseInstaller(file, QStringLiteral("its signature could not be fetched: ") + error);
                else
                    startInstaller(file, signature);
            });
    fetch->start(signatureUrl);
}

void UpdaterWindow::startInstaller(const QString &file, const QByteArray &signature)
{
    QString why;
    if (!UpdateSignature::verifyFile(file, signature, d->trustedKey, &why)) {
        refuseInstaller(file, why);
        return;
    }
    if (!QProcess::startDetached(file, {}, QFileInfo(file).absolutePath())) {
        vDebug() << "Failed to start:" << file;
        ui->buttonBar->setCurrentIndex(0);
        return;
    }
    Q_EMIT finishedDownload();
    close();
    if (g_releaseInstance)
        g_releaseInstance();
    QCoreApplication::quit();
}

void UpdaterWindow::refuseInstaller(const QString &file, const QString &why)
{
    QFile::remove(file);
    vWarning() << "The downloaded installer was deleted and not started:" << why;
    ui->buttonBar->setCurrentIndex(0);
    FileDownloader::showDownloadFailure();
}

void UpdaterWindow::canceled()
{
    ui->buttonBar->setCurrentIndex(0);
}
