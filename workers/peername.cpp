#include "workers/peername.h"

#include <QHostAddress>

QString peerName(const QHostAddress &address, quint16 port)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    const QString text = mapped ? QHostAddress(v4).toString() : address.toString();
    const QString portText = QString::number(port);
    if (!mapped && address.protocol() == QAbstractSocket::IPv6Protocol)
        return QLatin1Char('[') + text + QStringLiteral("]:") + portText;
    return text + QLatin1Char(':') + portText;
}
