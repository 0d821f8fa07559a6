#include "workers/udp_service.h"

#include <QNetworkDatagram>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

// Stands in for the window: the worker is reached only through queued signals.
class Driver : public QObject
{
    Q_OBJECT
signals:
    void udp_open(quint16 port);
    void udp_close();
    void udp_send(QByteArray msg, QString obj_ip, quint16 obj_port);
};

struct UdpUnderTest
{
    UdpUnderTest()
    {
        worker.moveToThread(&thread);
        QObject::connect(&driver, &Driver::udp_open, &worker, &UDP_Service::OpenUdp);
        QObject::connect(&driver, &Driver::udp_close, &worker, &UDP_Service::CloseUdp);
        QObject::connect(&driver, &Driver::udp_send, &worker, &UDP_Service::SendUdpMsg);
        QObject::connect(&worker, &UDP_Service::UdpModeMsg, &driver,
                         [this](const QByteArray &m) { received << m; });
        QObject::connect(&worker, &UDP_Service::BindFailed, &driver,
                         [this](const QString &e) { failures << e; });
        thread.start();
    }
    ~UdpUnderTest()
    {
        thread.quit();
        thread.wait();
    }

    QThread thread;
    UDP_Service worker;
    Driver driver;
    QList<QByteArray> received;
    QStringList failures;
};

// A test-side socket on a port of its own, bound like an exclusive holder.
struct Peer
{
    Peer() { socket.bind(QHostAddress::Any, 0, QAbstractSocket::DontShareAddress); }
    quint16 port() const { return socket.localPort(); }
    QNetworkDatagram next()
    {
        if (!QTest::qWaitFor([this] { return socket.hasPendingDatagrams(); }))
            return {};
        return socket.receiveDatagram();
    }
    QUdpSocket socket;
};

static quint16 freePort()
{
    return Peer().port();
}

class UdpServiceTest : public QObject
{
    Q_OBJECT
private slots:
    void keepsDatagramsWhole();
    void sendsToLoopbackBroadcast();
    void rebindsToAnotherPort();
    void reportsBindFailure();
};

void UdpServiceTest::keepsDatagramsWhole()
{
    UdpUnderTest udp;
    Peer peer;
    const quint16 port = freePort();
    QTest::ignoreMessage(QtDebugMsg, "bind success");
    emit udp.driver.udp_open(port);
    emit udp.driver.udp_send(QByteArray("\x00\xff", 2), "127.0.0.1", peer.port());
    const QNetworkDatagram first = peer.next();
    QCOMPARE(first.data(), QByteArray("\x00\xff", 2));
    QCOMPARE(first.senderPort(), port);

    const QList<QByteArray> sent { QByteArray("\xff\x00", 2), "ab", QByteArray() };
    for (int i = 0; i < sent.size(); ++i)
        QTest::ignoreMessage(QtDebugMsg, "udp message.");
    for (const QByteArray &datagram : sent)
        peer.socket.writeDatagram(datagram, QHostAddress::LocalHost, port);
    QTRY_COMPARE(udp.received.size(), sent.size());
    QCOMPARE(udp.received, sent);
}

// Broadcast needs no socket option of the worker's own. The loopback network's
// broadcast address keeps the datagram on this machine.
void UdpServiceTest::sendsToLoopbackBroadcast()
{
    UdpUnderTest udp;
    Peer peer;
    emit udp.driver.udp_open(freePort());
    emit udp.driver.udp_send("everyone", "127.255.255.255", peer.port());
    QCOMPARE(peer.next().data(), "everyone");
}

void UdpServiceTest::rebindsToAnotherPort()
{
    UdpUnderTest udp;
    Peer peer;
    const quint16 before = freePort();
    const quint16 after = freePort();
    emit udp.driver.udp_open(before);
    emit udp.driver.udp_close();
    emit udp.driver.udp_open(after);
    emit udp.driver.udp_send("moved", "127.0.0.1", peer.port());
    QCOMPARE(peer.next().senderPort(), after);

    peer.socket.writeDatagram("hello", QHostAddress::LocalHost, after);
    QTRY_COMPARE(udp.received, QList<QByteArray> { "hello" });
    QUdpSocket formerPort;
    QVERIFY(formerPort.bind(QHostAddress::Any, before, QAbstractSocket::DontShareAddress));
}

void UdpServiceTest::reportsBindFailure()
{
    Peer holder;
    QUdpSocket reference;
    QVERIFY(!reference.bind(QHostAddress::Any, holder.port(), QAbstractSocket::DefaultForPlatform));

    UdpUnderTest udp;
    QTest::ignoreMessage(QtDebugMsg, "bind fail");
    emit udp.driver.udp_open(holder.port());
    QTRY_COMPARE(udp.failures, QStringList { reference.errorString() });
}

QTEST_GUILESS_MAIN(UdpServiceTest)
#include "tst_udpservice.moc"
