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
    template<typename F>
    void ask(F request) { QMetaObject::invokeMethod(worker, [w = worker, request] { request(w); }); }
    template<typename... A>
    void report(void (W::*signal)(A...), const char *name)
    {
        connect(worker, signal, this, [this, name](A... args) {
            reports << (QStringList { name } << ... << str(args)).join('|');
        });
    }
    // A byte stream: how it is cut into signals is the transport's business.
    void data(void (W::*signal)(QByteArray))
    {
        connect(worker, signal, this, [this](const QByteArray &bytes) { received += bytes; });
    }
    // Returns once the worker has handled what was asked before, and its reports are in.
    bool settle()
    {
        auto reached = std::make_shared<bool>(false);
        thread.fence(this, [reached] { *reached = true; });
        return QTest::qWaitFor([reached] { return *reached; });
    }
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QTcpSocket *connectFrom(const QHostAddress &host, quint16 port, QObject *parent)
{
    auto *socket = new QTcpSocket(parent);
    socket->bind(host);
    socket->connectToHost(host, port);
    return socket->waitForConnected(5000) ? socket : nullptr;
}

} // namespace

class WorkersTest : public QObject
{
    Q_OBJECT
private slots:
    void parsing_data();
    void parsing();
    void tcpClient();
    void tcpServerRoutesByClientKey();
    void udpDatagrams();
    void serialLineSettings_data();
    void serialLineSettings();
    void serialLink();
    void closeRunsBeforeTheThreadStops();
};

void WorkersTest::parsing_data()
{
    QTest::addColumn<QString>("field"); // text, hex, shown, port, localPort, period
    QTest::addColumn<QString>("input");
    QTest::addColumn<QVariant>("expected"); // invalid: refused
    const auto bytes = [](const char *b, int n) { return QVariant(QByteArray(b, n)); };
    QTest::newRow("text") << "text" << "AB\r\n" << bytes("AB\r\n", 4);
    QTest::newRow("utf-8 text") << "text" << QStringLiteral("中") << bytes("\xe4\xb8\xad", 3);
    QTest::newRow("hex pairs") << "hex" << "01 02 fF" << bytes("\x01\x02\xff", 3);
    QTest::newRow("hex skips non-digits") << "hex" << "1g2\r\n" << bytes("\x12", 1);
    QTest::newRow("hex without digits") << "hex" << "xyz" << bytes("", 0);
    QTest::newRow("shown as hex") << "shown" << QString::fromLatin1("\x00\xff\x0a", 3) << QVariant("00 ff 0a");
    QTest::newRow("highest port") << "port" << "65535" << QVariant(65535);
    QTest::newRow("blanks around") << "port" << " 80 " << QVariant(80);
    QTest::newRow("beyond 16 bits") << "port" << "65536" << QVariant();
    QTest::newRow("beyond 32 bits") << "localPort" << "4294967297" << QVariant();
    QTest::newRow("sign") << "localPort" << "+80" << QVariant();
    QTest::newRow("not a number") << "localPort" << "http" << QVariant();
    QTest::newRow("empty") << "localPort" << "" << QVariant();
    QTest::newRow("zero target") << "port" << "0" << QVariant();
    QTest::newRow("zero local") << "localPort" << "0" << QVariant(0);
    QTest::newRow("period") << "period" << "1000" << QVariant(1000);
    QTest::newRow("period zero") << "period" << "0" << QVariant();
    QTest::newRow("period negative") << "period" << "-5" << QVariant();
    QTest::newRow("period fraction") << "period" << "1.5" << QVariant();
    QTest::newRow("period beyond 32 bits") << "period" << "99999999999" << QVariant();
}

void WorkersTest::parsing()
{
    QFETCH(QString, field);
    QFETCH(QString, input);
    QFETCH(QVariant, expected);
    QVariant parsed;
    if (field == "text" || field == "hex")
        parsed = encodePayload(input, field == "hex");
    else if (field == "shown")
        parsed = hexPairs(input.toLatin1());
    else if (field == "period")
        parsed = parsePeriod(input) ? QVariant(*parsePeriod(input)) : QVariant();
    else if (const auto port = parsePort(input, field == "localPort"))
        parsed = int(*port);
    QCOMPARE(parsed, expected);
}

