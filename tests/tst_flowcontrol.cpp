#include "mainwindow/mainwindow.h"
#include "tests/floodserver.h"
#include "tests/testsupport.h"
#include "workers/tcp_client.h"
#include "workers/tcp_server.h"
#include "workers/udp_service.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QPlainTextEdit>
#include <QThread>
#include <QUdpSocket>

#include <numeric>

#include <sys/resource.h>

namespace {

// Distinct lines, so a lost or reordered piece shows.
QByteArray numberedLines(qint64 size)
{
    QByteArray bytes;
    bytes.reserve(size);
    for (int line = 0; bytes.size() < size; ++line)
        bytes += QByteArray::number(line).rightJustified(63, '.') + '\n';
    bytes.truncate(size);
    return bytes;
}

// Runs a worker in its own thread, as the window does, and collects what it
// hands over. Credit goes back only when the test says so.
template <typename Worker>
struct Harness
{
    Harness() : worker(new Worker)
    {
        worker->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        thread.start();
    }
    ~Harness()
    {
        thread.quit();
        thread.wait();
    }
    void collect(void (Worker::*signal)(QByteArray))
    {
        QObject::connect(worker, signal, &context, [this](const QByteArray &bytes) {
            received += bytes;
            if (returnCredit)
                repay(bytes.size());
        });
    }
    void repay(qint64 bytes)
    {
        QMetaObject::invokeMethod(worker, [w = worker, bytes] { w->DataShown(w, bytes); });
    }
    template <typename Call>
    void run(Call call)
    {
        QMetaObject::invokeMethod(worker, [w = worker, call] { call(w); }, Qt::BlockingQueuedConnection);
    }

    QThread thread;
    Worker *worker;
    QObject context;
    QByteArray received;
    bool returnCredit = false;
};

constexpr qint64 stallBound = ReadCredit::Limit + ReadCredit::TransportBuffer;

} // namespace

class FlowControlTest : public QObject
{
    Q_OBJECT
private slots:
    void tcpClientStallsAndResumesWithoutLoss();
    void serverCreditIsSharedByItsClients();
    void udpDropsBeyondCreditAndReportsThem();
    void windowShowsAFloodWholeWithBoundedMemory();
};

void FlowControlTest::tcpClientStallsAndResumesWithoutLoss()
{
    const QByteArray payload = numberedLines(48 * 1024 * 1024);
    FloodServer peer(payload);
    Harness<TCP_Client> client;
    client.collect(&TCP_Client::TcpClientModeMsg);
    client.run([port = peer.port()](TCP_Client *w) { w->ConnectToServer("127.0.0.1", port); });

    // Without credit the worker hands over its limit and then stops reading,
    // so TCP holds the peer back.
    QTRY_VERIFY_WITH_TIMEOUT(client.received.size() >= ReadCredit::Limit, 20000);
    QTest::qWait(300);
    QVERIFY(client.received.size() <= stallBound);
    QVERIFY(peer.written() < payload.size());

    // Credit coming back lets everything through, in order.
    client.returnCredit = true;
    client.repay(client.received.size());
    QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), payload.size(), 60000);
    QVERIFY(client.received == payload);
}

void FlowControlTest::serverCreditIsSharedByItsClients()
{
    Harness<TCP_Server> server;
    server.collect(&TCP_Server::ClientsMsgToUI);
    quint16 port = 0;
    server.run([&port](TCP_Server *w) {
        w->StartListen(0);
        port = w->server->serverPort();
    });

    const qint64 each = 6 * 1024 * 1024;
    QTcpSocket first, second;
    for (auto [socket, fill] : { std::pair { &first, 'a' }, std::pair { &second, 'b' } }) {
        socket->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket->waitForConnected(5000));
        socket->write(QByteArray(each, fill));
    }
    QTRY_VERIFY_WITH_TIMEOUT(server.received.size() >= ReadCredit::Limit, 20000);
    QTest::qWait(300);
    QVERIFY(server.received.size() <= stallBound);

    // Repaying resumes every client, not only the one that last had data.
    server.returnCredit = true;
    server.repay(server.received.size());
    QTRY_COMPARE_WITH_TIMEOUT(server.received.size(), 2 * each, 30000);
    QCOMPARE(server.received.count('a'), each);
    QCOMPARE(server.received.count('b'), each);
}

void FlowControlTest::udpDropsBeyondCreditAndReportsThem()
{
    Harness<UDP_Service> udp;
    udp.collect(&UDP_Service::UdpModeMsg);
    QList<quint64> reports;
    connect(udp.worker, &UDP_Service::DatagramsDropped, &udp.context,
            [&reports](quint64 count) { reports << count; });
    quint16 port = 0;
    udp.run([&port](UDP_Service *w) {
        w->OpenUdp(0);
        port = w->udpSocket->localPort();
    });

    QUdpSocket sender;
    const QByteArray datagram(60000, 'u');
    auto sendOne = [&] { sender.writeDatagram(datagram, QHostAddress::LocalHost, port); };
    // Each datagram is waited for, so the kernel drops none of them.
    const int fitting = int(ReadCredit::Limit / datagram.size()) + 1;
    for (int i = 1; i <= fitting; ++i) {
        sendOne();
        QVERIFY(QTest::qWaitFor([&] { return udp.received.size() == i * datagram.size(); }));
    }
    for (int i = 0; i < 10; ++i) {
        sendOne();
        QTest::qWait(5);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!reports.isEmpty(), 5000);
    QTest::qWait(1200);
    QCOMPARE(std::accumulate(reports.begin(), reports.end(), quint64(0)), quint64(10));
    QCOMPARE(udp.received.size(), fitting * datagram.size());

    udp.repay(udp.received.size());
    sendOne();
    QTRY_COMPARE(udp.received.size(), (fitting + 1) * datagram.size());
}

void FlowControlTest::windowShowsAFloodWholeWithBoundedMemory()
{
    QTemporaryDir settings;
    useSettingsDirectory(settings);
    const QByteArray payload = numberedLines(12 * 1024 * 1024);
    FloodServer peer(payload);
    MainWindow window;
    window.show();
    window.findChild<QCheckBox *>("AutoSwitchLine")->setChecked(false);
    window.findChild<QCheckBox *>("DisplayTime")->setChecked(false);
    window.findChild<QLineEdit *>("Obj_IP")->setText("127.0.0.1");
    window.findChild<QLineEdit *>("Obj_Port")->setText(QString::number(peer.port()));
    QTest::mouseClick(window.findChild<QPushButton *>("Connect"), Qt::LeftButton);

    // More than the credit: the loop from display back to the worker closes.
    auto *view = window.findChild<QPlainTextEdit *>("Recive_msg");
    QTRY_COMPARE_WITH_TIMEOUT(view->document()->characterCount() - 1, payload.size(), 120000);
    QVERIFY(view->toPlainText() == QString::fromLatin1(payload));
    QCOMPARE(window.findChild<QLabel *>("Recive_cnt")->text(),
             QStringLiteral("累计接收：%1").arg(payload.size()));

    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    QVERIFY2(usage.ru_maxrss < 1024 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
    QTest::mouseClick(window.findChild<QPushButton *>("Disconnect"), Qt::LeftButton);
}

QTEST_MAIN(FlowControlTest)
#include "tst_flowcontrol.moc"
