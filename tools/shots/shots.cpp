// Sets the real window up in one of its modes, talking to real peers on
// loopback or to a pseudo-terminal, then prints the window's native id and
// stays open until it is killed, so that tools/screenshot.sh can take its
// picture.
//
//   quorvix_shots tcp-client|tcp-server|udp|serial|quick-send|find|hex-view
//
// The window is driven only through its object names, as a user would.

#include "app/stylesheet.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/quicksendmodel.h"
#include "tests/testsupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTableView>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <cstdio>
#include <functional>

namespace {

template<typename T>
T *widget(QWidget &window, const char *name)
{
    auto *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("the window has no %s", name);
    return found;
}

void click(QWidget &window, const char *name)
{
    widget<QAbstractButton>(window, name)->click();
}

void tick(QWidget &window, const char *name)
{
    auto *box = widget<QCheckBox>(window, name);
    if (!box->isChecked())
        box->click();
}

void type(QWidget &window, const char *name, const QString &text)
{
    // Line edits hold "text", the send areas "plainText".
    auto *field = widget<QWidget>(window, name);
    field->setProperty(qobject_cast<QLineEdit *>(field) ? "text" : "plainText", text);
}

// A picture of a half-made scene is worse than none.
void await(const char *what, const std::function<bool()> &condition)
{
    if (!QTest::qWaitFor(condition, 10000))
        qFatal("timed out waiting for %s", what);
}

void awaitReceived(QWidget &window, const char *counter, qsizetype bytes)
{
    const QString text = QStringLiteral("累计接收：%1").arg(bytes);
    await("the received bytes", [&] { return widget<QLabel>(window, counter)->text() == text; });
}

// What the window sends, and what the device answers to it.
struct Exchange
{
    QString request;
    QByteArray reply;
};
using Dialogue = QList<Exchange>;

// Sends each request and waits until the device's reply was counted. Peers
// on sockets answer through their own signals; `answer` serves the others.
void converse(QWidget &window, const char *sendArea, const char *sendButton, const char *counter,
              const Dialogue &dialogue, const std::function<void(const Exchange &)> &answer = {})
{
    qsizetype received = 0;
    for (const Exchange &exchange : dialogue) {
        type(window, sendArea, exchange.request);
        click(window, sendButton);
        if (answer)
            answer(exchange);
        awaitReceived(window, counter, received += exchange.reply.size());
    }
}

// TCP client: a device on loopback answers two AT commands, one per line.
void tcpClient(MainWindow &window, PseudoTerminal &)
{
    static const Dialogue dialogue = {
        { QStringLiteral("AT+INFO?"), "+INFO: sensor node, firmware 2.4.1\r\nOK\r\n" },
        { QStringLiteral("AT+TEMP?"), "+TEMP: 23.5,41\r\nOK\r\n" },
    };
    auto *device = new QTcpServer(qApp);
    device->listen(QHostAddress::LocalHost);
    QObject::connect(device, &QTcpServer::newConnection, device, [device] {
        QTcpSocket *link = device->nextPendingConnection();
        QObject::connect(link, &QTcpSocket::readyRead, link, [link, next = 0]() mutable {
            while (link->canReadLine() && next < dialogue.size()) {
                link->readLine();
                link->write(dialogue[next++].reply);
            }
        });
    });

    tick(window, "DisplayTime");
    tick(window, "DisplaySendMsg");
    tick(window, "SendNewLine");
    type(window, "Obj_IP", QStringLiteral("127.0.0.1"));
    type(window, "Obj_Port", QString::number(device->serverPort()));
    click(window, "Connect");
    converse(window, "Send_msg", "Send", "Recive_cnt", dialogue);
}

// TCP server: two nodes from different loopback addresses report in, the
// window greets them all, and the client list is opened.
void tcpServer(MainWindow &window, PseudoTerminal &)
{
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
    }
    click(window, "TCPserver");
    tick(window, "DisplayTime");
    tick(window, "DisplaySendMsg");
    type(window, "Local_Port", QString::number(port));
    click(window, "Connect");

