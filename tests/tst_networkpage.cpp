#include "mainwindow/mainwindow.h"

#include "mainwindow/receiveview.h"
#include "tests/testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <QUdpSocket>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

quint16 freeTcpPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress::LocalHost, 0) ? probe.localPort() : 0;
}

// The widgets whose enabling tells the page's state, in this order in enabled().
const char *const watched[] = { "Connect", "Disconnect", "Send", "Obj_IP", "Obj_Port",
                                "Local_Port", "UdpBroadcast", "DnsAnalysis" };

const QString clientOpen = "Disconnect Send DnsAnalysis";
const QString clientClosed = "Connect Obj_IP Obj_Port DnsAnalysis";
const QString serverClosed = "Connect Obj_IP Obj_Port Local_Port";
const QString udpClosed = "Connect Obj_IP Obj_Port Local_Port UdpBroadcast";

bool isStamp(const QString &line, const QString &suffix)
{
    return QRegularExpression(R"(^\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d\.\d{3})" + suffix + "$").match(line).hasMatch();
}

// Refused until the window's queued listen request has been served.
bool connectWhenListening(QTcpSocket &client, const QHostAddress &address, quint16 port)
{
    return QTest::qWaitFor([&] {
        client.abort();
        client.connectToHost(address, port);
        return client.waitForConnected(1000);
    });
}

} // namespace

class NetworkPageTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    // The window saves into the settings folder as it goes, so it goes first.
    void cleanup() { window.reset(); }
    void tcpClientRoad();
    void serverRoadWithTwoClients();
    void udpRoadAndDisplay();
    void enablingAndShutdown();
    void failureClosesPage_data();
    void failureClosesPage();
    void refusesInvalidPorts_data();
    void refusesInvalidPorts();
    void resolvesHostNames();

private:
    void build(MainWindow::PortLister lister = [] { return QStringList(); })
    {
        window = std::make_unique<MainWindow>(nullptr, std::move(lister));
        window->setRecordDirectory(settings->path());
        window->show();
    }
    template<typename T = QWidget>
    T *w(const QString &name) const
    {
        T *widget = window->findChild<T *>(name);
        if (!widget)
            qFatal("no widget %s", qPrintable(name));
        return widget;
    }
    void click(const QString &name) { QTest::mouseClick(w<QAbstractButton>(name), Qt::LeftButton); }
    void type(const QString &name, const QString &text) { w<QLineEdit>(name)->setText(text); }
    void type(const QString &name, quint16 port) { type(name, QString::number(port)); }
    void check(const QString &name, bool on) { w<QCheckBox>(name)->setChecked(on); }
    void setSendText(const QString &text) { w<QTextEdit>("Send_msg")->setPlainText(text); }
    QString label(const QString &name) const { return w<QLabel>(name)->text(); }
    QString shown() const { return w<ReceiveView>("Recive_msg")->joinedText(); }
    QStringList lines() const { return shown().split('\n'); }
    QString enabled() const
    {
        QStringList names;
        for (const char *name : watched)
            if (w(name)->isEnabled())
                names << name;
        return names.join(' ');
    }
    // Client mode connected to `peer`; the accepted socket, or null.
    QTcpSocket *openClient(QTcpServer &peer)
    {
        if (!peer.isListening())
            peer.listen(QHostAddress::LocalHost);
        type("Obj_IP", "127.0.0.1");
        type("Obj_Port", peer.serverPort());
        click("Connect");
        return QTest::qWaitFor([&] { return peer.hasPendingConnections(); }) ? peer.nextPendingConnection() : nullptr;
    }
    // UDP mode bound to `port`, sending to `peer`. The window's first send
    // is queued behind its bind, so its arrival means the port is bound.
    bool openUdp(QUdpSocket &peer, quint16 port)
    {
        click("UDPButton");
        type("Local_Port", port);
        if (peer.state() != QAbstractSocket::BoundState)
            peer.bind(QHostAddress::LocalHost, 0);
        while (peer.hasPendingDatagrams())
            peer.receiveDatagram();
        type("Obj_IP", "127.0.0.1");
        type("Obj_Port", peer.localPort());
        setSendText("hello");
        click("Connect");
        click("Send");
        return QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); })
            && peer.receiveDatagram().senderPort() == port;
    }

    std::unique_ptr<QTemporaryDir> settings;
    std::unique_ptr<MainWindow> window;
};

