#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "workers/readcredit.h"
#include "workers/sendledger.h"

class QTcpSocket;
class QTimer;

// The TCP client mode's link: one socket, connected without ever blocking
// the worker's thread.
class TCP_Client : public QObject
{
    Q_OBJECT
public:
    explicit TCP_Client(QObject *parent = nullptr);
    ~TCP_Client() override;

    // How long a connection attempt may take before it is abandoned.
    void setConnectTimeout(int ms);

    QTcpSocket *socket;

signals:
    void TcpClientModeMsg(QByteArray message);
    void ServerClosed();
    void ConnectFailed(QString error);
    // One per send request: the bytes the transport took, and why not all
    // of them when `error` is not empty.
    void SendResult(qint64 bytes, QString error);

public slots:
    bool ConnectToServer(QString Server_ip, quint16 Server_port);
    void DisconnectFromServer();
    void SendMessage(QByteArray msg);
    void ReadMessage();
    // The window showed `bytes` that `source` handed over.
    void DataShown(QObject *source, qint64 bytes);

private:
    QTcpSocket *createSocket();
    void failAttempt(const QString &error);
    // Hands over what is left to read as the link ends.
    void handOverTail();

    // Active exactly while an attempt is under way.
    QTimer *connectTimer;
    ReadCredit credit;
    SendLedger ledger;
    // Set by a Disconnect until the next connect: the link's end is expected.
    bool closeRequested = false;
};
