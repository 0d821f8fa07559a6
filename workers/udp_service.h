#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QUdpSocket;

// The UDP mode's endpoint: one socket bound to a local port.
class UDP_Service : public QObject
{
    Q_OBJECT
public:
    explicit UDP_Service(QObject *parent = nullptr);
    ~UDP_Service() override;

    QUdpSocket *udpSocket;

signals:
    void UdpModeMsg(QByteArray message);
    void BindFailed(QString error);

public slots:
    void OpenUdp(quint16 local_port);
    void CloseUdp();
    void SendUdpMsg(QByteArray msg, QString obj_ip, quint16 obj_port);
    void ReadUdpMessage();
};