void WorkersTest::tcpClient()
{
    QTcpServer server, hole;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    // Its accept queue full and never drained: a connect to it hangs.
    hole.setListenBacklogSize(0);
    QVERIFY(hole.listen(QHostAddress::LocalHost));
    hole.pauseAccepting();
    QTcpSocket fillers[3], reference;
    for (QTcpSocket &filler : fillers)
        filler.connectToHost(QHostAddress::LocalHost, hole.serverPort());
    QVERIFY(fillers[0].waitForConnected(5000));
    const quint16 closed = freePort(), up = server.serverPort(), hanging = hole.serverPort();
    reference.connectToHost(QHostAddress::LocalHost, closed);
    QVERIFY(!reference.waitForConnected(5000));

    Running<TCP_Client> client;
    client.data(&TCP_Client::TcpClientModeMsg);
    client.report(&TCP_Client::ConnectFailed, "failed");
    client.report(&TCP_Client::ServerClosed, "closed");
    client.report(&TCP_Client::SendResult, "sent");
    client.ask([=](TCP_Client *w) { w->setConnectTimeout(200), w->ConnectToServer("127.0.0.1", closed); });
    QTRY_COMPARE(client.reports.size(), 1);
    client.ask([=](TCP_Client *w) { w->ConnectToServer("127.0.0.1", hanging); });
    QTRY_COMPARE(client.reports, (QStringList { "failed|" + reference.errorString(), "failed|Socket operation timed out" }));

    // Disconnect ends a hanging attempt at once.
    const QByteArray binary("\x00\xff\x80\x00", 4);
    client.ask([=](TCP_Client *w) {
        w->setConnectTimeout(30000);
        w->ConnectToServer("127.0.0.1", hanging);
        w->DisconnectFromServer();
        w->SendMessage("early");
        w->ConnectToServer("127.0.0.1", up);
        w->SendMessage(binary);
    });
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();
    QTRY_COMPARE(peer->bytesAvailable(), 4);
    QCOMPARE(peer->readAll(), binary);
    peer->write(binary + binary);
    QTRY_COMPARE(client.received, binary + binary);
    peer->close();
    QTRY_COMPARE(client.reports.mid(2), (QStringList { "sent|0|未连接到服务器", "sent|4|", "closed" }));

    // A close asked for here is no news from the server.
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

void WorkersTest::tcpServerRoutesByClientKey()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any));
    QTcpServer reference;
    QVERIFY(!reference.listen(QHostAddress::Any, holder.serverPort()));
    Running<TCP_Server> server;
    server.data(&TCP_Server::ClientsMsgToUI);
    server.report(&TCP_Server::ListenFailed, "failed");
    server.report(&TCP_Server::TcpServerMsgToUI, "text");
    server.report(&TCP_Server::UpdateClientsToUI, "list");
    server.report(&TCP_Server::SendResult, "sent");
    const quint16 held = holder.serverPort(), port = freePort();
    server.ask([=](TCP_Server *w) { w->StartListen(held); w->StartListen(port); });
    QVERIFY(server.settle());
    QCOMPARE(server.reports, QStringList { "failed|" + reference.errorString() });

    // Two clients from one host are two entries; IPv6 is written in brackets.
    QList<QTcpSocket *> peers;
    QStringList keys, expected { server.reports };
    for (const char *host : { "127.0.0.1", "127.0.0.1", "::1" }) {
        peers << connectFrom(QHostAddress(host), port, this);
        QVERIFY(peers.last());
        const QString address = QString(host).contains(':') ? QString("[%1]").arg(host) : QString(host);
        keys << address + ":" + QString::number(peers.last()->localPort());
        expected << "text|New Client:" + keys.last() + " connected!" << "list|join|" + keys.last();
        QTRY_COMPARE(server.reports, expected);
    }
    peers[0]->write("\x00", 1);
    QTRY_COMPARE(server.received.size(), 1);
    peers[2]->write("\xff", 1);
    QTRY_COMPARE(server.received, QByteArray("\x00\xff", 2));

    // "All Clients", then one client, then none picked, which means all.
    server.ask([=](TCP_Server *w) {
        w->SelectClient("All Clients");
        w->SendMessage("a");
        w->SelectClient(keys[1]);
        w->SendMessage("bb");
        w->SelectClient("");
        w->SendMessage("c");
        w->KickClient(keys[0]);
    });
    QTRY_COMPARE(peers[0]->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(peers[2]->bytesAvailable(), 2);
    QTRY_COMPARE(peers[1]->bytesAvailable(), 4);
    QCOMPARE(peers[0]->readAll() + peers[1]->readAll() + peers[2]->readAll(), "acabbcac");
    expected << "sent|3|" << "sent|2|" << "sent|3|" << "text|Client:" + keys[0] + " left!" << "list|leave|" + keys[0];
    QTRY_COMPARE(server.reports, expected);

    // Sends for a client that has gone are lost, never handed to everybody.
    server.ask([=](TCP_Server *w) { w->SelectClient(keys[2]); w->KickClient("not a client"); });
    peers[2]->disconnectFromHost();
    expected << "text|Client:" + keys[2] + " left!" << "list|leave|" + keys[2] << "sent|0|所选客户端已断开";
    QTRY_COMPARE(server.reports.size(), expected.size() - 1);
    server.ask([](TCP_Server *w) { w->SendMessage("lost"); w->SelectClient("All Clients"); w->SendMessage("d"); });
    QTRY_COMPARE(peers[1]->bytesAvailable(), 1);
    QCOMPARE(peers[1]->readAll(), "d");
    expected << "sent|1|";
    QTRY_COMPARE(server.reports, expected);

    // As Disconnect does it: the close, then the thread's stop.
    server.ask([](TCP_Server *w) { w->StopListen(); });
    server.thread.stop();
    QTRY_COMPARE(peers[1]->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(!connectFrom(QHostAddress::LocalHost, port, this));
}

void WorkersTest::udpDatagrams()
{
    QUdpSocket peer, holder;
    QVERIFY(peer.bind(QHostAddress::Any, 0, QAbstractSocket::DontShareAddress));
    QVERIFY(holder.bind(QHostAddress::Any, 0, QAbstractSocket::DontShareAddress));
    QUdpSocket reference;
    QVERIFY(!reference.bind(QHostAddress::Any, holder.localPort(), QAbstractSocket::DefaultForPlatform));
    QUdpSocket probes[2];
    for (QUdpSocket &probe : probes)
        QVERIFY(probe.bind(QHostAddress::Any, 0, QAbstractSocket::DontShareAddress));
    const quint16 held = holder.localPort(), to = peer.localPort();
    const quint16 before = probes[0].localPort(), after = probes[1].localPort();
    for (QUdpSocket &probe : probes)
        probe.close();
    Running<UDP_Service> udp;
    udp.report(&UDP_Service::BindFailed, "failed");
    udp.report(&UDP_Service::SendResult, "sent");
    udp.report(&UDP_Service::UdpModeMsg, "datagram");
    udp.ask([=](UDP_Service *w) {
        w->OpenUdp(held);
        w->OpenUdp(before);
        w->CloseUdp();
        w->OpenUdp(after);
        w->SendUdpMsg(QByteArray("\x00\xff", 2), "127.0.0.1", to);
        // The loopback network's broadcast address keeps it on this machine.
        w->SendUdpMsg("everyone", "127.255.255.255", to);
        w->SendUdpMsg("x", "localhost", to);
        w->SendUdpMsg(QByteArray(70000, 'x'), "127.0.0.1", to);
    });
    QVERIFY(QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }));
    const QNetworkDatagram first = peer.receiveDatagram();
    QCOMPARE(first.data(), QByteArray("\x00\xff", 2));
    QCOMPARE(first.senderPort(), after);
    QVERIFY(QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }));
    QCOMPARE(peer.receiveDatagram().data(), "everyone");
    QVERIFY(udp.settle());
    QCOMPARE(udp.reports.size(), 5);
    QCOMPARE(udp.reports.mid(0, 4), (QStringList { "failed|" + reference.errorString(), "sent|2|", "sent|8|",
                                                   "sent|0|目标地址“localhost”不是 IP 地址" }));
    QVERIFY2(udp.reports[4].startsWith("sent|0|") && udp.reports[4].size() > 7, qPrintable(udp.reports[4]));

    // Datagrams stay whole, the empty one too; the former port is free again.
    for (const QByteArray &datagram : { QByteArray("\xff\x00", 2), QByteArray(), QByteArray("ab") })
        peer.writeDatagram(datagram, QHostAddress::LocalHost, after);
    QTRY_COMPARE(udp.reports.mid(5), (QStringList { "datagram|ff00", "datagram|", "datagram|6162" }));
    QUdpSocket formerPort;
    QVERIFY(formerPort.bind(QHostAddress::Any, before, QAbstractSocket::DontShareAddress));
}

