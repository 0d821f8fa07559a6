#include "mainwindow/payload.h"
#include "mainwindow/workerthread.h"
#include "tests/testsupport.h"
#include "workers/serial.h"
#include "workers/tcp_client.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"

#include <QNetworkDatagram>
#include <QSemaphore>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <termios.h>

namespace {

QString str(const QString &text) { return text; }
QString str(qint64 number) { return QString::number(number); }
QString str(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex()); }

// A worker in its own thread, as the window runs it: requests are queued into
// that thread, and its reports come back queued, as lines "name|arg|arg".
template<typename W>
struct Running : QObject
{
    W *worker = new W;
    WorkerThread thread { worker, nullptr, WorkerThread::WorkerEnd::DeletedByOwner };
    QStringList reports;
    QByteArray received;

    Running() { thread.start(); }
    template<typename F> void ask(F request) { QMetaObject::invokeMethod(worker, [w = worker, request] { request(w); }); }
    template<typename... A, typename... More> void report(void (W::*signal)(A...), const char *name, More... more)
    {
        connect(worker, signal, this, [this, name](A... args) { reports << (QStringList { name } << ... << str(args)).join('|'); });
        if constexpr (sizeof...(More) > 0)
            report(more...);
    }
    // A byte stream: how it is cut into signals is the transport's business.
    void data(void (W::*signal)(QByteArray)) { connect(worker, signal, this, [this](const QByteArray &b) { received += b; }); }
    // Returns once the worker has handled what was asked before, and its reports are in.
    bool settle()
    {
        auto reached = std::make_shared<bool>(false);
        thread.fence(this, [reached] { *reached = true; });
        return QTest::qWaitFor([reached] { return *reached; });
    }
};

quint16 freePort() { QTcpServer probe; probe.listen(QHostAddress::LocalHost); return probe.serverPort(); }

QTcpSocket *connectFrom(const QHostAddress &host, quint16 port, QObject *parent)
{
    auto *socket = new QTcpSocket(parent);
    socket->bind(host), socket->connectToHost(host, port);
    return socket->waitForConnected(5000) ? socket : nullptr;
}

} // namespace

class WorkersTest : public QObject
{
    Q_OBJECT
private slots:
    void parsing_data()
    {
        QTest::addColumn<QString>("field"); // text, hex, shown, port, localPort, period
        QTest::addColumn<QString>("input");
        QTest::addColumn<QVariant>("expected"); // invalid: refused
        QTest::newRow("utf-8 text, CR LF") << "text" << QStringLiteral("中\r\n") << QVariant(QByteArray("\xe4\xb8\xad\r\n"));
        QTest::newRow("hex skips non-digits") << "hex" << "01 fF 1g2\r\n" << QVariant(QByteArray("\x01\xff\x12"));
        QTest::newRow("shown as hex") << "shown" << QString::fromLatin1("\x00\xff\x0a", 3) << QVariant("00 ff 0a");
        QTest::newRow("highest port") << "port" << " 65535 " << QVariant(65535);
        QTest::newRow("beyond 16 bits") << "localPort" << "65536" << QVariant();
        QTest::newRow("beyond 32 bits") << "localPort" << "4294967297" << QVariant();
        QTest::newRow("sign") << "localPort" << "+80" << QVariant();
        QTest::newRow("zero target") << "port" << "0" << QVariant();
        QTest::newRow("zero local") << "localPort" << "0" << QVariant(0);
        QTest::newRow("period") << "period" << "1" << QVariant(1);
        QTest::newRow("period zero") << "period" << "0" << QVariant();
        QTest::newRow("period fraction") << "period" << "1.5" << QVariant();
    }
    void parsing()
    {
        QFETCH(QString, field); QFETCH(QString, input); QFETCH(QVariant, expected);
        QVariant parsed = field == "shown" ? QVariant(hexPairs(input.toLatin1())) : QVariant();
        if (field == "text" || field == "hex")
            parsed = encodePayload(input, field == "hex");
        else if (const auto period = field == "period" ? parsePeriod(input) : std::nullopt)
            parsed = *period;
        else if (const auto port = field.endsWith("ort") ? parsePort(input, field == "localPort") : std::nullopt)
            parsed = int(*port);
        QCOMPARE(parsed, expected);
    }

