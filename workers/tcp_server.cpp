#include "workers/tcp_server.h"

#include "workers/linktail.h"

#include <QDebug>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

QString keyOf(const QTcpSocket *socket)
{
    return socket->peerAddress().toString();
}

QString peerText(const QTcpSocket *socket)
{
    return keyOf(socket) + QLatin1Char(':') + QString::number(socket->peerPort());
}

} // namespace

TCP_Server::TCP_Server(QObject *parent) : QObject(parent), server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &TCP_Server::HasClientConnect);
}

void TCP_Server::StartListen(quint16 port)
{
    if (!server->listen(QHostAddress::Any, port))
        emit ListenFailed(server->errorString());
}

void TCP_Server::StopListen()
{
    // Every accepted connection, also those replaced in the table by a newer
    // one from the same address. What it still holds is handed over and
    // queued output goes out first; abort then ends the link even if the
    // peer does not read it.
    const auto accepted = server->findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly);
    for (QTcpSocket *socket : accepted) {
        handOverTail(socket);
        socket->flush();
        socket->abort();
    }
    server->close();
}

void TCP_Server::SelectClient(QString ip)
{
    currentClient = clients.value(ip);
    allClientsSelected = currentClient.isNull();
}

void TCP_Server::KickClient(QString ip)
{
    if (QTcpSocket *socket = clients.value(ip)) {
        handOverTail(socket);
        socket->close();
    }
}

void TCP_Server::SendMessage(QByteArray msg)
{
    if (!allClientsSelected) {
        if (currentClient)
            currentClient->write(msg);
        return;
    }
    for (QTcpSocket *socket : std::as_const(clients))
        socket->write(msg);
}

void TCP_Server::HasClientConnect()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        const QString key = keyOf(socket);
        socket->setReadBufferSize(ReadCredit::TransportBuffer);
        connect(socket, &QTcpSocket::readyRead, this, &TCP_Server::ReciveClientMessage);
        connect(socket, &QTcpSocket::disconnected, this, &TCP_Server::HasClientDisconnect);
        emit TcpServerMsgToUI(QStringLiteral("New Client:") + peerText(socket)
                              + QStringLiteral(" connected!"));
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
    emit ClientClosed(peerText(socket));
    const QString key = keyOf(socket);
    if (clients.value(key) == socket)
        clients.remove(key);
    emit TcpServerMsgToUI(QStringLiteral("Client:") + peerText(socket) + QStringLiteral(" left!"));
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
    const qint64 size = qMin(socket->bytesAvailable(), credit.available());
    if (size <= 0)
        return;
    credit.spend(size);
    emit ClientsMsgToUI(socket->read(size), peerText(socket));
}

// The credit does not hold back a tail: the link is ending, and what the
// socket holds is bounded by its buffer and the system's.
void TCP_Server::handOverTail(QTcpSocket *socket)
{
    const QByteArray tail = readTail(socket, ReadCredit::TransportBuffer);
    if (tail.isEmpty())
        return;
    credit.spend(tail.size());
    emit ClientsMsgToUI(tail, peerText(socket));
}
