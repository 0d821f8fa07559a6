#include "mainwindow/serialpage.h"
#include "ui_mainwindow.h"

#include "mainwindow/hexviewer.h"
#include "mainwindow/plainmessage.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/sendpanel.h"
#include "mainwindow/receivecounter.h"
#include "workers/serial.h"

#include <QLineEdit>
#include <QTimer>

namespace {

constexpr int portRefreshInterval = 500;

void fill(QComboBox *list, std::initializer_list<std::pair<const char *, int>> entries)
{
    for (const auto &[text, code] : entries)
        list->addItem(QString::fromLatin1(text), code);
}

qint8 code(const QComboBox *list)
{
    return qint8(list->currentData().toInt());
}

} // namespace

SerialPage::SerialPage(Ui::MainWindow *ui, ReceiveConsole *console, PortLister lister, QWidget *window)
    : QObject(window)
    , ui(ui)
    , console(console)
    , window(window)
    , lister(std::move(lister))
    , panel(new SendPanel({ ui->DataToSend, ui->SendHEX_2, ui->SendNewLine_2, ui->SendDisplay, ui->LoopSend,
                            ui->LoopSendPeriod, ui->SendCountLabel },
                          console, QStringLiteral("  Send："), window, this))
    , receiveCounter(new ReceiveCounter(ui->ReciveCountLabel, this))
    , hexViewer(new HexViewer(ui->DataRecive, QStringLiteral("串口"), window, this))
{
    connect(console, &ReceiveConsole::cleared, hexViewer, &HexViewer::clear);
}

SerialPage::~SerialPage() = default;

void SerialPage::init()
{
    ui->BaudrateList->addItems({ "1200", "2400", "4800", "9600", "19200", "38400", "57600",
                                 "76800", "115200", "128000", "256000", "512000" });
    fill(ui->DataBitsList, { { "8", 8 }, { "7", 7 }, { "6", 6 }, { "5", 5 } });
    fill(ui->StopBitsList, { { "1", 0 }, { "1.5", 1 }, { "2", 2 } });
    // The worker's parity codes follow Qt's order, not the list's.
    fill(ui->ParityList, { { "none", 0 }, { "odd", 2 }, { "even", 1 }, { "mark", 4 }, { "space", 3 } });
    fill(ui->FlowControlList, { { "NO", 0 }, { "RTS/CTS", 1 }, { "XON/XOFF", 2 } });

    // Typed paths are taken as they stand: no completion into a listed name.
    ui->SerialList->setCompleter(nullptr);
    connect(ui->SerialList, &QComboBox::activated, this,
            [this](int index) { preferredPort = ui->SerialList->itemText(index); });
    connect(ui->SerialList->lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString &text) { preferredPort = text; });

    portRefreshTimer = new QTimer(this);
    connect(portRefreshTimer, &QTimer::timeout, this, &SerialPage::refreshPorts);
    portRefreshTimer->start(portRefreshInterval);

    setState(LinkState::Closed);
    // Listed before the settings are restored, so a stored port can be chosen.
    refreshPorts();
}

void SerialPage::createWorker()
{
    serialWorker = new Serial;
    serialThread = std::make_unique<WorkerThread>(serialWorker, window, WorkerThread::WorkerEnd::DeletedWithThread);
    connect(serialWorker, &Serial::OpenFailed, this,
            [this](const QString &error) { portFailed(QStringLiteral("无法打开串口 %1\n%2").arg(ui->SerialList->currentText(), error)); });
    connect(serialWorker, &Serial::PortLost, this,
            [this](const QString &error) { portFailed(QStringLiteral("串口 %1 已断开\n%2").arg(ui->SerialList->currentText(), error)); });
    connect(serialWorker, &Serial::SendResult, panel, &SendPanel::reported);
    connect(serialWorker, &Serial::PortClosed, console, [this] { console->endOfStream(serialWorker); });
    console->returnCreditTo(serialWorker);
}

void SerialPage::startWorker()
{
    serialThread->start();
}

void SerialPage::shutDown()
{
    disconnect(serialWorker, nullptr, nullptr, nullptr);
    serialThread->stop();
    serialThread->deleteThread();
    serialThread->deleteWorker();
    serialWorker = nullptr;
}

QTimer *SerialPage::loopTimer() const
{
    return panel->loopTimer();
}

