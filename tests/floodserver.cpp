#include "tests/floodserver.h"

#include <QTcpServer>
#include <QTcpSocket>

FloodServer::FloodServer(QByteArray bytes)
    : payload(std::move(bytes))
{
    thread.start();
    moveToThread(&thread);
    QMetaObject::invokeMethod(this, [this] {
        server = new QTcpServer(this);
        server->listen(QHostAddress::LocalHost, 0);
        listeningPort = server->serverPort();
        connect(server, &QTcpServer::newConnection, this, &FloodServer::onNewConnection);
    }, Qt::BlockingQueuedConnection);
}

FloodServer::~FloodServer()
{
    QMetaObject::invokeMethod(this, [this] { delete server; server = nullptr; },
                              Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

void FloodServer::onNewConnection()
{
    client = server->nextPendingConnection();
    connect(client, &QTcpSocket::bytesWritten, this, [this](qint64 bytes) {
        writtenBytes += bytes;
        writeMore();
    });
    writeMore();
}

void FloodServer::writeMore()
{
    // Keeps a little queued so the socket is never idle, without copying
    // the whole payload into its buffer.
    constexpr qint64 piece = 256 * 1024;
    while (client->bytesToWrite() < 2 * piece) {
        const qint64 offset = writtenBytes + client->bytesToWrite();
        if (offset >= payload.size())
            return;
        const qint64 n = qMin(piece, payload.size() - offset);
        client->write(payload.constData() + offset, n);
    }
}
