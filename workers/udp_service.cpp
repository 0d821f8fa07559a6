#include "workers/udp_service.h"

#include "workers/peername.h"

#include <QDebug>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

#include <utility>

UDP_Service::UDP_Service(QObject *parent)
    : QObject(parent)
    , udpSocket(new QUdpSocket(this))
    // As large as a datagram can be.
    , buffer(64 * 1024, Qt::Uninitialized)
    , dropReport(new QTimer(this))
{
    connect(udpSocket, &QUdpSocket::readyRead, this, &UDP_Service::ReadUdpMessage);
    dropReport->setInterval(1000);
    connect(dropReport, &QTimer::timeout, this, [this] {
        noteDrops();
        if (dropped == 0) {
            dropReport->stop();
            return;
        }
        emit DatagramsDropped(std::exchange(dropped, 0));
    });
}

UDP_Service::~UDP_Service()
{
    if (udpSocket->isOpen())
        udpSocket->close();
}

void UDP_Service::OpenUdp(quint16 local_port)
{
    if (udpSocket->bind(QHostAddress::Any, local_port, QAbstractSocket::DefaultForPlatform)) {
        qDebug() << "bind success";
        udpSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, ReceiveBufferSize);
        qDebug() << "receive buffer"
                 << udpSocket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
        systemDrops.start(udpSocket->socketDescriptor());
        emit Bound(udpSocket->localPort());
    } else {
        qDebug() << "bind fail";
        emit BindFailed(udpSocket->errorString());
    }
}

void UDP_Service::CloseUdp()
{
    // What arrived before the close is still shown, whatever the credit:
    // nothing more comes, and the system's buffer bounds it.
    while (readBatch(false)) {
    }
    noteDrops();
    udpSocket->close();
    // The last second's drops are still told; nothing more can come.
    if (dropped > 0)
        emit DatagramsDropped(std::exchange(dropped, 0));
    dropReport->stop();
}

void UDP_Service::SendUdpMsg(QByteArray msg, QString obj_ip, quint16 obj_port)
{
    const QHostAddress target(obj_ip);
    if (target.isNull()) {
        emit SendResult(0, tr("目标地址“%1”不是 IP 地址").arg(obj_ip));
        return;
    }
    const qint64 written = udpSocket->writeDatagram(msg, target, obj_port);
    emit SendResult(qMax<qint64>(0, written), written == msg.size() ? QString() : udpSocket->errorString());
}

void UDP_Service::ReadUdpMessage()
{
    // What a full batch leaves brings another read-ready once the window had
    // its turn; what the credit leaves waits for DataShown.
    readBatch(true);
    noteDrops();
}

void UDP_Service::DataShown(QObject *source, qint64 bytes)
{
    if (source == this && credit.repay(bytes))
        ReadUdpMessage();
}

bool UDP_Service::readBatch(bool withinCredit)
{
    QByteArrayList messages;
    QStringList senders;
    // Read until there is none: asking first would cost a call to the
    // system per datagram.
    while (messages.size() < MaxBatch && (!withinCredit || credit.available() > 0)) {
        QHostAddress address;
        quint16 port = 0;
        const qint64 size = udpSocket->readDatagram(buffer.data(), buffer.size(), &address, &port);
        if (size < 0)
            break;
        messages.append(QByteArray(buffer.constData(), size));
        senders.append(senderName(address, port));
        credit.spend(size);
    }
    if (!messages.isEmpty()) {
        qDebug() << "udp message.";
        emit UdpModeMsg(messages, senders);
    }
    return messages.size() == MaxBatch;
}

void UDP_Service::noteDrops()
{
    dropped += systemDrops.take(udpSocket->socketDescriptor());
    if (dropped > 0 && !dropReport->isActive())
        dropReport->start();
}

QString UDP_Service::senderName(const QHostAddress &address, quint16 port)
{
    if (port != lastPort || address != lastAddress) {
        lastAddress = address;
        lastPort = port;
        lastName = peerName(address, port);
    }
    return lastName;
}
