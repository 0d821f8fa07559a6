#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QCheckBox>
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

// Refused until the window's queued listen request has been served.
bool connectWhenListening(QTcpSocket &client, const QHostAddress &address, quint16 port)
{
    return QTest::qWaitFor([&] {
        client.abort();
        client.connectToHost(address, port);
        return client.waitForConnected(1000);
    });
}

// The window connected as a TCP client to `peer`; the accepted socket.
QTcpSocket *connectClient(const WindowDriver &d, QTcpServer &peer)
{
    peer.listen(QHostAddress::LocalHost);
    d.type("Obj_IP", "127.0.0.1");
    d.type("Obj_Port", peer.serverPort());
    d.click("Connect");
    return QTest::qWaitFor([&] { return peer.hasPendingConnections(); }) ? peer.nextPendingConnection() : nullptr;
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
    void lookupAnswersOnlyItsConnect_data();
    void lookupAnswersOnlyItsConnect();
};

void NetworkWindowTest::tcpClientRoad()
{
    WindowDriver d;
    QSignalSpy toClient(&d.window(), &MainWindow::tcpC_send);
    // A loop armed while closed sends nothing.
    d.setText("Send_msg", "t");
    d.type("period", "20");
    d.click("Timer_Send");
    QTest::qWait(100);
    QCOMPARE(toClient.size(), 0);
    d.click("Timer_Send");

    QCOMPARE(d.enabled(watched), "Connect Obj_IP Obj_Port DnsAnalysis");
    QTcpServer peer, silentPeer, freshPeer;
    QTcpSocket *link = connectClient(d, peer);
    QVERIFY(link);
    QCOMPARE(d.enabled(watched), "Disconnect Send DnsAnalysis");
    QCOMPARE(d.enabled(modeButtons), "TCPClient serialButton");

    // Both counters go past 16 bits.
    const QByteArray big(70000, 'r');
    link->write(big);
    QTRY_COMPARE(count(d, "Recive_cnt"), big.size());
    d.click("ClearMessage");
    QCOMPARE(d.text("Recive_msg"), "");
    d.check("SendNewLine", true);
    d.check("DisplaySendMsg", true);
    d.check("DisplayTime", true);
    d.setText("Send_msg", "AB");
    d.click("Send");
    QByteArray got;
    QTRY_COMPARE(got += link->readAll(), "AB\r\n");
    QTRY_COMPARE(d.text("Recive_msg").section('\n', 1), "AB\n");
    QVERIFY2(d.text("Recive_msg").section('\n', 0, 0).endsWith("   Send"), qPrintable(d.text("Recive_msg")));
    d.check("DisplaySendMsg", false);
    d.setText("Send_msg", QString::fromLatin1(big));
    d.click("Send");
    QTRY_COMPARE(got += link->readAll(), "AB\r\n" + big + "\r\n");
    QTRY_COMPARE(count(d, "Send_cnt"), got.size());

    // The loop sends on the open link whichever page is shown, and ends with it.
    QSignalSpy toUdp(&d.window(), &MainWindow::udp_send);
    d.check("SendNewLine", false);
    d.setText("Send_msg", "t");
    d.click("Timer_Send");
    d.click("UDPButton");
    d.click("serialButton");
    d.click("TCPClient");
    QTRY_VERIFY(link->bytesAvailable() >= 3);
    QCOMPARE(toUdp.size(), 0);
    link->disconnectFromHost();
    QTRY_VERIFY(d.w("Connect")->isEnabled());
    QVERIFY(!d.w<QCheckBox>("Timer_Send")->isChecked());
    QVERIFY(d.waitForShown("Recive_msg", QStringLiteral("服务器已断开连接")));
    const qsizetype sends = toClient.size();
    QTest::qWait(100);
    QCOMPARE(toClient.size(), sends);
    d.click("clear_send_cnt");
    QCOMPARE(count(d, "Send_cnt") + count(d, "Recive_cnt"), 0);

    // A Disconnect with output still pending leaves the old socket closing;
    // its end must not close the next link.
    QVERIFY(connectClient(d, silentPeer));
    const QString chunk = QString(63, u'x').append(u'\n').repeated(16384);
    d.setText("Send_msg", chunk);
    for (int i = 0; i < 16; ++i)
        d.click("Send");
    QTRY_COMPARE_WITH_TIMEOUT(count(d, "Send_cnt"), 16 * chunk.size(), 20000);
    d.click("Disconnect");
    QTcpSocket *fresh = connectClient(d, freshPeer);
    QVERIFY(fresh);
    d.click("ClearMessage");
    fresh->write("alive");
    QVERIFY(d.waitForShown("Recive_msg", "alive"));
    QVERIFY(d.w("Disconnect")->isEnabled());
    QVERIFY(!d.text("Recive_msg").contains(QStringLiteral("服务器已断开连接")));
}

