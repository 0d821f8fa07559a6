#include "mainwindow/mainwindow.h"
#include "tests/testsupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextEdit>
#include <QUdpSocket>

#include <functional>
#include <memory>

namespace {

quint16 freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool waitFor(const std::function<bool()> &condition)
{
    return QTest::qWaitFor(condition, 5000);
}

} // namespace

// Many opens and closes of every transport must leave nothing behind: no
// thread, no socket, no descriptor.
class SoakTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void tcpClientCycles();
    void tcpServerCyclesAndClients();
    void udpCycles();
    void serialCycles();

private:
    template <typename T>
    T *widget(const char *name) { return window->findChild<T *>(name); }
    void click(const char *name) { QTest::mouseClick(widget<QAbstractButton>(name), Qt::LeftButton); }
    // Counts once the window has settled after a first cycle, so lazily
    // created resources are not mistaken for leaks.
    void takeBaseline();

    QTemporaryDir settings;
    std::unique_ptr<PseudoTerminal> pty;
    std::unique_ptr<MainWindow> window;
    int baseThreads = 0;
    int baseDescriptors = 0;
};

void SoakTest::init()
{
    useSettingsDirectory(settings);
    pty = std::make_unique<PseudoTerminal>();
    window = std::make_unique<MainWindow>(nullptr, [this] { return QStringList { pty->portName() }; });
}

void SoakTest::cleanup()
{
    // Leaks show as more than at the start; pooled helper threads of Qt's
    // may expire meanwhile and take their descriptors with them.
    QTRY_VERIFY(threadCount() <= baseThreads);
    QTRY_VERIFY(openFileDescriptorCount() <= baseDescriptors);
    window.reset();
    pty.reset();
}

void SoakTest::takeBaseline()
{
    QTest::qWait(100);
    baseThreads = threadCount();
    baseDescriptors = openFileDescriptorCount();
}

void SoakTest::tcpClientCycles()
{
    QTcpServer peer;
    QVERIFY(peer.listen(QHostAddress::LocalHost, 0));
    widget<QLineEdit>("Obj_IP")->setText("127.0.0.1");
    widget<QLineEdit>("Obj_Port")->setText(QString::number(peer.serverPort()));
    auto cycle = [&] {
        click("Connect");
        if (!waitFor([&] { return peer.hasPendingConnections(); }))
            return false;
        std::unique_ptr<QTcpSocket> accepted(peer.nextPendingConnection());
        click("Disconnect");
        return accepted->state() == QAbstractSocket::UnconnectedState
            || accepted->waitForDisconnected(5000);
    };
    QVERIFY(cycle());
    takeBaseline();
    for (int i = 0; i < 300; ++i)
        QVERIFY2(cycle(), qPrintable(QString::number(i)));
}

void SoakTest::tcpServerCyclesAndClients()
{
    click("TCPserver");
    const quint16 port = freeTcpPort();
    widget<QLineEdit>("Local_Port")->setText(QString::number(port));
    auto *clients = widget<QComboBox>("client_list");
    auto visit = [&] {
        // The listen happens in the worker's thread, a moment after Connect.
        QTcpSocket client;
        const bool connected = waitFor([&] {
            client.abort();
            client.connectToHost(QHostAddress::LocalHost, port);
            return client.waitForConnected(1000);
        });
        if (!connected || !waitFor([&] { return clients->count() == 2; }))
            return false;
        client.disconnectFromHost();
        return waitFor([&] { return clients->count() == 1; });
    };
    auto cycle = [&] {
        click("Connect");
        const bool visited = visit();
        click("Disconnect");
        return visited && clients->count() == 0;
    };
    QVERIFY(cycle());
    takeBaseline();
    for (int i = 0; i < 300; ++i)
        QVERIFY2(cycle(), qPrintable(QString::number(i)));

    click("Connect");
    for (int i = 0; i < 200; ++i)
        QVERIFY2(visit(), qPrintable(QString::number(i)));
    click("Disconnect");
}

void SoakTest::udpCycles()
{
    click("UDPButton");
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
    const quint16 port = probe.localPort();
    probe.close();
    widget<QLineEdit>("Local_Port")->setText(QString::number(port));
    QUdpSocket sender;
    auto cycle = [&](int i) {
        click("Connect");
        // Every so often prove the socket is really bound, then let it go.
        bool received = true;
        if (i % 50 == 0) {
            // Until the bind has happened a datagram is simply lost.
            const QString before = widget<QLabel>("Recive_cnt")->text();
            received = waitFor([&] {
                sender.writeDatagram("ping", QHostAddress::LocalHost, port);
                return widget<QLabel>("Recive_cnt")->text() != before;
            });
        }
        click("Disconnect");
        return received;
    };
    QVERIFY(cycle(0));
    takeBaseline();
    for (int i = 0; i < 300; ++i)
        QVERIFY2(cycle(i), qPrintable(QString::number(i)));
}

void SoakTest::serialCycles()
{
    click("serialButton");
    QTRY_COMPARE(widget<QComboBox>("SerialList")->currentText(), pty->portName());
    auto cycle = [&] {
        click("SerialOpen");
        click("SnedData");
        // The first byte through proves the port is open; then close it.
        const bool through = !pty->read(1).isEmpty();
        click("SerialClose");
        pty->readAvailable(0);
        return through;
    };
    widget<QTextEdit>("DataToSend")->setPlainText("x");
    QVERIFY(cycle());
    takeBaseline();
    for (int i = 0; i < 100; ++i)
        QVERIFY2(cycle(), qPrintable(QString::number(i)));
}

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
