#include "tests/floodpeer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

FloodPeer::FloodPeer(QByteArray bytes, FloodOptions options)
    : payload(std::move(bytes))
    , options(options)
{
    start([this] {
        server = new QTcpServer(this);
        server->listen(QHostAddress::LocalHost, 0);
        listeningPort = server->serverPort();
        connect(server, &QTcpServer::newConnection, this, [this] {
            socket = server->nextPendingConnection();
            startWriting();
        });
    });
}

FloodPeer::FloodPeer(quint16 port, QByteArray bytes, FloodOptions options)
    : payload(std::move(bytes))
    , options(options)
{
    start([this, port] {
        socket = new QTcpSocket(this);
        connect(socket, &QTcpSocket::connected, this, &FloodPeer::startWriting);
        // Refused until the other side listens: try again shortly.
        connect(socket, &QTcpSocket::errorOccurred, this, [this, port](QAbstractSocket::SocketError error) {
            if (error == QAbstractSocket::ConnectionRefusedError)
                QTimer::singleShot(10, socket, [this, port] { socket->connectToHost(QHostAddress::LocalHost, port); });
        });
        socket->connectToHost(QHostAddress::LocalHost, port);
    });
}

FloodPeer::~FloodPeer()
{
    QMetaObject::invokeMethod(this, [this] {
        delete socket;
        delete server;
    }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

void FloodPeer::start(const std::function<void()> &setUp)
{
    thread.start();
    moveToThread(&thread);
    QMetaObject::invokeMethod(this, setUp, Qt::BlockingQueuedConnection);
}

void FloodPeer::startWriting()
{
    connect(socket, &QTcpSocket::bytesWritten, this, [this](qint64 bytes) {
        writtenBytes += bytes;
        writeMore();
    });
    writeMore();
}

void FloodPeer::writeMore()
{
    // Keeps some queued so the socket is never idle, without copying the
    // whole payload into its buffer.
    constexpr qint64 queued = 512 * 1024;
    while (socket->bytesToWrite() < queued) {
        const qint64 offset = writtenBytes + socket->bytesToWrite();
        if (offset >= payload.size()) {
            if (options.closeWhenDone && socket->state() == QAbstractSocket::ConnectedState)
                socket->disconnectFromHost();
            return;
        }
        const qint64 n = qMin(options.writeSize, payload.size() - offset);
        socket->write(payload.constData() + offset, n);
    }
}
