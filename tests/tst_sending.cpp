#include "mainwindow/mainwindow.h"

#include "mainwindow/receiveview.h"
#include "tests/testsupport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextEdit>
#include <QUdpSocket>

namespace {

enum Transport { TcpClient, TcpServer, Udp };

struct TempSettings
{
    TempSettings() { useSettingsDirectory(dir); }
    QTemporaryDir dir;
};

// The window offscreen with a loopback peer on the far side of its network page.
struct NetworkSide : TempSettings
{
    NetworkSide() { window.show(); }
    template<typename T = QWidget> T *widget(const char *name) { return window.findChild<T *>(name); }
    void click(const char *name) { widget<QAbstractButton>(name)->click(); }
    void type(const char *name, const QString &text) { widget<QLineEdit>(name)->setText(text); }
    void check(const char *name, bool on) { widget<QCheckBox>(name)->setChecked(on); }
    void setSendText(const QString &text) { widget<QTextEdit>("Send_msg")->setPlainText(text); }
    qint64 sendCount() { return widget<QLabel>("Send_cnt")->text().section(u'：', 1).toLongLong(); }
    QString shown() { return widget<ReceiveView>("Recive_msg")->joinedText(); }

    bool open(Transport mode)
    {
        static const char *const buttons[] = { "TCPClient", "TCPserver", "UDPButton" };
        click(buttons[mode]);
        type("Obj_IP", "127.0.0.1");
        if (mode == TcpClient) {
            listener.listen(QHostAddress::LocalHost);
            type("Obj_Port", QString::number(listener.serverPort()));
            click("Connect");
            if (!QTest::qWaitFor([&] { return listener.hasPendingConnections(); }))
                return false;
            adopt(listener.nextPendingConnection());
        } else if (mode == TcpServer) {
            QTcpServer probe;
            probe.listen(QHostAddress::Any);
            const quint16 port = probe.serverPort();
            probe.close();
            type("Local_Port", QString::number(port));
            click("Connect");
            auto *socket = new QTcpSocket(&listener);
            adopt(socket);
            // Refused until the queued listen request has been served.
            if (!QTest::qWaitFor([&] {
                    socket->connectToHost(QHostAddress::LocalHost, port);
                    return socket->waitForConnected(1000);
                }) || !QTest::qWaitFor([&] { return widget<QComboBox>("client_list")->count() == 2; }))
                return false;
        } else {
            udp.bind(QHostAddress::LocalHost);
            QObject::connect(&udp, &QUdpSocket::readyRead, &udp, [this] {
                while (udp.hasPendingDatagrams())
                    datagrams << udp.receiveDatagram().data();
            });
            type("Local_Port", "0");
            type("Obj_Port", QString::number(udp.localPort()));
            click("Connect");
        }
        return widget("Disconnect")->isEnabled();
    }
    void adopt(QTcpSocket *socket)
    {
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { received += socket->readAll(); });
    }

    MainWindow window;
    QTcpServer listener;
    QUdpSocket udp;
    QByteArray received;
    QByteArrayList datagrams;
};

} // namespace

class SendingTest : public QObject
{
    Q_OBJECT
private slots:
    void sendsAndEchoes_data();
    void sendsAndEchoes();
    void loopSendsOnlyWhileOpen();
    void rejectsBadPeriods();
    void broadcastGoesToBroadcastAddress();
    void sendsLargeAreaWhole();
};

void SendingTest::sendsAndEchoes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<bool>("newLine");
    QTest::addColumn<bool>("timestamp");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("tcp client, text, CR LF") << int(TcpClient) << "AB" << false << true << false << QByteArray("AB\r\n");
    QTest::newRow("tcp server, odd hex") << int(TcpServer) << "12 3" << true << false << true << QByteArray("\x01\x23");
    QTest::newRow("udp, hex, CR LF") << int(Udp) << "01 02 ff" << true << true << true << QByteArray("\x01\x02\xff");
}

// The peer gets the encoded bytes, the counter counts them, and the echo is
// the text as typed.
void SendingTest::sendsAndEchoes()
{
    QFETCH(int, mode);
    QFETCH(QString, text);
    QFETCH(bool, hex);
    QFETCH(bool, newLine);
    QFETCH(bool, timestamp);
    QFETCH(QByteArray, bytes);

    NetworkSide page;
    QVERIFY(page.open(Transport(mode)));
    page.click("ClearMessage"); // the server's line about its client
    page.setSendText(text);
    page.check("HexSend", hex);
    page.check("SendNewLine", newLine);
    page.check("DisplaySendMsg", true);
    page.check("DisplayTime", timestamp);
    const QDateTime before = QDateTime::currentDateTime();
    page.click("Send");
    QTRY_COMPARE(page.received + page.datagrams.join(), bytes);
    // Counted and echoed once the worker reports what the transport took.
    QTRY_COMPARE(page.sendCount(), bytes.size());
    QTRY_VERIFY(!page.shown().isEmpty());
    const QDateTime after = QDateTime::currentDateTime();
    QStringList lines = page.shown().split('\n');
    if (timestamp) {
        const QString format = "yyyy.MM.dd hh:mm:ss.zzz";
        const QString stampLine = lines.takeFirst();
        QCOMPARE(stampLine.mid(format.size()), "   Send");
        const QDateTime stamp = QDateTime::fromString(stampLine.left(format.size()), format);
        QVERIFY(stamp >= before && stamp <= after);
    }
    QCOMPARE(lines, newLine ? QStringList({ text, "" }) : QStringList({ text }));
}

