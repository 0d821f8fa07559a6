// Loading text files into the send areas and saving the receive areas.

#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

#include "mainwindow/plainmessage.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/recordfile.h"
#include "mainwindow/sendarea.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>

#include <memory>

namespace {

// In the first folder where the record can be created: the program's own
// folder is read-only once installed.
RecordFile::Outcome saveInFirstWritable(const QStringList &folders, const QString &text, const QDateTime &when)
{
    RecordFile::Outcome outcome;
    for (const QString &folder : folders) {
        QDir().mkpath(folder);
        outcome = RecordFile::save(folder, text, when);
        // A record that was created but not written whole is not made twice.
        if (outcome.ok || QFileInfo::exists(outcome.path))
            break;
    }
    return outcome;
}

} // namespace

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
    // Written from this copy in the background, so a full area does not
    // hold up the window.
    auto outcome = std::make_shared<RecordFile::Outcome>();
    QThread *writer = QThread::create(
        [outcome, text, folders = QStringList { recordDirectory, captureFolder }, now = QDateTime::currentDateTime()] {
            *outcome = saveInFirstWritable(folders, text, now);
        });
    writer->setParent(this);
    recordWriters << writer;
    connect(writer, &QThread::finished, this, [this, writer, outcome] {
        recordWriters.removeOne(writer);
        writer->deleteLater();
        qDebug() << outcome->path;
        if (!outcome->ok) {
            PlainMessage::warning(nullptr, tr("错误！"),
                                  QStringLiteral("写入文件失败！\n%1\n%2").arg(outcome->path, outcome->error));
            return;
        }
        PlainMessage::information(nullptr, QStringLiteral("提示！"), QStringLiteral("保存成功！\n%1").arg(outcome->path));
    });
    writer->start();
}
