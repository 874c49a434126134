#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class About;
}

// The About window: icon, name, version with its build number, a link to the
// help page and credits for the libraries Varlo is built on.
class About : public QDialog
{
    Q_OBJECT

public:
    About();
    ~About() override;

    /** The program's version with its build number, e.g. "1.4.4 (293)". */
    static QString versionText();

private:
    std::unique_ptr<Ui::About> ui;
};
