#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

#include "about/aboutdialog.h"
#include "mainwindow/captureactions.h"
#include "mainwindow/findbar.h"
#include "mainwindow/networkpage.h"
#include "mainwindow/quicksendmodel.h"
#include "mainwindow/quicksendwindow.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/serialpage.h"
#include "mainwindow/settings.h"
#include "workers/serial.h"
#include "workers/tcp_client.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QSerialPortInfo>
#include <QThread>
#include <QTimer>

namespace {

QStringList systemPortNames()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        names << port.portName();
    return names;
}

} // namespace

MainWindow::MainWindow(QWidget *parent, PortLister portLister)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , portLister(portLister ? std::move(portLister) : PortLister(systemPortNames))
    , recordDirectory(QCoreApplication::applicationDirPath())
    , captureFolder(CaptureActions::defaultFolder())
{
    ui->setupUi(this);

    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);

    ui->stackedWidget->setCurrentIndex(0);
    ui->titlelabel->setText(QStringLiteral("TCP客户端"));

    networkConsole = new ReceiveConsole(ui->Recive_msg,
                                        { ui->DisplayTime, ui->HexDisplay, ui->AutoSwitchLine }, this);
    serialConsole = new ReceiveConsole(ui->DataRecive,
                                       { ui->TimeDisplay, ui->DisplayHEX, ui->AutoSwitchLine_2 }, this);
    new CaptureActions(ui->Recive_msg, networkConsole, captureFolder);
    new CaptureActions(ui->DataRecive, serialConsole, captureFolder);
    new FindBar(ui->Recive_msg);
    new FindBar(ui->DataRecive);

    initNetworkPage();
    setupMenu();
    setupWorkers();
    initSerialPage();
    setupQuickSend();
    settings = std::make_unique<Settings>(
        ui, serialPage,
        Settings::ModeAccess { [this] { return currentProtocol; }, [this](Mode mode) { selectProtocol(mode); } });
    settings->keep({ [this](QSettings &store) { quickSend->model()->setRows(readQuickSends(store)); },
                     [this](QSettings &store) { writeQuickSends(store, quickSend->model()->rows()); } });
    settings->add({ QStringLiteral("capture/folder"), CaptureActions::defaultFolder(),
                    [this] { return QVariant(captureFolder); },
                    [this](const QVariant &value) { captureFolder = value.toString(); } });
    settings->load();
    startSerialWorker();

    for (QAbstractButton *button : { static_cast<QAbstractButton *>(ui->TCPClient),
                                     static_cast<QAbstractButton *>(ui->TCPserver),
                                     static_cast<QAbstractButton *>(ui->UDPButton) }) {
        connect(button, &QAbstractButton::clicked, this,
                [this] { ui->stackedWidget->setCurrentIndex(0); });
    }
    connect(ui->serialButton, &QAbstractButton::clicked, this,
            [this] { ui->stackedWidget->setCurrentIndex(1); });
    connect(ui->ClearRecive, &QPushButton::clicked, serialConsole, &ReceiveConsole::clear);
    connect(ui->openfileButton, &QPushButton::clicked, this, &MainWindow::on_ActOpenFile_triggered);
    connect(ui->savefileButton, &QPushButton::clicked, this, &MainWindow::on_ActSaveFile_triggered);
    // The session manager asks for a save; it does not ask the program to end.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, &MainWindow::commitSessionData);
}

void MainWindow::commitSessionData()
{
    settings->save();
}

MainWindow::~MainWindow()
{
    // Before the workers go: what is shown still hands their credit back.
    networkConsole->finishCapture();
    serialConsole->finishCapture();
    for (QThread *writer : std::as_const(recordWriters))
        writer->wait();
    networkPage->shutDown();
    emit closeSerial();
    serialPage->shutDown();
    // The pages take their timers with them.
    delete networkPage;
    delete serialPage;
    settings->save();
    delete ui;
}

void MainWindow::setRecordDirectory(const QString &directory)
{
    recordDirectory = directory;
}

