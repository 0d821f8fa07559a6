#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QComboBox>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

namespace {

// The widgets whose enabling tells the page's state, in the order enabled() lists them.
const QStringList watched { "Connect", "Disconnect", "Send", "Obj_IP", "Obj_Port", "Local_Port", "UdpBroadcast",
                            "DnsAnalysis" };
const QStringList modeButtons { "TCPClient", "TCPserver", "UDPButton", "serialButton" };

// The window connected as a TCP client to `peer`; the accepted socket.
QTcpSocket *connectClient(const WindowDriver &d, QTcpServer &peer)
{
    peer.listen(QHostAddress::LocalHost);
    d.type("Obj_IP", "127.0.0.1");
    d.type("Obj_Port", peer.serverPort());
    d.click("Connect");
    return QTest::qWaitFor([&] { return peer.hasPendingConnections(); }) ? peer.nextPendingConnection() : nullptr;
}

void send(const WindowDriver &d, const QString &text)
{
    d.setText("Send_msg", text);
    d.click("Send");
}

qint64 count(const WindowDriver &d, const QString &label)
{
    return d.text(label).section(u'：', 1).toLongLong();
}

} // namespace

class NetworkWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void tcpClientRoad();
    void serverRoadWithThreeClients();
    void udpRoad();
    void refusalsLeaveThePageClosed_data();
    void refusalsLeaveThePageClosed();
};

void NetworkWindowTest::tcpClientRoad()
{
    WindowDriver d;
    QSignalSpy connects(&d.window(), &MainWindow::tcpC_connect), sends(&d.window(), &MainWindow::tcpC_send);
    // A loop armed while closed sends nothing.
    d.type("period", "20");
    d.click("Timer_Send");
    QTest::qWait(100);
    QCOMPARE(sends.size(), 0);
    d.click("Timer_Send");
    // Nothing to send to until the answer names a server; the resolver may take its whole time-out.
    d.check("DnsAnalysis", true);
    d.type("Obj_IP", "no-such-host.invalid");
    auto box = answerNextMessageBox(QMessageBox::Ok, 30000);
    d.click("Connect");
    QCOMPARE(d.enabled(watched), "Disconnect DnsAnalysis");
    QTRY_VERIFY_WITH_TIMEOUT(box->seen, 30000);
    QCOMPARE(d.enabled(watched), "Connect Obj_IP Obj_Port DnsAnalysis");
    // Disconnect cancels a lookup: only the plain Connect after it goes out.
    d.type("Obj_IP", "localhost");
    d.click("Connect");
    d.click("Disconnect");
    d.check("DnsAnalysis", false);
    QTcpServer peer, silentPeer, v4, v6;
    QTcpSocket *link = connectClient(d, peer);
    QVERIFY(link);
    QHostInfo::fromName("localhost");
    QTest::qWait(300);
    QCOMPARE(connects, QList<QVariantList>({ { "127.0.0.1", peer.serverPort() } }));
    // The receive counter goes past 16 bits; CR LF goes out and is echoed as typed.
    const QByteArray big(70000, 'r');
    link->write(big);
    QTRY_COMPARE(count(d, "Recive_cnt"), big.size());
    d.click("ClearMessage");
    d.check("SendNewLine", true); d.check("DisplaySendMsg", true);
    send(d, "AB");
    QTRY_COMPARE(link->peek(4), "AB\r\n");
    QTRY_COMPARE(d.text("Recive_msg"), "AB\n");
    // The loop sends on the open link whichever page is shown, and ends with it.
    d.check("SendNewLine", false); d.check("DisplaySendMsg", false);
    d.setText("Send_msg", "t");
    d.click("Timer_Send");
    d.click("serialButton"); d.click("TCPClient");
    QTRY_VERIFY(link->bytesAvailable() >= 4 + 3);
    link->disconnectFromHost();
    QTRY_COMPARE(d.text("Recive_msg"), QStringLiteral("AB\n\n服务器已断开连接"));
    QVERIFY(!d.w("Timer_Send")->property("checked").toBool());
    d.click("clear_send_cnt");
    QCOMPARE(count(d, "Send_cnt") + count(d, "Recive_cnt"), 0);
    d.click("ClearMessage");
    // A Disconnect with output still pending leaves the old socket closing;
    // its end must not close the next link. The send counter goes past 16 bits.
    QVERIFY(connectClient(d, silentPeer));
    const QString chunk = QString(63, u'x').append(u'\n').repeated(16384);
    for (int i = 0; i < 16; ++i)
        send(d, chunk);
    QTRY_COMPARE_WITH_TIMEOUT(count(d, "Send_cnt"), 16 * chunk.size(), 20000);
    d.click("Disconnect");
    // The next link comes from a lookup whose answer arrives while the serial page is shown.
    for (int attempt = 0; attempt < 20 && !v6.isListening(); ++attempt) {
        v4.close();
        QVERIFY(v4.listen(QHostAddress::LocalHost));
        v6.listen(QHostAddress::LocalHostIPv6, v4.serverPort());
    }
    d.check("DnsAnalysis", true);
    d.type("Obj_IP", "localhost");
    d.type("Obj_Port", v4.serverPort());
    d.click("Connect");
    d.click("serialButton"); d.click("TCPClient");
    QTRY_VERIFY(v4.hasPendingConnections() || v6.hasPendingConnections());
    (v4.hasPendingConnections() ? v4 : v6).nextPendingConnection()->write("alive");
    QTRY_COMPARE(d.text("Recive_msg"), "alive");
    QCOMPARE(d.enabled(watched), "Disconnect Send DnsAnalysis");
}