SerialPage::LineSettings SerialPage::lineSettings() const
{
    LineSettings settings;
    settings.port = ui->SerialList->currentText();
    settings.baud = ui->BaudrateList->currentText().toInt();
    settings.dataBits = code(ui->DataBitsList);
    settings.stopBits = code(ui->StopBitsList);
    settings.parity = code(ui->ParityList);
    settings.flow = code(ui->FlowControlList);
    return settings;
}

void SerialPage::preferPort(const QString &name)
{
    preferredPort = name;
    if (!name.isEmpty())
        showPreferredPort();
}

void SerialPage::showPreferredPort()
{
    const int index = ui->SerialList->findText(preferredPort, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        ui->SerialList->setCurrentIndex(index);
    else
        // A name the system does not list (yet), such as a pseudo-terminal's path.
        ui->SerialList->setEditText(preferredPort);
}

void SerialPage::refreshPorts()
{
    const QStringList present = lister();
    QStringList listed;
    for (int i = 0; i < ui->SerialList->count(); ++i)
        listed << ui->SerialList->itemText(i);
    if (present == listed)
        return;

    // Without a preference, the port shown stays shown while it is listed.
    const QString shown = ui->SerialList->currentText();
    ui->SerialList->clear();
    ui->SerialList->addItems(present);
    if (!preferredPort.isEmpty())
        showPreferredPort();
    else if (const int index = ui->SerialList->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive); index >= 0)
        ui->SerialList->setCurrentIndex(index);
}

void SerialPage::open()
{
    if (state != LinkState::Closed)
        return;
    const LineSettings settings = lineSettings();
    emit openSerial(settings.port, settings.baud, settings.dataBits, settings.stopBits, settings.parity,
                    settings.flow);
    setState(LinkState::Open);
    portRefreshTimer->stop();
}

void SerialPage::close()
{
    if (state != LinkState::Open)
        return;
    setState(LinkState::Closing);
    stopLoop();
    emit closeSerial();
    // The thread goes on, so what the worker said before the close may
    // still be on its way; until the fence, none of it concerns a later open.
    serialThread->fence(this, [] {});
    setState(LinkState::Closed);
    portRefreshTimer->start(portRefreshInterval);
    emit linkClosed();
}

void SerialPage::portFailed(const QString &text)
{
    if (state != LinkState::Open || serialThread->fencePending())
        return;
    close();
    PlainMessage::warning(window, QStringLiteral("串口错误"), text);
}

void SerialPage::setState(LinkState next)
{
    state = next;
    const bool closed = state == LinkState::Closed;
    for (QWidget *list : { ui->SerialList, ui->BaudrateList, ui->DataBitsList, ui->StopBitsList,
                           ui->ParityList, ui->FlowControlList })
        list->setEnabled(closed);
    ui->SerialOpen->setEnabled(closed);
    ui->SerialClose->setEnabled(state == LinkState::Open);
    ui->SnedData->setEnabled(state == LinkState::Open);
}

void SerialPage::send(SendOrigin origin)
{
    if (state != LinkState::Open)
        return;
    if (const std::optional<SendPanel::Request> request = panel->request(origin))
        hand(*request);
}

QString SerialPage::sendText(const QString &text, bool hex, bool newLine)
{
    if (state != LinkState::Open)
        return QStringLiteral("串口未打开");
    QString reason;
    const std::optional<SendPanel::Request> request = panel->compose(text, hex, newLine, &reason);
    if (!request)
        return reason;
    hand(*request);
    return QString();
}

void SerialPage::hand(const SendPanel::Request &request)
{
    emit sendMsg(request.bytes);
    panel->handedOver(request);
}

void SerialPage::toggleLoop()
{
    panel->toggleLoop();
}

void SerialPage::stopLoop()
{
    panel->stopLoop();
}

void SerialPage::showData(const QByteArray &bytes, QObject *source)
{
    if (bytes.isEmpty())
        return;
    receiveCounter->add(bytes.size());
    console->appendData(bytes, QStringLiteral("  Recive："), source);
    // The port list is fixed while the port is open.
    hexViewer->received(ui->SerialList->currentText(), bytes);
}

void SerialPage::clearCounters()
{
    receiveCounter->reset();
    panel->clearCount();
}
