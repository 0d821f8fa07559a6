#include "mainwindow/networkpage.h"
#include "ui_mainwindow.h"

#include "mainwindow/hexviewer.h"
#include "mainwindow/payload.h"
#include "mainwindow/plainmessage.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/sendpanel.h"
#include "mainwindow/receivecounter.h"
#include "workers/tcp_client.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"

#include <QDebug>
#include <QHostAddress>
#include <QMessageBox>
#include <QTimer>

namespace {

const QString allClients = QStringLiteral("All Clients");
const QString receiveStamp = QStringLiteral("   Recive");
const QString closeFirstTip = QStringLiteral("请先断开当前连接，再切换到此模式");

} // namespace

NetworkPage::NetworkPage(Ui::MainWindow *ui, ReceiveConsole *console, QWidget *window)
    : QObject(window)
    , ui(ui)
    , console(console)
    , window(window)
    , panel(new SendPanel({ ui->Send_msg, ui->HexSend, ui->SendNewLine, ui->DisplaySendMsg, ui->Timer_Send,
                            ui->period, ui->Send_cnt },
                          console, QStringLiteral("   Send"), window, this))
    , receiveCounter(new ReceiveCounter(ui->Recive_cnt, this))
    , hexViewer(new HexViewer(ui->Recive_msg, QStringLiteral("网络"), window, this))
{
    connect(console, &ReceiveConsole::cleared, hexViewer, &HexViewer::clear);
}

NetworkPage::~NetworkPage() = default;

void NetworkPage::init()
{
    discoverLocalAddress();
    // What a mode button says while it may be used.
    for (QAbstractButton *button : { static_cast<QAbstractButton *>(ui->TCPClient),
                                     static_cast<QAbstractButton *>(ui->TCPserver),
                                     static_cast<QAbstractButton *>(ui->UDPButton) })
        button->setProperty("usableTip", button->toolTip());
}

void NetworkPage::createWorkers()
{
    udpService = new UDP_Service;
    udpThread = std::make_unique<WorkerThread>(udpService, nullptr, WorkerThread::WorkerEnd::DeletedByOwner);
    connect(udpService, &UDP_Service::BindFailed, this, &NetworkPage::onBindFailed);
    connect(udpService, &UDP_Service::DatagramsDropped, this, &NetworkPage::onDatagramsDropped);
    connect(udpService, &UDP_Service::Bound, this, [this](quint16 port) { onPortTaken(Mode::Udp, port); });
    connect(udpService, &UDP_Service::SendResult, panel, &SendPanel::reported);
    console->returnCreditTo(udpService);

    tcpClient = new TCP_Client;
    tcpClientThread = std::make_unique<WorkerThread>(tcpClient, nullptr, WorkerThread::WorkerEnd::DeletedByOwner);
    connect(tcpClient, &TCP_Client::ConnectFailed, this, &NetworkPage::onConnectFailed);
    connect(tcpClient, &TCP_Client::ServerClosed, this, &NetworkPage::onServerClosed);
    connect(tcpClient, &TCP_Client::SendResult, panel, &SendPanel::reported);
    console->returnCreditTo(tcpClient);

    tcpServer = new TCP_Server;
    tcpServerThread = std::make_unique<WorkerThread>(tcpServer, nullptr, WorkerThread::WorkerEnd::DeletedByOwner);
    connect(tcpServer, &TCP_Server::ListenFailed, this, &NetworkPage::onListenFailed);
    connect(tcpServer, &TCP_Server::Listening, this, [this](quint16 port) { onPortTaken(Mode::TcpServer, port); });
    connect(tcpServer, &TCP_Server::ClientClosed, console,
            [this](const QString &client) { console->endOfStream(tcpServer, client); });
    connect(tcpServer, &TCP_Server::SendResult, panel, &SendPanel::reported);
    console->returnCreditTo(tcpServer);
}

void NetworkPage::shutDown()
{
    // What the workers say while they are taken down must not reach a
    // window that is half gone.
    for (QObject *worker : { static_cast<QObject *>(udpService), static_cast<QObject *>(tcpClient),
                             static_cast<QObject *>(tcpServer) })
        disconnect(worker, nullptr, nullptr, nullptr);
    cancelLookup();
    for (WorkerThread *thread : { udpThread.get(), tcpServerThread.get(), tcpClientThread.get() }) {
        thread->stop();
        thread->deleteThread();
    }
    udpThread->deleteWorker();
    tcpClientThread->deleteWorker();
    tcpServerThread->deleteWorker();
}

