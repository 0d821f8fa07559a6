#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>

class QTcpServer;
class QTcpSocket;

// A TCP server on loopback that writes `payload` to the first client that
// connects, as fast as its socket takes it, from a thread of its own.
class FloodPeer : public QObject
{
    Q_OBJECT

public:
    FloodPeer(QByteArray payload, qint64 writeSize = 256 * 1024);
    // The bytes from `from`, `size` of them, of a stream too long to hold.
    using Slice = std::function<QByteArray(qint64 from, qint64 size)>;
    // Writes `total` bytes made by `slice`; with `eachOwnWrite` every write
    // goes to the system on its own, without delay.
    FloodPeer(qint64 total, Slice slice, qint64 writeSize, bool eachOwnWrite = false);
    ~FloodPeer() override;
    quint16 port() const { return listeningPort; }

private:
    void writeMore();

    QThread thread;
    QTcpServer *server = nullptr;
    QTcpSocket *socket = nullptr;
    qint64 total;
    Slice slice;
    qint64 writeSize;
    bool eachOwnWrite;
    qint64 handedOver = 0;  // bytes given to the socket; a flush may write more meanwhile
    quint16 listeningPort = 0;
};

// Drains a TCP stream in a thread of its own and only counts: the link's limit.
class CountingDrain : public QObject
{
    Q_OBJECT

public:
    CountingDrain(quint16 port, qint64 expected);
    ~CountingDrain() override;
    // Waits until every byte arrived; milliseconds from first byte to last.
    double waitMilliseconds();

private:
    QThread thread;
    qint64 expected;
    std::atomic<qint64> firstNs { 0 };
    std::atomic<qint64> lastNs { 0 };
    std::atomic<bool> done { false };
};

// Sends `count` datagrams of `size` bytes to a loopback port, in bursts
// paced to about `perSecond`, or as fast as it can when that is 0.
class UdpStorm : public QThread
{
public:
    UdpStorm(quint16 port, int count, int size, int perSecond)
        : port(port), count(count), size(size), perSecond(perSecond) {}

protected:
    void run() override;

private:
    quint16 port;
    int count;
    int size;
    int perSecond;
};

// A bare socket that reads datagrams in a thread of its own, as fast as the
// system hands them over, and only counts them.
class CountingUdpDrain : public QObject
{
    Q_OBJECT

public:
    explicit CountingUdpDrain(int receiveBufferSize);
    ~CountingUdpDrain() override;
    quint16 port() const { return boundPort; }
    int received() const { return count; }

private:
    QThread thread;
    std::atomic<int> count { 0 };
    quint16 boundPort = 0;
};
