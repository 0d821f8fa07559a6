#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

#include "about/aboutdialog.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/throttledlabel.h"
#include "workers/serial.h"
#include "workers/tcp_client.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QKeyEvent>
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

// Moves a worker into its thread; the thread is started by its mode's Connect.
template<typename Worker>
QThread *threadFor(Worker *worker)
{
    auto *thread = new QThread;
    worker->moveToThread(thread);
    return thread;
}

} // namespace

MainWindow::MainWindow(QWidget *parent, PortLister portLister)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , portLister(portLister ? std::move(portLister) : PortLister(systemPortNames))
    , recordDirectory(QCoreApplication::applicationDirPath())
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
    netReceiveLabel = new ThrottledLabel(
        ui->Recive_cnt, [this] { return QStringLiteral("累计接收：%1").arg(netReceiveCount); }, this);
    serialReceiveLabel = new ThrottledLabel(
        ui->ReciveCountLabel, [this] { return QStringLiteral("累计接收：%1").arg(serialReceiveCount); }, this);

    initNetworkPage();
    setupMenu();
    setupWorkers();
    initSerialPage();
    loadSettings();
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
}

MainWindow::~MainWindow()
{
    // What the workers say while they are taken down must not reach a window
    // that is half gone.
    for (QObject *worker : { static_cast<QObject *>(udpService), static_cast<QObject *>(tcpClient),
                             static_cast<QObject *>(tcpServer), static_cast<QObject *>(serialWorker) })
        disconnect(worker, nullptr, nullptr, nullptr);

    stopWorkerThread(udpService, udpThread);
    stopWorkerThread(tcpServer, tcpServerThread);
    stopWorkerThread(tcpClient, tcpClientThread);
    delete udpThread;
    delete tcpServerThread;
    delete tcpClientThread;
    delete udpService;
    delete tcpClient;
    delete tcpServer;

    emit closeSerial();
    stopWorkerThread(serialWorker, serialThread);
    delete serialThread;

    delete loopTimer;
    delete serialLoopTimer;
    delete portRefreshTimer;

    saveSettings();
    delete ui;
}

void MainWindow::setRecordDirectory(const QString &directory)
{
    recordDirectory = directory;
}

void MainWindow::setupWorkers()
{
    loopTimer = new QTimer(this);
    connect(loopTimer, &QTimer::timeout, this, &MainWindow::LoopSend);

    udpService = new UDP_Service;
    udpThread = threadFor(udpService);
    connect(udpService, &UDP_Service::UdpModeMsg, this, &MainWindow::UpdateMsg);
    connect(udpService, &UDP_Service::BindFailed, this, &MainWindow::onBindFailed);
    connect(udpService, &UDP_Service::DatagramsDropped, this, &MainWindow::onDatagramsDropped);
    connect(networkConsole, &ReceiveConsole::dataShown, udpService, &UDP_Service::DataShown);
    connect(this, &MainWindow::udp_open, udpService, &UDP_Service::OpenUdp);
    connect(this, &MainWindow::udp_close, udpService, &UDP_Service::CloseUdp);
    connect(this, &MainWindow::udp_send, udpService, &UDP_Service::SendUdpMsg);

    tcpClient = new TCP_Client;
    tcpClientThread = threadFor(tcpClient);
    connect(tcpClient, &TCP_Client::TcpClientModeMsg, this, &MainWindow::UpdateMsg);
    connect(tcpClient, &TCP_Client::ConnectFailed, this, &MainWindow::onTcpConnectFailed);
    connect(tcpClient, &TCP_Client::ServerClosed, this, &MainWindow::onTcpServerClosed);
    connect(tcpClient, &TCP_Client::ServerClosed, networkConsole,
            [this] { networkConsole->endOfStream(tcpClient); });
    connect(networkConsole, &ReceiveConsole::dataShown, tcpClient, &TCP_Client::DataShown);
    connect(this, &MainWindow::tcpC_connect, tcpClient, &TCP_Client::ConnectToServer);
    connect(this, &MainWindow::tcpC_disconnect, tcpClient, &TCP_Client::DisconnectFromServer);
    connect(this, &MainWindow::tcpC_send, tcpClient, &TCP_Client::SendMessage);

    tcpServer = new TCP_Server;
    tcpServerThread = threadFor(tcpServer);
    connect(this, &MainWindow::tcpS_open, tcpServer, &TCP_Server::StartListen);
    connect(this, &MainWindow::tcpS_close, tcpServer, &TCP_Server::StopListen);
    connect(this, &MainWindow::tcpS_send, tcpServer, &TCP_Server::SendMessage);
    connect(this, &MainWindow::tcpS_kick, tcpServer, &TCP_Server::KickClient);
    connect(tcpServer, &TCP_Server::ClientsMsgToUI, this, &MainWindow::UpdateClientMsg);
    connect(tcpServer, &TCP_Server::ClientClosed, networkConsole,
            [this](const QString &client) { networkConsole->endOfStream(tcpServer, client); });
    connect(tcpServer, &TCP_Server::UpdateClientsToUI, this, &MainWindow::UpdateClientsList);
    connect(tcpServer, &TCP_Server::TcpServerMsgToUI, this, &MainWindow::UpdateClientsHint);
    connect(tcpServer, &TCP_Server::ListenFailed, this, &MainWindow::onListenFailed);
    connect(networkConsole, &ReceiveConsole::dataShown, tcpServer, &TCP_Server::DataShown);
}