    void tcpClient()
    {
        QTcpServer server, hole;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        // Its accept queue full and never drained: a connect to it hangs.
        hole.setListenBacklogSize(0);
        QVERIFY(hole.listen(QHostAddress::LocalHost));
        hole.pauseAccepting();
        const quint16 closed = freePort(), up = server.serverPort(), hanging = hole.serverPort();
        QTcpSocket fillers[3], reference;
        for (QTcpSocket &filler : fillers)
            filler.connectToHost(QHostAddress::LocalHost, hanging);
        reference.connectToHost(QHostAddress::LocalHost, closed);
        QVERIFY(fillers[0].waitForConnected(5000) && !reference.waitForConnected(5000));

        Running<TCP_Client> client;
        client.data(&TCP_Client::TcpClientModeMsg);
        client.report(&TCP_Client::ConnectFailed, "failed", &TCP_Client::ServerClosed, "closed", &TCP_Client::SendResult, "sent");
        client.ask([=](TCP_Client *w) { w->setConnectTimeout(200), w->ConnectToServer("127.0.0.1", closed); });
        QTRY_COMPARE(client.reports.size(), 1);
        client.ask([=](TCP_Client *w) { w->ConnectToServer("127.0.0.1", hanging); });
        QTRY_COMPARE(client.reports, (QStringList { "failed|" + reference.errorString(), "failed|Socket operation timed out" }));

        // Disconnect ends a hanging attempt at once.
        const QByteArray binary("\x00\xff\x80\x00", 4);
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

        // Disconnect queues the close and stops the thread: the close runs first, and is no news.
        client.ask([=](TCP_Client *w) { w->ConnectToServer("127.0.0.1", up); });
        QVERIFY(server.waitForNewConnection(5000));
        peer = server.nextPendingConnection();
        client.ask([](TCP_Client *w) { w->DisconnectFromServer(); });
        client.thread.stop();
        QCOMPARE(client.worker->socket->state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
        QCoreApplication::processEvents(); // whatever it said before stopping
        QCOMPARE(client.reports.size(), 5);
    }

    void tcpServer()
    {
        QTcpServer holder, reference;
        QVERIFY(holder.listen(QHostAddress::Any));
        QVERIFY(!reference.listen(QHostAddress::Any, holder.serverPort()));
        Running<TCP_Server> server;
        server.data(&TCP_Server::ClientsMsgToUI);
        server.report(&TCP_Server::ListenFailed, "failed", &TCP_Server::TcpServerMsgToUI, "text",
                      &TCP_Server::UpdateClientsToUI, "list", &TCP_Server::SendResult, "sent");
        const quint16 held = holder.serverPort(), port = freePort();
        server.ask([=](TCP_Server *w) { w->StartListen(held), w->StartListen(port); });
        QVERIFY(server.settle());
        QStringList keys, expected { "failed|" + reference.errorString() };
        QCOMPARE(server.reports, expected);

        // Two clients from one host are two entries; IPv6 is written in brackets.
        QList<QTcpSocket *> peers;
        for (const QString host : { "127.0.0.1", "127.0.0.1", "::1" }) {
            peers << connectFrom(QHostAddress(host), port, this);
            QVERIFY(peers.last());
            keys << (host.contains(':') ? "[" + host + "]" : host) + ":" + QString::number(peers.last()->localPort());
            expected << "text|New Client:" + keys.last() + " connected!" << "list|join|" + keys.last();
            QTRY_COMPARE(server.reports, expected);
        }
        peers[0]->write("\x00", 1);
        QTRY_COMPARE(server.received.size(), 1);
        peers[2]->write("\xff", 1);
        QTRY_COMPARE(server.received, QByteArray("\x00\xff", 2));

        // "All Clients", one client, none picked (which means all), then a Kick.
        server.ask([=](TCP_Server *w) {
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

        // As Disconnect does it: the close, then the thread's stop.
        server.ask([](TCP_Server *w) { w->StopListen(); });
        server.thread.stop();
        QTRY_COMPARE(peers[1]->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!connectFrom(QHostAddress::LocalHost, port, this));
    }

    void udp()
    {
        QUdpSocket peer, holder, reference, probes[2];
        for (QUdpSocket *socket : { &peer, &holder, &probes[0], &probes[1] })
            QVERIFY(socket->bind(QHostAddress::Any, 0, QAbstractSocket::DontShareAddress));
        QVERIFY(!reference.bind(QHostAddress::Any, holder.localPort(), QAbstractSocket::DefaultForPlatform));
        const quint16 held = holder.localPort(), to = peer.localPort(), before = probes[0].localPort(),
                      after = probes[1].localPort();
        probes[0].close(), probes[1].close();
        Running<UDP_Service> udp;
        udp.report(&UDP_Service::BindFailed, "failed", &UDP_Service::SendResult, "sent", &UDP_Service::UdpModeMsg, "datagram");
        // The loopback network's broadcast address keeps that datagram on this machine.
        udp.ask([=](UDP_Service *w) {
            w->OpenUdp(held), w->OpenUdp(before), w->CloseUdp(), w->OpenUdp(after);
            w->SendUdpMsg(QByteArray("\x00\xff", 2), "127.0.0.1", to), w->SendUdpMsg("everyone", "127.255.255.255", to);
            w->SendUdpMsg("x", "localhost", to), w->SendUdpMsg(QByteArray(70000, 'x'), "127.0.0.1", to);
        });
        QVERIFY(udp.settle() && QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }));
        const QNetworkDatagram first = peer.receiveDatagram();
        QVERIFY(QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }));
        QCOMPARE(first.data() + peer.receiveDatagram().data(), QByteArray("\x00\xff" "everyone", 10));
        QCOMPARE(first.senderPort(), after);
        const QStringList expected { "failed|" + reference.errorString(), "sent|2|", "sent|8|", "sent|0|目标地址“localhost”不是 IP 地址" };
        QCOMPARE(udp.reports.mid(0, 4), expected);
        QVERIFY2(udp.reports.size() == 5 && udp.reports[4].startsWith("sent|0|") && udp.reports[4].size() > 7, qPrintable(udp.reports.join(' ')));