void NetworkWindowTest::serverRoadWithThreeClients()
{
    WindowDriver d;
    d.click("TCPserver");
    const quint16 port = [] { QTcpServer s; return s.listen(QHostAddress::LocalHost) ? s.serverPort() : 0; }();
    d.type("Local_Port", port);
    d.check("DisplaySendMsg", true);
    d.click("Connect");
    QCOMPARE(d.enabled(watched), "Disconnect Send");
    QCOMPARE(d.enabled(modeButtons), "TCPserver serialButton");
    // No client took the bytes: a line says why, nothing is counted or
    // echoed. The answer also tells that the server listens.
    send(d, "abc");
    QVERIFY(d.waitForShown("Recive_msg", QStringLiteral("发送失败")));
    QVERIFY(!d.text("Recive_msg").contains("abc"));
    QCOMPARE(count(d, "Send_cnt"), 0);
    // One entry per connection: the address as people write it, and the port.
    auto *list = d.w<QComboBox>("client_list");
    QTcpSocket first, second, third;
    const auto join = [port](QTcpSocket &c, auto at) { c.connectToHost(at, port); return c.waitForConnected(5000); };
    QVERIFY(join(first, QHostAddress::LocalHost) && join(second, QHostAddress::LocalHostIPv6)
            && join(third, QHostAddress::LocalHost));
    const auto key = [](const QString &host, const QTcpSocket &c) { return host + ':' + QString::number(c.localPort()); };
    const QStringList entries { "All Clients", key("127.0.0.1", first), key("[::1]", second), key("127.0.0.1", third) };
    QTRY_COMPARE(list->count(), 4);
    for (int i = 0; i < entries.size(); ++i)
        QCOMPARE(list->itemText(i), entries[i]);
    // Neither another mode, the serial page nor the server's own button touches the server.
    d.click("UDPButton"); d.click("serialButton"); d.click("TCPserver");
    QCOMPARE(list->count(), 4);
    first.write("up");
    QVERIFY(d.waitForShown("Recive_msg", "\nup"));
    // TCP keeps order, so a client whose first bytes are the later send was
    // left out of the earlier one. "All Clients" counts what each one took.
    list->setCurrentIndex(2); send(d, "x");
    list->setCurrentIndex(0); send(d, "y");
    QTRY_VERIFY(first.bytesAvailable() && second.bytesAvailable() == 2 && third.bytesAvailable());
    QCOMPARE(first.readAll() + second.readAll() + third.readAll(), "yxyy");
    QTRY_COMPARE(count(d, "Send_cnt"), 4);
    // Kick closes exactly the chosen one of two clients from one host; one leaving by itself leaves the list.
    list->setCurrentIndex(3); d.click("Kick");
    QCOMPARE(list->count(), 3);
    QTRY_COMPARE(third.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(d.waitForShown("Recive_msg", "Client:" + entries[3] + " left!"));
    second.disconnectFromHost();
    QTRY_COMPARE(list->count(), 2);
    QCOMPARE(list->itemText(1), entries[1]);
    d.click("Disconnect");
    QCOMPARE(list->count(), 0);
    QCOMPARE(d.enabled(modeButtons), modeButtons.join(' '));
    QTRY_COMPARE(first.state(), QAbstractSocket::UnconnectedState);
}

void NetworkWindowTest::udpRoad()
{
    WindowDriver d;
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
    d.click("UDPButton");
    QCOMPARE(d.enabled(watched), "Connect Obj_IP Obj_Port Local_Port UdpBroadcast");
    d.type("Local_Port", "0");
    d.type("Obj_IP", "localhost");
    d.type("Obj_Port", peer.localPort());
    d.check("DisplaySendMsg", true);
    d.click("Connect");
    QCOMPARE(d.enabled(watched), "Disconnect Send Obj_IP Obj_Port UdpBroadcast");
    // A host name is no datagram target: refused, not counted, not echoed.
    send(d, "abc");
    QVERIFY(d.waitForShown("Recive_msg", QStringLiteral("发送失败")));
    QVERIFY(d.text("Recive_msg").contains("localhost") && !d.text("Recive_msg").contains("abc"));
    QCOMPARE(count(d, "Send_cnt"), 0);
    d.type("Obj_IP", "127.0.0.1");
    d.check("HexSend", true); d.check("SendNewLine", true);
    send(d, "01 02 ff");
    QTRY_VERIFY(peer.hasPendingDatagrams());
    const QNetworkDatagram datagram = peer.receiveDatagram();
    QCOMPARE(datagram.data(), QByteArray("\x01\x02\xff"));
    QTRY_COMPARE(count(d, "Send_cnt"), 3);
    const quint16 bound = quint16(datagram.senderPort());
    peer.writeDatagram("in", QHostAddress::LocalHost, bound);
    QVERIFY(d.waitForShown("Recive_msg", "\nin"));
    // The broadcast is only looked at as a request, so nothing leaves this machine.
    QObject::disconnect(&d.window(), &MainWindow::udp_send, nullptr, nullptr);
    QSignalSpy requests(&d.window(), &MainWindow::udp_send);
    d.check("UdpBroadcast", true);
    d.click("Send");
    QCOMPARE(requests, QList<QVariantList>({ { QByteArray("\x01\x02\xff"), "255.255.255.255", peer.localPort() } }));
    d.click("Disconnect");
    QVERIFY(QUdpSocket().bind(QHostAddress::LocalHost, bound, QAbstractSocket::DontShareAddress));
}

void NetworkWindowTest::refusalsLeaveThePageClosed_data()
{
    QTest::addColumn<QString>("mode");
    // A port the field refuses is answered within the click; an empty one is
    // held by the test, or nobody listens on it.
    QTest::addColumn<QString>("port");
    QTest::newRow("connect refused") << "TCPClient" << "";
    QTest::newRow("listen on a port in use") << "TCPserver" << "";
    QTest::newRow("bind on a port held exclusively") << "UDPButton" << "";
    QTest::newRow("target 0") << "TCPClient" << "0";
    QTest::newRow("markup shown as typed") << "UDPButton" << "<b>1</b>";
}

void NetworkWindowTest::refusalsLeaveThePageClosed()
{
    QFETCH(QString, mode);
    QFETCH(QString, port);
    const bool typed = !port.isEmpty();
    QTcpServer tcpHolder;
    QUdpSocket udpHolder;
    QVERIFY(tcpHolder.listen(QHostAddress::LocalHost)
            && udpHolder.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
    if (port.isEmpty())
        port = QString::number(mode == "UDPButton" ? udpHolder.localPort() : tcpHolder.serverPort());
    if (mode == "TCPClient")
        tcpHolder.close();
    WindowDriver d;
    d.click(mode);
    d.type(mode == "TCPClient" ? "Obj_Port" : "Local_Port", port);
    const QString closed = d.enabled(watched);
    auto box = answerNextMessageBox(QMessageBox::Ok);
    d.click("Connect");
    QCOMPARE(box->seen, typed);
    QTRY_VERIFY(box->seen);
    QCOMPARE(box->textFormat, Qt::PlainText);
    QVERIFY2(box->text.contains(port), qPrintable(box->text));
    QCOMPARE(d.enabled(watched), closed);
}

QTEST_MAIN(NetworkWindowTest)
#include "tst_networkwindow.moc"