void WorkersTest::serialLineSettings_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<QList<qint8>>("codes"); // data bits, stop bits, parity, flow control
    // A pseudo-terminal forces eight data bits and clears the parity enable
    // bit, so it refuses six or seven data bits and even parity.
    QTest::addColumn<uint>("cflag"); // among CSTOPB, PARODD, CMSPAR, CRTSCTS
    QTest::addColumn<uint>("iflag"); // among IXON, IXOFF
    QTest::addColumn<QString>("refused");
    using C = QList<qint8>;
    QTest::newRow("9600 8N1") << 9600 << C { 8, 0, 0, 0 } << 0u << 0u << "";
    QTest::newRow("odd, 5 bits") << 115200 << C { 5, 0, 2, 0 } << uint(PARODD) << 0u << "";
    QTest::newRow("mark, 2 stop") << 115200 << C { 8, 2, 4, 0 } << uint(CSTOPB | CMSPAR | PARODD) << 0u << "";
    QTest::newRow("1.5 stop, space") << 115200 << C { 8, 1, 3, 0 } << uint(CMSPAR) << 0u << "";
    QTest::newRow("unknown codes") << 115200 << C { 3, 9, 9, 9 } << 0u << 0u << "";
    QTest::newRow("RTS/CTS") << 115200 << C { 8, 0, 0, 1 } << uint(CRTSCTS) << 0u << "";
    QTest::newRow("XON/XOFF") << 115200 << C { 8, 0, 0, 2 } << 0u << uint(IXON | IXOFF) << "";
    QTest::newRow("baud rate 0") << 0 << C { 8, 0, 0, 0 } << 0u << 0u << "波特率 0";
    QTest::newRow("7 bits") << 9600 << C { 7, 0, 2, 0 } << 0u << 0u << "数据位 7";
    QTest::newRow("even") << 9600 << C { 8, 0, 1, 0 } << 0u << 0u << "校验位 even";
}