        // Datagrams stay whole, the empty one too; the former port is free again.
        for (const QByteArray &datagram : { QByteArray("\xff\x00", 2), QByteArray(), QByteArray("ab") })
            peer.writeDatagram(datagram, QHostAddress::LocalHost, after);
        QTRY_COMPARE(udp.reports.mid(5), (QStringList { "datagram|ff00", "datagram|", "datagram|6162" }));
        QVERIFY(probes[0].bind(QHostAddress::Any, before, QAbstractSocket::DontShareAddress));
    }

    void serialLineSettings_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<QList<qint8>>("codes"); // data bits, stop bits, parity, flow control
        // A pseudo-terminal forces eight data bits and clears the parity enable
        // bit, so it refuses six or seven data bits and even parity.
        QTest::addColumn<uint>("flags"); // among CSTOPB, PARODD, CMSPAR, CRTSCTS, IXON, IXOFF
        QTest::addColumn<QString>("refused");
        using C = QList<qint8>;
        QTest::newRow("9600 8N1") << 9600 << C { 8, 0, 0, 0 } << 0u << "";
        QTest::newRow("odd, 5 bits") << 115200 << C { 5, 0, 2, 0 } << uint(PARODD) << "";
        QTest::newRow("mark, 2 stop") << 115200 << C { 8, 2, 4, 0 } << uint(CSTOPB | CMSPAR | PARODD) << "";
        QTest::newRow("1.5 stop, space") << 115200 << C { 8, 1, 3, 0 } << uint(CMSPAR) << "";
        QTest::newRow("unknown codes") << 115200 << C { 3, 9, 9, 9 } << 0u << "";
        QTest::newRow("RTS/CTS") << 115200 << C { 8, 0, 0, 1 } << uint(CRTSCTS) << "";
        QTest::newRow("XON/XOFF") << 115200 << C { 8, 0, 0, 2 } << uint(IXON | IXOFF) << "";
        QTest::newRow("baud rate 0") << 0 << C { 8, 0, 0, 0 } << 0u << "波特率 0";
        QTest::newRow("7 bits") << 9600 << C { 7, 0, 2, 0 } << 0u << "数据位 7";
        QTest::newRow("even") << 9600 << C { 8, 0, 1, 0 } << 0u << "校验位 even";
    }
    void serialLineSettings()
    {
        QFETCH(int, baud);
        QFETCH(QList<qint8>, codes);
        QFETCH(uint, flags);
        QFETCH(QString, refused);
        PseudoTerminal pty;
        Running<Serial> serial;
        serial.report(&Serial::OpenFailed, "failed");
        const QString port = pty.portName();
        serial.ask([=](Serial *w) { w->OpenSerial(port, baud, codes[0], codes[1], codes[2], codes[3]); });
        QVERIFY(serial.settle());
        if (!refused.isEmpty()) {
            QVERIFY2(serial.reports.size() == 1 && serial.reports[0].startsWith("failed|" + refused), qPrintable(serial.reports.join(' ')));
            // Closed again, so the next open succeeds.
            serial.ask([=](Serial *w) { w->OpenSerial(port, 9600, 8, 0, 0, 0), w->SerialWrite("ok"); });
            QCOMPARE(pty.read(2), "ok");
            return;
        }
        termios settings {};
        QVERIFY(serial.reports.isEmpty() && pty.slaveSettings(&settings));
        QCOMPARE(uint(settings.c_cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS)) | uint(settings.c_iflag & (IXON | IXOFF)), flags);
        QCOMPARE(cfgetospeed(&settings), baud == 9600 ? speed_t(B9600) : speed_t(B115200));
        QCOMPARE(cfgetispeed(&settings), cfgetospeed(&settings));
    }

    void serial()
    {
        PseudoTerminal pty;
        QTemporaryDir dir;
        const QString port = pty.portName(), missing = dir.filePath("ttyGone");
        QSerialPort reference(missing);
        QVERIFY(!reference.open(QIODevice::ReadWrite));
        Running<Serial> serial;
        serial.data(&Serial::message);
        serial.report(&Serial::OpenFailed, "failed", &Serial::PortLost, "lost", &Serial::SendResult, "sent");
        const QByteArray binary("\x00\xff\x11\x13", 4);
        serial.ask([=](Serial *w) { w->OpenSerial(port, 115200, 8, 0, 0, 0), w->SerialWrite(binary); });
        QCOMPARE(pty.read(4), binary);
        pty.write(binary + binary);
        QTRY_COMPARE(serial.received, binary + binary);

        // Output still pending at a close is dropped, not sent on the next open.
        QSemaphore held;
        serial.ask([&held](Serial *) { held.acquire(); });
        serial.ask([](Serial *w) { w->SerialWrite("discarded"), w->CloseSerial(), w->SerialWrite("nowhere"); });
        held.release();
        serial.ask([=](Serial *w) { w->OpenSerial(port, 115200, 8, 0, 0, 0), w->SerialWrite("after"); });
        QCOMPARE(pty.read(5), "after");
        serial.ask([=](Serial *w) { w->CloseSerial(), w->OpenSerial(missing, 9600, 8, 0, 0, 0); });
        QVERIFY(serial.settle());
        QCOMPARE(serial.reports, (QStringList { "sent|4|", "sent|9|", "sent|0|串口未打开", "sent|5|", "failed|" + reference.errorString() }));

        // A master that goes away looks like a removed device to the slave's holder.
        serial.ask([=](Serial *w) { w->OpenSerial(port, 115200, 8, 0, 0, 0); });
        QVERIFY(serial.settle());
        pty.closeMaster();
        QTRY_COMPARE(serial.reports.size(), 6);
        QVERIFY2(serial.reports[5].startsWith("lost|") && serial.reports[5].size() > 5, qPrintable(serial.reports[5]));
    }
};

QTEST_GUILESS_MAIN(WorkersTest)
#include "tst_workers.moc"