QTimer *NetworkPage::loopTimer() const
{
    return panel->loopTimer();
}

WorkerThread &NetworkPage::threadOf(Mode mode) const
{
    switch (mode) {
    case Mode::TcpServer:
        return *tcpServerThread;
    case Mode::Udp:
        return *udpThread;
    default:
        return *tcpClientThread;
    }
}

// Mode and enabling.

void NetworkPage::showMode(Mode mode)
{
    if (mode == Mode::Serial)
        return;
    shownMode = mode;
    const bool client = mode == Mode::TcpClient;
    const bool server = mode == Mode::TcpServer;
    ui->Connect->setText(client ? QStringLiteral("连接") : QStringLiteral("打开"));
    ui->Disconnect->setText(client ? QStringLiteral("断开") : QStringLiteral("关闭"));
    ui->label_6->setVisible(server);
    ui->client_list->setVisible(server);
    ui->Kick->setVisible(server);
    ui->UdpBroadcast->setEnabled(mode == Mode::Udp);
    if (!client)
        ui->DnsAnalysis->setChecked(false);
    ui->DnsAnalysis->setEnabled(client);
    // A running server keeps its clients listed.
    if (server && state == LinkState::Closed)
        ui->client_list->clear();
    applyState();
}

void NetworkPage::applyState()
{
    const bool closed = state == LinkState::Closed;
    const bool open = state == LinkState::Open;
    // A UDP link takes its target from the fields with every datagram.
    const bool targetEditable = closed || (open && shownMode == Mode::Udp);
    ui->Obj_IP->setEnabled(targetEditable);
    ui->Obj_Port->setEnabled(targetEditable);
    ui->Connect->setEnabled(closed);
    ui->Local_Port->setEnabled(closed && shownMode != Mode::TcpClient);
    ui->Disconnect->setEnabled(!closed);
    ui->Send->setEnabled(open);

    const std::pair<QAbstractButton *, Mode> buttons[] = {
        { ui->TCPClient, Mode::TcpClient }, { ui->TCPserver, Mode::TcpServer }, { ui->UDPButton, Mode::Udp }
    };
    for (const auto &[button, mode] : buttons) {
        const bool usable = closed || mode == linkMode;
        button->setEnabled(usable);
        button->setToolTip(usable ? button->property("usableTip").toString() : closeFirstTip);
    }
}

void NetworkPage::setState(LinkState next)
{
    state = next;
    applyState();
}

// Opening and closing the link.

std::optional<quint16> NetworkPage::readPort(const QString &fieldName, const QString &text, bool allowZero)
{
    const std::optional<quint16> port = parsePort(text, allowZero);
    if (!port) {
        const QString range = allowZero ? QStringLiteral("0 到 65535") : QStringLiteral("1 到 65535");
        PlainMessage::warning(window, QStringLiteral("端口错误"),
                              QStringLiteral("%1“%2”无效，请输入 %3 之间的整数。").arg(fieldName, text, range));
    }
    return port;
}

void NetworkPage::open()
{
    if (state != LinkState::Closed)
        return;
    const bool client = shownMode == Mode::TcpClient;
    const auto port = client ? readPort(QStringLiteral("目标端口"), ui->Obj_Port->text(), false)
                             : readPort(QStringLiteral("本地端口"), ui->Local_Port->text(), true);
    if (!port)
        return;
    linkMode = shownMode;
    tellTakenPort = !client && *port == 0;
    candidates.clear();
    linkName = ui->Obj_IP->text().trimmed() + u':' + QString::number(*port);
    // Started once and kept until the window goes: a Qt 6.4 thread that is
    // restarted may leave its objects bound to the previous run's storage.
    threadOf(linkMode).start();
    switch (linkMode) {
    case Mode::TcpClient:
        if (ui->DnsAnalysis->isChecked()) {
            lookupPort = *port;
            pendingLookupId = QHostInfo::lookupHost(ui->Obj_IP->text().trimmed(), this, &NetworkPage::lookedUp);
            setState(LinkState::Opening);
            return;
        }
        emit tcpC_connect(ui->Obj_IP->text().trimmed(), *port);
        break;
    case Mode::TcpServer:
        emit tcpS_open(*port);
        ui->client_list->addItem(allClients);
        break;
    default:
        emit udp_open(*port);
        break;
    }
    setState(LinkState::Open);
}

