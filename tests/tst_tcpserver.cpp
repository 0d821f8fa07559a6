#include "workers/tcp_server.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <memory>

// Stands in for the window: the worker is reached only through queued signals.
class Driver : public QObject
{
    Q_OBJECT
signals:
    void tcpS_open(quint16 port);
    void tcpS_close();
    void tcpS_send(QByteArray msg);
    void tcpS_kick(QString ip);
    void select(QString ip);
};

using Update = QPair<QString, QString>;

struct ServerUnderTest
{
    ServerUnderTest()
    {
        worker->moveToThread(&thread);
        QObject::connect(&driver, &Driver::tcpS_open, worker.get(), &TCP_Server::StartListen);
        QObject::connect(&driver, &Driver::tcpS_close, worker.get(), &TCP_Server::StopListen);
        QObject::connect(&driver, &Driver::tcpS_send, worker.get(), &TCP_Server::SendMessage);
        QObject::connect(&driver, &Driver::tcpS_kick, worker.get(), &TCP_Server::KickClient);
        QObject::connect(&driver, &Driver::select, worker.get(), &TCP_Server::SelectClient);
        QObject::connect(worker.get(), &TCP_Server::ClientsMsgToUI, &driver,
                         [this](const QByteArray &m) { received += m; });
        QObject::connect(worker.get(), &TCP_Server::TcpServerMsgToUI, &driver,
                         [this](const QString &t) { texts << t; });
        QObject::connect(worker.get(), &TCP_Server::UpdateClientsToUI, &driver,
                         [this](const QString &m, const QString &ip) { updates << Update(m, ip); });
        QObject::connect(worker.get(), &TCP_Server::ListenFailed, &driver,
                         [this](const QString &e) { failures << e; });
        thread.start();
    }
    ~ServerUnderTest() { stop(); }
    // After the requests queued before it, as the window stops its threads.
    void stop()
    {
        QMetaObject::invokeMethod(worker.get(), [this] { thread.quit(); });
        thread.wait();
    }
    void listen()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
        probe.close();
        emit driver.tcpS_open(port);
    }
    // A client from `local` (any loopback address); returns once the worker
    // has reported it.
    QTcpSocket *connectFrom(const QString &local)
    {
        auto *socket = new QTcpSocket(&driver);
        const qsizetype before = updates.size();
        // Refused until the queued listen request has been served.
        const bool connected = QTest::qWaitFor([&] {
            socket->bind(QHostAddress(local));
            socket->connectToHost(QHostAddress::LocalHost, port);
            return socket->waitForConnected(1000);
        });
        if (!connected || !QTest::qWaitFor([&] { return updates.size() > before; }))
            return nullptr;
        return socket;
    }

    QThread thread;
    std::unique_ptr<TCP_Server> worker = std::make_unique<TCP_Server>();
    Driver driver;
    quint16 port = 0;
    QByteArray received;
    QStringList texts;
    QList<Update> updates;
    QStringList failures;
};

static QString keyOf(const QString &host, const QTcpSocket *client)
{
    return host + ":" + QString::number(client->localPort());
}

class TcpServerTest : public QObject
{
    Q_OBJECT
private slots:
    void routesSendsToSelectedClients();
    void stopListenEndsEveryConnection();
    void reportsListenFailure();
};

void TcpServerTest::routesSendsToSelectedClients()
{
    ServerUnderTest server;
    server.listen();
    QTcpSocket *first = server.connectFrom("127.0.0.1");
    QVERIFY(first);
    const QString firstKey = keyOf("127.0.0.1", first);
    QTcpSocket *second = server.connectFrom("127.0.0.2");
    QVERIFY(second);
    const QString secondKey = keyOf("127.0.0.2", second);

    QCOMPARE(server.texts, (QStringList { "New Client:" + firstKey + " connected!",
                                          "New Client:" + secondKey + " connected!" }));
    QCOMPARE(server.updates, (QList<Update> { { "join", firstKey }, { "join", secondKey } }));

    first->write("\x00", 1);
    QTRY_COMPARE(server.received.size(), 1);
    second->write("\xff", 1);
    QTRY_COMPARE(server.received, QByteArray("\x00\xff", 2));

    // TCP keeps order, so a client that receives the later "all" send alone
    // was left out of the earlier one.
    emit server.driver.select("All Clients");
    emit server.driver.tcpS_send("a");
    emit server.driver.select(secondKey);
    emit server.driver.tcpS_send("b");
    emit server.driver.select("");
    emit server.driver.tcpS_send("c");
    QTRY_COMPARE(first->bytesAvailable(), 2);
    QCOMPARE(first->readAll(), "ac");
    QTRY_COMPARE(second->bytesAvailable(), 3);
    QCOMPARE(second->readAll(), "abc");

    // A selected client that has gone takes the sends with it; they never
    // fall back to everybody.
    QTcpSocket *third = server.connectFrom("127.0.0.3");
    QVERIFY(third);
    emit server.driver.select(secondKey);
    second->disconnectFromHost();
    QTRY_COMPARE(server.updates.last(), Update("leave", secondKey));
    QCOMPARE(server.texts.last(), "Client:" + secondKey + " left!");
    emit server.driver.tcpS_send("lost");
    emit server.driver.tcpS_kick("not a client");
    emit server.driver.select("All Clients");
    emit server.driver.tcpS_send("d");
    QTRY_COMPARE(third->bytesAvailable(), 1);
    QCOMPARE(third->readAll(), "d");

    emit server.driver.tcpS_kick(firstKey);
    QTRY_COMPARE(first->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(server.updates.last(), Update("leave", firstKey));
    QCOMPARE(server.texts.last(), "Client:" + firstKey + " left!");
    QCOMPARE(third->state(), QAbstractSocket::ConnectedState);
}

void TcpServerTest::stopListenEndsEveryConnection()
{
    ServerUnderTest server;
    server.listen();
    const QList<QTcpSocket *> clients { server.connectFrom("127.0.0.1"), server.connectFrom("127.0.0.1"),
                                        server.connectFrom("127.0.0.2") };
    QVERIFY(!clients.contains(nullptr));
    QStringList expected;
    for (int i = 0; i < clients.size(); ++i)
        expected << "Client:" + server.updates[i].second + " left!";

    // As the window's Disconnect does it: close request, then stop the thread.
    emit server.driver.tcpS_close();
    server.stop();
    for (QTcpSocket *client : clients)
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(server.updates.size(), 6);
    QStringList departures = server.texts.mid(3);
    departures.sort();
    expected.sort();
    QCOMPARE(departures, expected);
    for (const Update &update : server.updates.mid(3))
        QCOMPARE(update.first, "leave");

    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, server.port);
    QVERIFY(!late.waitForConnected(5000));
    QCOMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
}

void TcpServerTest::reportsListenFailure()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any));
    QTcpServer reference;
    QVERIFY(!reference.listen(QHostAddress::Any, holder.serverPort()));

    ServerUnderTest server;
    emit server.driver.tcpS_open(holder.serverPort());
    QTRY_COMPARE(server.failures, QStringList { reference.errorString() });
}

QTEST_GUILESS_MAIN(TcpServerTest)
#include "tst_tcpserver.moc"
