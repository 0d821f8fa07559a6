#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include "workers/readcredit.h"
#include "workers/sendledger.h"

class QTcpServer;
class QTcpSocket;

// The TCP server mode's listener and its accepted clients, one entry per
// connection, keyed by peer address and port.
class TCP_Server : public QObject
{
    Q_OBJECT
public:
    explicit TCP_Server(QObject *parent = nullptr);

    QTcpServer *server;
    // The selected client; only meaningful while not all clients are selected.
    QPointer<QTcpSocket> currentClient;
    QHash<QString, QTcpSocket *> clients;

signals:
    // `client` names the connection the bytes came from, as address:port.
    void ClientsMsgToUI(QByteArray message, QString client);
    // `client` sends nothing more; its last bytes were reported before.
    void ClientClosed(QString client);
    void TcpServerMsgToUI(QString message);
    void UpdateClientsToUI(QString method, QString IP);
    void ListenFailed(QString error);
    // Listening on `port`, which the system picked when 0 was asked for.
    void Listening(quint16 port);
    // One per send request: the bytes the clients' sockets took, summed, and why not all
    // of them when `error` is not empty.
    void SendResult(qint64 bytes, QString error);

public slots:
    void StartListen(quint16 port);
    void StopListen();
    void SelectClient(QString ip);
    void KickClient(QString ip);
    void SendMessage(QByteArray msg);
    void HasClientConnect();
    void HasClientDisconnect();
    void ReciveClientMessage();
    // The window showed `bytes` that `source` handed over.
    void DataShown(QObject *source, qint64 bytes);

private:
    void readFrom(QTcpSocket *socket);
    // Hands over what is left to read as a client's link ends.
    void handOverTail(QTcpSocket *socket);

    // Shared by all clients: they feed one receive area.
    ReadCredit credit;
    SendLedger ledger;
    // Kept apart from currentClient so that a selected client that has gone
    // never turns a send into one to everybody.
    bool allClientsSelected = true;
};
