#pragma once

#include <QDialog>

namespace Ui {
class AboutDialog;
}

// Logo, name, version, description, the licence and a link that opens it.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    // Without a file at `licencePath` there is no link.
    explicit AboutDialog(QWidget *parent = nullptr, const QString &licencePath = installedLicence());
    ~AboutDialog() override;

    // Where the installation puts the licence, next to the program's folder.
    static QString installedLicence();

private slots:
    void on_buttonBox_accepted();

private:
    static void openLink(const QString &link);

    Ui::AboutDialog *ui;
};
