#include "mainwindow/receiveview.h"
#include "tests/floodpeer.h"
#include "tests/runningworker.h"
#include "tests/windowdriver.h"
#include "workers/tcp_client.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <memory>
#include <numeric>

#include <sys/ioctl.h>

namespace {

// Distinct lines, so a lost or reordered piece shows.
QByteArray numberedLines(qint64 size)
{
    QByteArray bytes;
    bytes.reserve(size);
    for (int line = 0; bytes.size() < size; ++line)
        bytes += QByteArray::number(line).rightJustified(63, '.') + '\n';
    bytes.truncate(size);
    return bytes;
}

constexpr qint64 stallBound = ReadCredit::Limit + ReadCredit::TransportBuffer;

// What a socket and the system below it hold unread.
qint64 heldBy(QTcpSocket *socket)
{
    int inSystem = 0;
    ioctl(int(socket->socketDescriptor()), FIONREAD, &inSystem);
    return socket->bytesAvailable() + inSystem;
}

quint16 listen(RunningWorker<TCP_Server> &server)
{
    auto port = std::make_shared<quint16>();
    server.ask([port](TCP_Server *w) {
        w->StartListen(0);
        *port = w->server->serverPort();
    });
    return server.settle() ? *port : 0;
}

// Waits for the stall, then runs `end` in the worker's thread; `end` ends
// the link and says what was held just before.
template <typename Worker, typename End>
void stallThenEnd(RunningWorker<Worker> &harness, const QByteArray &payload, End end)
{
    QTRY_VERIFY_WITH_TIMEOUT(harness.received.size() >= ReadCredit::Limit, 20000);
    QTest::qWait(300);
    const qint64 before = harness.received.size();
    QVERIFY(before <= stallBound);
    auto held = std::make_shared<qint64>(0);
    harness.ask([held, end](Worker *w) { *held = end(w); });
    QVERIFY(harness.settle() && *held > 0);
    QTRY_VERIFY(harness.received.size() >= before + *held);
    QVERIFY(harness.received == payload.left(harness.received.size()));
}

} // namespace

class FlowControlTest : public QObject
{
    Q_OBJECT
private slots:
    void linkEndHandsOverWhatWasHeld_data();
    void linkEndHandsOverWhatWasHeld();
    void serverCreditIsSharedByItsClients();
    void udpDropsBeyondCreditAndReportsThem();
    void windowShowsEveryByteWhenThePeerCloses_data();
    void windowShowsEveryByteWhenThePeerCloses();
};

// With no credit returned, the worker stops reading once it has handed over
// its limit. Ending the link then must still hand over everything the socket
// and the system held at that moment, in order.
void FlowControlTest::linkEndHandsOverWhatWasHeld_data()
{
    QTest::addColumn<QString>("end");
    QTest::newRow("client disconnects") << "disconnect";
    QTest::newRow("server kicks the client") << "kick";
    QTest::newRow("server closes") << "close";
}

void FlowControlTest::linkEndHandsOverWhatWasHeld()
{
    QFETCH(QString, end);
    const QByteArray payload = numberedLines(48 * 1024 * 1024);
    if (end == "disconnect") {
        FloodPeer peer(payload);
        RunningWorker<TCP_Client> client;
        client.repays = false;
        client.data(&TCP_Client::TcpClientModeMsg);
        client.ask([port = peer.port()](TCP_Client *w) { w->ConnectToServer("127.0.0.1", port); });
        stallThenEnd(client, payload, [](TCP_Client *w) {
            const qint64 held = heldBy(w->socket);
            w->DisconnectFromServer();
            return held;
        });
        QVERIFY(peer.written() < payload.size());
        return;
    }
    RunningWorker<TCP_Server> server;
    server.repays = false;
    server.data(&TCP_Server::ClientsMsgToUI);
    const quint16 port = listen(server);
    FloodPeer peer(port, payload);
    stallThenEnd(server, payload, [end](TCP_Server *w) {
        const qint64 held = heldBy(w->clients.begin().value());
        if (end == "kick")
            w->KickClient(w->clients.begin().key());
        else
            w->StopListen();
        return held;
    });
}

