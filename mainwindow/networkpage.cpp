// The network page: connection control, receive display, the server's client
// list and sending, for the TCP client, TCP server and UDP modes.

#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

#include "mainwindow/payload.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/throttledlabel.h"
#include "workers/tcp_client.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"

#include <QDebug>
#include <QHostAddress>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

namespace {

const QString networkReceiveStamp = QStringLiteral("   Recive");
const QString networkSendStamp = QStringLiteral("   Send");
const QString allClients = QStringLiteral("All Clients");

} // namespace

void MainWindow::discoverLocalAddress()
{
    const QString name = QHostInfo::localHostName();
    qDebug() << "本机名称：" << name;
    // Asynchronous, so a slow resolver never holds up the window.
    if (localLookupId >= 0)
        QHostInfo::abortHostLookup(localLookupId);
    localLookupId = QHostInfo::lookupHost(name, this, &MainWindow::onLocalHostLookedUp);
}

void MainWindow::onLocalHostLookedUp(QHostInfo host)
{
    if (host.lookupId() != localLookupId)
        return;
    localLookupId = -1;
    const auto addresses = host.addresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        qDebug() << "本机IP地址：" << address.toString();
        ui->Local_IP->setText(address.toString());
    }
}

std::optional<quint16> MainWindow::readPort(const QString &fieldName, const QString &text, bool allowZero)
{
    const std::optional<quint16> port = parsePort(text, allowZero);
    if (!port) {
        const QString range = allowZero ? QStringLiteral("0 到 65535") : QStringLiteral("1 到 65535");
        QMessageBox::warning(this, QStringLiteral("端口错误"),
                             QStringLiteral("%1“%2”无效，请输入 %3 之间的整数。")
                                 .arg(fieldName, text, range));
    }
    return port;
}

void MainWindow::on_Connect_clicked()
{
    switch (currentProtocol) {
    case 0: {
        const auto port = readPort(QStringLiteral("目标端口"), ui->Obj_Port->text(), false);
        if (!port)
            return;
        tcpClientThread->start(QThread::InheritPriority);
        if (ui->DnsAnalysis->isChecked())
            pendingLookupId = QHostInfo::lookupHost(ui->Obj_IP->text(), this, &MainWindow::lookedUp);
        else
            emit tcpC_connect(ui->Obj_IP->text(), *port);
        break;
    }
    case 1: {
        const auto port = readPort(QStringLiteral("本地端口"), ui->Local_Port->text(), true);
        if (!port)
            return;
        tcpServerThread->start(QThread::InheritPriority);
        emit tcpS_open(*port);
        ui->client_list->addItem(allClients);
        break;
    }
    case 2: {
        const auto port = readPort(QStringLiteral("本地端口"), ui->Local_Port->text(), true);
        if (!port)
            return;
        udpThread->start(QThread::InheritPriority);
        emit udp_open(*port);
        break;
    }
    default:
        return;
    }
    setNetworkOpenState();
}

void MainWindow::on_Disconnect_clicked()
{
    closeNetworkMode(currentProtocol);
}

void MainWindow::closeNetworkMode(int mode)
{
    setNetworkClosedState();
    switch (mode) {
    case 0:
        if (pendingLookupId >= 0) {
            QHostInfo::abortHostLookup(pendingLookupId);
            pendingLookupId = -1;
        }
        emit tcpC_disconnect();
        stopWorkerThread(tcpClient, tcpClientThread);
        break;
    case 1:
        emit tcpS_close();
        stopWorkerThread(tcpServer, tcpServerThread);
        ui->client_list->clear();
        break;
    case 2:
        emit udp_close();
        stopWorkerThread(udpService, udpThread);
        break;
    default:
        break;
    }
}

void MainWindow::stopWorkerThread(QObject *worker, QThread *thread)
{
    if (!thread->isRunning())
        return;
    // Quitting from inside the thread lets the requests queued before it,
    // such as the close, run first; a quit from here could overtake them.
    QMetaObject::invokeMethod(worker, [thread] { thread->quit(); });
    thread->wait();
}