// Requests go out through the window's own signals, so whoever watches the
// window sees each of them.
void MainWindow::setupWorkers()
{
    networkPage->createWorkers();
    connect(networkPage->loopTimer(), &QTimer::timeout, this, &MainWindow::LoopSend);

    UDP_Service *udpService = networkPage->udpWorker();
    connect(udpService, &UDP_Service::UdpModeMsg, this, &MainWindow::UpdateDatagrams);
    connect(this, &MainWindow::udp_open, udpService, &UDP_Service::OpenUdp);
    connect(this, &MainWindow::udp_close, udpService, &UDP_Service::CloseUdp);
    connect(this, &MainWindow::udp_send, udpService, &UDP_Service::SendUdpMsg);

    TCP_Client *tcpClient = networkPage->clientWorker();
    connect(tcpClient, &TCP_Client::TcpClientModeMsg, this, &MainWindow::UpdateMsg);
    connect(this, &MainWindow::tcpC_connect, tcpClient, &TCP_Client::ConnectToServer);
    connect(this, &MainWindow::tcpC_disconnect, tcpClient, &TCP_Client::DisconnectFromServer);
    connect(this, &MainWindow::tcpC_send, tcpClient, &TCP_Client::SendMessage);

    TCP_Server *tcpServer = networkPage->serverWorker();
    connect(this, &MainWindow::tcpS_open, tcpServer, &TCP_Server::StartListen);
    connect(this, &MainWindow::tcpS_close, tcpServer, &TCP_Server::StopListen);
    connect(this, &MainWindow::tcpS_send, tcpServer, &TCP_Server::SendMessage);
    connect(this, &MainWindow::tcpS_kick, tcpServer, &TCP_Server::KickClient);
    connect(tcpServer, &TCP_Server::ClientsMsgToUI, this, &MainWindow::UpdateClientMsg);
    connect(tcpServer, &TCP_Server::UpdateClientsToUI, this, &MainWindow::UpdateClientsList);
    connect(tcpServer, &TCP_Server::TcpServerMsgToUI, this, &MainWindow::UpdateClientsHint);

    connect(networkPage, &NetworkPage::tcpC_connect, this, &MainWindow::tcpC_connect);
    connect(networkPage, &NetworkPage::tcpC_disconnect, this, &MainWindow::tcpC_disconnect);
    connect(networkPage, &NetworkPage::tcpC_send, this, &MainWindow::tcpC_send);
    connect(networkPage, &NetworkPage::tcpS_open, this, &MainWindow::tcpS_open);
    connect(networkPage, &NetworkPage::tcpS_close, this, &MainWindow::tcpS_close);
    connect(networkPage, &NetworkPage::tcpS_send, this, &MainWindow::tcpS_send);
    connect(networkPage, &NetworkPage::tcpS_kick, this, &MainWindow::tcpS_kick);
    connect(networkPage, &NetworkPage::udp_open, this, &MainWindow::udp_open);
    connect(networkPage, &NetworkPage::udp_close, this, &MainWindow::udp_close);
    connect(networkPage, &NetworkPage::udp_send, this, &MainWindow::udp_send);
}

void MainWindow::initSerialPage()
{
    serialPage = new SerialPage(ui, serialConsole, portLister, this);
    serialPage->init();
    connect(serialPage->loopTimer(), &QTimer::timeout, this, &MainWindow::on_SnedData_clicked);
}

void MainWindow::startSerialWorker()
{
    serialPage->createWorker();
    Serial *serialWorker = serialPage->worker();
    connect(this, &MainWindow::openSerial, serialWorker, &Serial::OpenSerial);
    connect(this, &MainWindow::closeSerial, serialWorker, &Serial::CloseSerial);
    connect(this, &MainWindow::sendMsg, serialWorker, &Serial::SerialWrite);
    connect(serialWorker, &Serial::message, this, &MainWindow::GetSerialData);
    connect(serialPage, &SerialPage::openSerial, this, &MainWindow::openSerial);
    connect(serialPage, &SerialPage::closeSerial, this, &MainWindow::closeSerial);
    connect(serialPage, &SerialPage::sendMsg, this, &MainWindow::sendMsg);
    serialPage->startWorker();
}

