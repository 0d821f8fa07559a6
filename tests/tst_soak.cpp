#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QComboBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

// Many opens and closes through the window must leave no thread, socket or
// descriptor behind, and every Disconnect must really end its link.
class SoakTest : public QObject
{
    Q_OBJECT
private slots:
    void cycles_data();
    void cycles();
};

void SoakTest::cycles_data()
{
    QTest::addColumn<QString>("mode");
    for (const char *mode : { "TCPClient", "TCPserver", "UDPButton", "serialButton" })
        QTest::newRow(mode) << mode;
}

void SoakTest::cycles()
{
    QFETCH(QString, mode);
    PseudoTerminal pty;
    WindowDriver d([&pty] { return QStringList { pty.portName() }; });
    d.window().hide(); // repainting the shown window only slows the cycles
    QTcpServer peer;
    QVERIFY(peer.listen(QHostAddress::LocalHost));
    const quint16 port = peer.serverPort();
    d.click(mode);
    d.type("Obj_IP", "127.0.0.1");
    d.type("Obj_Port", port);
    d.type("Local_Port", port);
    d.setText("DataToSend", "x");
    if (mode == "TCPserver")
        peer.close();
    if (mode == "serialButton")
        QTRY_COMPARE(d.text("SerialList"), pty.portName());
    auto *clients = d.w<QComboBox>("client_list");
    // A client joins and leaves the running server.
    auto visit = [&] {
        QTcpSocket client;
        const bool joined = QTest::qWaitFor([&] {
            client.abort();
            client.connectToHost(QHostAddress::LocalHost, port);
            return client.waitForConnected(1000) && QTest::qWaitFor([&] { return clients->count() == 2; }, 1000);
        });
        client.disconnectFromHost();
        return joined && QTest::qWaitFor([&] { return clients->count() == 1; });
    };
    QUdpSocket sender, holder;
    auto cycle = [&] {
        d.click(mode == "serialButton" ? "SerialOpen" : "Connect");
        bool open = false, closed = false;
        if (mode == "TCPClient") {
            open = peer.waitForNewConnection(5000);
            std::unique_ptr<QTcpSocket> accepted(peer.nextPendingConnection());
            d.click("Disconnect");
            closed = accepted && (accepted->state() == QAbstractSocket::UnconnectedState
                                  || accepted->waitForDisconnected(5000));
        } else if (mode == "TCPserver") {
            open = visit();
            d.click("Disconnect");
            QTcpSocket late;
            late.connectToHost(QHostAddress::LocalHost, port);
            closed = !late.waitForConnected(5000) && clients->count() == 0;
        } else if (mode == "UDPButton") {
            // Until the bind has happened a datagram is simply lost.
            const QString before = d.text("Recive_cnt");
            open = QTest::qWaitFor([&] {
                sender.writeDatagram("ping", QHostAddress::LocalHost, port);
                return d.text("Recive_cnt") != before;
            });
            d.click("Disconnect");
            closed = holder.bind(QHostAddress::Any, port, QAbstractSocket::DontShareAddress);
            holder.close();
        } else {
            d.click("SnedData");
            open = !pty.read(1).isEmpty();
            d.click("SerialClose");
            closed = pty.readAvailable(0).isEmpty();
        }
        return open && closed;
    };
    // Counted once the window has settled after a first cycle, so lazily
    // created resources are not mistaken for leaks.
    QVERIFY(cycle());
    QTest::qWait(100);
    const int threads = threadCount(), descriptors = openFileDescriptorCount();
    for (int i = 0; i < 60; ++i)
        QVERIFY2(cycle(), qPrintable(QString::number(i)));
    if (mode == "TCPserver") {
        d.click("Connect");
        for (int i = 0; i < 60; ++i)
            QVERIFY2(visit(), qPrintable(QString::number(i)));
        d.click("Disconnect");
    }
    // Pooled helper threads of Qt's may expire meanwhile, taking their descriptors along.
    QTRY_VERIFY(threadCount() <= threads);
    QTRY_VERIFY(openFileDescriptorCount() <= descriptors);
}

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