void FlowControlTest::serverCreditIsSharedByItsClients()
{
    RunningWorker<TCP_Server> server;
    server.repays = false;
    server.data(&TCP_Server::ClientsMsgToUI);
    const quint16 port = listen(server);

    const qint64 each = 6 * 1024 * 1024;
    QTcpSocket first, second;
    for (auto [socket, fill] : { std::pair { &first, 'a' }, std::pair { &second, 'b' } }) {
        socket->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket->waitForConnected(5000));
        socket->write(QByteArray(each, fill));
    }
    QTRY_VERIFY_WITH_TIMEOUT(server.received.size() >= ReadCredit::Limit, 20000);
    QTest::qWait(300);
    QVERIFY(server.received.size() <= stallBound);

    // Repaying resumes every client, not only the one that last had data.
    server.repays = true;
    server.repay(server.received.size());
    QTRY_COMPARE_WITH_TIMEOUT(server.received.size(), 2 * each, 30000);
    QCOMPARE(server.received.count('a'), each);
    QCOMPARE(server.received.count('b'), each);
}

void FlowControlTest::udpDropsBeyondCreditAndReportsThem()
{
    RunningWorker<UDP_Service> udp;
    udp.repays = false;
    udp.data(&UDP_Service::UdpModeMsg);
    QList<quint64> reports;
    connect(udp.worker, &UDP_Service::DatagramsDropped, &udp, [&reports](quint64 count) { reports << count; });
    auto port = std::make_shared<quint16>();
    udp.ask([port](UDP_Service *w) {
        w->OpenUdp(0);
        *port = w->udpSocket->localPort();
    });
    QVERIFY(udp.settle());

    QUdpSocket sender;
    const QByteArray datagram(60000, 'u');
    auto sendOne = [&] { sender.writeDatagram(datagram, QHostAddress::LocalHost, *port); };
    // Each datagram is waited for, so the kernel drops none of them.
    const int fitting = int(ReadCredit::Limit / datagram.size()) + 1;
    for (int i = 1; i <= fitting; ++i) {
        sendOne();
        QVERIFY(QTest::qWaitFor([&] { return udp.received.size() == i * datagram.size(); }));
    }
    for (int i = 0; i < 10; ++i) {
        sendOne();
        QTest::qWait(5);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!reports.isEmpty(), 5000);
    QTest::qWait(1200);
    QCOMPARE(std::accumulate(reports.begin(), reports.end(), quint64(0)), quint64(10));
    QCOMPARE(udp.received.size(), fitting * datagram.size());

    udp.repay(udp.received.size());
    sendOne();
    QTRY_COMPARE(udp.received.size(), (fitting + 1) * datagram.size());
}

// A peer that writes more than the credit and the buffers hold and closes
// at once: its last bytes still reach the window, before the closing line.
void FlowControlTest::windowShowsEveryByteWhenThePeerCloses_data()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("client mode") << false;
    QTest::newRow("server mode") << true;
}

void FlowControlTest::windowShowsEveryByteWhenThePeerCloses()
{
    QFETCH(bool, server);
    const QByteArray payload = numberedLines(48 * 1024 * 1024);
    const FloodOptions closing { 256 * 1024, true };
    WindowDriver ui;
    ui.check("AutoSwitchLine", false);
    std::unique_ptr<FloodPeer> peer;
    if (server) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const quint16 port = probe.serverPort();
        probe.close();
        ui.click("TCPserver");
        ui.type("Local_Port", port);
        ui.click("Connect");
        peer = std::make_unique<FloodPeer>(port, payload, closing);
    } else {
        peer = std::make_unique<FloodPeer>(payload, closing);
        ui.type("Obj_IP", "127.0.0.1");
        ui.type("Obj_Port", peer->port());
        ui.click("Connect");
    }
    const QString closed = server ? QStringLiteral("Client:") : QStringLiteral("服务器已断开连接");
    QTRY_VERIFY_WITH_TIMEOUT(ui.text("Recive_msg").contains(u'\n' + closed), 180000);
    QTRY_COMPARE(ui.text("Recive_cnt"), QStringLiteral("累计接收：%1").arg(payload.size()));
    const QString shown = ui.w<ReceiveView>("Recive_msg")->joinedText();
    const qsizetype at = shown.indexOf(QLatin1String(payload.left(64)));
    QVERIFY(at >= 0);
    QVERIFY(QStringView(shown).mid(at, payload.size()) == QLatin1String(payload));
    QVERIFY(QStringView(shown).mid(at + payload.size()).startsWith(u'\n' + closed));
}

QTEST_MAIN(FlowControlTest)
#include "tst_flowcontrol.moc"
