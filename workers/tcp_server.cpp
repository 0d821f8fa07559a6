#include "workers/tcp_server.h"

#include "workers/linktail.h"
#include "workers/peername.h"
#include "workers/orderlyclose.h"

#include <QDebug>
#include <QTcpServer>
#include <QTcpSocket>

TCP_Server::TCP_Server(QObject *parent) : QObject(parent), server(new QTcpServer(this)), ledger(this)
{
    // A burst of clients must not overflow the system's queue of connections
    // not yet accepted: those would never be listed.
    server->setListenBacklogSize(1024);
    connect(server, &QTcpServer::newConnection, this, &TCP_Server::HasClientConnect);
    connect(&ledger, &SendLedger::reported, this, &TCP_Server::SendResult);
}

void TCP_Server::StartListen(quint16 port)
{
    if (server->listen(QHostAddress::Any, port))
        emit Listening(server->serverPort());
    else
        emit ListenFailed(server->errorString());
}

void TCP_Server::StopListen()
{
    // Every accepted connection, in the table or not. What it still holds
    // is handed over, and what was sent to it is delivered before it ends.
    const auto accepted = server->findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly);
    for (QTcpSocket *socket : accepted) {
        handOverTail(socket);
        closeOrderly(socket);
    }
    server->close();
}

void TCP_Server::SelectClient(QString ip)
{
    // A client that has left is still the one chosen: its sends are refused.
    currentClient = clients.value(ip);
    allClientsSelected = ip == QLatin1String("All Clients");
}

void TCP_Server::KickClient(QString ip)
{
    if (QTcpSocket *socket = clients.value(ip)) {
        handOverTail(socket);
        closeOrderly(socket);
    }
}

void TCP_Server::SendMessage(QByteArray msg)
{
    QList<QTcpSocket *> targets;
    if (!allClientsSelected)
        targets << currentClient.data();
    else
        targets = clients.values();
    targets.removeAll(nullptr);
    ledger.begin();
    if (targets.isEmpty())
        ledger.refuse(allClientsSelected ? tr("没有已连接的客户端") : tr("所选客户端已断开"));
    for (QTcpSocket *socket : std::as_const(targets)) {
        if (socket->state() == QAbstractSocket::ConnectedState)
            ledger.write(socket, msg);
        else
            ledger.refuse(socket->objectName() + QStringLiteral("：") + tr("已断开"));
    }
    ledger.end();
}

void TCP_Server::HasClientConnect()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        // Named once: the peer address of a socket that has gone is not
        // something to rely on.
        const QString key = peerName(socket->peerAddress(), socket->peerPort());
        socket->setObjectName(key);
        socket->setReadBufferSize(ReadCredit::TransportBuffer);
        connect(socket, &QTcpSocket::readyRead, this, &TCP_Server::ReciveClientMessage);
        connect(socket, &QTcpSocket::disconnected, this, &TCP_Server::HasClientDisconnect);
        emit TcpServerMsgToUI(QStringLiteral("New Client:") + key + QStringLiteral(" connected!"));
        emit UpdateClientsToUI(QStringLiteral("join"), key);
        clients.insert(key, socket);
        qDebug() << "现在有" << clients.size() << "个客户端";
    }
}

void TCP_Server::HasClientDisconnect()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || socket->state() != QAbstractSocket::UnconnectedState)
        return;
    // Deleted only once its last bytes are on their way to the window.
    handOverTail(socket);
    const QString key = socket->objectName();
    emit ClientClosed(key);
    if (clients.value(key) == socket)
        clients.remove(key);
    emit TcpServerMsgToUI(QStringLiteral("Client:") + key + QStringLiteral(" left!"));
    emit UpdateClientsToUI(QStringLiteral("leave"), key);
    socket->deleteLater();
}

void TCP_Server::ReciveClientMessage()
{
    if (auto *socket = qobject_cast<QTcpSocket *>(sender()))
        readFrom(socket);
}

void TCP_Server::DataShown(QObject *source, qint64 bytes)
{
    if (source != this || !credit.repay(bytes))
        return;
    const auto accepted = server->findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly);
    for (QTcpSocket *socket : accepted)
        readFrom(socket);
}

void TCP_Server::readFrom(QTcpSocket *socket)
{
    const qint64 size = credit.toRead(socket->bytesAvailable());
    if (size <= 0)
        return;
    credit.spend(size);
    emit ClientsMsgToUI(socket->read(size), socket->objectName());
}

// The credit does not hold back a tail: the link is ending, and what the
// socket holds is bounded by its buffer and the system's.
void TCP_Server::handOverTail(QTcpSocket *socket)
{
    const QByteArray tail = readTail(socket, ReadCredit::TransportBuffer);
    if (tail.isEmpty())
        return;
    credit.spend(tail.size());
    emit ClientsMsgToUI(tail, socket->objectName());
}
