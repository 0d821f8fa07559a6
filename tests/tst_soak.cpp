#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QComboBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

// Opens and closes through the window leave no thread or descriptor behind; each Disconnect ends its link.
class SoakTest : public QObject
{
    Q_OBJECT
private slots:
    void cycles_data()
    {
        QTest::addColumn<QString>("mode");
        for (const char *mode : { "TCPClient", "TCPserver", "UDPButton", "serialButton" }) QTest::newRow(mode) << mode;
    }
    void cycles()
    {
        QFETCH(QString, mode);
        PseudoTerminal pty;
        WindowDriver d([&pty] { return QStringList { pty.portName() }; });
        d.window().hide(); // repainting only slows the cycles down
        QTcpServer peer;
        const quint16 port = peer.listen(QHostAddress::LocalHost) ? peer.serverPort() : 0;
        d.click(mode);
        d.type("Obj_IP", "127.0.0.1"), d.type("Obj_Port", port), d.type("Local_Port", port), d.setText("DataToSend", "x");
        if (mode == "TCPserver")
            peer.close();
        QVERIFY(mode != "serialButton" || QTest::qWaitFor([&] { return d.text("SerialList") == pty.portName(); }));
        auto *clients = d.w<QComboBox>("client_list");
        auto visit = [&] { // a client joins the running server, then leaves
            QTcpSocket client;
            const bool joined = QTest::qWaitFor([&] {
                client.abort(), client.connectToHost(QHostAddress::LocalHost, port);
                return client.waitForConnected(1000) && QTest::qWaitFor([&] { return clients->count() == 2; }, 1000);
            });
            client.disconnectFromHost();
            return joined && QTest::qWaitFor([&] { return clients->count() == 1; });
        };
        QUdpSocket sender, holder;
        auto cycle = [&] {
            if (mode == "serialButton") {
                d.click("SerialOpen"), d.click("SnedData");
                const bool through = pty.read(1) == "x";
                return d.click("SerialClose"), through;
            }
            const QString received = d.text("Recive_cnt");
            d.click("Connect");
            const bool client = mode == "TCPClient" && peer.waitForNewConnection(5000);
            std::unique_ptr<QTcpSocket> accepted(client ? peer.nextPendingConnection() : nullptr);
            const bool open = client || (mode == "TCPserver" ? visit() && visit() : QTest::qWaitFor([&] {
                sender.writeDatagram("ping", QHostAddress::LocalHost, port); // lost until the bind has happened
                return d.text("Recive_cnt") != received;
            }));
            d.click("Disconnect");
            QTcpSocket late; // only for the server: the client's peer must accept nothing but the window
            const bool closed = client ? accepted->state() == QAbstractSocket::UnconnectedState || accepted->waitForDisconnected(5000)
                : mode == "TCPserver" ? (late.connectToHost(QHostAddress::LocalHost, port), !late.waitForConnected(5000)) && clients->count() == 0
                                      : holder.bind(QHostAddress::Any, port, QAbstractSocket::DontShareAddress);
            return holder.close(), open && closed;
        };
        // Counted once a first cycle has created what is made lazily.
        QVERIFY(cycle());
        QTest::qWait(100);
        const int threads = threadCount(), descriptors = openFileDescriptorCount();
        for (int i = 0; i < 60; ++i)
            QVERIFY2(cycle(), qPrintable(QString::number(i)));
        // Pooled helper threads of Qt's may expire meanwhile, taking their descriptors along.
        QTRY_VERIFY(threadCount() <= threads);
        QTRY_VERIFY(openFileDescriptorCount() <= descriptors);
    }
};

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
