#include "bench/floodpeers.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <chrono>

namespace {

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

FloodPeer::FloodPeer(QByteArray bytes, qint64 writeSize)
    : FloodPeer(bytes.size(), [bytes](qint64 from, qint64 size) { return bytes.mid(from, size); }, writeSize)
{
}

FloodPeer::FloodPeer(qint64 total, Slice slice, qint64 writeSize, bool eachOwnWrite)
    : total(total)
    , slice(std::move(slice))
    , writeSize(writeSize)
    , eachOwnWrite(eachOwnWrite)
{
    thread.start();
    moveToThread(&thread);
    QMetaObject::invokeMethod(this, [this] {
        server = new QTcpServer(this);
        server->listen(QHostAddress::LocalHost, 0);
        listeningPort = server->serverPort();
        connect(server, &QTcpServer::newConnection, this, [this] {
            socket = server->nextPendingConnection();
            if (this->eachOwnWrite)
                socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connect(socket, &QTcpSocket::bytesWritten, this, &FloodPeer::writeMore);
            writeMore();
        });
    }, Qt::BlockingQueuedConnection);
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

void FloodPeer::writeMore()
{
    // Keeps some queued so the socket is never idle, without copying the
    // whole payload into its buffer.
    constexpr qint64 queued = 512 * 1024;
    while (socket->bytesToWrite() < queued && handedOver < total) {
        const qint64 n = qMin(writeSize, total - handedOver);
        socket->write(slice(handedOver, n));
        handedOver += n;
        if (eachOwnWrite)
            socket->flush();
    }
}

CountingDrain::CountingDrain(quint16 port, qint64 expectedBytes)
    : expected(expectedBytes)
{
    thread.start();
    moveToThread(&thread);
    QMetaObject::invokeMethod(this, [this, port] {
        auto *socket = new QTcpSocket(this);
        auto received = std::make_shared<qint64>(0);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, received] {
            const qint64 n = socket->readAll().size();
            if (*received == 0)
                firstNs = nowNs();
            *received += n;
            if (*received >= expected) {
                lastNs = nowNs();
                done = true;
            }
        });
        socket->connectToHost(QHostAddress::LocalHost, port);
    });
}

CountingDrain::~CountingDrain()
{
    thread.quit();
    thread.wait();
}

double CountingDrain::waitMilliseconds()
{
    while (!done)
        QThread::msleep(5);
    return double(lastNs - firstNs) / 1e6;
}

void UdpStorm::run()
{
    constexpr int burst = 500;
    QUdpSocket socket;
    const QByteArray datagram(size, 'u');
    QElapsedTimer clock;
    clock.start();
    for (int sent = 0; sent < count; ++sent) {
        // Every datagram leaves, so each one is shown or reported dropped.
        while (socket.writeDatagram(datagram, QHostAddress::LocalHost, port) < 0)
            QThread::yieldCurrentThread();
        if (perSecond > 0 && sent % burst == burst - 1) {
            // Each burst leaves at its time, whatever the last one cost.
            const qint64 dueUs = qint64(sent + 1) * 1000000 / perSecond;
            const qint64 nowUs = clock.nsecsElapsed() / 1000;
            if (dueUs > nowUs)
                QThread::usleep(dueUs - nowUs);
        }
    }
}

CountingUdpDrain::CountingUdpDrain(int receiveBufferSize)
{
    thread.start();
    moveToThread(&thread);
    QMetaObject::invokeMethod(this, [this, receiveBufferSize] {
        auto *socket = new QUdpSocket(this);
        socket->bind(QHostAddress::LocalHost, 0);
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferSize);
        boundPort = socket->localPort();
        auto buffer = std::make_shared<QByteArray>(64 * 1024, Qt::Uninitialized);
        connect(socket, &QUdpSocket::readyRead, this, [this, socket, buffer] {
            while (socket->readDatagram(buffer->data(), buffer->size()) >= 0)
                ++count;
        });
    }, Qt::BlockingQueuedConnection);
}

CountingUdpDrain::~CountingUdpDrain()
{
    thread.quit();
    thread.wait();
}