void MainWindow::startSerialWorker()
{
    serialWorker = new Serial;
    serialThread = new QThread(this);
    serialWorker->moveToThread(serialThread);
    connect(serialThread, &QThread::finished, serialWorker, &QObject::deleteLater);
    connect(this, &MainWindow::openSerial, serialWorker, &Serial::OpenSerial);
    connect(this, &MainWindow::closeSerial, serialWorker, &Serial::CloseSerial);
    connect(this, &MainWindow::sendMsg, serialWorker, &Serial::SerialWrite);
    connect(serialWorker, &Serial::message, this, &MainWindow::GetSerialData);
    connect(serialWorker, &Serial::OpenFailed, this, &MainWindow::onSerialOpenFailed);
    connect(serialWorker, &Serial::PortLost, this, &MainWindow::onSerialPortLost);
    connect(serialWorker, &Serial::PortClosed, serialConsole,
            [this] { serialConsole->endOfStream(serialWorker); });
    connect(serialConsole, &ReceiveConsole::dataShown, serialWorker, &Serial::DataShown);
    serialThread->start(QThread::InheritPriority);
}

// Mode switching.

void MainWindow::initNetworkPage()
{
    netReceiveCount = 0;
    netSendCount = 0;
    discoverLocalAddress();

    ui->Send->setEnabled(false);
    ui->label_6->setVisible(false);
    ui->client_list->setVisible(false);
    ui->Kick->setVisible(false);
    ui->Local_Port->setEnabled(false);
    ui->Disconnect->setEnabled(false);

    protocolGroup = new QButtonGroup(this);
    protocolGroup->addButton(ui->TCPClient, 0);
    protocolGroup->addButton(ui->TCPserver, 1);
    protocolGroup->addButton(ui->UDPButton, 2);
    protocolGroup->addButton(ui->serialButton, 3);
    connect(protocolGroup, &QButtonGroup::buttonClicked, this, &MainWindow::onProtocolButtonClicked);

    ui->TCPClient->setChecked(true);
    currentProtocol = 0;
    applyProtocolMode(0);
}

void MainWindow::onProtocolButtonClicked()
{
    static const char *const titles[] = { "TCP客户端", "TCP服务器", "UDP", "串口" };
    const int mode = protocolGroup->checkedId();
    if (mode < 0)
        return;
    currentProtocol = mode;
    ui->titlelabel->setText(QString::fromUtf8(titles[mode]));
    if (mode <= 2)
        applyProtocolMode(mode);
}

// Selects a mode exactly as a click on its button does, without the click.
void MainWindow::selectProtocol(int mode)
{
    protocolGroup->button(mode)->setChecked(true);
    ui->stackedWidget->setCurrentIndex(mode == 3 ? 1 : 0);
    onProtocolButtonClicked();
}

void MainWindow::applyProtocolMode(int mode)
{
    switch (mode) {
    case 0:
        ui->Connect->setText(QStringLiteral("连接"));
        ui->Disconnect->setText(QStringLiteral("断开"));
        ui->UdpBroadcast->setEnabled(false);
        ui->Local_Port->setEnabled(false);
        ui->label_6->setVisible(false);
        ui->client_list->setVisible(false);
        ui->Kick->setVisible(false);
        ui->DnsAnalysis->setEnabled(true);
        break;
    case 1:
        ui->Connect->setText(QStringLiteral("打开"));
        ui->Disconnect->setText(QStringLiteral("关闭"));
        ui->label_6->setVisible(true);
        ui->client_list->setVisible(true);
        ui->Kick->setVisible(true);
        ui->Local_Port->setEnabled(true);
        ui->UdpBroadcast->setEnabled(false);
        ui->DnsAnalysis->setChecked(false);
        ui->DnsAnalysis->setEnabled(false);
        ui->client_list->clear();
        break;
    case 2:
        ui->Connect->setText(QStringLiteral("打开"));
        ui->Disconnect->setText(QStringLiteral("关闭"));
        ui->UdpBroadcast->setEnabled(true);
        ui->Local_Port->setEnabled(true);
        ui->label_6->setVisible(false);
        ui->client_list->setVisible(false);
        ui->Kick->setVisible(false);
        ui->DnsAnalysis->setChecked(false);
        ui->DnsAnalysis->setEnabled(false);
        break;
    default:
        break;
    }
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
        if (currentProtocol != 1) {
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
