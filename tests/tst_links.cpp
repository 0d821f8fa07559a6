#include "mainwindow/mainwindow.h"

#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHostInfo>
#include <QMouseEvent>
#include <QNetworkDatagram>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextEdit>
#include <QUdpSocket>

namespace {

quint16 freeTcpPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

bool connectWhenListening(QTcpSocket &client, quint16 port)
{
    return QTest::qWaitFor([&] {
        client.abort();
        client.connectToHost(QHostAddress::LocalHost, port);
        return client.waitForConnected(1000);
    });
}

void sendMouse(QWidget *target, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, QPointF(local), QPointF(target->mapToGlobal(local)), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

const QStringList modeButtons { "TCPClient", "TCPserver", "UDPButton", "serialButton" };

// The window connected as a TCP client to `peer`; the accepted socket.
QTcpSocket *connectClient(const WindowDriver &d, QTcpServer &peer)
{
    if (!peer.isListening())
        peer.listen(QHostAddress::LocalHost);
    d.type("Obj_IP", "127.0.0.1");
    d.type("Obj_Port", peer.serverPort());
    d.click("Connect");
    return QTest::qWaitFor([&] { return peer.hasPendingConnections(); }) ? peer.nextPendingConnection() : nullptr;
}

qint64 sendCount(const WindowDriver &d)
{
    return d.text("Send_cnt").section(u'：', 1).toLongLong();
}

} // namespace

class LinksTest : public QObject
{
    Q_OBJECT
private slots:
    void openLinkBelongsToItsMode();
    void closedLinkReportsNothingLater();
    void lookupAnswersOnlyItsConnect_data();
    void lookupAnswersOnlyItsConnect();
    void sendActsOnTheOpenLinkOnly();
    void countsWhatTheTransportTook_data();
    void countsWhatTheTransportTook();
    void serialPortPickSurvivesRefresh();
};

void LinksTest::openLinkBelongsToItsMode()
{
    WindowDriver d;
    d.click("TCPserver");
    const quint16 port = freeTcpPort();
    d.type("Local_Port", port);
    d.click("Connect");
    QTcpSocket client;
    QVERIFY(connectWhenListening(client, port));
    QTRY_COMPARE(d.w<QComboBox>("client_list")->count(), 2);

    QCOMPARE(d.enabled(modeButtons), "TCPserver serialButton");
    QVERIFY2(d.w("UDPButton")->toolTip().contains(QStringLiteral("断开")), qPrintable(d.w("UDPButton")->toolTip()));
    QCOMPARE(d.w("TCPClient")->toolTip(), d.w("UDPButton")->toolTip());

    // A disabled button keeps its press: no window drag starts.
    QWidget *udp = d.w("UDPButton");
    const QPoint start = d.window().pos();
    const QPoint centre = udp->rect().center();
    sendMouse(udp, QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    sendMouse(udp, QEvent::MouseMove, centre + QPoint(40, 30), Qt::NoButton, Qt::LeftButton);
    sendMouse(udp, QEvent::MouseButtonRelease, centre + QPoint(40, 30), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(d.window().pos(), start);

    // Neither another mode, the serial page nor the server's own button
    // touches the server or its list.
    d.click("UDPButton");
    d.click("serialButton");
    d.click("TCPserver");
    QCOMPARE(d.text("titlelabel"), QStringLiteral("TCP服务器"));
    QCOMPARE(d.w<QComboBox>("client_list")->count(), 2);

    d.click("Disconnect");
    QCOMPARE(d.enabled(modeButtons), modeButtons.join(' '));
    QCOMPARE(d.w("UDPButton")->toolTip(), QStringLiteral("UDP模式"));
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!late.waitForConnected(3000));
    QCOMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);

    // What the user typed is shown as typed.
    d.type("Local_Port", "<b>1</b>");
    auto refused = answerNextMessageBox(QMessageBox::Ok, 0);
    d.click("Connect");
    QVERIFY(refused->seen);
    QCOMPARE(refused->textFormat, Qt::PlainText);
    QVERIFY2(refused->text.contains("<b>1</b>"), qPrintable(refused->text));
}

// A Disconnect with output still pending leaves the old socket closing; the
// next Connect must not be ended by that socket's end.
void LinksTest::closedLinkReportsNothingLater()
{
    WindowDriver d;
    QTcpServer first, second;
    QTcpSocket *silent = connectClient(d, first);
    QVERIFY(silent);
    // Far more than the kernel buffers while the peer reads nothing.
    const QString lines = QString(63, u'x').append(u'\n').repeated(16384);
    const qint64 chunk = lines.size();
    d.setText("Send_msg", lines);
    for (int i = 0; i < 16; ++i)
        d.click("Send");
    QTRY_COMPARE_WITH_TIMEOUT(sendCount(d), 16 * chunk, 20000);
    d.click("Disconnect");

    QTcpSocket *fresh = connectClient(d, second);
    QVERIFY(fresh);
    fresh->write("alive");
    QVERIFY(d.waitForShown("Recive_msg", "alive"));
    QVERIFY(d.w("Disconnect")->isEnabled());
    QVERIFY(!d.text("Recive_msg").contains(QStringLiteral("服务器已断开连接")));
}

void LinksTest::lookupAnswersOnlyItsConnect_data()
{
    QTest::addColumn<bool>("cancelled");
    QTest::newRow("answer after the serial page and back") << false;
    QTest::newRow("Disconnect, then a plain Connect") << true;
}

void LinksTest::lookupAnswersOnlyItsConnect()
{
    QFETCH(bool, cancelled);
    // "localhost" may come back as either loopback address first.
    QTcpServer v4, v6, plain;
    for (int attempt = 0; attempt < 20 && !v6.isListening(); ++attempt) {
        v4.close();
        QVERIFY(v4.listen(QHostAddress::LocalHost));
        v6.listen(QHostAddress::LocalHostIPv6, v4.serverPort());
    }
    QVERIFY(v6.isListening());
    QVERIFY(plain.listen(QHostAddress::LocalHost));

    WindowDriver d;
    QSignalSpy connects(&d.window(), &MainWindow::tcpC_connect);
    d.check("DnsAnalysis", true);
    d.type("Obj_IP", "localhost");
    d.type("Obj_Port", v4.serverPort());
    d.click("Connect");
    QCOMPARE(connects.size(), 0);
    if (!cancelled) {
        d.click("serialButton");
        d.click("TCPClient");
        QTRY_VERIFY(v4.hasPendingConnections() || v6.hasPendingConnections());
        QCOMPARE(connects.size(), 1);
        QCOMPARE(connects[0][1].value<quint16>(), v4.serverPort());
        QVERIFY(d.w("Send")->isEnabled());
        return;
    }

    d.click("UDPButton");
    d.click("Disconnect");
    d.click("TCPClient");
    d.check("DnsAnalysis", false);
    d.type("Obj_IP", "127.0.0.1");
    d.type("Obj_Port", plain.serverPort());
    d.click("Connect");
    // Let the first lookup's answer come back, had it not been cancelled.
    QHostInfo::fromName("localhost");
    QTest::qWait(300);
    QCOMPARE(connects.size(), 1);
    QCOMPARE(connects[0], (QVariantList { QString("127.0.0.1"), plain.serverPort() }));
    QTRY_VERIFY(plain.hasPendingConnections());
    QVERIFY(!v4.hasPendingConnections() && !v6.hasPendingConnections());
    QVERIFY(d.w("Disconnect")->isEnabled());
}

void LinksTest::sendActsOnTheOpenLinkOnly()
{
    WindowDriver d;
    QTcpServer peer;
    QTcpSocket *link = connectClient(d, peer);
    QVERIFY(link);
    QSignalSpy toUdp(&d.window(), &MainWindow::udp_send);
    QSignalSpy toClient(&d.window(), &MainWindow::tcpC_send);
    d.setText("Send_msg", "t");
    d.type("period", "20");
    d.click("Timer_Send");
    d.click("UDPButton");
    d.click("Send");
    QTRY_VERIFY(link->bytesAvailable() >= 3);
    QCOMPARE(toUdp.size(), 0);

    // The far side ends the link: the loop ends with it.
    link->disconnectFromHost();
    QTRY_VERIFY(d.w("Connect")->isEnabled());
    QVERIFY(!d.w<QCheckBox>("Timer_Send")->isChecked());
    const qsizetype sent = toClient.size();
    QTest::qWait(100);
    QCOMPARE(toClient.size(), sent);
    QCOMPARE(toUdp.size(), 0);
}

void LinksTest::countsWhatTheTransportTook_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("why"); // empty when the bytes go out
    QTest::newRow("UDP to loopback") << "UDPButton" << "127.0.0.1" << "";
    QTest::newRow("UDP to a host name") << "UDPButton" << "localhost" << "localhost";
    QTest::newRow("server without clients") << "TCPserver" << "" << QStringLiteral("客户端");
}

