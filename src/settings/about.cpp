#include "about.h"
#include "ui_about.h"

About::About() : QDialog(nullptr, Qt::WindowStaysOnTopHint), ui(std::make_unique<Ui::About>())
{
    ui->setupUi(this);
}

About::~About() = default;
