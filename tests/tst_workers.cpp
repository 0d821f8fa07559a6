#include "mainwindow/payload.h"
#include "tests/runningworker.h"
#include "tests/testsupport.h"
#include "workers/serial.h"
#include "workers/tcp_client.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"
#include <QNetworkDatagram>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>
#include <termios.h>

static QTcpSocket *connectFrom(const QHostAddress &host, quint16 port, QObject *parent)
{
    auto *socket = new QTcpSocket(parent);
    socket->connectToHost(host, port);
    return socket->waitForConnected(5000) ? socket : nullptr;
}

class WorkersTest : public QObject
{
    Q_OBJECT
private slots:
    void parsing()
    {
        QCOMPARE(encodePayload(QStringLiteral("中\r\n"), false), QByteArray("\xe4\xb8\xad\r\n"));
        QCOMPARE(encodePayload("01 fF 1g2\r\n", true), QByteArray("\x01\xff\x12"));
        QCOMPARE(hexPairs(QByteArray("\x00\xff\x0a", 3)), "00 ff 0a");
        QCOMPARE(parsePort(" 65535 ", false), std::optional<quint16>(65535));
        QCOMPARE(parsePort("65536", true), std::nullopt);
        QCOMPARE(parsePort("0", false), std::nullopt);
        QCOMPARE(parsePort("0", true), std::optional<quint16>(0));
        QCOMPARE(parsePeriod("1"), std::optional<int>(1));
        QCOMPARE(parsePeriod("0"), std::nullopt);
    }
    // The client worker and a plain IPv6 socket are the server worker's clients.
    void tcpClientAndServer()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        RunningWorker<TCP_Client> client;
        RunningWorker<TCP_Server> server;
        client.data(&TCP_Client::TcpClientModeMsg);
        client.report(&TCP_Client::ConnectFailed, "failed", &TCP_Client::ServerClosed, "closed",
                      &TCP_Client::SendResult, "sent");
        server.data(&TCP_Server::ClientsMsgToUI);
        server.report(&TCP_Server::TcpServerMsgToUI, "text", &TCP_Server::UpdateClientsToUI, "list",
                      &TCP_Server::SendResult, "sent");
        client.ask([port](TCP_Client *w) { w->ConnectToServer("127.0.0.1", port); });
        QTRY_COMPARE(client.reports, QStringList({ "failed|Connection refused" }));
        server.ask([port](TCP_Server *w) { w->StartListen(port); });
        QVERIFY(server.settle());
        const QByteArray binary("\x00\xff\x80\x00", 4);
        client.ask([=](TCP_Client *w) {
            w->DisconnectFromServer();
            w->SendMessage("early");
            w->ConnectToServer("127.0.0.1", port);
            w->SendMessage(binary);
        });
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
        // Everybody, the one picked, then nobody picked, which means everybody.
        server.ask([=](TCP_Server *w) {
            w->SelectClient("All Clients");
            w->SendMessage("a");
            w->SelectClient(keys[1]);
            w->SendMessage("bbb");
            w->SelectClient("");
            w->SendMessage("c");
            w->SelectClient(keys[0]);
            w->KickClient(keys[0]);
        });
        QTRY_COMPARE(peer->bytesAvailable(), 5);
        QCOMPARE(peer->readAll(), "abbbc");
        QTRY_COMPARE(client.received, "ac");
        const QStringList clientReports { "failed|Connection refused", "sent|0|未连接到服务器", "sent|4|", "closed" };
        QTRY_COMPARE(client.reports, clientReports);
        expected << "sent|2|" << "sent|3|" << "sent|2|" << "text|Client:" + keys[0] + " left!"
                 << "list|leave|" + keys[0];
        QTRY_COMPARE(server.reports, expected);
        // A send for a client that has gone is lost, never handed to everybody.
        server.ask([](TCP_Server *w) { w->SendMessage("lost"); });
        expected << "sent|0|所选客户端已断开";
        QTRY_COMPARE(server.reports, expected);
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
};

QTEST_GUILESS_MAIN(WorkersTest)
#include "tst_workers.moc"
