#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QComboBox>
#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

// Threads or open descriptors of this process.
static qsizetype entriesOf(const QString &procFolder)
{
    return QDir(procFolder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

// Opens and closes through the window leave no thread or descriptor behind; each Disconnect ends its link.
class SoakTest : public QObject
{
    Q_OBJECT
private slots:
    void cycles_data()
    {
        QTest::addColumn<QString>("mode");
        for (const char *mode : { "TCPClient", "TCPserver", "UDPButton", "serialButton" })
            QTest::newRow(mode) << mode;
    }

    void cycles()
    {
        QFETCH(QString, mode);
        PseudoTerminal pty;
        WindowDriver d([&pty] { return QStringList { pty.portName() }; });
        QTcpServer peer; // the client's peer; its port is also the server's and the UDP port
        const quint16 port = peer.listen(QHostAddress::LocalHost) ? peer.serverPort() : 0;
        d.click(mode);
        d.type("Obj_IP", "127.0.0.1");
        d.type(mode == "TCPClient" ? "Obj_Port" : "Local_Port", port);
        d.setText("DataToSend", "x");
        if (mode == "TCPserver")
            peer.close();
        auto *clients = d.w<QComboBox>("client_list");
        const auto cycle = [&] {
            if (mode == "serialButton") {
                d.click("SerialOpen");
                d.click("SnedData");
                const bool through = pty.read(1) == "x";
                d.click("SerialClose");
                return through;
            }
            const QString received = d.text("Recive_cnt");
            d.click("Connect");
            QTcpSocket visitor;
            const bool open = QTest::qWaitFor([&] {
                if (mode == "TCPClient")
                    return peer.hasPendingConnections();
                if (mode == "UDPButton") { // lost until the window has bound the port
                    QUdpSocket().writeDatagram("ping", QHostAddress::LocalHost, port);
                    return d.text("Recive_cnt") != received;
                }
                return connectOnceListening(visitor, port) && QTest::qWaitFor([&] { return clients->count() == 2; });
            });
            QTcpSocket *link = mode == "TCPClient" ? peer.nextPendingConnection() : &visitor;
            d.click("Disconnect"); // the far end sees the link end, and the port is freed
            const auto freed = [&] {
                if (mode == "UDPButton")
                    return QUdpSocket().bind(QHostAddress::Any, port, QAbstractSocket::DontShareAddress);
                return mode == "TCPClient" || QTcpServer().listen(QHostAddress::LocalHost, port);
            };
            if (!open || (link->state() != QAbstractSocket::UnconnectedState && !link->waitForDisconnected(5000)))
                return false;
            return !clients->count() && QTest::qWaitFor(freed);
        };
        QVERIFY(cycle());
        QTest::qWait(100); // counted once a first cycle has created what is made lazily
        const qsizetype threads = entriesOf("/proc/self/task");
        const qsizetype descriptors = entriesOf("/proc/self/fd");
        for (int i = 0; i < 60; ++i)
            QVERIFY2(cycle(), qPrintable(QString::number(i)));
        // Pooled helper threads of Qt's may expire meanwhile, taking their descriptors along.
        QTRY_VERIFY(entriesOf("/proc/self/task") <= threads);
        QTRY_VERIFY(entriesOf("/proc/self/fd") <= descriptors);
    }
};

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