void NetworkWindowTest::serverRoadWithThreeClients()
{
    WindowDriver d;
    d.click("TCPserver");
    const QString usableTip = d.w("UDPButton")->toolTip();
    QCOMPARE(d.enabled(watched), "Connect Obj_IP Obj_Port Local_Port");
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    d.type("Local_Port", port);
    d.check("DisplaySendMsg", true);
    d.click("Connect");
    QCOMPARE(d.enabled(watched), "Disconnect Send");
    QCOMPARE(d.enabled(modeButtons), "TCPserver serialButton");
    QVERIFY(d.w("UDPButton")->toolTip() != usableTip);

    // No client took the bytes: a line says why, nothing is counted or echoed.
    d.setText("Send_msg", "abc");
    d.click("Send");
    QVERIFY(d.waitForShown("Recive_msg", QStringLiteral("发送失败")));
    QVERIFY(!d.text("Recive_msg").contains("abc"));
    QCOMPARE(count(d, "Send_cnt"), 0);

    // One entry per connection: the address as people write it, and the port.
    auto *list = d.w<QComboBox>("client_list");
    QTcpSocket first, second, third;
    QVERIFY(connectWhenListening(first, QHostAddress::LocalHost, port));
    QVERIFY(connectWhenListening(second, QHostAddress::LocalHostIPv6, port));
    QVERIFY(connectWhenListening(third, QHostAddress::LocalHost, port));
    const auto key = [](const QString &host, const QTcpSocket &c) { return host + ":" + QString::number(c.localPort()); };
    const QStringList entries { "All Clients", key("127.0.0.1", first), key("[::1]", second), key("127.0.0.1", third) };
    QTRY_COMPARE(list->count(), 4);
    for (int i = 0; i < entries.size(); ++i)
        QCOMPARE(list->itemText(i), entries[i]);
    QVERIFY(d.waitForShown("Recive_msg", "New Client:" + entries[3] + " connected!"));

    // Neither another mode, the serial page nor the server's own button touches the server.
    d.click("UDPButton");
    d.click("serialButton");
    d.click("TCPserver");
    QCOMPARE(list->count(), 4);
    first.write("up");
    QVERIFY(d.waitForShown("Recive_msg", "\nup"));

    // TCP keeps order, so a client whose first bytes are the later send was
    // left out of the earlier one. "All Clients" counts what each one took.
    list->setCurrentIndex(2);
    d.setText("Send_msg", "x");
    d.click("Send");
    list->setCurrentIndex(0);
    d.setText("Send_msg", "y");
    d.click("Send");
    QByteArray toFirst, toSecond, toThird;
    QTRY_COMPARE(toSecond += second.readAll(), "xy");
    QTRY_COMPARE(toFirst += first.readAll(), "y");
    QTRY_COMPARE(toThird += third.readAll(), "y");
    QTRY_COMPARE(count(d, "Send_cnt"), 4);

    // Kick closes exactly the chosen one of two clients from one host.
    list->setCurrentIndex(3);
    d.click("Kick");
    QCOMPARE(list->count(), 3);
    QTRY_COMPARE(third.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(d.waitForShown("Recive_msg", "Client:" + entries[3] + " left!"));
    QCOMPARE(first.state(), QAbstractSocket::ConnectedState);
    list->setCurrentIndex(0);
    d.click("Kick");
    QCOMPARE(list->count(), 3);

    d.click("Disconnect");
    QCOMPARE(list->count(), 0);
    QCOMPARE(d.enabled(modeButtons), modeButtons.join(' '));
    QCOMPARE(d.w("UDPButton")->toolTip(), usableTip);
    QTRY_COMPARE(first.state(), QAbstractSocket::UnconnectedState);
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!late.waitForConnected(5000));
    QCOMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
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
    d.setText("Send_msg", "abc");
    d.click("Send");
    QVERIFY(d.waitForShown("Recive_msg", QStringLiteral("发送失败")));
    QVERIFY(d.text("Recive_msg").contains("localhost") && !d.text("Recive_msg").contains("abc"));
    QCOMPARE(count(d, "Send_cnt"), 0);

    d.type("Obj_IP", "127.0.0.1");
    d.check("HexSend", true);
    d.check("SendNewLine", true);
    d.setText("Send_msg", "01 02 ff");
    d.click("Send");
    QTRY_VERIFY(peer.hasPendingDatagrams());
    const QNetworkDatagram datagram = peer.receiveDatagram();
    QCOMPARE(datagram.data(), QByteArray("\x01\x02\xff"));
    QTRY_COMPARE(count(d, "Send_cnt"), 3);
    const quint16 bound = quint16(datagram.senderPort());
    d.click("ClearMessage");
    d.check("HexDisplay", true);
    peer.writeDatagram("\x41\x0d\xff", QHostAddress::LocalHost, bound);
    QTRY_COMPARE(d.text("Recive_msg"), "41 0d ff");

    // A bad target port while open stops the loop before its box.
    d.type("period", "20");
    d.type("Obj_Port", "99999");
    auto box = answerNextMessageBox(QMessageBox::Ok);
    d.click("Timer_Send");
    QTRY_VERIFY(box->seen);
    QVERIFY(box->text.contains("99999") && !d.w<QCheckBox>("Timer_Send")->isChecked());

    // The broadcast is only looked at as a request, so nothing leaves this machine.
    QObject::disconnect(&d.window(), &MainWindow::udp_send, nullptr, nullptr);
    QSignalSpy requests(&d.window(), &MainWindow::udp_send);
    d.check("UdpBroadcast", true);
    d.type("Obj_Port", "65535");
    d.click("Send");
    QCOMPARE(requests, QList<QVariantList>({ { QByteArray("\x01\x02\xff"), "255.255.255.255", quint16(65535) } }));

    d.click("Disconnect");
    QCOMPARE(d.enabled(watched), "Connect Obj_IP Obj_Port Local_Port UdpBroadcast");
    QUdpSocket taker;
    QVERIFY(taker.bind(QHostAddress::LocalHost, bound, QAbstractSocket::DontShareAddress));
}

