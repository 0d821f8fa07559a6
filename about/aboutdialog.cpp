#include "about/aboutdialog.h"
#include "ui_aboutdialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

AboutDialog::AboutDialog(QWidget *parent, const QString &licencePath)
    : QDialog(parent)
    , ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    if (QFileInfo(licencePath).isFile()) {
        ui->websiteLabel->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                                      .arg(QUrl::fromLocalFile(licencePath).toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                           tr("查看许可证")));
    } else {
        // Nothing to open: the link goes, and its room stays so nothing else moves.
        QSizePolicy policy = ui->websiteLabel->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        ui->websiteLabel->setSizePolicy(policy);
        ui->websiteLabel->hide();
    }
    // The label does not open links itself, so the link is opened only here.
    connect(ui->websiteLabel, &QLabel::linkActivated, this, &AboutDialog::openLink);
}

QString AboutDialog::installedLicence()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/doc/quorvix/copyright"));
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

void AboutDialog::on_buttonBox_accepted()
{
    close();
}

void AboutDialog::openLink(const QString &link)
{
    QDesktopServices::openUrl(QUrl(link, QUrl::TolerantMode));
}
