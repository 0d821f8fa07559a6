#include "mainwindow/sendpanel.h"

#include "mainwindow/payload.h"
#include "mainwindow/plainmessage.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/sendarea.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

SendPanel::SendPanel(const Widgets &widgets, ReceiveConsole *console, const QString &echoStamp,
                     QWidget *dialogParent, QObject *parent)
    : QObject(parent)
    , ui(widgets)
    , console(console)
    , echoStamp(echoStamp)
    , dialogParent(dialogParent)
    , timer(new QTimer(this))
{
}

std::optional<SendPanel::Request> SendPanel::request(SendOrigin origin)
{
    if (const QString waiting = backlogRefusal(); !waiting.isEmpty()) {
        if (origin == SendOrigin::Button)
            console->appendMessage(tr("发送失败：%1").arg(waiting), QString());
        else if (!std::exchange(backlogTold, true))
            console->appendMessage(tr("发送缓冲未清空，跳过定时发送，直到对方收下"), QString());
        return std::nullopt;
    }
    if (origin == SendOrigin::Loop)
        backlogTold = false;
    QString reason;
    std::optional<Request> request =
        compose(ui.area->toPlainText(), ui.hex->isChecked(), ui.newLine->isChecked(), &reason);
    if (!request) {
        // Stopped first, so its ticks do not stack up boxes.
        stopLoop();
        PlainMessage::warning(dialogParent, tr("HEX格式错误"),
                              tr("%1，未发送。\n可用空格、逗号、换行或 0x 前缀分隔，如 41 42 或 0x41,0x42。").arg(reason));
        return std::nullopt;
    }
    request->loopRun = origin == SendOrigin::Loop ? loopRun : 0;
    return request;
}

QString SendPanel::backlogRefusal() const
{
    return backlog > BacklogLimit ? tr("还有 %1 字节等待发出").arg(backlog) : QString();
}

std::optional<SendPanel::Request> SendPanel::compose(const QString &text, bool hex, bool newLine,
                                                    QString *reason) const
{
    *reason = backlogRefusal();
    if (!reason->isEmpty())
        return std::nullopt;
    Request request;
    request.text = newLine ? text + QStringLiteral("\r\n") : text;
    if (hex) {
        HexBytes decoded = decodeHex(request.text);
        if (decoded.badAt >= 0) {
            const qsizetype length = request.text[decoded.badAt].isHighSurrogate() ? 2 : 1;
            *reason = tr("第 %1 个字符“%2”有误：十六进制须为成对的数字")
                          .arg(decoded.badAt + 1)
                          .arg(request.text.mid(decoded.badAt, length));
            return std::nullopt;
        }
        request.bytes = std::move(decoded.bytes);
    } else {
        request.bytes = encodePayload(request.text);
    }
    request.echo = ui.echo->isChecked();
    request.generation = generation;
    return request;
}

void SendPanel::handedOver(const Request &request)
{
    // Only the echo waits; the bytes are with the worker already.
    backlog += request.bytes.size();
    awaitingReport.push_back({ request.echo ? request.text : QString(), request.echo, request.bytes.size(),
                               request.generation, request.loopRun });
}

void SendPanel::reported(qint64 bytes, const QString &error)
{
    if (awaitingReport.empty())
        return;
    const Awaiting sent = std::move(awaitingReport.front());
    awaitingReport.pop_front();
    backlog -= sent.size;
    if (sent.generation != generation)
        return;
    if (bytes > 0) {
        sentCount += quint64(bytes);
        showCount();
    }
    if (error.isEmpty()) {
        if (sent.echo)
            console->appendMessage(sent.text, echoStamp);
        return;
    }
    // A loop that cannot send ends at its first refusal, told once.
    if (sent.loopRun != 0) {
        if (std::exchange(refusalToldRun, sent.loopRun) == sent.loopRun)
            return;
        if (sent.loopRun == loopRun)
            stopLoop();
    }
    console->appendMessage(tr("发送失败：%1").arg(error), QString());
}

void SendPanel::toggleLoop()
{
    timer->stop();
    if (!ui.loop->isChecked())
        return;
    const std::optional<int> period = parsePeriod(ui.period->text());
    if (!period) {
        ui.loop->setChecked(false);
        QMessageBox::warning(dialogParent, QStringLiteral("警告"), QStringLiteral("定时周期错误！"));
        return;
    }
    ++loopRun;
    backlogTold = false;
    timer->start(*period);
}

void SendPanel::stopLoop()
{
    timer->stop();
    ui.loop->setChecked(false);
}

void SendPanel::clearCount()
{
    ++generation;
    sentCount = 0;
    showCount();
}

void SendPanel::showCount()
{
    ui.counter->setText(QStringLiteral("累计发送：%1").arg(sentCount));
}