void MainWindow::setNetworkOpenState()
{
    if (currentProtocol != 2) {
        ui->Obj_IP->setEnabled(false);
        ui->Obj_Port->setEnabled(false);
    }
    ui->Connect->setEnabled(false);
    ui->Local_Port->setEnabled(false);
    ui->Disconnect->setEnabled(true);
    ui->Send->setEnabled(true);
}

void MainWindow::setNetworkClosedState()
{
    if (currentProtocol != 2) {
        ui->Obj_IP->setEnabled(true);
        ui->Obj_Port->setEnabled(true);
    }
    ui->Connect->setEnabled(true);
    ui->Local_Port->setEnabled(true);
    ui->Disconnect->setEnabled(false);
    ui->Send->setEnabled(false);
}

void MainWindow::lookedUp(QHostInfo host)
{
    if (host.lookupId() != pendingLookupId)
        return; // answered after a Disconnect: nobody waits for it any more
    pendingLookupId = -1;

    resolvedAddress.clear();
    const auto addresses = host.addresses();
    if (host.error() == QHostInfo::NoError) {
        for (const QHostAddress &address : addresses) {
            if (!address.toString().isEmpty()) {
                resolvedAddress = address.toString();
                break;
            }
        }
    }
    const bool stillWaiting = currentProtocol == 0 && ui->Disconnect->isEnabled();
    if (resolvedAddress.isEmpty()) {
        if (stillWaiting)
            closeNetworkMode(0);
        QMessageBox::information(this, QStringLiteral("域名解析结果"),
                                 QStringLiteral("解析失败，未找到相应IP"));
        return;
    }
    if (stillWaiting)
        emit tcpC_connect(resolvedAddress, ui->Obj_Port->text().toUShort());
}

void MainWindow::on_ActDnsAnalysis_triggered()
{
    QMessageBox::information(this, QStringLiteral("帮助信息"),
                             QStringLiteral("在目标地址写入域名，自动解析为IP地址并连接，如“example.com”。"
                                            "若域名对应多个IP地址，默认使用第一个有效地址。"
                                            "仅TCP客户端模式下可用！"));
}

// Failures and the far side's close: only while the page still shows the
// link open, since a late report must not close a newer one.

void MainWindow::reportNetworkFailure(int mode, const QString &text)
{
    if (!ui->Disconnect->isEnabled())
        return;
    closeNetworkMode(mode);
    QMessageBox::warning(this, QStringLiteral("连接失败"), text);
}

void MainWindow::onTcpConnectFailed(QString error)
{
    reportNetworkFailure(0, QStringLiteral("无法连接到服务器 %1:%2\n%3")
                                .arg(ui->Obj_IP->text(), ui->Obj_Port->text(), error));
}

void MainWindow::onListenFailed(QString error)
{
    reportNetworkFailure(1, QStringLiteral("无法在端口 %1 上监听\n%2").arg(ui->Local_Port->text(), error));
}

void MainWindow::onBindFailed(QString error)
{
    reportNetworkFailure(2, QStringLiteral("无法绑定 UDP 端口 %1\n%2").arg(ui->Local_Port->text(), error));
}

void MainWindow::onTcpServerClosed()
{
    if (currentProtocol != 0 || !ui->Disconnect->isEnabled())
        return;
    closeNetworkMode(0);
    networkConsole->appendMessage(QStringLiteral("服务器已断开连接"), QString());
}

// Receive display and counters.

// The workers' credit comes back when the console shows these bytes.
void MainWindow::UpdateMsg(QByteArray message)
{
    // A datagram is a message of its own; a stream's chunks may split a character.
    if (sender() == udpService)
        networkConsole->appendDatagram(message, networkReceiveStamp, udpService);
    else
        networkConsole->appendData(message, networkReceiveStamp, sender());
    countNetworkReceive(message.size());
}

void MainWindow::UpdateClientMsg(QByteArray message, QString client)
{
    networkConsole->appendData(message, networkReceiveStamp, tcpServer, client);
    countNetworkReceive(message.size());
}

