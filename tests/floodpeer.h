#pragma once

#include <QByteArray>
#include <QObject>
#include <QThread>

#include <atomic>

class QTcpServer;
class QTcpSocket;

struct FloodOptions
{
    qint64 writeSize = 256 * 1024;  // bytes per write call
    bool closeWhenDone = false;     // close right after the last byte
};

// A TCP peer on loopback that writes `payload` as fast as its socket takes
// it, from a thread of its own: as a server to the first client that
// connects, or as a client of `port`, once that port listens.
class FloodPeer : public QObject
{
    Q_OBJECT

public:
    explicit FloodPeer(QByteArray payload, FloodOptions options = {});
    FloodPeer(quint16 port, QByteArray payload, FloodOptions options = {});
    ~FloodPeer() override;
    // The listening port of a server.
    quint16 port() const { return listeningPort; }
    // What the socket has handed to the system so far.
    qint64 written() const { return writtenBytes; }

private:
    void start(const std::function<void()> &setUp);
    void startWriting();
    void writeMore();

    QThread thread;
    QTcpServer *server = nullptr;
    QTcpSocket *socket = nullptr;
    QByteArray payload;
    FloodOptions options;
    std::atomic<qint64> writtenBytes { 0 };
    quint16 listeningPort = 0;
};