void WorkersTest::serialLineSettings()
{
    QFETCH(int, baud);
    QFETCH(QList<qint8>, codes);
    QFETCH(uint, cflag);
    QFETCH(uint, iflag);
    QFETCH(QString, refused);
    PseudoTerminal pty;
    Running<Serial> serial;
    serial.report(&Serial::OpenFailed, "failed");
    const QString port = pty.portName();
    serial.ask([=](Serial *w) { w->OpenSerial(port, baud, codes[0], codes[1], codes[2], codes[3]); });
    QVERIFY(serial.settle());
    QCOMPARE(serial.reports.size(), refused.isEmpty() ? 0 : 1);
    if (!refused.isEmpty()) {
        QVERIFY2(serial.reports[0].startsWith("failed|" + refused), qPrintable(serial.reports[0]));
        // Closed again, so the next open succeeds.
        serial.ask([=](Serial *w) { w->OpenSerial(port, 9600, 8, 0, 0, 0); w->SerialWrite("ok"); });
        QCOMPARE(pty.read(2), "ok");
        return;
    }
    termios settings {};
    QVERIFY(pty.slaveSettings(&settings));
    QCOMPARE(uint(settings.c_cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS)), cflag);
    QCOMPARE(uint(settings.c_iflag & (IXON | IXOFF)), iflag);
    QCOMPARE(cfgetospeed(&settings), baud == 9600 ? speed_t(B9600) : speed_t(B115200));
    QCOMPARE(cfgetispeed(&settings), cfgetospeed(&settings));
}