void LinksTest::countsWhatTheTransportTook()
{
    QFETCH(QString, mode);
    QFETCH(QString, target);
    QFETCH(QString, why);
    WindowDriver d;
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
    d.click(mode);
    d.type("Local_Port", mode == "UDPButton" ? 0 : freeTcpPort());
    d.type("Obj_IP", target);
    d.type("Obj_Port", peer.localPort());
    d.check("DisplaySendMsg", true);
    d.click("Connect");
    d.setText("Send_msg", "abc");
    d.click("Send");
    if (why.isEmpty()) {
        QTRY_VERIFY(peer.hasPendingDatagrams());
        QVERIFY(d.waitForShown("Recive_msg", "abc"));
        QTRY_COMPARE(sendCount(d), 3);
        return;
    }
    QVERIFY(d.waitForShown("Recive_msg", QStringLiteral("发送失败")));
    QVERIFY2(d.text("Recive_msg").contains(why), qPrintable(d.text("Recive_msg")));
    QVERIFY(!d.text("Recive_msg").contains("abc"));
    QCOMPARE(sendCount(d), 0);
}

// The stored port is a preference; what the user picks or types wins, also
// across refreshes of the list, and a reset forgets the stored one.
void LinksTest::serialPortPickSurvivesRefresh()
{
    PseudoTerminal stored, listed, picked, typed;
    QVERIFY(stored.isValid() && listed.isValid() && picked.isValid() && typed.isValid());
    QStringList ports { listed.portName(), picked.portName() };
    auto lister = [&ports] { return ports; };
    WindowDriver d(lister);
    d.close();
    QSettings(QStringLiteral("Varnholt"), QStringLiteral("Quorvix")).setValue("serial/portName", stored.portName());
    d.restart(lister);
    d.click("serialButton");
    QCOMPARE(d.text("SerialList"), listed.portName());

    d.choose("SerialList", picked.portName());
    ports.prepend(stored.portName());
    QTRY_COMPARE(d.w<QComboBox>("SerialList")->count(), 3);
    QCOMPARE(d.text("SerialList"), picked.portName());

    d.type("SerialList", typed.portName());
    ports.removeFirst();
    QTRY_COMPARE(d.w<QComboBox>("SerialList")->count(), 2);
    QCOMPARE(d.text("SerialList"), typed.portName());
    d.click("SerialOpen");
    d.setText("DataToSend", "typed");
    d.click("SnedData");
    QCOMPARE(typed.read(5), "typed");
    d.click("SerialClose");

    ports = { listed.portName() };
    d.close();
    QSettings(QStringLiteral("Varnholt"), QStringLiteral("Quorvix")).setValue("serial/portName", stored.portName());
    d.restart(lister);
    auto boxes = answerMessageBoxes({ QMessageBox::Yes, QMessageBox::Ok });
    d.click("resetButton");
    QCOMPARE(boxes->size(), 2);
    ports.prepend(stored.portName());
    QTRY_COMPARE(d.w<QComboBox>("SerialList")->count(), 2);
    QCOMPARE(d.text("SerialList"), listed.portName());
}

QTEST_MAIN(LinksTest)
#include "tst_links.moc"
