#pragma once

#include <QAbstractSocket>
#include <QTimer>

// How long a closing socket may take to deliver what it still holds.
constexpr int OrderlyCloseMs = 10000;

// Closes `socket` once what it holds is written, but not later than the
// bound: a peer that never reads would keep it open for ever.
inline void closeOrderly(QAbstractSocket *socket)
{
    socket->close();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        return;
    QTimer::singleShot(OrderlyCloseMs, socket, [socket] {
        if (socket->state() == QAbstractSocket::ClosingState)
            socket->abort();
    });
}
