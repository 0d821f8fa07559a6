#include "mainwindow/networkpage.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"
#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QComboBox>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>

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
    return QTest::qWaitFor([&] { return peer.hasPendingConnections(); }, 30000) ? peer.nextPendingConnection() : nullptr;
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
        QCOMPARE(d.enabled(watched), "Connect Obj_IP Obj_Port DnsAnalysis");
        // Disconnect cancels a lookup: only the plain Connect after it goes out.
        d.check("DnsAnalysis", true);
        d.type("Obj_IP", "localhost");
        d.click("Connect");
        QCOMPARE(d.enabled(watched), "Disconnect DnsAnalysis");
        d.click("Disconnect");
        // An empty name fails at once, without asking the network: a box, and the page closed again.
        const QString closed = d.enabled(watched);
        d.type("Obj_IP", "");
        const auto boxes = answerMessageBoxes({ QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok });
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
        link->write("\xe4\xb8"); // a split character shows before the departure line
        link->disconnectFromHost();
        QTRY_VERIFY(d.text("Recive_msg").contains(QStringLiteral("\uFFFD\n服务器已断开连接")));
        QVERIFY(!d.w("Timer_Send")->property("checked").toBool());
        d.click("clear_send_cnt");
        QCOMPARE(d.count("Send_cnt"), 0);
        // Hex that is not pairs of digits stops the loop with a box that says where, and sends nothing.
        QTcpSocket *old = connectClient(d, peer);
        QVERIFY(old);
        QTest::qWait(100); // the next link gets nothing of the ended loop
        QCOMPARE(old->bytesAvailable(), 0);
        d.check("HexSend", true);
        d.setText("Send_msg", "41 4");
        d.click("Timer_Send");
        QTRY_COMPARE(boxes->size(), 2);
        QVERIFY2(boxes->last().text.contains(QStringLiteral("第 4 个字符“4”")), qPrintable(boxes->last().text));
        QVERIFY(!d.w("Timer_Send")->property("checked").toBool());
        d.check("HexSend", false);
        // So does a period that is no period.
        d.type("period", "0");
        d.click("Timer_Send");
        QTRY_COMPARE(boxes->size(), 3);
        QVERIFY(!d.w("Timer_Send")->property("checked").toBool());
        d.type("period", "20");
        // A Connect right after a Disconnect lets the old link deliver, to a peer slow to read, what was
        // counted; the old link's end does not close the next. Both counters go past 16 bits.
        const QString chunk = QString(63, u'x').append(u'\n').repeated(256 * 1024);
        old->setReadBufferSize(1);
        send(d, chunk);
        d.click("Disconnect");
        QTcpSocket *next = connectClient(d, peer);
        QVERIFY(next);
        old->setReadBufferSize(0);
        QTRY_COMPARE_WITH_TIMEOUT(old->bytesAvailable(), chunk.size() + 2, 20000);
        QTRY_COMPARE(d.count("Send_cnt"), chunk.size() + 2);
        next->write(QByteArray(70000, 'r'));
        QTRY_COMPARE(d.count("Recive_cnt"), 70000);
        // A host name, spaces around it, is resolved; its addresses are tried in order until one connects.
        d.click("Disconnect");
        QTcpServer named, later;
        QVERIFY(named.listen(QHostAddress("127.0.0.2")));
        QVERIFY(later.listen(QHostAddress::LocalHost, named.serverPort()));
        d.check("DnsAnalysis", true);
        d.type("Obj_IP", " localhost ");
        d.type("Obj_Port", named.serverPort());
        const int lookupId = QHostInfo::lookupHost("localhost", this, [](const QHostInfo &) {}) + 1; // the window's comes next
        QHostInfo::abortHostLookup(lookupId - 1);
        d.click("Connect");
        QHostInfo three(lookupId);
        three.setAddresses({ QHostAddress("127.0.0.3"), QHostAddress("127.0.0.2"), QHostAddress::LocalHost });
        QMetaObject::invokeMethod(&d.window(), "lookedUp", Q_ARG(QHostInfo, three));
        QTRY_VERIFY(named.hasPendingConnections());
        QVERIFY(!later.hasPendingConnections());
        d.click("Disconnect");
        d.click("Connect");
        QTRY_VERIFY(later.hasPendingConnections());
        QCOMPARE(boxes->size(), 3);
    }

    // What the client hands over is credited back to it alone: a worker whose thread never ran
    // finds nothing waiting once it starts.
    void idleWorkersReceiveNothing()
    {
        struct CallCounter : QObject
        {
            std::atomic<int> calls { 0 };
            bool eventFilter(QObject *, QEvent *event) override { return (calls += event->type() == QEvent::MetaCall) < 0; }
        };
        WindowDriver d;
        auto *page = d.window().findChild<NetworkPage *>();
        QObject *idle[] = { page->serverWorker(), page->udpWorker() };
        CallCounter counters[2];
        for (int i : { 0, 1 }) {
            counters[i].moveToThread(idle[i]->thread());
            idle[i]->installEventFilter(&counters[i]);
        }
        QTcpServer peer;
        QTcpSocket *link = connectClient(d, peer);
        for (int i = 1; link && i <= 20; ++i) {
            link->write(QByteArray(1000, 'x'));
            QTRY_COMPARE(d.count("Recive_cnt"), 1000 * i);
        }
        for (int i : { 0, 1 }) {
            std::atomic<bool> reached { false };
            idle[i]->thread()->start();
            QMetaObject::invokeMethod(idle[i], [&reached] { reached = true; });
            QTRY_VERIFY(reached);
            QCOMPARE(counters[i].calls, 1);
            idle[i]->removeEventFilter(&counters[i]);
        }
    }

    void udpThenServerWithThreeClients()
    {
        WindowDriver d;
        // A bound UDP page keeps its target editable, and tells the port the system chose.
        // An empty datagram is echoed and counts 0.
        d.click("UDPButton");
        d.type("Local_Port", "0");
        d.click("Connect");
        QCOMPARE(d.enabled(watched), "Disconnect Send Obj_IP Obj_Port UdpBroadcast");
        QUdpSocket target;
        QVERIFY(target.bind(QHostAddress::LocalHost));
        d.type("Obj_IP", "127.0.0.1");
        d.type("Obj_Port", target.localPort());
        d.check("DisplayTime", true);
        d.check("DisplaySendMsg", true);
        send(d, "");
        QTRY_VERIFY(d.text("Recive_msg").contains("   Send\n"));
        const auto bound = QRegularExpression("^系统分配的本地端口:([1-9]\\d*)$", QRegularExpression::MultilineOption)
                               .match(d.text("Recive_msg"));
        QVERIFY(bound.hasMatch());
        QCOMPARE(d.count("Send_cnt"), 0);
        // A datagram leaves from the bound port to the named target, whole; the answer comes back to the page.
        QVERIFY(target.waitForReadyRead(5000));
        QCOMPARE(target.receiveDatagram().data(), QByteArray());
        send(d, "ping ✓");
        QVERIFY(target.waitForReadyRead(5000));
        const QNetworkDatagram ping = target.receiveDatagram();
        QCOMPARE(ping.data(), QByteArray("ping ✓"));
        QCOMPARE(QString::number(ping.senderPort()), bound.captured(1));
        QTRY_COMPARE(d.count("Send_cnt"), ping.data().size());
        target.writeDatagram("pong", QHostAddress::LocalHost, ping.senderPort());
        QTRY_VERIFY(d.text("Recive_msg").endsWith("pong"));
        QCOMPARE(d.count("Recive_cnt"), 4);
        d.click("clear_send_cnt");
        QCOMPARE(QList<qint64>({ d.count("Send_cnt"), d.count("Recive_cnt") }), QList<qint64>({ 0, 0 }));
        d.check("DisplayTime", false);
        d.click("Disconnect");
        d.click("TCPserver");
        const quint16 port = freePort();
        QVERIFY(port);
        // A refusal that comes after its Disconnect does not close the next link.
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost));
        d.type("Local_Port", holder.serverPort());
        const auto boxes = answerMessageBoxes({ QMessageBox::Ok });
        d.click("Connect");
        d.click("Disconnect");
        d.type("Local_Port", port);
        d.click("ClearMessage");
        d.click("Connect");
        QCOMPARE(d.enabled(modeButtons), "TCPserver serialButton");
        // No client takes the loop's bytes: the loop stops at once, one line says why, nothing is counted or echoed.
        d.setText("Send_msg", "abc");
        d.type("period", "5");
        d.click("Timer_Send");
        QTRY_VERIFY(!d.w("Timer_Send")->property("checked").toBool());
        QTest::qWait(100);
        QCOMPARE(d.text("Recive_msg").count(QStringLiteral("发送失败")), 1);
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
        // Sends made before a zeroing neither count nor echo after it.
        list->setCurrentIndex(2);
        send(d, "x");
        list->setCurrentIndex(0);
        send(d, "y");
        d.click("clear_send_cnt");
        QTRY_VERIFY(clients[0].bytesAvailable() && clients[1].bytesAvailable() == 2 && clients[2].bytesAvailable());
        QCOMPARE(clients[0].readAll() + clients[1].readAll() + clients[2].readAll(), "yxyy");
        QTest::qWait(100);
        QCOMPARE(d.count("Send_cnt"), 0);
        QVERIFY(!d.text("Recive_msg").contains(QRegularExpression("^[xy]$", QRegularExpression::MultilineOption)));
        // Kick closes the chosen client only, none while all are chosen; Disconnect the others, and frees the other modes.
        list->setCurrentIndex(0);
        d.click("Kick");
        QCOMPARE(list->count(), 4);
        list->setCurrentIndex(3);
        d.click("Kick");
        QTRY_COMPARE(clients[2].state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(list->count(), 3);
        // A client leaving amid a character shows the rest before its departure.
        const QString leaving = QString("\uFFFD\nClient:127.0.0.1:%1 left!").arg(clients[1].localPort());
        clients[1].write("\xe4\xb8");
        clients[1].disconnectFromHost();
        QTRY_VERIFY(d.text("Recive_msg").endsWith(leaving));
        QCOMPARE(list->count(), 2);
        // Disconnect ends a running loop at once.
        d.setText("Send_msg", "z");
        d.click("Timer_Send");
        d.click("Disconnect");
        QVERIFY(!d.w("Timer_Send")->property("checked").toBool());
        QCOMPARE(list->count(), 0);
        QCOMPARE(d.enabled(modeButtons), modeButtons.join(' '));
        QTRY_COMPARE(clients[0].state(), QAbstractSocket::UnconnectedState);
    }

    // A burst of clients is listed, counted and reached in full.
    void serverTakesBurstOfClients()
    {
        rlimit files {};
        getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = qMax<rlim_t>(files.rlim_cur, qMin<rlim_t>(files.rlim_max, 4096));
        setrlimit(RLIMIT_NOFILE, &files);
        WindowDriver d;
        d.click("TCPserver");
        d.type("Local_Port", "0");
        d.click("Connect");
        QRegularExpression taken("本地端口:(\\d+)");
        QTRY_VERIFY(taken.match(d.text("Recive_msg")).hasMatch());
        const quint16 port = taken.match(d.text("Recive_msg")).captured(1).toUShort();
        std::vector<std::unique_ptr<QTcpSocket>> clients(500);
        for (auto &client : clients) {
            client = std::make_unique<QTcpSocket>();
            client->connectToHost(QHostAddress::LocalHost, port);
        }
        for (auto &client : clients) {
            QVERIFY(client->waitForConnected(5000));
            client->write("c");
            // None had to knock twice: the system kept every connection for the server to take.
            tcp_info info {};
            socklen_t size = sizeof info;
            QVERIFY(getsockopt(int(client->socketDescriptor()), IPPROTO_TCP, TCP_INFO, &info, &size) == 0);
            QCOMPARE(info.tcpi_total_retrans, 0u);
        }
        QTRY_COMPARE_WITH_TIMEOUT(d.w<QComboBox>("client_list")->count(), 501, 20000);
        QTRY_COMPARE(d.count("Recive_cnt"), 500);
        send(d, "z");
        for (auto &client : clients)
            QTRY_COMPARE(client->peek(1), "z");
    }

    // A peer that stops reading holds back sends; the counter is what it can receive.
    void sendsWaitForAPeerThatStopsReading()
    {
        WindowDriver d;
        QTcpServer listener;
        QTcpSocket *peer = connectClient(d, listener);
        QVERIFY(peer);
        peer->setReadBufferSize(1);
        d.setText("Send_msg", QString(16384, u's'));
        d.type("period", "1");
        d.click("Timer_Send");
        const QString skipped = QStringLiteral("跳过定时发送");
        QTRY_VERIFY_WITH_TIMEOUT(d.text("Recive_msg").contains(skipped), 20000);
        d.click("Send");
        QTest::qWait(200);
        // Said once per wait, not once per tick: the system's buffer may still
        // grow and let a few sends through, which starts another wait.
        QVERIFY(d.text("Recive_msg").count(skipped) < 10);
        QVERIFY(d.text("Recive_msg").contains(QStringLiteral("发送失败：还有")));
        d.click("Timer_Send");
        peer->setReadBufferSize(0);
        qint64 received = 0;
        QTRY_VERIFY_WITH_TIMEOUT((received += peer->readAll().size()) == d.count("Send_cnt") && received > 0, 20000);
        // A peer gone amid a send: only what the system took of it counts.
        peer->setReadBufferSize(1);
        d.click("clear_send_cnt");
        send(d, QString(16 * 1024 * 1024, u'b'));
        QTest::qWait(100);
        peer->abort();
        QTRY_VERIFY(d.text("Recive_msg").contains(QStringLiteral("服务器已断开连接")));
        QTRY_VERIFY(d.count("Send_cnt") > 0);
        QVERIFY(d.count("Send_cnt") < 16 * 1024 * 1024);
    }

    void refusalsLeaveThePageClosed_data()
    {
        // An empty port is one held by the test, or nobody listens on it; a typed one the field refuses.
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("port");
        QTest::newRow("connect refused") << "TCPClient" << "";
        QTest::newRow("listen on a port in use") << "TCPserver" << "";
        QTest::newRow("markup shown as typed") << "UDPButton" << "<b>1</b>";
        QTest::newRow("bind a port that another socket would share") << "UDPButton" << "";
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
        QUdpSocket sharer;
        if (mode == "UDPButton" && port == QString::number(holder.serverPort()))
            QVERIFY(sharer.bind(QHostAddress::LocalHost, holder.serverPort(), QAbstractSocket::ReuseAddressHint));
        WindowDriver d;
        d.click(mode);
        d.type(mode == "TCPClient" ? "Obj_Port" : "Local_Port", port);
        const QString closed = d.enabled(watched);
        const auto boxes = answerMessageBoxes({ QMessageBox::Ok });
        d.click("Connect");
        QTRY_COMPARE(boxes->size(), 1);
        QCOMPARE(boxes->first().textFormat, Qt::PlainText);
        const QString named = mode == "TCPClient" ? "127.0.0.1:" + port : port;
        QVERIFY2(boxes->first().text.contains(named), qPrintable(boxes->first().text));
        QCOMPARE(d.enabled(watched), closed);
    }
};

QTEST_MAIN(NetworkWindowTest)
#include "tst_networkwindow.moc"
