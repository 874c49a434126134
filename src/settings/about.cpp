#include "about.h"
#include "ui_about.h"

#include "dpimetrics.h"
#include "paths.h"
#include "programicon.h"

About::About() : QDialog(nullptr, Qt::WindowStaysOnTopHint), ui(std::make_unique<Ui::About>())
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowIcon(programIcon());
    const int artwork = DpiMetrics::artworkDpi();
    if (artwork != 96) {
        const int size = artwork == 120 ? 80 : artwork == 144 ? 96 : 128;
        ui->labelIcon->setPixmap(QPixmap(QStringLiteral(":/images/varlo_%1.png").arg(size)));
    }
    ui->labelVersion->setText(QStringLiteral("Version %1").arg(versionText()));
    ui->label->setText(QStringLiteral("<a href=\"%1\">Varlo help and documentation</a>")
                           .arg(Paths::helpPage().toString(QUrl::FullyEncoded).toHtmlEscaped()));
    // At least the form's size; larger where the density's fonts and image need it.
    const QSize designed = size();
    adjustSize();
    resize(size().expandedTo(designed));
}

About::~About() = default;

QString About::versionText()
{
    return QStringLiteral(VARLO_VERSION " (%1)").arg(VARLO_BUILD_NUMBER);
}