void NetworkWindowTest::refusalsLeaveThePageClosed_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("port"); // empty: one the test holds, or one nobody listens on
    QTest::newRow("connect refused") << "TCPClient" << "";
    QTest::newRow("listen on a port in use") << "TCPserver" << "";
    QTest::newRow("bind on a port held exclusively") << "UDPButton" << "";
    QTest::newRow("target 0") << "TCPClient" << "0";
    QTest::newRow("target 70000") << "TCPClient" << "70000";
    QTest::newRow("local port 2^32") << "TCPserver" << "4294967296";
    QTest::newRow("markup shown as typed") << "UDPButton" << "<b>1</b>";
}

void NetworkWindowTest::refusalsLeaveThePageClosed()
{
    QFETCH(QString, mode);
    QFETCH(QString, port);
    QTcpServer tcpHolder;
    QUdpSocket udpHolder;
    QVERIFY(tcpHolder.listen(QHostAddress::LocalHost));
    QVERIFY(udpHolder.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
    if (port.isEmpty())
        port = QString::number(mode == "UDPButton" ? udpHolder.localPort() : tcpHolder.serverPort());
    if (mode == "TCPClient")
        tcpHolder.close();
    WindowDriver d;
    d.click(mode);
    d.type("Obj_IP", "127.0.0.1");
    d.type(mode == "TCPClient" ? "Obj_Port" : "Local_Port", port);
    const QString closed = d.enabled(watched);
    auto box = answerNextMessageBox(QMessageBox::Ok);
    d.click("Connect");
    QTRY_VERIFY(box->seen);
    QVERIFY(box->hadParent);
    QCOMPARE(box->icon, QMessageBox::Warning);
    QCOMPARE(box->textFormat, Qt::PlainText);
    QVERIFY2(box->text.contains(port), qPrintable(box->text));
    QCOMPARE(d.enabled(watched), closed);
    QCOMPARE(d.w<QComboBox>("client_list")->count(), 0);
}

void NetworkWindowTest::lookupAnswersOnlyItsConnect_data()
{
    QTest::addColumn<QString>("road");
    QTest::newRow("no such host") << "fails";
    QTest::newRow("answer after the serial page and back") << "answered";
    QTest::newRow("Disconnect, then a plain Connect") << "cancelled";
}

void NetworkWindowTest::lookupAnswersOnlyItsConnect()
{
    QFETCH(QString, road);
    // "localhost" may come back as either loopback address first.
    QTcpServer v4, v6, plain;
    for (int attempt = 0; attempt < 20 && !v6.isListening(); ++attempt) {
        v4.close();
        QVERIFY(v4.listen(QHostAddress::LocalHost));
        v6.listen(QHostAddress::LocalHostIPv6, v4.serverPort());
    }
    QVERIFY(v6.isListening() && plain.listen(QHostAddress::LocalHost));
    WindowDriver d;
    QSignalSpy connects(&d.window(), &MainWindow::tcpC_connect);
    d.check("DnsAnalysis", true);
    d.type("Obj_IP", road == "fails" ? "no-such-host.invalid" : "localhost");
    d.type("Obj_Port", v4.serverPort());
    // The failure box may take the resolver's whole time-out.
    auto box = road == "fails" ? answerNextMessageBox(QMessageBox::Ok, 30000) : nullptr;
    d.click("Connect");
    // Nothing to send to until the answer names a server.
    QCOMPARE(d.enabled(watched), "Disconnect DnsAnalysis");
    QCOMPARE(connects.size(), 0);
    if (box) {
        QTRY_VERIFY_WITH_TIMEOUT(box->seen, 30000);
        QCOMPARE(box->text, QStringLiteral("解析失败，未找到相应IP"));
        QCOMPARE(d.enabled(watched), "Connect Obj_IP Obj_Port DnsAnalysis");
    } else if (road == "answered") {
        d.click("serialButton");
        d.click("TCPClient");
        QTRY_VERIFY(v4.hasPendingConnections() || v6.hasPendingConnections());
        QCOMPARE(connects.size(), 1);
        QCOMPARE(connects[0][1].value<quint16>(), v4.serverPort());
        QCOMPARE(d.enabled(watched), "Disconnect Send DnsAnalysis");
    } else {
        d.click("Disconnect");
        d.check("DnsAnalysis", false);
        d.type("Obj_IP", "127.0.0.1");
        d.type("Obj_Port", plain.serverPort());
        d.click("Connect");
        // Let the first lookup's answer come back, had it not been cancelled.
        QHostInfo::fromName("localhost");
        QTest::qWait(300);
        QCOMPARE(connects, QList<QVariantList>({ { "127.0.0.1", plain.serverPort() } }));
        QTRY_VERIFY(plain.hasPendingConnections());
        QVERIFY(!v4.hasPendingConnections() && !v6.hasPendingConnections());
        QVERIFY(d.w("Disconnect")->isEnabled());
    }
}

QTEST_MAIN(NetworkWindowTest)
#include "tst_networkwindow.moc"