void NetworkPage::close()
{
    if (state == LinkState::Closed || state == LinkState::Closing)
        return;
    setState(LinkState::Closing);
    cancelLookup();
    stopLoop();
    switch (linkMode) {
    case Mode::TcpClient:
        emit tcpC_disconnect();
        break;
    case Mode::TcpServer:
        emit tcpS_close();
        break;
    default:
        emit udp_close();
        break;
    }
    // Until the fence, reports are of the closed link. After the link's last
    // bytes, what a decoder still holds of them is shown.
    threadOf(linkMode).fence(this, [this, ended = linkMode == Mode::TcpClient] {
        if (ended)
            console->endOfStream(tcpClient);
    });
    if (linkMode == Mode::TcpServer)
        ui->client_list->clear();
    setState(LinkState::Closed);
    emit linkClosed();
}

void NetworkPage::cancelLookup()
{
    if (pendingLookupId < 0)
        return;
    QHostInfo::abortHostLookup(pendingLookupId);
    pendingLookupId = -1;
}

void NetworkPage::lookedUp(const QHostInfo &host)
{
    // Only the answer the current attempt waits for.
    if (host.lookupId() != pendingLookupId || state != LinkState::Opening)
        return;
    pendingLookupId = -1;
    candidates.clear();
    if (host.error() == QHostInfo::NoError) {
        const auto addresses = host.addresses();
        for (const QHostAddress &candidate : addresses) {
            if (!candidate.toString().isEmpty())
                candidates << candidate.toString();
        }
    }
    if (candidates.isEmpty()) {
        close();
        QMessageBox::information(window, QStringLiteral("域名解析结果"), QStringLiteral("解析失败，未找到相应IP"));
        return;
    }
    // The addresses are tried in order until one connects.
    emit tcpC_connect(candidates.takeFirst(), lookupPort);
    setState(LinkState::Open);
}

bool NetworkPage::reportsCount(Mode from) const
{
    return state == LinkState::Open && linkMode == from && !threadOf(from).fencePending();
}

void NetworkPage::linkFailed(Mode from, const QString &text)
{
    if (!reportsCount(from))
        return;
    close();
    PlainMessage::warning(window, QStringLiteral("连接失败"), text);
}

void NetworkPage::onConnectFailed(const QString &error)
{
    if (reportsCount(Mode::TcpClient) && !candidates.isEmpty()) {
        emit tcpC_connect(candidates.takeFirst(), lookupPort);
        return;
    }
    linkFailed(Mode::TcpClient, QStringLiteral("无法连接到服务器 %1:%2\n%3")
                                    .arg(ui->Obj_IP->text(), ui->Obj_Port->text(), error));
}

void NetworkPage::onListenFailed(const QString &error)
{
    linkFailed(Mode::TcpServer, QStringLiteral("无法在端口 %1 上监听\n%2").arg(ui->Local_Port->text(), error));
}

void NetworkPage::onBindFailed(const QString &error)
{
    linkFailed(Mode::Udp, QStringLiteral("无法绑定 UDP 端口 %1\n%2").arg(ui->Local_Port->text(), error));
}

void NetworkPage::onServerClosed()
{
    // What the decoder holds of the server's last character comes before the line.
    console->endOfStream(tcpClient);
    if (!reportsCount(Mode::TcpClient))
        return;
    close();
    console->appendMessage(QStringLiteral("服务器已断开连接"), QString());
}

// A port the system chose is one the user needs to know.
void NetworkPage::onPortTaken(Mode from, quint16 port)
{
    if (tellTakenPort && reportsCount(from))
        console->appendMessage(QStringLiteral("系统分配的本地端口:") + QString::number(port), QString());
}

void NetworkPage::onDatagramsDropped(quint64 count)
{
    console->appendMessage(QStringLiteral("接收过快，系统在最近 1 秒丢弃了 %1 个数据报").arg(count), QString());
}

