#include "mainwindow/receiveview.h"
#include "tests/runningworker.h"
#include "tests/testsupport.h"
#include "tests/windowdriver.h"
#include "workers/tcp_client.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <sys/ioctl.h>

// Distinct lines, so a lost or reordered piece shows.
static QByteArray numberedLines(qint64 size)
{
    QByteArray bytes;
    for (int line = 0; bytes.size() < size; ++line)
        bytes += QByteArray::number(line).rightJustified(63, '.') + '\n';
    return bytes.left(size);
}

// What a socket and the system below it hold unread.
static qint64 heldBy(QTcpSocket *socket)
{
    int inSystem = 0;
    ioctl(int(socket->socketDescriptor()), FIONREAD, &inSystem);
    return socket->bytesAvailable() + inSystem;
}

// Once a worker that gets no credit back has stopped reading, ends the link in
// its thread: what `end` says was held just before must still come, in order.
template <typename Worker, typename End>
void endStalled(RunningWorker<Worker> &harness, const QByteArray &payload, End end)
{
    QTRY_VERIFY_WITH_TIMEOUT(harness.received.size() >= ReadCredit::Limit, 20000);
    QTest::qWait(300);
    const qint64 before = harness.received.size();
    QVERIFY(before <= ReadCredit::Limit + ReadCredit::TransportBuffer);
    auto held = std::make_shared<qint64>(0);
    harness.ask([held, end](Worker *w) { *held = end(w); });
    QVERIFY(harness.settle() && *held > 0);
    QTRY_VERIFY(harness.received.size() >= before + *held);
    QVERIFY(harness.received == payload.left(harness.received.size()));
}

static quint16 listen(RunningWorker<TCP_Server> &server)
{
    server.repays = false;
    server.data(&TCP_Server::ClientsMsgToUI);
    server.ask([](TCP_Server *w) { w->StartListen(0); });
    return server.settle() ? server.worker->server->serverPort() : 0;
}

class FlowControlTest : public QObject
{
    Q_OBJECT
private slots:
    void linkEndHandsOverWhatWasHeld_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("client disconnects") << "disconnect";
        QTest::newRow("server kicks the client") << "kick";
        QTest::newRow("server closes") << "close";
    }
    // Ending a stalled link still hands over, in order, what the socket and the system held.
    void linkEndHandsOverWhatWasHeld()
    {
        QFETCH(QString, end);
        const QByteArray payload = numberedLines(48 * 1024 * 1024);
        if (end == "disconnect") {
            QTcpServer peer;
            QVERIFY(peer.listen(QHostAddress::LocalHost));
            RunningWorker<TCP_Client> client;
            client.repays = false;
            client.data(&TCP_Client::TcpClientModeMsg);
            client.ask([port = peer.serverPort()](TCP_Client *w) { w->ConnectToServer("127.0.0.1", port); });
            QTRY_VERIFY(peer.hasPendingConnections());
            peer.nextPendingConnection()->write(payload);
            endStalled(client, payload, [](TCP_Client *w) {
                const qint64 held = heldBy(w->socket);
                w->DisconnectFromServer();
                return held;
            });
            return;
        }
        RunningWorker<TCP_Server> server;
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, listen(server));
        QVERIFY(peer.waitForConnected(5000));
        peer.write(payload);
        endStalled(server, payload, [kick = end == "kick"](TCP_Server *w) {
            const qint64 held = heldBy(w->clients.begin().value());
            if (kick)
                w->KickClient(w->clients.begin().key());
            else
                w->StopListen();
            return held;
        });
    }
    // Repaying resumes every client, not only the one that last had data.
    void serverClientsShareOneCredit()
    {
        RunningWorker<TCP_Server> server;
        const quint16 port = listen(server);
        const qint64 each = 6 * 1024 * 1024;
        QTcpSocket clients[2];
        for (QTcpSocket &client : clients) {
            client.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(client.waitForConnected(5000));
            client.write(QByteArray(each, &client == clients ? 'a' : 'b'));
        }
        QTRY_VERIFY_WITH_TIMEOUT(server.received.size() >= ReadCredit::Limit, 20000);
        QTest::qWait(300);
        QVERIFY(server.received.size() <= ReadCredit::Limit + ReadCredit::TransportBuffer);
        server.repays = true;
        server.repay(server.received.size());
        QTRY_COMPARE_WITH_TIMEOUT(server.received.size(), 2 * each, 30000);
        QCOMPARE(server.received.count('a'), each);
    }
    void udpDropsBeyondCreditAreReported()
    {
        RunningWorker<UDP_Service> udp;
        udp.repays = false;
        udp.data(&UDP_Service::UdpModeMsg);
        quint64 dropped = 0;
        connect(udp.worker, &UDP_Service::DatagramsDropped, &udp, [&dropped](quint64 count) { dropped += count; });
        udp.ask([](UDP_Service *w) { w->OpenUdp(0); });
        QVERIFY(udp.settle());
        const quint16 port = udp.worker->udpSocket->localPort();
        QUdpSocket sender;
        const QByteArray datagram(60000, 'u');
        const int fitting = int(ReadCredit::Limit / datagram.size()) + 1;
        // Each that fits is waited for, and the rest paced, so the system drops none.
        for (int i = 1; i <= fitting + 10; ++i) {
            sender.writeDatagram(datagram, QHostAddress::LocalHost, port);
            if (i <= fitting)
                QVERIFY(QTest::qWaitFor([&] { return udp.received.size() == i * datagram.size(); }));
            else
                QTest::qWait(5);
        }
        QTRY_COMPARE_WITH_TIMEOUT(dropped, quint64(10), 5000);
        QCOMPARE(udp.received.size(), fitting * datagram.size());
        udp.repay(udp.received.size());
        sender.writeDatagram(datagram, QHostAddress::LocalHost, port);
        QTRY_COMPARE(udp.received.size(), (fitting + 1) * datagram.size());
    }
    void windowShowsEveryByteWhenThePeerCloses_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("client mode") << false;
        QTest::newRow("server mode") << true;
    }
    // The last bytes of a peer that floods and closes at once still come before the closing line.
    void windowShowsEveryByteWhenThePeerCloses()
    {
        QFETCH(bool, server);
        const QByteArray payload = numberedLines(48 * 1024 * 1024);
        WindowDriver ui;
        ui.check("AutoSwitchLine", false);
        QTcpServer listener; // the peer of client mode; in server mode, only to find a free port
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        const quint16 port = listener.serverPort();
        if (server) {
            listener.close();
            ui.click("TCPserver");
        }
        ui.type("Obj_IP", "127.0.0.1");
        ui.type(server ? "Local_Port" : "Obj_Port", port);
        ui.click("Connect");
        QTcpSocket visitor;
        const auto accepted = [&listener] { return listener.hasPendingConnections(); };
        QVERIFY(server ? connectOnceListening(visitor, port) : QTest::qWaitFor(accepted));
        QTcpSocket *peer = server ? &visitor : listener.nextPendingConnection();
        peer->write(payload);
        peer->disconnectFromHost(); // once the last byte is written
        const QString closed = server ? QStringLiteral("\nClient:") : QStringLiteral("\n服务器已断开连接");
        QTRY_VERIFY_WITH_TIMEOUT(ui.text("Recive_msg").contains(closed), 180000);
        QVERIFY(ui.w<ReceiveView>("Recive_msg")->joinedText().contains(QLatin1String(payload) + closed));
    }
};

QTEST_MAIN(FlowControlTest)
#include "tst_flowcontrol.moc"
