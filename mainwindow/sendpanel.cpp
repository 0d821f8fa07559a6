#include "mainwindow/sendpanel.h"

#include "mainwindow/payload.h"
#include "mainwindow/receiveconsole.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTextEdit>
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

SendPanel::Request SendPanel::request() const
{
    Request request;
    request.text = ui.area->toPlainText();
    if (ui.newLine->isChecked())
        request.text += QStringLiteral("\r\n");
    request.bytes = encodePayload(request.text, ui.hex->isChecked());
    request.echo = ui.echo->isChecked();
    return request;
}

std::optional<SendPanel::Request> SendPanel::compose(const QString &text, bool hex, bool newLine,
                                                    QString *reason) const
{
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
        request.bytes = encodePayload(request.text, false);
    }
    request.echo = ui.echo->isChecked();
    return request;
}

void SendPanel::handedOver(const Request &request)
{
    // Only the echo waits; the bytes are with the worker already.
    Request pending = request;
    pending.bytes.clear();
    awaitingReport.push_back(std::move(pending));
}

void SendPanel::reported(qint64 bytes, const QString &error)
{
    if (awaitingReport.empty())
        return;
    const Request sent = std::move(awaitingReport.front());
    awaitingReport.pop_front();
    if (bytes > 0) {
        sentCount += quint64(bytes);
        showCount();
        if (sent.echo)
            console->appendMessage(sent.text, echoStamp);
    }
    if (!error.isEmpty())
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
    timer->start(*period);
}

void SendPanel::stopLoop()
{
    timer->stop();
    ui.loop->setChecked(false);
}

void SendPanel::clearCount()
{
    sentCount = 0;
    showCount();
}

void SendPanel::showCount()
{
    ui.counter->setText(QStringLiteral("累计发送：%1").arg(sentCount));
}