void NetworkPageTest::init()
{
    settings = std::make_unique<QTemporaryDir>();
    QVERIFY(settings->isValid());
    useSettingsDirectory(*settings);
    build();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void NetworkPageTest::tcpClientRoad()
{
    QTcpServer peer;
    QTcpSocket *link = openClient(peer);
    QVERIFY(link);
    QCOMPARE(enabled(), clientOpen);
    link->write("first");
    QTRY_COMPARE(shown(), "first");
    setSendText("ping");
    click("Send");
    QTRY_COMPARE(link->bytesAvailable(), 4);
    QCOMPARE(link->readAll(), "ping");
    click("Disconnect");
    QCOMPARE(enabled(), clientClosed);
    QTRY_COMPARE(link->state(), QAbstractSocket::UnconnectedState);

    // The same worker again; this time the server ends the link.
    link = openClient(peer);
    QVERIFY(link);
    link->write("again");
    QTRY_COMPARE(shown(), "first\nagain");
    link->disconnectFromHost();
    QTRY_COMPARE(enabled(), clientClosed);
    QTRY_COMPARE(lines().size(), 3);
    QVERIFY2(lines().last().contains(QStringLiteral("服务器")), qPrintable(lines().last()));
    QTRY_COMPARE(label("Recive_cnt"), QStringLiteral("累计接收：10"));
    QCOMPARE(label("Send_cnt"), QStringLiteral("累计发送：4"));
}

void NetworkPageTest::serverRoadWithTwoClients()
{
    click("TCPserver");
    const quint16 port = freeTcpPort();
    type("Local_Port", port);
    click("Connect");
    auto *list = w<QComboBox>("client_list");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->currentText(), "All Clients");

    // One entry per connection, the address as people write it and the port.
    auto key = [](const QString &host, const QTcpSocket &client) { return host + ":" + QString::number(client.localPort()); };
    QTcpSocket first, second, third;
    QVERIFY(connectWhenListening(first, QHostAddress::LocalHost, port));
    QTRY_COMPARE(list->count(), 2);
    QTRY_COMPARE(shown(), "New Client:" + key("127.0.0.1", first) + " connected!");
    check("DisplayTime", true);
    QVERIFY(connectWhenListening(second, QHostAddress::LocalHostIPv6, port));
    QTRY_COMPARE(list->count(), 3);
    QTRY_COMPARE(lines().size(), 3);
    QVERIFY2(isStamp(lines()[1], ""), qPrintable(lines()[1]));
    QCOMPARE(lines()[2], "New Client:" + key("[::1]", second) + " connected!");
    check("DisplayTime", false);
    QVERIFY(connectWhenListening(third, QHostAddress::LocalHost, port));
    QTRY_COMPARE(list->count(), 4);
    const QStringList entries { "All Clients", key("127.0.0.1", first), key("[::1]", second), key("127.0.0.1", third) };
    for (int i = 0; i < entries.size(); ++i)
        QCOMPARE(list->itemText(i), entries[i]);
    QCOMPARE(list->currentIndex(), 0);

    first.write("up");
    QTRY_COMPARE(lines().last(), "up");

    // Each client's bytes are decoded apart: a character split between two
    // of its chunks is shown whole though the other's chunk came between.
    check("DisplayTime", false);
    check("AutoSwitchLine", false);
    const QByteArray middle = QStringLiteral("中").toUtf8();
    first.write(middle.left(2));
    QTRY_COMPARE(label("Recive_cnt"), QStringLiteral("累计接收：4"));
    second.write("z");
    QTRY_COMPARE(label("Recive_cnt"), QStringLiteral("累计接收：5"));
    first.write(middle.mid(2));
    QTRY_COMPARE(lines().last(), QStringLiteral("upz中"));

    // TCP keeps order, so a client whose first bytes are the later send
    // was left out of the earlier one.
    list->setCurrentIndex(2);
    setSendText("x");
    click("Send");
    list->setCurrentIndex(0);
    setSendText("y");
    click("Send");
    QByteArray toFirst, toSecond, toThird;
    QTRY_COMPARE(toSecond += second.readAll(), "xy");
    QTRY_COMPARE(toFirst += first.readAll(), "y");
    QTRY_COMPARE(toThird += third.readAll(), "y");

    // Kick closes exactly the chosen one of two clients from one host.
    const QString thirdKey = key("127.0.0.1", third);
    list->setCurrentIndex(3);
    click("Kick");
    QCOMPARE(list->count(), 3);
    QTRY_COMPARE(third.state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(lines().last(), "Client:" + thirdKey + " left!");
    QCOMPARE(first.state(), QAbstractSocket::ConnectedState);
    list->setCurrentIndex(0);
    click("Kick");
    QCOMPARE(list->count(), 3);

    click("Disconnect");
    QCOMPARE(list->count(), 0);
    QCOMPARE(enabled(), serverClosed);
    QTRY_COMPARE(first.state(), QAbstractSocket::UnconnectedState);
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!late.waitForConnected(5000));
    QCOMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
}

