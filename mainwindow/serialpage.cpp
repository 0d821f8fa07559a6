// The serial page: port parameters, opening and closing, the port list,
// sending and the receive display.

#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

#include "mainwindow/payload.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/throttledlabel.h"

#include <QMessageBox>
#include <QTimer>

namespace {

const QString serialReceiveStamp = QStringLiteral("  Recive：");
const QString serialSendStamp = QStringLiteral("  Send：");
constexpr int portRefreshInterval = 500;

// The parity list's order is not the worker's code order: none, odd, even,
// mark, space map to the codes 0, 2, 1, 4, 3.
constexpr qint8 parityCodes[] = { 0, 2, 1, 4, 3 };

} // namespace

void MainWindow::initSerialPage()
{
    ui->BaudrateList->addItems({ "1200", "2400", "4800", "9600", "19200", "38400", "57600",
                                 "76800", "115200", "128000", "256000", "512000" });
    ui->DataBitsList->addItems({ "8", "7", "6", "5" });
    ui->StopBitsList->addItems({ "1", "1.5", "2" });
    ui->ParityList->addItems({ "none", "odd", "even", "mark", "space" });
    ui->FlowControlList->addItems({ "NO", "RTS/CTS", "XON/XOFF" });

    serialLoopTimer = new QTimer(this);
    connect(serialLoopTimer, &QTimer::timeout, this, &MainWindow::on_SnedData_clicked);

    portRefreshTimer = new QTimer(this);
    connect(portRefreshTimer, &QTimer::timeout, this, &MainWindow::Refresh_ComList);
    portRefreshTimer->start(portRefreshInterval);

    ui->SnedData->setEnabled(false);
    ui->SerialClose->setEnabled(false);

    // Listed before the settings are restored, so a stored port can be chosen.
    Refresh_ComList();
}

void MainWindow::Refresh_ComList()
{
    const QStringList present = portLister();
    QStringList listed;
    for (int i = 0; i < ui->SerialList->count(); ++i)
        listed << ui->SerialList->itemText(i);
    if (present == listed)
        return;

    // The port the user chose, or the stored one until it first shows up.
    const QString wanted = wantedPortName.isEmpty() ? ui->SerialList->currentText() : wantedPortName;
    ui->SerialList->clear();
    ui->SerialList->addItems(present);
    const int index = ui->SerialList->findText(wanted);
    if (index >= 0) {
        ui->SerialList->setCurrentIndex(index);
        wantedPortName.clear();
    }
}

void MainWindow::on_SerialOpen_clicked()
{
    const int parityIndex = ui->ParityList->currentIndex();
    const qint8 parity = parityIndex >= 0 && parityIndex < int(std::size(parityCodes))
        ? parityCodes[parityIndex] : qint8(0);
    wantedPortName.clear();
    emit openSerial(ui->SerialList->currentText(),
                    ui->BaudrateList->currentText().toInt(),
                    qint8(ui->DataBitsList->currentText().toInt()),
                    qint8(ui->StopBitsList->currentIndex()),
                    parity,
                    qint8(ui->FlowControlList->currentIndex()));
    setSerialOpenState();
    portRefreshTimer->stop();
}

void MainWindow::on_SerialClose_clicked()
{
    emit closeSerial();
    closeSerialPage();
}

// The page's closed arrangement, with the port list kept current again.
void MainWindow::closeSerialPage()
{
    setSerialClosedState();
    portRefreshTimer->start(portRefreshInterval);
}

void MainWindow::setSerialOpenState()
{
    for (QWidget *list : { ui->SerialList, ui->BaudrateList, ui->DataBitsList, ui->StopBitsList,
                           ui->ParityList, ui->FlowControlList })
        list->setEnabled(false);
    ui->SerialOpen->setEnabled(false);
    ui->SerialClose->setEnabled(true);
    ui->SnedData->setEnabled(true);
}

void MainWindow::setSerialClosedState()
{
    for (QWidget *list : { ui->SerialList, ui->BaudrateList, ui->DataBitsList, ui->StopBitsList,
                           ui->ParityList, ui->FlowControlList })
        list->setEnabled(true);
    ui->SerialOpen->setEnabled(true);
    ui->SerialClose->setEnabled(false);
    ui->SnedData->setEnabled(false);
}

bool MainWindow::serialPortOpen() const
{
    return ui->SerialClose->isEnabled();
}

void MainWindow::reportSerialFailure(const QString &text)
{
    if (!serialPortOpen())
        return;
    closeSerialPage();
    QMessageBox::warning(this, QStringLiteral("串口错误"), text);
}

void MainWindow::onSerialOpenFailed(QString error)
{
    reportSerialFailure(QStringLiteral("无法打开串口 %1\n%2").arg(ui->SerialList->currentText(), error));
}

void MainWindow::onSerialPortLost(QString error)
{
    reportSerialFailure(QStringLiteral("串口 %1 已断开\n%2").arg(ui->SerialList->currentText(), error));
}

void MainWindow::on_SnedData_clicked()
{
    if (!serialPortOpen())
        return;
    const QString text = sendText(ui->DataToSend, ui->SendNewLine_2->isChecked());
    const QByteArray bytes = encodePayload(text, ui->SendHEX_2->isChecked());
    serialSendCount += quint64(bytes.size());
    updateSerialCounters();
    emit sendMsg(bytes);
    if (ui->SendDisplay->isChecked())
        serialConsole->appendMessage(text, serialSendStamp);
}

void MainWindow::on_LoopSend_clicked()
{
    toggleLoop(serialLoopTimer, ui->LoopSend, ui->LoopSendPeriod->text());
}

void MainWindow::GetSerialData(QByteArray Recive_msg)
{
    if (Recive_msg.isEmpty())
        return;
    serialReceiveCount += quint64(Recive_msg.size());
    serialReceiveLabel->showSoon();
    serialConsole->appendData(Recive_msg, serialReceiveStamp, sender());
}

void MainWindow::updateSerialCounters()
{
    serialReceiveLabel->showNow();
    ui->SendCountLabel->setText(QStringLiteral("累计发送：%1").arg(serialSendCount));
}

void MainWindow::on_SendClear_clicked()
{
    serialReceiveCount = 0;
    serialSendCount = 0;
    updateSerialCounters();
}