void WorkersTest::serialLink()
{
    PseudoTerminal pty;
    QTemporaryDir dir;
    const QString port = pty.portName(), missing = dir.filePath("ttyGone");
    QSerialPort reference(missing);
    QVERIFY(!reference.open(QIODevice::ReadWrite));
    Running<Serial> serial;
    serial.data(&Serial::message);
    serial.report(&Serial::OpenFailed, "failed");
    serial.report(&Serial::PortLost, "lost");
    serial.report(&Serial::SendResult, "sent");
    const QByteArray binary("\x00\xff\x11\x13", 4);
    serial.ask([=](Serial *w) {
        w->OpenSerial(port, 115200, 8, 0, 0, 0);
        w->SerialWrite(binary);
    });
    QCOMPARE(pty.read(4), binary);
    pty.write(binary + binary);
    QTRY_COMPARE(serial.received, binary + binary);

    // Output still pending at a close is dropped, not sent on the next open.
    QSemaphore held;
    serial.ask([&held](Serial *) { held.acquire(); });
    serial.ask([](Serial *w) {
        w->SerialWrite("discarded");
        w->CloseSerial();
        w->SerialWrite("nowhere");
    });
    held.release();
    serial.ask([=](Serial *w) {
        w->OpenSerial(port, 115200, 8, 0, 0, 0);
        w->SerialWrite("after");
    });
    QCOMPARE(pty.read(5), "after");
    serial.ask([=](Serial *w) {
        w->CloseSerial();
        w->OpenSerial(missing, 9600, 8, 0, 0, 0);
    });
    QVERIFY(serial.settle());
    QCOMPARE(serial.reports, (QStringList { "sent|4|", "sent|9|", "sent|0|串口未打开", "sent|5|",
                                            "failed|" + reference.errorString() }));

    // A master that goes away looks like a removed device to the slave's holder.
    serial.ask([=](Serial *w) { w->OpenSerial(port, 115200, 8, 0, 0, 0); });
    QVERIFY(serial.settle());
    pty.closeMaster();
    QTRY_COMPARE(serial.reports.size(), 6);
    QVERIFY2(serial.reports[5].startsWith("lost|") && serial.reports[5].size() > 5, qPrintable(serial.reports[5]));
}

// Disconnect queues the close and then stops the thread; the close must win.
void WorkersTest::closeRunsBeforeTheThreadStops()
{
    PseudoTerminal pty;
    const QString port = pty.portName();
    Running<TCP_Server> listener;
    Running<UDP_Service> udp;
    Running<Serial> serial;
    const QList<WorkerThread *> threads { &listener.thread, &udp.thread, &serial.thread };
    for (int cycle = 0; cycle < 20; ++cycle) {
        listener.ask([](TCP_Server *w) { w->StartListen(0); });
        udp.ask([](UDP_Service *w) { w->OpenUdp(0); });
        serial.ask([=](Serial *w) { w->OpenSerial(port, 9600, 8, 0, 0, 0); });
        QVERIFY(listener.settle() && udp.settle() && serial.settle());
        listener.ask([](TCP_Server *w) { w->StopListen(); });
        udp.ask([](UDP_Service *w) { w->CloseUdp(); });
        serial.ask([](Serial *w) { w->CloseSerial(); });
        for (WorkerThread *thread : threads)
            thread->stop();
        // Nothing runs in the stopped threads, so their workers can be looked at from here.
        QVERIFY(!listener.worker->server->isListening());
        QCOMPARE(udp.worker->udpSocket->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!serial.worker->serialPort->isOpen());
        for (WorkerThread *thread : threads)
            thread->start();
    }
}

QTEST_GUILESS_MAIN(WorkersTest)
#include "tst_workers.moc"
