#pragma once

#include <QtGlobal>

// The datagrams the system dropped for one socket, for lack of room in its
// receive buffer, where the system counts them per socket (Linux). Elsewhere
// nothing is known and no drops are ever reported.
class SocketDrops
{
public:
    // Counts from what `descriptor` has dropped so far.
    void start(qintptr descriptor);
    // Drops since the last call, or since start.
    quint64 take(qintptr descriptor);

private:
    quint32 seen = 0;
};