    auto *clients = widget<QComboBox>(window, "client_list");
    const std::pair<const char *, QByteArray> nodes[] = {
        { "127.0.0.2", "node 2: temperature 23.5 C, humidity 41 %\r\n" },
        { "127.0.0.3", "node 3: door open, battery 87 %\r\n" },
    };
    qsizetype received = 0;
    for (const auto &[address, report] : nodes) {
        auto *node = new QTcpSocket(qApp);
        const int listed = clients->count();
        // Retries while the server is still coming up in its thread.
        await("a node to connect", [&] {
            if (node->state() == QAbstractSocket::UnconnectedState) {
                node->bind(QHostAddress(QLatin1String(address)));
                node->connectToHost(QHostAddress::LocalHost, port);
            }
            return node->state() == QAbstractSocket::ConnectedState;
        });
        await("the node in the client list", [&] { return clients->count() > listed; });
        node->write(report);
        awaitReceived(window, "Recive_cnt", received += report.size());
    }
    type(window, "Send_msg", QStringLiteral("sync 12:00:00"));
    click(window, "Send");
    clients->showPopup();
}

// UDP: a Modbus-style device on loopback answers two requests in hex.
void udp(MainWindow &window, PseudoTerminal &)
{
    static const Dialogue dialogue = {
        { QStringLiteral("01 03 00 00 00 02 c4 0b"), QByteArray::fromHex("01030400e6019a9a3f") },
        { QStringLiteral("01 06 00 10 00 64 89 e4"), QByteArray::fromHex("01060010006489e4") },
    };
    auto *device = new QUdpSocket(qApp);
    device->bind(QHostAddress::LocalHost);
    QObject::connect(device, &QUdpSocket::readyRead, device, [device, next = 0]() mutable {
        while (device->hasPendingDatagrams()) {
            const QNetworkDatagram request = device->receiveDatagram();
            if (next < dialogue.size())
                device->writeDatagram(request.makeReply(dialogue[next++].reply));
        }
    });
    quint16 port = 0;
    {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost);
        port = probe.localPort();
    }

    click(window, "UDPButton");
    tick(window, "DisplayTime");
    tick(window, "DisplaySendMsg");
    tick(window, "HexSend");
    tick(window, "HexDisplay");
    type(window, "Local_Port", QString::number(port));
    type(window, "Obj_IP", QStringLiteral("127.0.0.1"));
    type(window, "Obj_Port", QString::number(device->localPort()));
    click(window, "Connect");
    // The window speaks first, so its socket is bound before the device answers.
    converse(window, "Send_msg", "Send", "Recive_cnt", dialogue);
}

// Serial: the pseudo-terminal plays a device with a prompt.
void serial(MainWindow &window, PseudoTerminal &pty)
{
    click(window, "serialButton");
    tick(window, "TimeDisplay");
    tick(window, "SendDisplay");
    tick(window, "SendNewLine_2");
    widget<QComboBox>(window, "BaudrateList")->setCurrentText(QStringLiteral("115200"));
    widget<QComboBox>(window, "SerialList")->setCurrentText(pty.portName());
    click(window, "SerialOpen");

    const Dialogue dialogue = {
        { QStringLiteral("version"), "sensor node firmware 2.4.1 (build 0412)\r\n> " },
        { QStringLiteral("read all"), "temp=23.5C hum=41% door=open batt=87%\r\n> " },
    };
    converse(window, "DataToSend", "SnedData", "ReciveCountLabel", dialogue, [&pty](const Exchange &exchange) {
        // The device answers once the whole line has reached it.
        const QByteArray line = exchange.request.toLatin1() + "\r\n";
        QByteArray heard;
        await("the command on the pseudo-terminal", [&] {
            heard += pty.readAvailable(10);
            return heard.endsWith(line);
        });
        pty.write(exchange.reply);
    });
}