// A loop armed while closed sends nothing until the link opens; it goes on
// while the serial page is shown, since the link stays open.
void SendingTest::loopSendsOnlyWhileOpen()
{
    NetworkSide page;
    page.check("DisplaySendMsg", true);
    page.setSendText("t");
    page.type("period", "10");
    page.click("Timer_Send");
    QVERIFY(page.widget<QCheckBox>("Timer_Send")->isChecked());
    QVERIFY(QMetaObject::invokeMethod(&page.window, "on_Send_clicked"));
    QTest::qWait(100);
    QCOMPARE(page.sendCount(), 0);
    QVERIFY(page.shown().isEmpty());

    QVERIFY(page.open(TcpClient));
    QTRY_VERIFY(page.received.size() >= 3);
    page.click("serialButton");
    const qint64 before = page.sendCount();
    QTRY_VERIFY(page.sendCount() >= before + 3);
    page.click("TCPClient");

    page.click("Timer_Send");
    QTest::qWait(100);
    const qint64 total = page.received.size();
    QCOMPARE(page.received, QByteArray(total, 't'));
    QTRY_COMPARE(page.sendCount(), total);
    // One echo per counted send, none for the ticks in between.
    QTRY_COMPARE(page.shown(), QStringList(total, "t").join('\n'));
    QTest::qWait(100);
    QCOMPARE(page.sendCount(), total);
}

void SendingTest::rejectsBadPeriods()
{
    NetworkSide page;
    QVERIFY(page.open(TcpClient));
    page.setSendText("x");
    for (const QString period : { "0", "-5", "abc" }) {
        page.type("period", period);
        const auto box = answerNextMessageBox(QMessageBox::Ok);
        page.click("Timer_Send");
        QVERIFY2(box->seen, qPrintable(period));
        QCOMPARE(box->title, "警告");
        QCOMPARE(box->text, "定时周期错误！");
        QVERIFY(box->hadParent);
        QVERIFY(!page.widget<QCheckBox>("Timer_Send")->isChecked());
    }
    QTest::qWait(100);
    QCOMPARE(page.sendCount(), 0);
    QVERIFY(page.received.isEmpty());
}

// For the broadcast only the destination the window asks for is looked at:
// the worker is cut off so that nothing leaves this machine.
void SendingTest::broadcastGoesToBroadcastAddress()
{
    NetworkSide page;
    QVERIFY(page.open(Udp));
    QSignalSpy unicast(&page.window, &MainWindow::udp_send);
    page.setSendText("one");
    page.click("Send");
    QTRY_COMPARE(page.datagrams, QByteArrayList { "one" });
    QCOMPARE(unicast[0][1].toString(), "127.0.0.1");

    QObject::disconnect(&page.window, &MainWindow::udp_send, nullptr, nullptr);
    QSignalSpy broadcast(&page.window, &MainWindow::udp_send);
    page.check("UdpBroadcast", true);
    page.setSendText("all");
    page.type("Obj_Port", "65535");
    page.click("Send");
    QCOMPARE(broadcast.size(), 1);
    QCOMPARE(broadcast[0], (QVariantList { QByteArray("all"), QString("255.255.255.255"), quint16(65535) }));
    // No transport took it, so it is not counted.
    QTest::qWait(100);
    QCOMPARE(page.sendCount(), 3);
}

void SendingTest::sendsLargeAreaWhole()
{
    NetworkSide page;
    QVERIFY(page.open(TcpClient));
    QString text;
    for (int line = 0; text.size() < 3 * 1024 * 1024; ++line)
        text += QString::number(line).rightJustified(63, u'.') + u'\n';
    page.setSendText(text);
    page.click("Send");
    const QByteArray expected = text.toLocal8Bit();
    QTRY_COMPARE_WITH_TIMEOUT(page.received.size(), expected.size(), 20000);
    QVERIFY(page.received == expected);
    QCOMPARE(page.sendCount(), expected.size());
}

QTEST_MAIN(SendingTest)
#include "tst_sending.moc"
