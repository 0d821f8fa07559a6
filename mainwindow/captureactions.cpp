#include "mainwindow/captureactions.h"

#include "mainwindow/capturefile.h"
#include "mainwindow/plainmessage.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/receiveview.h"

#include <QAction>
#include <QDateTime>
#include <QFileDialog>
#include <QStandardPaths>

CaptureActions::CaptureActions(ReceiveView *view, ReceiveConsole *console, QString &folder)
    : QObject(view)
    , view(view)
    , console(console)
    , folder(folder)
    , capture(new QAction(QStringLiteral("开始记录"), view))
{
    capture->setObjectName(QStringLiteral("ActCapture"));
    capture->setCheckable(true);
    connect(capture, &QAction::toggled, this, &CaptureActions::toggle);
    auto *chooser = new QAction(QStringLiteral("记录文件夹…"), view);
    chooser->setObjectName(QStringLiteral("ActCaptureFolder"));
    connect(chooser, &QAction::triggered, this, &CaptureActions::chooseFolder);
    view->addAction(capture);
    view->addAction(chooser);
    // Queued: the failure comes from inside a display pass, a box must not.
    connect(console, &ReceiveConsole::captureFailed, this, &CaptureActions::failed, Qt::QueuedConnection);
}

QString CaptureActions::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/Quorvix");
}

void CaptureActions::toggle(bool on)
{
    showState(on);
    if (!on) {
        console->stopCapture();
        return;
    }
    auto *file = new CaptureFile;
    if (!file->start(folder, QDateTime::currentDateTime())) {
        const QString path = file->errorFile();
        const QString reason = file->errorString();
        delete file;
        failed(path, reason);
        return;
    }
    console->startCapture(file);
}

void CaptureActions::failed(const QString &file, const QString &reason)
{
    showState(false);
    PlainMessage::warning(view->window(), QStringLiteral("记录失败"),
                          QStringLiteral("无法写入记录文件，记录已停止。\n%1\n%2").arg(file, reason));
}

void CaptureActions::showState(bool on)
{
    const QSignalBlocker quiet(capture);
    capture->setChecked(on);
    capture->setText(on ? QStringLiteral("停止记录") : QStringLiteral("开始记录"));
}

void CaptureActions::chooseFolder()
{
    const QString chosen = QFileDialog::getExistingDirectory(view->window(), QStringLiteral("选择记录文件夹"), folder);
    if (!chosen.isEmpty())
        folder = chosen;
}
