#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QComboBox>
#include <QHostInfo>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

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
} // namespace

class NetworkWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void tcpClientRoad()
    {
        WindowDriver d;
        QSignalSpy connects(&d.window(), &MainWindow::tcpC_connect);
        // Disconnect cancels a lookup: only the plain Connect after it goes out.
        d.check("DnsAnalysis", true);
        d.type("Obj_IP", "localhost");
        d.click("Connect");
        QCOMPARE(d.enabled(watched), "Disconnect DnsAnalysis");
        d.click("Disconnect");
        // An empty name fails at once, without asking the network: a box, and the page closed again.
        const QString closed = d.enabled(watched);
        d.type("Obj_IP", "");
        const auto boxes = answerMessageBoxes({ QMessageBox::Ok });
        d.click("Connect");
        QTRY_COMPARE(boxes->size(), 1);
        QCOMPARE(d.enabled(watched), closed);
        d.check("DnsAnalysis", false);
        QTcpServer peer;
        QTcpSocket *link = connectClient(d, peer);
        QVERIFY(link);
        QHostInfo::fromName("localhost");
        QTest::qWait(300);
        QCOMPARE(connects, QList<QVariantList>({ { "127.0.0.1", peer.serverPort() } }));
        // CR LF goes out; each echo is as typed, in the order sent.
        d.check("SendNewLine", true);
        d.check("DisplaySendMsg", true);
        send(d, "A");
        send(d, "B");
        QTRY_COMPARE(link->peek(6), "A\r\nB\r\n");
        QTRY_COMPARE(d.text("Recive_msg"), "A\n\nB\n");
        // The loop sends on the open link whichever page is shown, and ends with it.
        d.check("DisplaySendMsg", false);
        d.type("period", "20");
        d.click("Timer_Send");
        d.click("serialButton");
        d.click("TCPClient");
        QTRY_VERIFY(link->bytesAvailable() >= 6 + 2 * 3); // the two sends, then two of the loop
        link->disconnectFromHost();
        QTRY_VERIFY(d.text("Recive_msg").contains(QStringLiteral("服务器已断开连接")));
        QVERIFY(!d.w("Timer_Send")->property("checked").toBool());
        d.click("clear_send_cnt");
        QCOMPARE(d.count("Send_cnt"), 0);
        // A Disconnect with output still pending leaves the old socket closing;
        // its end must not close the next link. Both counters go past 16 bits.
        QVERIFY(connectClient(d, peer));
        const QString chunk = QString(63, u'x').append(u'\n').repeated(16384);
        for (int i = 0; i < 16; ++i)
            send(d, chunk);
        QTRY_COMPARE_WITH_TIMEOUT(d.count("Send_cnt"), 16 * (chunk.size() + 2), 20000);
        d.click("Disconnect");
        QTcpSocket *next = connectClient(d, peer);
        QVERIFY(next);
        next->write(QByteArray(70000, 'r'));
        QTRY_COMPARE(d.count("Recive_cnt"), 70000);
        // A host name is resolved, then connected to, whichever address family comes first.
        d.click("Disconnect");
        QTcpServer named;
        QVERIFY(named.listen(QHostAddress::Any));
        d.check("DnsAnalysis", true);
        d.type("Obj_IP", "localhost");
        d.type("Obj_Port", named.serverPort());
        d.click("Connect");
        QTRY_VERIFY(named.hasPendingConnections());
    }

    void udpThenServerWithThreeClients()
    {
        WindowDriver d;
        // A bound UDP page keeps its target editable.
        d.click("UDPButton");
        d.type("Local_Port", "0");
        d.click("Connect");
        QCOMPARE(d.enabled(watched), "Disconnect Send Obj_IP Obj_Port UdpBroadcast");
        d.click("Disconnect");
        d.click("TCPserver");
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        // A refusal that comes after its Disconnect does not close the next link.
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        d.type("Local_Port", holder.serverPort());
        const auto boxes = answerMessageBoxes({ QMessageBox::Ok });
        d.click("Connect");
        d.click("Disconnect");
        d.type("Local_Port", port);
        d.check("DisplaySendMsg", true);
        d.click("Connect");
        QCOMPARE(d.enabled(modeButtons), "TCPserver serialButton");
        // No client took the bytes: a line says why, nothing is counted or echoed.
        send(d, "abc");
        QTRY_VERIFY(d.text("Recive_msg").contains(QStringLiteral("发送失败")));
        QVERIFY(boxes->isEmpty());
        QVERIFY(!d.text("Recive_msg").contains("abc"));
        QCOMPARE(d.count("Send_cnt"), 0);
        auto *list = d.w<QComboBox>("client_list");
        QTcpSocket clients[3];
        for (int i = 0; i < 3; ++i) {
            clients[i].connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(clients[i].waitForConnected(5000));
            QTRY_COMPARE(list->count(), i + 2);
        }
        // Neither another mode, the serial page nor the server's own button touches the server.
        for (const char *mode : { "UDPButton", "serialButton", "TCPserver" })
            d.click(mode);
        QCOMPARE(list->count(), 4);
        // TCP keeps order, so a client whose first bytes are the later send was
        // left out of the earlier one.
        list->setCurrentIndex(2);
        send(d, "x");
        list->setCurrentIndex(0);
        send(d, "y");
        QTRY_VERIFY(clients[0].bytesAvailable() && clients[1].bytesAvailable() == 2 && clients[2].bytesAvailable());
        QCOMPARE(clients[0].readAll() + clients[1].readAll() + clients[2].readAll(), "yxyy");
        // Kick closes the chosen client only; Disconnect the others, and frees the other modes.
        list->setCurrentIndex(3);
        d.click("Kick");
        QTRY_COMPARE(clients[2].state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(list->count(), 3);
        d.click("Disconnect");
        QCOMPARE(list->count(), 0);
        QCOMPARE(d.enabled(modeButtons), modeButtons.join(' '));
        QTRY_COMPARE(clients[0].state(), QAbstractSocket::UnconnectedState);
    }

    void refusalsLeaveThePageClosed_data()
    {
        // An empty port is one held by the test, or nobody listens on it; a typed one the field refuses.
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("port");
        QTest::newRow("connect refused") << "TCPClient" << "";
        QTest::newRow("listen on a port in use") << "TCPserver" << "";
        QTest::newRow("markup shown as typed") << "UDPButton" << "<b>1</b>";
    }

    void refusalsLeaveThePageClosed()
    {
        QFETCH(QString, mode);
        QFETCH(QString, port);
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        if (port.isEmpty())
            port = QString::number(holder.serverPort());
        if (mode == "TCPClient")
            holder.close();
        WindowDriver d;
        d.click(mode);
        d.type(mode == "TCPClient" ? "Obj_Port" : "Local_Port", port);
        const QString closed = d.enabled(watched);
        const auto boxes = answerMessageBoxes({ QMessageBox::Ok });
        d.click("Connect");
        QTRY_COMPARE(boxes->size(), 1);
        QCOMPARE(boxes->first().textFormat, Qt::PlainText);
        QVERIFY2(boxes->first().text.contains(port), qPrintable(boxes->first().text));
        QCOMPARE(d.enabled(watched), closed);
    }
};

QTEST_MAIN(NetworkWindowTest)
#include "tst_networkwindow.moc"