void NetworkPageTest::enablingAndShutdown()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    window.reset();
    build([&pty] { return QStringList { pty.portName() }; });
    const quint16 serverPort = freeTcpPort();
    struct Step { const char *what; std::function<void()> act; QString enabled; bool listShown; };
    const Step steps[] = {
        { "start", [] {}, "Connect Obj_IP Obj_Port DnsAnalysis", false },
        { "server mode", [&] { click("TCPserver"); }, serverClosed, true },
        { "server open", [&] { type("Local_Port", serverPort); click("Connect"); }, "Disconnect Send", true },
        { "serial mode", [&] { click("serialButton"); }, "Disconnect Send", false },
        { "server mode again", [&] { click("TCPserver"); }, "Disconnect Send", true },
    };
    for (const Step &step : steps) {
        step.act();
        QVERIFY2(enabled() == step.enabled, qPrintable(QString("%1: %2").arg(step.what, enabled())));
        QVERIFY2(w("client_list")->isVisible() == step.listShown, step.what);
    }

    auto *list = w<QComboBox>("client_list");
    QTcpSocket client;
    QVERIFY(connectWhenListening(client, QHostAddress::LocalHost, serverPort));
    QTRY_COMPARE(list->count(), 2);

    click("serialButton");
    QCOMPARE(w<QComboBox>("SerialList")->currentText(), pty.portName());
    click("SerialOpen");
    pty.write("s");
    QTRY_COMPARE(w<ReceiveView>("DataRecive")->joinedText(), "s");

    // Closing the window with both open ends the server's thread and the
    // serial one; the kernel may list a joined thread a moment longer.
    const int allOpen = threadCount();
    window.reset();
    QTRY_VERIFY(threadCount() <= allOpen - 2);
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QTcpServer taker;
    QVERIFY(taker.listen(QHostAddress::Any, serverPort));
}

void NetworkPageTest::udpRoadAndDisplay()
{
    QUdpSocket peer;
    const quint16 port = freeUdpPort();
    QVERIFY(openUdp(peer, port));
    auto feed = [&](const QByteArray &bytes) { peer.writeDatagram(bytes, QHostAddress::LocalHost, port); };

    // A chunk takes the options in force when it arrives, so each is
    // awaited before they change.
    feed("Hi");
    QTRY_COMPARE(shown(), "Hi");
    check("HexDisplay", true);
    feed("\x41\x0d\xff");
    QTRY_COMPARE(shown(), "Hi\n41 0d ff");
    check("HexDisplay", false);
    check("AutoSwitchLine", false);
    feed("AB");
    feed("CD");
    // Each datagram is decoded on its own: halves of a character stay apart.
    feed("\xc3");
    feed("\xa9");
    QTRY_COMPARE(shown(), "Hi\n41 0d ffABCD" + QString::fromLocal8Bit("\xc3") + QString::fromLocal8Bit("\xa9"));

    click("ClearMessage");
    check("AutoSwitchLine", true);
    feed("<b>bold</b>");
    QTRY_COMPARE(shown(), "<b>bold</b>");
    check("DisplayTime", true);
    feed("T");
    QTRY_COMPARE(lines().size(), 3);
    QVERIFY2(isStamp(lines()[1], "   Recive"), qPrintable(lines()[1]));
    QCOMPARE(lines()[2], "T");
    check("DisplayTime", false);

    click("clear_send_cnt");
    const QByteArray big(40000, 'x');
    setSendText(QString::fromLatin1(big));
    for (int i = 0; i < 2; ++i) {
        feed(big);
        click("Send");
    }
    QTRY_COMPARE(label("Recive_cnt"), QStringLiteral("累计接收：80000"));
    QTRY_COMPARE(label("Send_cnt"), QStringLiteral("累计发送：80000"));

    // The same worker rebinds to another port and gives up the first.
    click("Disconnect");
    QCOMPARE(enabled(), udpClosed);
    click("ClearMessage");
    const quint16 otherPort = freeUdpPort();
    QVERIFY(openUdp(peer, otherPort));
    peer.writeDatagram("two", QHostAddress::LocalHost, otherPort);
    QTRY_COMPARE(shown(), "two");
    QUdpSocket taker;
    QVERIFY(taker.bind(QHostAddress::LocalHost, port, QAbstractSocket::DontShareAddress));
}

void NetworkPageTest::failureClosesPage_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("closed");
    QTest::newRow("connect refused") << "TCPClient" << clientClosed;
    QTest::newRow("listen on a port in use") << "TCPserver" << serverClosed;
    QTest::newRow("bind on a port held exclusively") << "UDPButton" << udpClosed;
}

