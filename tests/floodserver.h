#pragma once

#include <QByteArray>
#include <QObject>
#include <QThread>

#include <atomic>

class QTcpServer;
class QTcpSocket;

// A TCP peer on loopback that writes `payload` to the first client as fast
// as the socket accepts it, from a thread of its own.
class FloodServer : public QObject
{
    Q_OBJECT

public:
    explicit FloodServer(QByteArray payload);
    ~FloodServer() override;
    quint16 port() const { return listeningPort; }
    // What the socket has accepted so far.
    qint64 written() const { return writtenBytes; }

private:
    void onNewConnection();
    void writeMore();

    QThread thread;
    QTcpServer *server = nullptr;
    QTcpSocket *client = nullptr;
    QByteArray payload;
    std::atomic<qint64> writtenBytes { 0 };
    quint16 listeningPort = 0;
};