// Quick sends go to the open link of the page shown, through its own send path.
void MainWindow::setupQuickSend()
{
    quickSend = new QuickSendWindow(
        [this](const QuickSend &row) {
            return ui->stackedWidget->currentWidget() == ui->serialPage
                       ? serialPage->sendText(row.payload, row.hex, row.newLine)
                       : networkPage->sendText(row.payload, row.hex, row.newLine);
        },
        this);
    addActions(quickSend->keyActions());
    connect(networkPage, &NetworkPage::linkClosed, quickSend, &QuickSendWindow::linkClosed);
    connect(serialPage, &SerialPage::linkClosed, quickSend, &QuickSendWindow::linkClosed);
}

void MainWindow::showQuickSend()
{
    quickSend->show();
    quickSend->raise();
    quickSend->activateWindow();
}

// Mode switching.

void MainWindow::initNetworkPage()
{
    networkPage = new NetworkPage(ui, networkConsole, this);
    networkPage->init();

    protocolGroup = new QButtonGroup(this);
    protocolGroup->addButton(ui->TCPClient, int(Mode::TcpClient));
    protocolGroup->addButton(ui->TCPserver, int(Mode::TcpServer));
    protocolGroup->addButton(ui->UDPButton, int(Mode::Udp));
    protocolGroup->addButton(ui->serialButton, int(Mode::Serial));
    connect(protocolGroup, &QButtonGroup::buttonClicked, this, &MainWindow::onProtocolButtonClicked);

    ui->TCPClient->setChecked(true);
    currentProtocol = Mode::TcpClient;
    networkPage->showMode(Mode::TcpClient);
}

void MainWindow::onProtocolButtonClicked()
{
    static const char *const titles[] = { "TCP客户端", "TCP服务器", "UDP", "串口" };
    const int id = protocolGroup->checkedId();
    if (id < 0)
        return;
    currentProtocol = Mode(id);
    ui->titlelabel->setText(QString::fromUtf8(titles[id]));
    networkPage->showMode(currentProtocol);
}

void MainWindow::selectProtocol(Mode mode)
{
    protocolGroup->button(int(mode))->setChecked(true);
    ui->stackedWidget->setCurrentIndex(mode == Mode::Serial ? 1 : 0);
    onProtocolButtonClicked();
}

// The network page.

void MainWindow::on_Connect_clicked() { networkPage->open(); }
void MainWindow::on_Disconnect_clicked() { networkPage->close(); }
void MainWindow::on_Send_clicked() { networkPage->send(); }
void MainWindow::UpdateMsg(QByteArray message) { networkPage->showData(message, sender()); }
void MainWindow::UpdateDatagrams(QByteArrayList messages, QStringList senders) { networkPage->showDatagrams(messages, senders); }
void MainWindow::UpdateClientMsg(QByteArray message, QString client) { networkPage->showClientData(message, client); }
void MainWindow::LoopSend() { networkPage->send(SendOrigin::Loop); }
void MainWindow::on_Timer_Send_clicked() { networkPage->toggleLoop(); }
void MainWindow::on_ClearMessage_clicked() { networkPage->clearReceived(); }
void MainWindow::on_clear_send_cnt_clicked() { networkPage->clearCounters(); }
void MainWindow::UpdateClientsList(QString method, QString IP) { networkPage->updateClients(method, IP); }
void MainWindow::lookedUp(QHostInfo host) { networkPage->lookedUp(host); }
void MainWindow::UpdateClientsHint(QString message) { networkPage->showServerMessage(message); }
void MainWindow::on_Kick_clicked() { networkPage->kick(); }
void MainWindow::on_client_list_currentTextChanged(QString arg1) { networkPage->selectClient(arg1); }

void MainWindow::on_ActDnsAnalysis_triggered()
{
    QMessageBox::information(this, QStringLiteral("帮助信息"),
                             QStringLiteral("在目标地址写入域名，自动解析为IP地址并连接，如“example.com”。"
                                            "若域名对应多个IP地址，默认使用第一个有效地址。"
                                            "仅TCP客户端模式下可用！"));
}

// The serial page.

void MainWindow::on_SerialOpen_clicked() { serialPage->open(); }
void MainWindow::on_SerialClose_clicked() { serialPage->close(); }
// Also the serial loop timer's slot.
void MainWindow::on_SnedData_clicked()
{
    serialPage->send(sender() == serialPage->loopTimer() ? SendOrigin::Loop : SendOrigin::Button);
}
void MainWindow::GetSerialData(QByteArray Recive_msg) { serialPage->showData(Recive_msg, sender()); }
void MainWindow::on_SendClear_clicked() { serialPage->clearCounters(); }
void MainWindow::on_LoopSend_clicked() { serialPage->toggleLoop(); }
void MainWindow::Refresh_ComList() { serialPage->refreshPorts(); }

