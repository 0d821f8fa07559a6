#pragma once

#include <QtGlobal>

// Bytes a worker has handed to the window that the window has not shown yet.
// While the credit is spent the worker leaves data unread, so the transport's
// own flow control (TCP windows, the tty's buffers) holds back the peer
// instead of memory growing without bound.
class ReadCredit
{
public:
    static constexpr qint64 Limit = 8 * 1024 * 1024;
    // What a socket or port may buffer beyond the credit.
    static constexpr qint64 TransportBuffer = 1024 * 1024;

    // Once this much waits to be shown, a read smaller than MinChunk waits
    // for more: a peer that writes a few bytes at a time would otherwise
    // cost the window an entry per write for the whole backlog.
    static constexpr qint64 Backlog = 1024 * 1024;
    static constexpr qint64 MinChunk = 4 * 1024;

    qint64 available() const { return qMax<qint64>(0, Limit - outstanding); }
    // How much of `waiting` bytes to read now.
    qint64 toRead(qint64 waiting) const
    {
        const qint64 size = qMin(waiting, available());
        return outstanding >= Backlog && size < MinChunk && size < available() ? 0 : size;
    }
    void spend(qint64 bytes) { outstanding += bytes; }
    // True when the repayment lets a worker that held back read again.
    bool repay(qint64 bytes)
    {
        const bool heldBack = available() == 0 || outstanding >= Backlog;
        outstanding = qMax<qint64>(0, outstanding - bytes);
        return heldBack && available() > 0;
    }

private:
    qint64 outstanding = 0;
};
