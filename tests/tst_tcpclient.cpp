#include "workers/tcp_client.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// Stands in for the window: the worker is reached only through queued signals.
class Driver : public QObject
{
    Q_OBJECT
signals:
    void tcpC_connect(QString Server_ip, quint16 Server_port);
    void tcpC_disconnect();
    void tcpC_send(QByteArray msg);
};

struct ClientUnderTest
{
    explicit ClientUnderTest(int connectTimeoutMs = 30000)
    {
        worker.setConnectTimeout(connectTimeoutMs);
        worker.moveToThread(&thread);
        QObject::connect(&driver, &Driver::tcpC_connect, &worker, &TCP_Client::ConnectToServer);
        QObject::connect(&driver, &Driver::tcpC_disconnect, &worker, &TCP_Client::DisconnectFromServer);
        QObject::connect(&driver, &Driver::tcpC_send, &worker, &TCP_Client::SendMessage);
        QObject::connect(&worker, &TCP_Client::TcpClientModeMsg, &driver,
                         [this](const QByteArray &m) { received << m; });
        QObject::connect(&worker, &TCP_Client::ConnectFailed, &driver,
                         [this](const QString &e) { failures << e; });
        QObject::connect(&worker, &TCP_Client::ServerClosed, &driver, [this] { ++closures; });
        thread.start();
    }
    ~ClientUnderTest() { stop(); }
    void stop()
    {
        thread.quit();
        thread.wait();
    }

    QThread thread;
    TCP_Client worker;
    Driver driver;
    QList<QByteArray> received;
    QStringList failures;
    int closures = 0;
};

// A loopback listener whose accept queue is full and never drained: further
// connection attempts to it hang, as towards an address that drops packets.
class Blackhole
{
public:
    Blackhole()
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr *>(&address), length);
        ::listen(listener, 0);
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
        port = ntohs(address.sin_port);
        for (int i = 0; i < 3; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr *>(&address), length);
            fillers << filler;
        }
        pollfd first { fillers.first(), POLLOUT, 0 };
        ::poll(&first, 1, 2000);
    }
    ~Blackhole()
    {
        for (int fd : std::as_const(fillers))
            ::close(fd);
        ::close(listener);
    }
    quint16 port = 0;

private:
    int listener;
    QList<int> fillers;
};

class TcpClientTest : public QObject
{
    Q_OBJECT
private slots:
    void reportsFailedConnects_data();
    void reportsFailedConnects();
    void abandonsHangingConnect();
    void disconnectAbortsHangingConnect();
    void passesBytesUnchangedBothWays();
    void reportsEndOfConnection();
};

static quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

void TcpClientTest::reportsFailedConnects_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<quint16>("port");
    QTest::newRow("refused") << "127.0.0.1" << closedPort();
    QTest::newRow("not an address") << "no such host" << quint16(1);
}

// Failures come with the text Qt gives the same attempt, long before the
// attempt's time limit.
void TcpClientTest::reportsFailedConnects()
{
    QFETCH(QString, address);
    QFETCH(quint16, port);
    QTcpSocket reference;
    reference.connectToHost(QHostAddress(address), port);
    QVERIFY(!reference.waitForConnected(5000));

    ClientUnderTest client;
    emit client.driver.tcpC_connect(address, port);
    QTRY_COMPARE(client.failures, QStringList { reference.errorString() });
    QCOMPARE(client.closures, 0);
}

void TcpClientTest::abandonsHangingConnect()
{
    Blackhole blackhole;
    ClientUnderTest client(200);
    emit client.driver.tcpC_connect("127.0.0.1", blackhole.port);
    QTRY_COMPARE(client.failures, QStringList { "Socket operation timed out" });
    QCOMPARE(client.worker.socket->state(), QAbstractSocket::UnconnectedState);
}

// The window's Disconnect must not wait for a hanging attempt, and requests
// queued behind one are served at once.
void TcpClientTest::disconnectAbortsHangingConnect()
{
    Blackhole blackhole;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    ClientUnderTest client;

    emit client.driver.tcpC_connect("127.0.0.1", blackhole.port);
    emit client.driver.tcpC_disconnect();
    emit client.driver.tcpC_connect("127.0.0.1", server.serverPort());
    emit client.driver.tcpC_send("queued");
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();
    QTRY_COMPARE(peer->bytesAvailable(), 6);
    QVERIFY(client.failures.isEmpty());

    emit client.driver.tcpC_disconnect();
    client.stop();
    QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    // A close asked for is not the server's.
    QCOMPARE(client.closures, 0);
}

void TcpClientTest::passesBytesUnchangedBothWays()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    ClientUnderTest client;
    emit client.driver.tcpC_connect("127.0.0.1", server.serverPort());
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();

    const QByteArray binary("\x00\xff\x80\x00", 4);
    emit client.driver.tcpC_send(binary);
    QTRY_COMPARE(peer->bytesAvailable(), binary.size());
    QCOMPARE(peer->readAll(), binary);

    // Separate writes, each waited for, arrive as separate signals.
    peer->write(binary.left(3));
    QTRY_COMPARE(client.received.size(), 1);
    peer->write("\xff\x00\x01\x02\x03", 5);
    QTRY_COMPARE(client.received.size(), 2);
    QCOMPARE(client.received, (QList<QByteArray> { binary.left(3), QByteArray("\xff\x00\x01\x02\x03", 5) }));
}

void TcpClientTest::reportsEndOfConnection()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    auto client = std::make_unique<ClientUnderTest>();
    emit client->driver.tcpC_connect("127.0.0.1", server.serverPort());
    QVERIFY(server.waitForNewConnection(5000));
    server.nextPendingConnection()->close();
    QTRY_COMPARE(client->closures, 1);

    // The same worker connects again; destroying it ends that connection.
    emit client->driver.tcpC_connect("127.0.0.1", server.serverPort());
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();
    QTRY_COMPARE(client->worker.socket->state(), QAbstractSocket::ConnectedState);
    client.reset();
    QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(peer->readAll().isEmpty());
}

QTEST_GUILESS_MAIN(TcpClientTest)
#include "tst_tcpclient.moc"