void MainWindow::on_resetButton_clicked()
{
    const auto answer = QMessageBox::question(
        this, QStringLiteral("确认重置"),
        QStringLiteral("确定要重置所有设置吗？\n这将清除全部配置，并使程序恢复到初始状态。"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    networkPage->close();
    serialPage->close();
    settings->reset();
    // Cleared boxes run no click handler, so the loops are stopped here.
    networkPage->stopLoop();
    serialPage->stopLoop();

    networkConsole->clear();
    ui->Send_msg->clear();
    serialConsole->clear();
    ui->DataToSend->clear();
    networkPage->clearCounters();
    serialPage->clearCounters();
    ui->client_list->clear();

    networkPage->discoverLocalAddress();
    QMessageBox::information(this, QStringLiteral("重置完成"), QStringLiteral("所有设置已恢复为默认状态。"));
}

// Window frame, keys and menu.

void MainWindow::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect frame(ui->frameMian->mapTo(this, QPoint(0, 0)), ui->frameMian->size());
    shadow.paint(painter, event->region(), frame, size());
}

void MainWindow::setupMenu()
{
    popupMenu = new QMenu(this);
    connect(popupMenu->addAction(QStringLiteral("特别提示")), &QAction::triggered,
            this, &MainWindow::on_ActDnsAnalysis_triggered);
    connect(popupMenu->addAction(tr("关于Quorvix")), &QAction::triggered,
            this, &MainWindow::on_ActAbout_triggered);
    connect(popupMenu->addAction(QStringLiteral("快捷发送…")), &QAction::triggered,
            this, &MainWindow::showQuickSend);
    connect(ui->menuButton, &QPushButton::clicked, this, &MainWindow::showMenu);
}

void MainWindow::showMenu()
{
    popupMenu->exec(ui->menuButton->mapToGlobal(QPoint(0, ui->menuButton->height())));
}

void MainWindow::on_ActAbout_triggered()
{
    AboutDialog dialog(this);
    dialog.exec();
}

void MainWindow::on_minButton_clicked()
{
    showMinimized();
}

void MainWindow::on_closeButton_clicked()
{
    const auto answer = QMessageBox::question(this, tr("确认退出"), tr("确定要退出 Quorvix 吗？"),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes)
        QCoreApplication::quit();
}

void MainWindow::keyPressEvent(QKeyEvent *key_event)
{
    if (key_event->key() == Qt::Key_F1) {
        if (currentProtocol != Mode::TcpServer) {
            QMessageBox::information(this, QStringLiteral("友情提示！"),
                                     QStringLiteral("别发呆了，快回去写代码吧！"));
        }
    } else if (key_event->key() == Qt::Key_Escape) {
        QMessageBox box;
        box.setWindowTitle(QStringLiteral("确认窗口"));
        box.setText(QStringLiteral("确定退出吗？"));
        box.addButton(QMessageBox::No);
        box.addButton(QMessageBox::Yes);
        if (box.exec() == QMessageBox::Yes)
            close();
    }
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QMainWindow::mousePressEvent(event);
        return;
    }
    const QPoint position = event->position().toPoint();
    const QPoint inHeader = ui->headerFrame->mapFrom(this, position);
    const QPoint inMenu = ui->frameMenu->mapFrom(this, position);
    if (!ui->headerFrame->rect().contains(inHeader) && !ui->frameMenu->rect().contains(inMenu)) {
        QMainWindow::mousePressEvent(event);
        return;
    }
    isDragging = true;
    dragStartPos = event->globalPosition().toPoint();
    windowStartPos = frameGeometry().topLeft();
    event->accept();
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (!isDragging || !(event->buttons() & Qt::LeftButton)) {
        QMainWindow::mouseMoveEvent(event);
        return;
    }
    move(event->globalPosition().toPoint() - dragStartPos + windowStartPos);
    event->accept();
}

void MainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && isDragging) {
        isDragging = false;
        event->accept();
        return;
    }
    QMainWindow::mouseReleaseEvent(event);
}
