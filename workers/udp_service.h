#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include "workers/readcredit.h"
#include "workers/socketdrops.h"

class QTimer;
class QUdpSocket;

// The UDP mode's endpoint: one socket bound to a local port.
class UDP_Service : public QObject
{
    Q_OBJECT
public:
    explicit UDP_Service(QObject *parent = nullptr);
    ~UDP_Service() override;

    // What the socket asks the system to buffer; it keeps what it is granted.
    static constexpr int ReceiveBufferSize = 4 * 1024 * 1024;
    // Datagrams handed over at most at once, so a sender that never pauses
    // still lets the window have them in good time.
    static constexpr int MaxBatch = 1024;

    QUdpSocket *udpSocket;

signals:
    // The datagrams of one read, in arrival order, each a message of its
    // own; `senders` names the sender of each as address:port.
    void UdpModeMsg(QByteArrayList messages, QStringList senders);
    void BindFailed(QString error);
    // Bound to `port`, which the system picked when 0 was asked for.
    void Bound(quint16 port);
    // Datagrams the system dropped for the socket, its buffer full, since
    // the last report; reported at most once a second.
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
    // Reads one batch; true when it was full, so more may be pending.
    bool readBatch(bool withinCredit);
    void noteDrops();
    QString senderName(const QHostAddress &address, quint16 port);

    // While the credit is spent the worker reads nothing, and the system's
    // buffer holds what comes meanwhile; what it cannot hold it drops and counts.
    ReadCredit credit;
    QByteArray buffer;
    SocketDrops systemDrops;
    quint64 dropped = 0;
    QTimer *dropReport;
    // The name of the last sender, made once for a run of its datagrams.
    QHostAddress lastAddress;
    quint16 lastPort = 0;
    QString lastName;
};