void MainWindow::countNetworkReceive(qsizetype bytes)
{
    netReceiveCount += quint64(bytes);
    netReceiveLabel->showSoon();
}

void MainWindow::onDatagramsDropped(quint64 count)
{
    networkConsole->appendMessage(QStringLiteral("接收过快，最近 1 秒丢弃了 %1 个数据报").arg(count),
                                  QString());
}

void MainWindow::updateNetworkCounters()
{
    netReceiveLabel->showNow();
    ui->Send_cnt->setText(QStringLiteral("累计发送：%1").arg(netSendCount));
}

void MainWindow::on_clear_send_cnt_clicked()
{
    netSendCount = 0;
    netReceiveCount = 0;
    updateNetworkCounters();
}

void MainWindow::on_ClearMessage_clicked()
{
    networkConsole->clear();
}

// The server's client list.

void MainWindow::UpdateClientsList(QString method, QString IP)
{
    if (method == QLatin1String("join")) {
        ui->client_list->addItem(IP);
    } else if (method == QLatin1String("leave")) {
        const int index = ui->client_list->findText(IP, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            ui->client_list->removeItem(index);
        else
            qDebug() << "no list entry for the departed client" << IP;
    }
    ui->client_list->update();
}

void MainWindow::UpdateClientsHint(QString message)
{
    networkConsole->appendMessage(message, QString());
}

void MainWindow::on_client_list_currentTextChanged(QString arg1)
{
    // Queued, so the choice is ordered with the sends and kicks around it.
    QMetaObject::invokeMethod(tcpServer, [server = tcpServer, arg1] { server->SelectClient(arg1); },
                              Qt::QueuedConnection);
}

void MainWindow::on_Kick_clicked()
{
    if (ui->client_list->count() <= 1 || ui->client_list->currentIndex() == 0)
        return;
    emit tcpS_kick(ui->client_list->currentText());
    ui->client_list->removeItem(ui->client_list->currentIndex());
}

// Sending.

bool MainWindow::networkTransportOpen() const
{
    return currentProtocol <= 2 && ui->Disconnect->isEnabled();
}

QString MainWindow::sendText(const QTextEdit *area, bool newLine) const
{
    QString text = area->toPlainText();
    if (newLine)
        text += QStringLiteral("\r\n");
    return text;
}

void MainWindow::on_Send_clicked()
{
    if (!networkTransportOpen())
        return;
    const QString text = sendText(ui->Send_msg, ui->SendNewLine->isChecked());
    const QByteArray bytes = encodePayload(text, ui->HexSend->isChecked());

    switch (currentProtocol) {
    case 0:
        emit tcpC_send(bytes);
        break;
    case 1:
        emit tcpS_send(bytes);
        break;
    case 2: {
        const auto port = parsePort(ui->Obj_Port->text(), false);
        if (!port) {
            // Stop a loop first, so its ticks do not stack up warnings.
            loopTimer->stop();
            ui->Timer_Send->setChecked(false);
            readPort(QStringLiteral("目标端口"), ui->Obj_Port->text(), false);
            return;
        }
        const QString address = ui->UdpBroadcast->isChecked()
            ? QHostAddress(QHostAddress::Broadcast).toString()
            : ui->Obj_IP->text();
        emit udp_send(bytes, address, *port);
        break;
    }
    }

    netSendCount += quint64(bytes.size());
    updateNetworkCounters();
    if (ui->DisplaySendMsg->isChecked())
        networkConsole->appendMessage(text, networkSendStamp);
}

void MainWindow::LoopSend()
{
    on_Send_clicked();
}

void MainWindow::on_Timer_Send_clicked()
{
    toggleLoop(loopTimer, ui->Timer_Send, ui->period->text());
}

void MainWindow::toggleLoop(QTimer *timer, QCheckBox *box, const QString &periodText)
{
    timer->stop();
    if (!box->isChecked())
        return;
    const std::optional<int> period = parsePeriod(periodText);
    if (!period) {
        box->setChecked(false);
        QMessageBox::warning(this, QStringLiteral("警告"), QStringLiteral("定时周期错误！"));
        return;
    }
    timer->start(*period);
}
