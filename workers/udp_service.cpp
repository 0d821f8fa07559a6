#include "workers/udp_service.h"

#include <QDebug>
#include <QNetworkDatagram>
#include <QTimer>

#include <utility>
#include <QUdpSocket>

UDP_Service::UDP_Service(QObject *parent)
    : QObject(parent), udpSocket(new QUdpSocket(this)), dropReport(new QTimer(this))
{
    connect(udpSocket, &QUdpSocket::readyRead, this, &UDP_Service::ReadUdpMessage);
    dropReport->setInterval(1000);
    connect(dropReport, &QTimer::timeout, this, [this] {
        if (dropped == 0) {
            dropReport->stop();
            return;
        }
        emit DatagramsDropped(dropped);
        dropped = 0;
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
    } else {
        qDebug() << "bind fail";
        emit BindFailed(udpSocket->errorString());
    }
}

void UDP_Service::CloseUdp()
{
    // Datagrams that arrived before the close are still shown.
    ReadUdpMessage();
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
    while (udpSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = udpSocket->receiveDatagram();
        if (credit.available() == 0) {
            ++dropped;
            if (!dropReport->isActive())
                dropReport->start();
            continue;
        }
        qDebug() << "udp message.";
        credit.spend(datagram.data().size());
        emit UdpModeMsg(datagram.data());
    }
}

void UDP_Service::DataShown(QObject *source, qint64 bytes)
{
    if (source == this)
        credit.repay(bytes);
}
