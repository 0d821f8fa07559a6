#include "mainwindow/payload.h"
#include "tests/runningworker.h"
#include "tests/testsupport.h"
#include "workers/serial.h"
#include "workers/tcp_client.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"
#include <QNetworkDatagram>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>
#include <termios.h>

static quint16 freePort() { QTcpServer probe; probe.listen(QHostAddress::LocalHost); return probe.serverPort(); }
static QTcpSocket *connectFrom(const QHostAddress &host, quint16 port, QObject *parent)
{
    auto *socket = new QTcpSocket(parent);
    return socket->bind(host), socket->connectToHost(host, port), socket->waitForConnected(5000) ? socket : nullptr;
}

class WorkersTest : public QObject
{
    Q_OBJECT
private slots:
    void parsing_data()
    {
        // field: text, hex, shown, port, localPort or period; an invalid expected value: refused
        QTest::addColumn<QString>("field"), QTest::addColumn<QString>("input"), QTest::addColumn<QVariant>("expected");
        QTest::newRow("utf-8 text, CR LF") << "text" << QStringLiteral("中\r\n") << QVariant(QByteArray("\xe4\xb8\xad\r\n"));
        QTest::newRow("hex skips non-digits") << "hex" << "01 fF 1g2\r\n" << QVariant(QByteArray("\x01\xff\x12"));
        QTest::newRow("shown as hex") << "shown" << QString::fromLatin1("\x00\xff\x0a", 3) << QVariant("00 ff 0a");
        QTest::newRow("highest port") << "port" << " 65535 " << QVariant(65535);
        QTest::newRow("beyond 16 bits") << "localPort" << "65536" << QVariant();
        QTest::newRow("zero target") << "port" << "0" << QVariant();
        QTest::newRow("zero local") << "localPort" << "0" << QVariant(0);
        QTest::newRow("period") << "period" << "1" << QVariant(1);
        QTest::newRow("period zero") << "period" << "0" << QVariant();
    }
    void parsing()
    {
        QFETCH(QString, field); QFETCH(QString, input); QFETCH(QVariant, expected);
        const auto port = field.endsWith("ort") ? parsePort(input, field == "localPort") : std::nullopt;
        const auto period = field == "period" ? parsePeriod(input) : std::nullopt;
        QCOMPARE(field == "shown" ? QVariant(hexPairs(input.toLatin1())) : field == "text" || field == "hex"
                     ? QVariant(encodePayload(input, field == "hex")) : port ? QVariant(int(*port)) : period ? QVariant(*period) : QVariant(),
                 expected);
    }
    void tcpClient()
    {
        QTcpServer server, hole; // the hole's accept queue is full and never drained: a connect to it hangs
        hole.setListenBacklogSize(0);
        QVERIFY(server.listen(QHostAddress::LocalHost) && hole.listen(QHostAddress::LocalHost));
        hole.pauseAccepting();
        const quint16 closed = freePort(), up = server.serverPort(), hanging = hole.serverPort();
        QTcpSocket fillers[3], reference;
        for (QTcpSocket &filler : fillers)
            filler.connectToHost(QHostAddress::LocalHost, hanging);
        reference.connectToHost(QHostAddress::LocalHost, closed);
        QVERIFY(fillers[0].waitForConnected(5000) && !reference.waitForConnected(5000));
        RunningWorker<TCP_Client> client;
        client.data(&TCP_Client::TcpClientModeMsg);
        client.report(&TCP_Client::ConnectFailed, "failed", &TCP_Client::ServerClosed, "closed", &TCP_Client::SendResult, "sent");
        client.ask([=](TCP_Client *w) { w->setConnectTimeout(200), w->ConnectToServer("127.0.0.1", closed); });
        QTRY_COMPARE(client.reports.size(), 1);
        client.ask([=](TCP_Client *w) { w->ConnectToServer("127.0.0.1", hanging); });
        QTRY_COMPARE(client.reports, (QStringList { "failed|" + reference.errorString(), "failed|Socket operation timed out" }));
        const QByteArray binary("\x00\xff\x80\x00", 4); // and Disconnect ends a hanging attempt at once
        client.ask([=](TCP_Client *w) {
            w->setConnectTimeout(30000), w->ConnectToServer("127.0.0.1", hanging);
            w->DisconnectFromServer(), w->SendMessage("early");
            w->ConnectToServer("127.0.0.1", up), w->SendMessage(binary);
        });
        QVERIFY(server.waitForNewConnection(5000));
        QTcpSocket *peer = server.nextPendingConnection();
        QTRY_COMPARE(peer->bytesAvailable(), 4);
        QCOMPARE(peer->readAll(), binary);
        peer->write(binary + binary);
        QTRY_COMPARE(client.received, binary + binary);
        peer->close();
        QTRY_COMPARE(client.reports.mid(2), (QStringList { "sent|0|未连接到服务器", "sent|4|", "closed" }));
        client.ask([=](TCP_Client *w) { w->ConnectToServer("127.0.0.1", up); }); // Disconnect: close, then stop
        QVERIFY(server.waitForNewConnection(5000));
        peer = server.nextPendingConnection();
        peer->write("!"); // read once connected
        QTRY_COMPARE(client.received.size(), 9);
        client.ask([](TCP_Client *w) { w->DisconnectFromServer(); });
        client.thread.stop(); // the close runs first, and is no news
        QCOMPARE(client.worker->socket->state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!QTest::qWaitFor([&] { return client.reports.size() > 5; }, 100));
    }
    void tcpServer()
    {
        QTcpServer holder, reference;
        QVERIFY(holder.listen(QHostAddress::Any) && !reference.listen(QHostAddress::Any, holder.serverPort()));
        RunningWorker<TCP_Server> server;
        server.data(&TCP_Server::ClientsMsgToUI);
        server.report(&TCP_Server::ListenFailed, "failed", &TCP_Server::TcpServerMsgToUI, "text",
                      &TCP_Server::UpdateClientsToUI, "list", &TCP_Server::SendResult, "sent");
        const quint16 held = holder.serverPort(), port = freePort();
        server.ask([=](TCP_Server *w) { w->StartListen(held), w->StartListen(port); });
        QStringList keys, expected { "failed|" + reference.errorString() };
        QVERIFY(server.settle() && server.reports == expected);
        QList<QTcpSocket *> peers; // two from one host are two entries; IPv6 is written in brackets
        for (const QString host : { "127.0.0.1", "127.0.0.1", "::1" }) {
            peers << connectFrom(QHostAddress(host), port, this);
            QVERIFY(peers.last());
            keys << (host.contains(':') ? "[" + host + "]" : host) + ":" + QString::number(peers.last()->localPort());
            expected << "text|New Client:" + keys.last() + " connected!" << "list|join|" + keys.last();
            QTRY_COMPARE(server.reports, expected);
        }
        peers[2]->write("\x00\xff", 2);
        QTRY_COMPARE(server.received, QByteArray("\x00\xff", 2));
        server.ask([=](TCP_Server *w) { // "All Clients", one client, none picked (which means all), a Kick
            w->SelectClient("All Clients"), w->SendMessage("a"), w->SelectClient(keys[1]), w->SendMessage("bb");
            w->SelectClient(""), w->SendMessage("c"), w->KickClient(keys[0]);
        });
        QTRY_COMPARE(peers[0]->state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(peers[2]->bytesAvailable() + peers[1]->bytesAvailable(), 6);
        QCOMPARE(peers[0]->readAll() + peers[1]->readAll() + peers[2]->readAll(), "acabbcac");
        expected << "sent|3|" << "sent|2|" << "sent|3|" << "text|Client:" + keys[0] + " left!" << "list|leave|" + keys[0];
        QTRY_COMPARE(server.reports, expected);
        // Sends for a client that has gone are lost, never handed to everybody.
        server.ask([=](TCP_Server *w) { w->SelectClient(keys[2]), w->KickClient("not a client"); });
        peers[2]->disconnectFromHost();
        expected << "text|Client:" + keys[2] + " left!" << "list|leave|" + keys[2];
        QTRY_COMPARE(server.reports, expected);
        server.ask([](TCP_Server *w) { w->SendMessage("lost"), w->SelectClient("All Clients"), w->SendMessage("d"); });
        QTRY_COMPARE(peers[1]->bytesAvailable(), 1);
        QCOMPARE(peers[1]->readAll(), "d");
        expected << "sent|0|所选客户端已断开" << "sent|1|";
        QTRY_COMPARE(server.reports, expected);
        server.ask([](TCP_Server *w) { w->StopListen(); }); // as Disconnect does it: the close, then the stop
        server.thread.stop();
        QTRY_COMPARE(peers[1]->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!connectFrom(QHostAddress::LocalHost, port, this));
    }
    void udp()
    {
        QUdpSocket peer, holder, reference, probe;
        for (QUdpSocket *socket : { &peer, &holder, &probe })
            QVERIFY(socket->bind(QHostAddress::Any, 0, QAbstractSocket::DontShareAddress));
        QVERIFY(!reference.bind(QHostAddress::Any, holder.localPort(), QAbstractSocket::DefaultForPlatform));
        const quint16 held = holder.localPort(), to = peer.localPort(), port = probe.localPort();
        probe.close();
        RunningWorker<UDP_Service> udp;
        udp.report(&UDP_Service::BindFailed, "failed", &UDP_Service::SendResult, "sent");
        udp.ask([=](UDP_Service *w) {
            w->OpenUdp(held), w->OpenUdp(port);
            w->SendUdpMsg(QByteArray("\x00\xff", 2), "127.0.0.1", to), w->SendUdpMsg("everyone", "127.255.255.255", to); // stays on loopback
            w->SendUdpMsg("x", "localhost", to), w->SendUdpMsg(QByteArray(70000, 'x'), "127.0.0.1", to);
        });
        QVERIFY(udp.settle() && QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }));
        const QNetworkDatagram first = peer.receiveDatagram();
        QVERIFY(QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }));
        QCOMPARE(first.data() + peer.receiveDatagram().data(), QByteArray("\x00\xff" "everyone", 10));
        QCOMPARE(first.senderPort(), port);
        const QStringList expected { "failed|" + reference.errorString(), "sent|2|", "sent|8|", "sent|0|目标地址“localhost”不是 IP 地址" };
        QCOMPARE(udp.reports.mid(0, 4), expected);
        QVERIFY2(udp.reports.size() == 5 && udp.reports[4].startsWith("sent|0|") && udp.reports[4].size() > 7, qPrintable(udp.reports.join(' ')));
    }
    void serialLineSettings_data()
    {
        // Codes: data bits, stop bits, parity, flow control; flags among CSTOPB, PARODD, CMSPAR, CRTSCTS,
        // IXON, IXOFF. A pty forces 8 data bits and clears PARENB, so it refuses 6 or 7 bits and even parity.
        QTest::addColumn<int>("baud"), QTest::addColumn<QList<qint8>>("codes"), QTest::addColumn<uint>("flags");
        QTest::addColumn<QString>("refused");
        using C = QList<qint8>;
        QTest::newRow("9600 8N1") << 9600 << C { 8, 0, 0, 0 } << 0u << "";
        QTest::newRow("odd, 5 bits") << 115200 << C { 5, 0, 2, 0 } << uint(PARODD) << "";
        QTest::newRow("mark, 2 stop") << 115200 << C { 8, 2, 4, 0 } << uint(CSTOPB | CMSPAR | PARODD) << "";
        QTest::newRow("1.5 stop, space") << 115200 << C { 8, 1, 3, 0 } << uint(CMSPAR) << "";
        QTest::newRow("RTS/CTS, unknown codes") << 115200 << C { 3, 9, 9, 1 } << uint(CRTSCTS) << "";
        QTest::newRow("XON/XOFF") << 115200 << C { 8, 0, 0, 2 } << uint(IXON | IXOFF) << "";
        QTest::newRow("baud rate 0") << 0 << C { 8, 0, 0, 0 } << 0u << "波特率 0";
        QTest::newRow("7 bits") << 9600 << C { 7, 0, 2, 0 } << 0u << "数据位 7";
        QTest::newRow("even") << 9600 << C { 8, 0, 1, 0 } << 0u << "校验位 even";
    }
    void serialLineSettings()
    {
        QFETCH(int, baud); QFETCH(QList<qint8>, codes); QFETCH(uint, flags); QFETCH(QString, refused);
        PseudoTerminal pty;
        RunningWorker<Serial> serial;
        serial.report(&Serial::OpenFailed, "failed");
        serial.ask([=, port = pty.portName()](Serial *w) { w->OpenSerial(port, baud, codes[0], codes[1], codes[2], codes[3]); });
        QVERIFY(serial.settle());
        if (!refused.isEmpty()) { // and closed again, so the next open succeeds
            QVERIFY2(serial.reports.size() == 1 && serial.reports[0].startsWith("failed|" + refused), qPrintable(serial.reports.join(' ')));
            serial.ask([port = pty.portName()](Serial *w) { w->OpenSerial(port, 9600, 8, 0, 0, 0), w->SerialWrite("ok"); });
            QCOMPARE(pty.read(2), "ok");
            return;
        }
        termios settings {};
        QVERIFY(serial.reports.isEmpty() && pty.slaveSettings(&settings));
        QCOMPARE(uint(settings.c_cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS)) | uint(settings.c_iflag & (IXON | IXOFF)), flags);
        QCOMPARE(cfgetispeed(&settings), baud == 9600 ? speed_t(B9600) : speed_t(B115200));
    }
    void serial()
    {
        PseudoTerminal pty;
        const QTemporaryDir dir;
        const QString port = pty.portName(), missing = dir.filePath("ttyGone");
        QSerialPort reference(missing);
        QVERIFY(!reference.open(QIODevice::ReadWrite));
        RunningWorker<Serial> serial;
        serial.data(&Serial::message);
        serial.report(&Serial::OpenFailed, "failed", &Serial::SendResult, "sent");
        const QByteArray binary("\x00\xff\x11\x13", 4);
        serial.ask([=](Serial *w) { w->OpenSerial(port, 115200, 8, 0, 0, 0), w->SerialWrite(binary); });
        QCOMPARE(pty.read(4), binary);
        pty.write(binary + binary);
        QTRY_COMPARE(serial.received, binary + binary);
        serial.ask([=](Serial *w) { w->CloseSerial(), w->SerialWrite("nowhere"), w->OpenSerial(port, 115200, 8, 0, 0, 0); });
        serial.ask([](Serial *w) { w->SerialWrite("after"); });
        QCOMPARE(pty.read(5), "after");
        serial.ask([=](Serial *w) { w->CloseSerial(), w->OpenSerial(missing, 9600, 8, 0, 0, 0); });
        QVERIFY(serial.settle());
        QCOMPARE(serial.reports, (QStringList { "sent|4|", "sent|0|串口未打开", "sent|5|", "failed|" + reference.errorString() }));
    }
};

QTEST_GUILESS_MAIN(WorkersTest)
#include "tst_workers.moc"
