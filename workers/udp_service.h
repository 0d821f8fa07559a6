#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "workers/readcredit.h"

class QTimer;
class QUdpSocket;

// The UDP mode's endpoint: one socket bound to a local port.
class UDP_Service : public QObject
{
    Q_OBJECT
public:
    explicit UDP_Service(QObject *parent = nullptr);
    ~UDP_Service() override;

    QUdpSocket *udpSocket;

signals:
    void UdpModeMsg(QByteArray message);
    void BindFailed(QString error);
    // Datagrams dropped in the last second because the window had not
    // caught up; reported at most once a second.
    void DatagramsDropped(quint64 count);
    // One per send request: the bytes the transport took, and why not all
    // of them when `error` is not empty.
    void SendResult(qint64 bytes, QString error);

public slots:
    void OpenUdp(quint16 local_port);
    void CloseUdp();
    void SendUdpMsg(QByteArray msg, QString obj_ip, quint16 obj_port);
    void ReadUdpMessage();
    // The window showed `bytes` that `source` handed over.
    void DataShown(QObject *source, qint64 bytes);

private:
    // A sender cannot be held back, so what exceeds the credit is dropped
    // and counted.
    ReadCredit credit;
    quint64 dropped = 0;
    QTimer *dropReport;
};