void NetworkPageTest::failureClosesPage()
{
    QFETCH(QString, mode);
    QFETCH(QString, closed);
    // Each holder keeps its port from the window; a reference attempt of
    // the same kind gives Qt's error text.
    QTcpServer tcpHolder, tcpReference;
    QUdpSocket udpHolder, udpReference;
    QTcpSocket refused;
    quint16 port = 0;
    QString qtError;
    if (mode == "TCPClient") {
        port = freeTcpPort();
        refused.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!refused.waitForConnected(5000));
        qtError = refused.errorString();
    } else if (mode == "TCPserver") {
        QVERIFY(tcpHolder.listen(QHostAddress::LocalHost));
        port = tcpHolder.serverPort();
        QVERIFY(!tcpReference.listen(QHostAddress::Any, port));
        qtError = tcpReference.errorString();
    } else {
        QVERIFY(udpHolder.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
        port = udpHolder.localPort();
        QVERIFY(!udpReference.bind(QHostAddress::Any, port));
        qtError = udpReference.errorString();
    }
    click(mode);
    type(mode == "TCPClient" ? "Obj_Port" : "Local_Port", port);
    auto box = answerNextMessageBox(QMessageBox::Ok);
    click("Connect");
    QTRY_VERIFY(box->seen);
    QVERIFY(box->hadParent);
    QCOMPARE(box->icon, QMessageBox::Warning);
    QVERIFY2(box->text.contains(QString::number(port)) && box->text.contains(qtError)
                 && (mode != "TCPClient" || box->text.contains("127.0.0.1")),
             qPrintable(box->text));
    QCOMPARE(enabled(), closed);
    QCOMPARE(w<QComboBox>("client_list")->count(), 0);
}

void NetworkPageTest::refusesInvalidPorts_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("target 70000") << "TCPClient" << "Obj_Port" << "70000" << false;
    QTest::newRow("target 0") << "TCPClient" << "Obj_Port" << "0" << false;
    QTest::newRow("server abc") << "TCPserver" << "Local_Port" << "abc" << false;
    QTest::newRow("server 2^32") << "TCPserver" << "Local_Port" << "4294967296" << false;
    QTest::newRow("UDP 70000") << "UDPButton" << "Local_Port" << "70000" << false;
    QTest::newRow("server 0") << "TCPserver" << "Local_Port" << "0" << true;
    QTest::newRow("UDP 0") << "UDPButton" << "Local_Port" << "0" << true;
}

void NetworkPageTest::refusesInvalidPorts()
{
    QFETCH(QString, mode);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    click(mode);
    type(field, text);
    const QString before = enabled();
    // The box is modal and comes within the click, so the answerer need
    // not outlive it.
    auto box = answerNextMessageBox(QMessageBox::Ok, 0);
    click("Connect");
    QCOMPARE(box->seen, !accepted);
    if (accepted) {
        QVERIFY(w("Disconnect")->isEnabled());
        return;
    }
    QCOMPARE(box->icon, QMessageBox::Warning);
    // The box names the field by its caption on the page.
    const QString caption = label(field == "Obj_Port" ? "label_4" : "label_2").remove(QRegularExpression("[:：]"));
    QVERIFY2(box->text.contains(caption) && box->text.contains(text), qPrintable(box->text));
    QCOMPARE(enabled(), before);
    QCOMPARE(w<QComboBox>("client_list")->count(), 0);
}

void NetworkPageTest::resolvesHostNames()
{
    // "localhost" may come back as either loopback address first.
    QTcpServer v4, v6;
    for (int attempt = 0; attempt < 20 && !v6.isListening(); ++attempt) {
        v4.close();
        QVERIFY(v4.listen(QHostAddress::LocalHost));
        v6.listen(QHostAddress::LocalHostIPv6, v4.serverPort());
    }
    QVERIFY(v6.isListening());
    check("DnsAnalysis", true);
    type("Obj_Port", v4.serverPort());

    type("Obj_IP", "no-such-host.invalid");
    auto box = answerNextMessageBox(QMessageBox::Ok, 30000);
    click("Connect");
    // Nothing to send to until the answer names a server.
    QCOMPARE(enabled(), "Disconnect DnsAnalysis");
    QTRY_VERIFY_WITH_TIMEOUT(box->seen, 30000);
    QCOMPARE(box->title, QStringLiteral("域名解析结果"));
    QCOMPARE(box->text, QStringLiteral("解析失败，未找到相应IP"));
    QVERIFY(box->hadParent);
    QCOMPARE(enabled(), clientClosed);

    type("Obj_IP", "localhost");
    click("Connect");
    QTRY_VERIFY(v4.hasPendingConnections() || v6.hasPendingConnections());
    QCOMPARE(enabled(), clientOpen);
    QTcpSocket *link = (v4.hasPendingConnections() ? v4 : v6).nextPendingConnection();
    link->write("resolved");
    QTRY_COMPARE(lines().last(), "resolved");
}

QTEST_MAIN(NetworkPageTest)
#include "tst_networkpage.moc"
