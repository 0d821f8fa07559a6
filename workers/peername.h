#pragma once

#include <QString>

class QHostAddress;

// A peer as people write it: "127.0.0.1:50123" (also for IPv4 reaching a
// dual-stack socket) or "[::1]:50123".
QString peerName(const QHostAddress &address, quint16 port);
