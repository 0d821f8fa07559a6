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

    qint64 available() const { return qMax<qint64>(0, Limit - outstanding); }
    void spend(qint64 bytes) { outstanding += bytes; }
    // True when the repayment lets a stalled worker read again.
    bool repay(qint64 bytes)
    {
        const bool wasStalled = available() == 0;
        outstanding = qMax<qint64>(0, outstanding - bytes);
        return wasStalled && available() > 0;
    }

private:
    qint64 outstanding = 0;
};
