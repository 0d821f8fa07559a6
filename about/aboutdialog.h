#pragma once

#include <QDialog>

namespace Ui {
class AboutDialog;
}

// Logo, name, version, description and a link to the maker's web site.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

private slots:
    void on_buttonBox_accepted();

private:
    static void openLink(const QString &link);

    Ui::AboutDialog *ui;
};