void NetworkPage::discoverLocalAddress()
{
    const QString name = QHostInfo::localHostName();
    qDebug() << "本机名称：" << name;
    // Asynchronous, so a slow resolver never holds up the window.
    if (localLookupId >= 0)
        QHostInfo::abortHostLookup(localLookupId);
    localLookupId = QHostInfo::lookupHost(name, this, &NetworkPage::onLocalHostLookedUp);
}

void NetworkPage::onLocalHostLookedUp(const QHostInfo &host)
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

// Sending: only on the open link, whichever mode is shown.

void NetworkPage::send(SendOrigin origin)
{
    if (state != LinkState::Open)
        return;
    if (const std::optional<SendPanel::Request> request = panel->request(origin))
        hand(*request);
}

QString NetworkPage::sendText(const QString &text, bool hex, bool newLine)
{
    if (state != LinkState::Open)
        return QStringLiteral("网络连接未打开");
    QString reason;
    const std::optional<SendPanel::Request> request = panel->compose(text, hex, newLine, &reason);
    if (!request)
        return reason;
    return hand(*request) ? QString() : QStringLiteral("目标端口无效");
}

bool NetworkPage::hand(const SendPanel::Request &request)
{
    switch (linkMode) {
    case Mode::TcpClient:
        emit tcpC_send(request.bytes);
        break;
    case Mode::TcpServer:
        emit tcpS_send(request.bytes);
        break;
    default: {
        const auto port = parsePort(ui->Obj_Port->text(), false);
        if (!port) {
            // Stop a loop first, so its ticks do not stack up warnings.
            stopLoop();
            readPort(QStringLiteral("目标端口"), ui->Obj_Port->text(), false);
            return false;
        }
        const QString address = ui->UdpBroadcast->isChecked() ? QHostAddress(QHostAddress::Broadcast).toString()
                                                              : ui->Obj_IP->text().trimmed();
        emit udp_send(request.bytes, address, *port);
        break;
    }
    }
    panel->handedOver(request);
    return true;
}

void NetworkPage::toggleLoop()
{
    panel->toggleLoop();
}

void NetworkPage::stopLoop()
{
    panel->stopLoop();
}

// Receive display and counters.

// The workers' credit comes back when the console shows these bytes.
void NetworkPage::showData(const QByteArray &bytes, QObject *source)
{
    console->appendData(bytes, receiveStamp, source);
    receiveCounter->add(bytes.size());
    hexViewer->received(linkName, bytes);
}

void NetworkPage::showDatagrams(const QByteArrayList &datagrams, const QStringList &senders)
{
    console->appendDatagrams(datagrams, receiveStamp, udpService);
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < datagrams.size(); ++i) {
        bytes += datagrams[i].size();
        hexViewer->received(senders.value(i), datagrams[i]);
    }
    receiveCounter->add(bytes);
}

void NetworkPage::showClientData(const QByteArray &bytes, const QString &client)
{
    console->appendData(bytes, receiveStamp, tcpServer, client);
    receiveCounter->add(bytes.size());
    hexViewer->received(client, bytes);
}

void NetworkPage::clearCounters()
{
    panel->clearCount();
    receiveCounter->reset();
}

void NetworkPage::clearReceived()
{
    console->clear();
}

// The server's client list.

void NetworkPage::updateClients(const QString &method, const QString &ip)
{
    if (method == QLatin1String("join")) {
        ui->client_list->addItem(ip);
    } else if (method == QLatin1String("leave")) {
        const int index = ui->client_list->findText(ip, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            ui->client_list->removeItem(index);
        else
            qDebug() << "no list entry for the departed client" << ip;
    }
    ui->client_list->update();
}

void NetworkPage::showServerMessage(const QString &message)
{
    console->appendMessage(message, QString());
}

void NetworkPage::selectClient(const QString &text)
{
    if (!tcpServer)
        return;
    // Queued, so the choice is ordered with the sends and kicks around it.
    QMetaObject::invokeMethod(tcpServer, [server = tcpServer, text] { server->SelectClient(text); },
                              Qt::QueuedConnection);
}

void NetworkPage::kick()
{
    if (ui->client_list->count() <= 1 || ui->client_list->currentIndex() == 0)
        return;
    emit tcpS_kick(ui->client_list->currentText());
    ui->client_list->removeItem(ui->client_list->currentIndex());
}
