#include "workers/socketdrops.h"

#include <optional>

#ifdef Q_OS_LINUX
#include <linux/sock_diag.h>
#include <sys/socket.h>
#endif

namespace {

// The socket's drop counter, which wraps at 32 bits; none for a socket
// that is not open or a system that does not tell.
std::optional<quint32> droppedSoFar(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    quint32 info[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof info;
    if (getsockopt(int(descriptor), SOL_SOCKET, SO_MEMINFO, info, &size) == 0
        && size > SK_MEMINFO_DROPS * sizeof(quint32))
        return info[SK_MEMINFO_DROPS];
#else
    Q_UNUSED(descriptor);
#endif
    return std::nullopt;
}

} // namespace

void SocketDrops::start(qintptr descriptor)
{
    seen = droppedSoFar(descriptor).value_or(0);
}

quint64 SocketDrops::take(qintptr descriptor)
{
    const std::optional<quint32> now = droppedSoFar(descriptor);
    if (!now)
        return 0;
    const quint32 fresh = *now - seen;
    seen = *now;
    return fresh;
}
