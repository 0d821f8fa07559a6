#include "mainwindow/payload.h"
#include "mainwindow/receiveview.h"
#include "tests/runningworker.h"
#include "tests/testsupport.h"
#include "tests/windowdriver.h"
#include "workers/serial.h"
#include "workers/tcp_client.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"

#include <QAction>
#include <QDir>
#include <QNetworkDatagram>
#include <QSettings>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextBlock>
#include <QUdpSocket>

#include <sys/ioctl.h>
#include <termios.h>

static QTcpSocket *connectFrom(const QHostAddress &host, quint16 port, QObject *parent)
{
    auto *socket = new QTcpSocket(parent);
    socket->connectToHost(host, port);
    return socket->waitForConnected(5000) ? socket : nullptr;
}

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

class WorkersTest : public QObject
{
    Q_OBJECT
private slots:
    void parsing()
    {
        QCOMPARE(encodePayload(QStringLiteral("中\r\n")), QByteArray("\xe4\xb8\xad\r\n"));
        QCOMPARE(hexPairs(QByteArray("\x00\xff\x0a", 3)), "00 ff 0a");
        QCOMPARE(parsePort(" 65535 ", false), std::optional<quint16>(65535));
        QCOMPARE(parsePort("039101", false), std::optional<quint16>(39101));
        QCOMPARE(parsePort("65536", true), std::nullopt);
        QCOMPARE(parsePort("0", false), std::nullopt);
        QCOMPARE(parsePort("0", true), std::optional<quint16>(0));
        QCOMPARE(parsePeriod("1"), std::optional<int>(1));
        QCOMPARE(parsePeriod("0"), std::nullopt);
    }
    // The client worker and a plain IPv6 socket are the server worker's clients.
    void tcpClientAndServer()
    {
        const quint16 port = freePort();
        QVERIFY(port);
        RunningWorker<TCP_Client> client;
        RunningWorker<TCP_Server> server;
        client.data(&TCP_Client::TcpClientModeMsg);
        client.report(&TCP_Client::ConnectFailed, "failed", &TCP_Client::ServerClosed, "closed",
                      &TCP_Client::SendResult, "sent");
        server.data(&TCP_Server::ClientsMsgToUI);
        server.report(&TCP_Server::TcpServerMsgToUI, "text", &TCP_Server::UpdateClientsToUI, "list",
                      &TCP_Server::SendResult, "sent");
        // A send while connecting is refused, not counted and then lost.
        const auto connectAndSend = [port](TCP_Client *w) {
            w->ConnectToServer("127.0.0.1", port);
            w->SendMessage("lost");
        };
        client.ask(connectAndSend);
        const QString notConnected = "sent|0|未连接到服务器";
        QTRY_COMPARE(client.reports, QStringList({ notConnected, "failed|Connection refused" }));
        server.ask([port](TCP_Server *w) { w->StartListen(port); });
        QVERIFY(server.settle());
        const QByteArray binary("\x00\xff\x80\x00", 4);
        client.ask(connectAndSend);
        QTRY_COMPARE(server.reports.size(), 2);
        client.ask([=](TCP_Client *w) { w->SendMessage(binary); });
        QTRY_COMPARE(server.received, binary);
        QTcpSocket *peer = connectFrom(QHostAddress::LocalHostIPv6, port, this);
        QVERIFY(peer);
        // Clients are known by address and port, IPv6 ones in brackets.
        const QStringList keys { "127.0.0.1:" + QString::number(client.worker->socket->localPort()),
                                 "[::1]:" + QString::number(peer->localPort()) };
        QStringList expected;
        for (const QString &key : keys)
            expected << "text|New Client:" + key + " connected!" << "list|join|" + key;
        QTRY_COMPARE(server.reports, expected);
        // Everybody, the one picked, then one not listed, which is nobody.
        server.ask([=](TCP_Server *w) {
            w->SelectClient("All Clients");
            w->SendMessage("a");
            w->SelectClient(keys[1]);
            w->SendMessage("bbb");
            w->SelectClient("");
            w->SendMessage("c");
        });
        QTRY_COMPARE(peer->bytesAvailable(), 4);
        QCOMPARE(peer->readAll(), "abbb");
        QTRY_COMPARE(client.received, "a");
        server.ask([=](TCP_Server *w) {
            w->SelectClient(keys[0]);
            w->KickClient(keys[0]);
        });
        const QStringList clientReports { notConnected, "failed|Connection refused", notConnected, "sent|4|",
                                          "closed" };
        QTRY_COMPARE(client.reports, clientReports);
        expected << "sent|2|" << "sent|3|" << "sent|0|所选客户端已断开" << "text|Client:" + keys[0] + " left!"
                 << "list|leave|" + keys[0];
        QTRY_COMPARE(server.reports, expected);
        // A send for a client that has gone is lost, never handed to everybody.
        server.ask([](TCP_Server *w) { w->SendMessage("lost"); });
        expected << "sent|0|所选客户端已断开";
        QTRY_COMPARE(server.reports, expected);
        // A close asked for is no news of the server's: the client comes and goes without a report.
        client.ask([port](TCP_Client *w) { w->ConnectToServer("127.0.0.1", port); });
        QTRY_COMPARE(server.reports.size(), expected.size() + 2);
        client.ask([](TCP_Client *w) { w->DisconnectFromServer(); });
        QTRY_COMPARE(server.reports.size(), expected.size() + 4);
        QCOMPARE(client.reports, clientReports);
        // As a page does when the window goes: the close, then the thread's stop. The worker is
        // kept busy meanwhile, so the close still waits in its queue when the stop comes.
        QSemaphore busy;
        server.ask([&busy](TCP_Server *) {
            busy.release();
            QThread::msleep(100);
        });
        busy.acquire();
        server.ask([](TCP_Server *w) { w->StopListen(); });
        server.thread.stop();
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!connectFrom(QHostAddress::LocalHost, port, this));
    }
    void udp()
    {
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost));
        RunningWorker<UDP_Service> udp;
        udp.report(&UDP_Service::SendResult, "sent");
        udp.ask([to = peer.localPort()](UDP_Service *w) {
            w->OpenUdp(0);
            w->SendUdpMsg(QByteArray("\x00\xff", 2), "127.0.0.1", to);
            w->SendUdpMsg("x", "localhost", to);
            w->SendUdpMsg(QByteArray(70000, 'x'), "127.0.0.1", to);
        });
        QVERIFY(udp.settle());
        QVERIFY(peer.waitForReadyRead(5000));
        const QNetworkDatagram datagram = peer.receiveDatagram();
        QCOMPARE(datagram.data(), QByteArray("\x00\xff", 2));
        QCOMPARE(datagram.senderPort(), udp.worker->udpSocket->localPort());
        QCOMPARE(udp.reports.mid(0, 2), QStringList({ "sent|2|", "sent|0|目标地址“localhost”不是 IP 地址" }));
        const QString tooBig = udp.reports.value(2); // for a datagram: nothing sent, and a reason given
        QVERIFY2(tooBig.startsWith("sent|0|") && tooBig.size() > 7, qPrintable(tooBig));
        // Sent back to back, each comes in order as a message of its own, with its sender; IPv4
        // reaching the dual-stack socket is named as IPv4.
        QStringList received;
        connect(udp.worker, &UDP_Service::UdpModeMsg, &udp,
                [&received](const QByteArrayList &messages, const QStringList &senders) {
                    for (qsizetype i = 0; i < messages.size(); ++i)
                        received << senders.value(i) + '|' + messages[i];
                });
        QUdpSocket v6;
        QVERIFY(v6.bind(QHostAddress::LocalHostIPv6));
        const quint16 port = udp.worker->udpSocket->localPort();
        peer.writeDatagram("ab", QHostAddress::LocalHost, port);
        peer.writeDatagram("cd", QHostAddress::LocalHost, port);
        v6.writeDatagram("", QHostAddress::LocalHostIPv6, port);
        const QString v4 = "127.0.0.1:" + QString::number(peer.localPort());
        QTRY_COMPARE(received, QStringList({ v4 + "|ab", v4 + "|cd", "[::1]:" + QString::number(v6.localPort()) + "|" }));
    }
    // A refused setting is told by name and leaves the port closed; unknown codes mean the defaults;
    // bytes go both ways; a closed port takes no writes.
    void serial()
    {
        PseudoTerminal pty;
        RunningWorker<Serial> serial;
        serial.data(&Serial::message);
        serial.report(&Serial::OpenFailed, "failed", &Serial::SendResult, "sent");
        const QByteArray binary("\x00\xff\x11\x13", 4);
        serial.ask([port = pty.portName(), binary](Serial *w) {
            w->OpenSerial(port, 0, 8, 0, 0, 0);
            w->SerialWrite("x");
            w->OpenSerial(port, 9600, 3, 9, 9, 1);
            w->SerialWrite(binary);
        });
        QCOMPARE(pty.read(4), binary);
        termios settings {};
        QVERIFY(pty.slaveSettings(&settings));
        QCOMPARE(settings.c_cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS), tcflag_t(CRTSCTS));
        QCOMPARE(cfgetispeed(&settings), speed_t(B9600));
        pty.write(binary.left(2));
        QTRY_COMPARE(serial.received, binary.left(2));
        serial.ask([](Serial *w) {
            w->CloseSerial();
            w->SerialWrite("x");
        });
        QVERIFY(serial.settle());
        QCOMPARE(serial.reports.size(), 4);
        QVERIFY2(serial.reports[0].startsWith("failed|波特率 0"), qPrintable(serial.reports[0]));
        QCOMPARE(serial.reports.mid(1), QStringList({ "sent|0|串口未打开", "sent|4|", "sent|0|串口未打开" }));
    }
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
    // What a close counted is what the client gets: more than the system's buffers hold.
    void serverCloseDeliversWhatItCounted()
    {
        RunningWorker<TCP_Server> server;
        server.report(&TCP_Server::UpdateClientsToUI, "list", &TCP_Server::SendResult, "sent");
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, listen(server));
        QVERIFY(peer.waitForConnected(5000));
        QTRY_COMPARE(server.reports.size(), 1);
        const QByteArray payload = numberedLines(16 * 1024 * 1024);
        server.ask([payload](TCP_Server *w) {
            w->SendMessage(payload);
            w->StopListen();
        });
        QTRY_VERIFY_WITH_TIMEOUT(peer.state() == QAbstractSocket::UnconnectedState, 20000);
        QTRY_COMPARE(server.reports.size(), 3);
        QCOMPARE(server.reports[1], "sent|" + QString::number(peer.bytesAvailable()) + "|");
        QVERIFY(peer.readAll() == payload);
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
    // A stalled window stops the reading: the system's buffer holds what it can, drops the rest
    // and counts them, so every datagram sent is either handed over or reported dropped.
    void udpStallsAndAccountsForEveryDatagram()
    {
        RunningWorker<UDP_Service> udp;
        int datagrams = 0;
        qint64 bytes = 0;
        quint64 dropped = 0;
        connect(udp.worker, &UDP_Service::UdpModeMsg, &udp, [&](const QByteArrayList &messages) {
            datagrams += messages.size();
            for (const QByteArray &message : messages)
                bytes += message.size();
        });
        connect(udp.worker, &UDP_Service::DatagramsDropped, &udp, [&dropped](quint64 count) { dropped += count; });
        udp.ask([](UDP_Service *w) { w->OpenUdp(0); });
        QVERIFY(udp.settle());
        const quint16 port = udp.worker->udpSocket->localPort();
        QUdpSocket sender;
        int sent = 0;
        while (bytes < ReadCredit::Limit) {
            sender.writeDatagram(QByteArray(60000, 'u'), QHostAddress::LocalHost, port);
            ++sent;
            QVERIFY(QTest::qWaitFor([&] { return datagrams == sent; }));
        }
        const int burst = 1000;
        udp.ask([](UDP_Service *w) {
            w->udpSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 16 * 1024);
        });
        QVERIFY(udp.settle());
        for (int i = 0; i < burst; ++i)
            sender.writeDatagram(QByteArray(100, 's'), QHostAddress::LocalHost, port);
        QTest::qWait(200);
        QCOMPARE(datagrams, sent);
        udp.repay(bytes);
        sent += burst;
        QTRY_COMPARE(datagrams + dropped, quint64(sent));
        QVERIFY2(dropped > 0 && datagrams > sent - burst, qPrintable(QString::number(dropped)));
        udp.ask([](UDP_Service *w) { w->CloseUdp(); });
        QVERIFY(udp.settle());
    }
    void windowShowsEveryByteWhenThePeerCloses_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("client mode") << false;
        QTest::newRow("server mode") << true;
    }
    // The last bytes of a peer that floods and closes at once still come before the closing line.
    // The area keeps the newest part; a capture keeps everything, as shown and as received.
    void windowShowsEveryByteWhenThePeerCloses()
    {
        QFETCH(bool, server);
        const QByteArray payload = numberedLines(6 * 1024 * 1024);
        QTemporaryDir captures;
        WindowDriver ui;
        ui.close();
        QSettings store("Varnholt", "Quorvix");
        store.setValue("capture/folder", captures.path());
        store.setValue("display/maxCharacters", 1024 * 1024); // so that a few MiB overflow the area
        store.sync();
        ui.restart();
        ui.check("AutoSwitchLine", false);
        auto *area = ui.w<ReceiveView>("Recive_msg");
        QAction *capture = area->findChild<QAction *>("ActCapture");
        capture->trigger();
        QCOMPARE(capture->text(), QStringLiteral("停止记录"));
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
        const QString key = QString("127.0.0.1:%1").arg(visitor.localPort());
        const QString closed = server ? "\nClient:" + key + " left!" : QStringLiteral("\n服务器已断开连接");
        const auto lastLine = [area] { return area->document()->lastBlock().text(); }; // cheap to ask often
        QTRY_VERIFY_WITH_TIMEOUT(lastLine() == closed.mid(1), 180000);
        QVERIFY(area->joinedText().contains(QLatin1String(payload.right(256 * 1024)) + closed));
        QVERIFY(area->document()->characterCount() <= 1024 * 1024);
        capture->trigger();
        QTRY_VERIFY(lastLine().startsWith(QStringLiteral("停止记录")));
        QCOMPARE(capture->text(), QStringLiteral("开始记录"));
        QFile text(captures.filePath(QDir(captures.path()).entryList({ "*.txt" }).value(0)));
        QFile raw(QString(text.fileName()).replace(".txt", ".bin"));
        QVERIFY(text.open(QIODevice::ReadOnly) && raw.open(QIODevice::ReadOnly));
        QVERIFY(raw.readAll() == payload);
        const QString opened = server ? "New Client:" + key + " connected!" : QString();
        QVERIFY(QString::fromLocal8Bit(text.readAll()) == opened + QLatin1String(payload) + closed);
    }
};

QTEST_MAIN(WorkersTest)
#include "tst_workers.moc"
