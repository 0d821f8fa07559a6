#include "workers/udp_service.h"

#include <QDebug>
#include <QNetworkDatagram>
#include <QUdpSocket>

UDP_Service::UDP_Service(QObject *parent) : QObject(parent), udpSocket(new QUdpSocket(this))
{
    connect(udpSocket, &QUdpSocket::readyRead, this, &UDP_Service::ReadUdpMessage);
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
    udpSocket->close();
}

void UDP_Service::SendUdpMsg(QByteArray msg, QString obj_ip, quint16 obj_port)
{
    udpSocket->writeDatagram(msg, QHostAddress(obj_ip), obj_port);
}

void UDP_Service::ReadUdpMessage()
{
    while (udpSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = udpSocket->receiveDatagram();
        qDebug() << "udp message.";
        emit UdpModeMsg(datagram.data());
    }
}
