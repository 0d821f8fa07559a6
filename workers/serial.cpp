#include "workers/serial.h"

#include "workers/linktail.h"

#include <QSerialPort>

namespace {

QSerialPort::DataBits dataBitsFor(qint8 code)
{
    switch (code) {
    case 5: return QSerialPort::Data5;
    case 6: return QSerialPort::Data6;
    case 7: return QSerialPort::Data7;
    default: return QSerialPort::Data8;
    }
}

// Codes are the indices of the page's list: "1", "1.5", "2".
QSerialPort::StopBits stopBitsFor(qint8 code)
{
    switch (code) {
    case 1: return QSerialPort::OneAndHalfStop;
    case 2: return QSerialPort::TwoStop;
    default: return QSerialPort::OneStop;
    }
}

// Codes follow the order of Qt's parity values, not the page's list.
QSerialPort::Parity parityFor(qint8 code)
{
    switch (code) {
    case 1: return QSerialPort::EvenParity;
    case 2: return QSerialPort::OddParity;
    case 3: return QSerialPort::SpaceParity;
    case 4: return QSerialPort::MarkParity;
    default: return QSerialPort::NoParity;
    }
}

QSerialPort::FlowControl flowControlFor(qint8 code)
{
    switch (code) {
    case 1: return QSerialPort::HardwareControl;
    case 2: return QSerialPort::SoftwareControl;
    default: return QSerialPort::NoFlowControl;
    }
}

// The page's words for the values, for naming a refused setting.
QString parityLabel(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::EvenParity: return QStringLiteral("even");
    case QSerialPort::OddParity: return QStringLiteral("odd");
    case QSerialPort::SpaceParity: return QStringLiteral("space");
    case QSerialPort::MarkParity: return QStringLiteral("mark");
    default: return QStringLiteral("none");
    }
}

QString flowControlLabel(QSerialPort::FlowControl flowControl)
{
    switch (flowControl) {
    case QSerialPort::HardwareControl: return QStringLiteral("RTS/CTS");
    case QSerialPort::SoftwareControl: return QStringLiteral("XON/XOFF");
    default: return QStringLiteral("NO");
    }
}

} // namespace

Serial::Serial(QObject *parent) : QObject(parent), serialPort(new QSerialPort(this)), ledger(this)
{
    connect(&ledger, &SendLedger::reported, this, &Serial::SendResult);
    serialPort->setReadBufferSize(ReadCredit::TransportBuffer);
    connect(serialPort, &QSerialPort::readyRead, this, &Serial::SerialRead);
    // A device that went away shows as a resource error, or as a read error
    // (end of file) that Qt would otherwise report again on every turn of the
    // event loop; either way nothing more will come through the port.
    connect(serialPort, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        const bool linkEnded = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
        if (!linkEnded || !serialPort->isOpen())
            return;
        const QString text = serialPort->errorString();
        // Only what was read already: the device itself is gone.
        handOver(serialPort->readAll());
        serialPort->close();
        emit PortClosed();
        emit PortLost(text);
    });
}

Serial::~Serial()
{
    CloseSerial();
}

void Serial::OpenSerial(QString PortName, int BaudRate, qint8 DataBits, qint8 StopBits,
                        qint8 Parity, qint8 FlowControl)
{
    serialPort->setPortName(PortName);
    if (!serialPort->open(QIODevice::ReadWrite)) {
        emit OpenFailed(serialPort->errorString());
        return;
    }
    // A port left open with settings it refused would look fine and garble
    // every byte, so a refusal closes it again.
    const auto stopBits = stopBitsFor(StopBits);
    const auto parity = parityFor(Parity);
    const auto flowControl = flowControlFor(FlowControl);
    QString refused;
    if (!serialPort->setBaudRate(BaudRate, QSerialPort::AllDirections))
        refused = tr("波特率 %1").arg(BaudRate);
    else if (!serialPort->setDataBits(dataBitsFor(DataBits)))
        refused = tr("数据位 %1").arg(int(dataBitsFor(DataBits)));
    else if (!serialPort->setStopBits(stopBits))
        refused = tr("停止位 %1").arg(stopBits == QSerialPort::OneAndHalfStop ? QStringLiteral("1.5")
                                                                              : QString::number(stopBits));
    else if (!serialPort->setParity(parity))
        refused = tr("校验位 %1").arg(parityLabel(parity));
    else if (!serialPort->setFlowControl(flowControl))
        refused = tr("流控制 %1").arg(flowControlLabel(flowControl));
    if (refused.isEmpty())
        return;
    const QString reason = serialPort->errorString();
    CloseSerial();
    emit OpenFailed(tr("%1 不被串口接受：%2").arg(refused, reason));
}

void Serial::CloseSerial()
{
    if (!serialPort->isOpen())
        return;
    // Output not yet sent is dropped first: waiting for input would send it.
    // What the port already wrote counts, though Qt has not said so yet.
    ledger.settle(serialPort);
    serialPort->clear(QSerialPort::Output);
    handOver(readTail(serialPort, ReadCredit::TransportBuffer));
    serialPort->close();
    emit PortClosed();
}

void Serial::SerialWrite(QByteArray data)
{
    ledger.begin();
    if (serialPort->isOpen())
        ledger.write(serialPort, data);
    else
        ledger.refuse(tr("串口未打开"));
    ledger.end();
}

void Serial::SerialRead()
{
    const qint64 size = credit.toRead(serialPort->bytesAvailable());
    if (size <= 0)
        return;
    credit.spend(size);
    emit message(serialPort->read(size));
}

// The credit does not hold back a tail: the port is closing, and what it
// holds is bounded by its buffer and the driver's.
void Serial::handOver(const QByteArray &tail)
{
    if (tail.isEmpty())
        return;
    credit.spend(tail.size());
    emit message(tail);
}

void Serial::DataShown(QObject *source, qint64 bytes)
{
    if (source == this && credit.repay(bytes))
        SerialRead();
}