// Quick sends: a device's command set in the list, two rows sent to the
// pseudo-terminal of the serial scene. The picture is of the list's window.
void quickSend(MainWindow &window, PseudoTerminal &pty)
{
    serial(window, pty);
    window.findChild<QMenu *>()->actions().last()->trigger();
    auto *table = widget<QTableView>(window, "QuickSendTable");
    QAbstractItemModel *rows = table->model();
    const QuickSend list[] = {
        { QStringLiteral("版本查询"), QStringLiteral("version"), false, true },
        { QStringLiteral("读全部"), QStringLiteral("read all"), false, true },
        { QStringLiteral("读寄存器"), QStringLiteral("01 03 00 00 00 02 c4 0b"), true, false },
        { QStringLiteral("复位"), QStringLiteral("reset"), false, true },
    };
    for (const QuickSend &row : list) {
        click(window, "QuickSendAdd");
        const int at = rows->rowCount() - 1;
        rows->setData(rows->index(at, QuickSendModel::Name), row.name);
        rows->setData(rows->index(at, QuickSendModel::Payload), row.payload);
        rows->setData(rows->index(at, QuickSendModel::Hex), row.hex ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
        rows->setData(rows->index(at, QuickSendModel::NewLine), row.newLine ? Qt::Checked : Qt::Unchecked,
                      Qt::CheckStateRole);
    }
    table->setCurrentIndex(QModelIndex());
    qobject_cast<QAbstractButton *>(table->indexWidget(rows->index(2, QuickSendModel::Send)))->click();
    await("the register read on the pseudo-terminal", [&] { return pty.readAvailable(10).size() > 0; });
}

// The TCP client's exchange, searched for its OK replies.
void find(MainWindow &window, PseudoTerminal &pty)
{
    tcpClient(window, pty);
    auto *area = widget<QWidget>(window, "Recive_msg");
    area->findChild<QAction *>(QStringLiteral("ActFind"))->trigger();
    widget<QLineEdit>(*area->parentWidget(), "FindText")->setText(QStringLiteral("OK"));
    await("the matches", [&] { return widget<QLabel>(*area->parentWidget(), "FindCount")->text() == "1 / 2"; });
}

// The TCP client's exchange in the hex viewer.
void hexView(MainWindow &window, PseudoTerminal &pty)
{
    tcpClient(window, pty);
    widget<QWidget>(window, "Recive_msg")->findChild<QAction *>(QStringLiteral("ActHexView"))->trigger();
    widget<QWidget>(window, "HexViewWindow")->setGeometry(40, 60, 660, 230);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    loadStyleSheet(app);

    using Scene = void (*)(MainWindow &, PseudoTerminal &);
    const QHash<QString, Scene> scenes = {
        { QStringLiteral("tcp-client"), tcpClient },
        { QStringLiteral("tcp-server"), tcpServer },
        { QStringLiteral("udp"), udp },
        { QStringLiteral("serial"), serial },
        { QStringLiteral("quick-send"), quickSend },
        { QStringLiteral("find"), find },
        { QStringLiteral("hex-view"), hexView },
    };
    const Scene scene = scenes.value(app.arguments().value(1));
    if (!scene) {
        std::fprintf(stderr, "usage: quorvix_shots tcp-client|tcp-server|udp|serial|quick-send|find|hex-view\n");
        return 2;
    }

    PseudoTerminal pty;
    MainWindow window(nullptr, [&pty] { return QStringList { pty.portName() }; });
    window.show();
    scene(window, pty);
    QTest::qWait(500); // the receive areas show what arrived in batches
    // A scene with a tool window open is a picture of that window.
    QWidget *pictured = &window;
    for (const char *name : { "QuickSendWindow", "HexViewWindow" }) {
        auto *tool = window.findChild<QWidget *>(QLatin1String(name));
        if (tool && tool->isVisible())
            pictured = tool;
    }
    std::printf("%llu\n", qulonglong(pictured->winId()));
    std::fflush(stdout);
    return app.exec();
}
