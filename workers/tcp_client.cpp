#include "workers/tcp_client.h"

#include "workers/linktail.h"
#include "workers/orderlyclose.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

TCP_Client::TCP_Client(QObject *parent)
    : QObject(parent), socket(nullptr), connectTimer(new QTimer(this)), ledger(this)
{
    connectTimer->setSingleShot(true);
    connectTimer->setInterval(30000);
    connect(&ledger, &SendLedger::reported, this, &TCP_Client::SendResult);
    connect(connectTimer, &QTimer::timeout, this, [this] {
        socket->abort();
        failAttempt(QAbstractSocket::tr("Socket operation timed out"));
    });
    socket = createSocket();
}

QTcpSocket *TCP_Client::createSocket()
{
    auto *created = new QTcpSocket(this);
    created->setReadBufferSize(ReadCredit::TransportBuffer);

    connect(created, &QTcpSocket::readyRead, this, &TCP_Client::ReadMessage);
    // The link's last bytes go out before the news that it ended. Only the
    // far side's close is news; one asked for here is not.
    connect(created, &QTcpSocket::disconnected, this, [this] {
        handOverTail();
        if (!closeRequested)
            emit ServerClosed();
    });
    connect(created, &QTcpSocket::connected, connectTimer, &QTimer::stop);
    // Errors of an established link end in disconnected; only those of an
    // attempt are a failed connect.
    connect(created, &QTcpSocket::errorOccurred, this, [this] {
        if (connectTimer->isActive())
            failAttempt(socket->errorString());
    });
    return created;
}

TCP_Client::~TCP_Client()
{
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->close();
}

void TCP_Client::setConnectTimeout(int ms)
{
    connectTimer->setInterval(ms);
}

bool TCP_Client::ConnectToServer(QString Server_ip, quint16 Server_port)
{
    // A new target replaces whatever link or attempt there was; the end of
    // an old one is no end of the new one. One still delivering what a
    // Disconnect left it goes on alone.
    if (socket->state() == QAbstractSocket::ClosingState) {
        disconnect(socket, nullptr, this, nullptr);
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        socket = createSocket();
    } else {
        {
            const QSignalBlocker quiet(socket);
            socket->abort();
        }
        ledger.ended(socket);
    }
    closeRequested = false;
    connectTimer->start();
    socket->connectToHost(QHostAddress(Server_ip), Server_port, QIODevice::ReadWrite);
    return socket->state() != QAbstractSocket::UnconnectedState;
}

void TCP_Client::DisconnectFromServer()
{
    closeRequested = true;
    connectTimer->stop();
    // close() would merely postpone the end of an attempt until it connects.
    if (socket->state() == QAbstractSocket::ConnectedState) {
        handOverTail();
        closeOrderly(socket);
    } else {
        socket->abort();
    }
}

void TCP_Client::SendMessage(QByteArray msg)
{
    // Not while connecting: the bytes would be lost if the attempt failed.
    ledger.begin();
    if (socket->state() == QAbstractSocket::ConnectedState)
        ledger.write(socket, msg);
    else
        ledger.refuse(tr("未连接到服务器"));
    ledger.end();
}

void TCP_Client::ReadMessage()
{
    const qint64 size = credit.toRead(socket->bytesAvailable());
    if (size <= 0)
        return;
    credit.spend(size);
    emit TcpClientModeMsg(socket->read(size));
}

// The credit does not hold back a tail: the link is ending, and what the
// socket holds is bounded by its buffer and the system's.
void TCP_Client::handOverTail()
{
    const QByteArray tail = readTail(socket, ReadCredit::TransportBuffer);
    if (tail.isEmpty())
        return;
    credit.spend(tail.size());
    emit TcpClientModeMsg(tail);
}

void TCP_Client::DataShown(QObject *source, qint64 bytes)
{
    if (source == this && credit.repay(bytes))
        ReadMessage();
}

void TCP_Client::failAttempt(const QString &error)
{
    connectTimer->stop();
    emit ConnectFailed(error);
}
