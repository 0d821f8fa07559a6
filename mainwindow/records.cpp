// Loading text files into the send areas and saving the receive areas.

#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

#include "mainwindow/plainmessage.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/recordfile.h"
#include "mainwindow/sendarea.h"

#include <QDebug>
#include <QFileDialog>
#include <QMessageBox>

void MainWindow::on_ActOpenFile_triggered()
{
    loadSendFile(ui->Send_msg, this, QStringLiteral("Text files (*.txt)"));
}

void MainWindow::on_OpenFile_clicked()
{
    loadSendFile(ui->DataToSend, nullptr, QString());
}

void MainWindow::on_ActSaveFile_triggered()
{
    saveRecord(networkConsole, false);
}

void MainWindow::on_SaveData_clicked()
{
    saveRecord(serialConsole, true);
}

void MainWindow::loadSendFile(SendArea *target, QWidget *dialogParent, const QString &filter)
{
    const QString fileName = QFileDialog::getOpenFileName(dialogParent, QStringLiteral("请选择txt文件"),
                                                          QString(), filter);
    if (fileName.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("提示"), QStringLiteral("未选择文件"));
        box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        box.exec();
        return;
    }
    qDebug() << fileName;

    QString text;
    const RecordFile::Outcome outcome = RecordFile::load(fileName, &text);
    if (!outcome.ok) {
        PlainMessage::warning(nullptr, QStringLiteral("错误："),
                              QStringLiteral("打开文件失败\n%1\n%2").arg(fileName, outcome.error));
        return;
    }
    // Literal: a file that looks like markup is still sent as it stands.
    target->setPlainText(text);
}

void MainWindow::saveRecord(ReceiveConsole *console, bool skipWhenEmpty)
{
    const QString text = console->plainText();
    if (skipWhenEmpty && text.isEmpty())
        return;
    const RecordFile::Outcome outcome =
        RecordFile::save(recordDirectory, text, QDateTime::currentDateTime());
    qDebug() << outcome.path;
    if (!outcome.ok) {
        PlainMessage::warning(nullptr, tr("错误！"),
                              QStringLiteral("写入文件失败！\n%1\n%2").arg(outcome.path, outcome.error));
        return;
    }
    QMessageBox::information(nullptr, QStringLiteral("提示！"), QStringLiteral("保存成功！"));
}
