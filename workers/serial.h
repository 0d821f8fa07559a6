#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "workers/readcredit.h"
#include "workers/sendledger.h"

class QSerialPort;

// The serial page's port, opened by name with the page's line-setting codes.
class Serial : public QObject
{
    Q_OBJECT
public:
    explicit Serial(QObject *parent = nullptr);
    ~Serial() override;

    QSerialPort *serialPort;

signals:
    void message(QByteArray data);
    void OpenFailed(QString error);
    void PortLost(QString error);
    // One per send request: the bytes the transport took, and why not all
    // of them when `error` is not empty.
    void SendResult(qint64 bytes, QString error);
    // The port closed, asked to or lost; all it delivered was reported before.
    void PortClosed();

public slots:
    void OpenSerial(QString PortName, int BaudRate, qint8 DataBits, qint8 StopBits, qint8 Parity,
                    qint8 FlowControl);
    void CloseSerial();
    void SerialWrite(QByteArray data);
    void SerialRead();
    // The window showed `bytes` that `source` handed over.
    void DataShown(QObject *source, qint64 bytes);

private:
    void handOver(const QByteArray &tail);

    ReadCredit credit;
    SendLedger ledger;
};
