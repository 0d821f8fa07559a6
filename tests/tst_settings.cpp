#include "mainwindow/mainwindow.h"

#include "app/quitsignals.h"
#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <memory>

#include <csignal>

namespace {

struct Key
{
    const char *key;
    const char *control; // object name, or "mode" for the checked mode button
    const char *byDefault;
    const char *other;
};

// With the port list "ttyQ0", "ttyQ1" the first port is what a fresh start shows.
const Key keys[] = {
    { "network/localPort", "Local_Port", "8080", "9001" },
    { "network/targetIP", "Obj_IP", "127.0.0.1", "localhost" },
    { "network/targetPort", "Obj_Port", "8080", "9002" },
    { "protocol/currentIndex", "mode", "0", "1" },
    { "options/displayTime", "DisplayTime", "false", "true" },
    { "options/displaySendMsg", "DisplaySendMsg", "false", "true" },
    { "options/autoSwitchLine", "AutoSwitchLine", "true", "false" },
    { "options/hexSend", "HexSend", "false", "true" },
    { "options/hexDisplay", "HexDisplay", "false", "true" },
    { "options/sendNewLine", "SendNewLine", "false", "true" },
    { "options/udpBroadcast", "UdpBroadcast", "false", "true" },
    { "options/dnsAnalysis", "DnsAnalysis", "false", "true" },
    { "options/timerSend", "Timer_Send", "false", "true" },
    { "options/timerPeriod", "period", "1000", "30" },
    { "serial/timeDisplay", "TimeDisplay", "false", "true" },
    { "serial/hexSend", "SendHEX_2", "false", "true" },
    { "serial/sendNewLine", "SendNewLine_2", "false", "true" },
    { "serial/sendDisplay", "SendDisplay", "false", "true" },
    { "serial/hexDisplay", "DisplayHEX", "false", "true" },
    { "serial/autoSwitchLine", "AutoSwitchLine_2", "true", "false" },
    { "serial/loopSend", "LoopSend", "false", "true" },
    { "serial/loopSendPeriod", "LoopSendPeriod", "1000", "40" },
    { "serial/portName", "SerialList", "ttyQ0", "ttyQ1" },
    { "serial/baudRate", "BaudrateList", "115200", "9600" },
    { "serial/dataBits", "DataBitsList", "8", "7" },
    { "serial/stopBits", "StopBitsList", "1", "2" },
    { "serial/parity", "ParityList", "none", "even" },
    { "serial/flowControl", "FlowControlList", "NO", "XON/XOFF" },
};
const char *const modeButtons[] = { "TCPClient", "TCPserver", "UDPButton", "serialButton" };
const char *const modeTitles[] = { "TCP客户端", "TCP服务器", "UDP", "串口" };

QSettings store() { return QSettings(QStringLiteral("Varnholt"), QStringLiteral("Quorvix")); }

template<typename T = QWidget>
T *child(MainWindow &w, const char *name) { return w.findChild<T *>(QString::fromLatin1(name)); }

QString controlValue(MainWindow &w, const char *name)
{
    if (qstrcmp(name, "mode") == 0) {
        const QString title = child<QLabel>(w, "titlelabel")->text();
        for (int i = 0; i < 4; ++i) {
            if (child<QAbstractButton>(w, modeButtons[i])->isChecked())
                return title == QString::fromUtf8(modeTitles[i]) ? QString::number(i) : "title " + title;
        }
    }
    if (auto *box = child<QCheckBox>(w, name))
        return box->isChecked() ? "true" : "false";
    auto *edit = child<QLineEdit>(w, name);
    return edit ? edit->text() : child<QComboBox>(w, name)->currentText();
}

void setControl(MainWindow &w, const char *name, const QString &value)
{
    if (qstrcmp(name, "mode") == 0)
        child<QAbstractButton>(w, modeButtons[value.toInt()])->click();
    else if (auto *edit = child<QLineEdit>(w, name))
        edit->setText(value);
    else if (auto *box = child<QCheckBox>(w, name))
        box->setChecked(value == "true");
    else
        child<QComboBox>(w, name)->setCurrentText(value);
}

QString defaultOr(const Key &k, const QString &portName)
{
    return qstrcmp(k.control, "SerialList") == 0 ? portName : QString(k.byDefault);
}

bool timerRuns(MainWindow &w, int interval)
{
    const auto timers = w.findChildren<QTimer *>();
    return std::any_of(timers.begin(), timers.end(), [&](QTimer *t) { return t->isActive() && t->interval() == interval; });
}

// Open descriptors of this process that lead to `path`.
int descriptorsOn(const QString &path)
{
    const auto fds = QDir("/proc/self/fd").entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    return int(std::count_if(fds.begin(), fds.end(), [&](const QFileInfo &fd) { return fd.symLinkTarget() == path; }));
}

// Answers each new modal message box with the next of `buttons`; records title, text and parent.
struct Answers
{
    explicit Answers(QList<QMessageBox::StandardButton> buttons)
    {
        QObject::connect(&poll, &QTimer::timeout, [this, buttons] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || box == last || !box->isVisible() || seen.size() >= buttons.size())
                return;
            last = box;
            seen << QStringList { box->windowTitle(), box->text(), box->parentWidget() ? "parent" : "none" };
            box->button(buttons[seen.size() - 1])->click();
        });
        poll.start(10);
    }
    QList<QStringList> seen;
    QPointer<QMessageBox> last;
    QTimer poll;
};

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        useSettingsDirectory(settingsDir);
        store().clear();
        ports = { "ttyQ0", "ttyQ1" };
    }
    void survivesRebuild_data();
    void survivesRebuild();
    void convertsStoredValues_data();
    void convertsStoredValues();
    void storedPortChosenWhenListed();
    void resetAnsweredNoChangesNothing();
    void resetStopsEverythingAndRestoresDefaults();
    void sessionEndSavesSettings_data();
    void sessionEndSavesSettings();

private:
    std::unique_ptr<MainWindow> window() { return std::make_unique<MainWindow>(nullptr, [this] { return ports; }); }
    void storeOtherValues()
    {
        QSettings settings = store();
        for (const Key &k : keys)
            settings.setValue(k.key, k.other);
    }

    QTemporaryDir settingsDir;
    QStringList ports;
};

void SettingsTest::survivesRebuild_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(keys)); ++i)
        QTest::newRow(keys[i].key) << i;
}

// A first run shows the defaults; changing one control changes exactly its own
// key, and only that control comes back changed.
void SettingsTest::survivesRebuild()
{
    QFETCH(int, row);
    {
        auto w = window();
        for (const Key &k : keys)
            QCOMPARE(controlValue(*w, k.control), QString(k.byDefault));
        setControl(*w, keys[row].control, keys[row].other);
    }
    QCOMPARE(store().allKeys().size(), int(std::size(keys)));
    for (const Key &k : keys)
        QCOMPARE(store().value(k.key).toString(), QString(&k == &keys[row] ? k.other : k.byDefault));
    auto w = window();
    for (const Key &k : keys)
        QCOMPARE(controlValue(*w, k.control), QString(&k == &keys[row] ? k.other : k.byDefault));
}

void SettingsTest::convertsStoredValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("shown");
    QTest::newRow("mode as text") << "protocol/currentIndex" << QVariant("abc") << "mode" << "0";
    QTest::newRow("udp mode") << "protocol/currentIndex" << QVariant(2) << "mode" << "2";
    QTest::newRow("serial mode") << "protocol/currentIndex" << QVariant(3) << "mode" << "0";
    QTest::newRow("False") << "options/displayTime" << QVariant("False") << "DisplayTime" << "false";
    QTest::newRow("digit 0") << "options/autoSwitchLine" << QVariant("0") << "AutoSwitchLine" << "false";
    QTest::newRow("empty") << "serial/autoSwitchLine" << QVariant("") << "AutoSwitchLine_2" << "false";
    QTest::newRow("no") << "serial/timeDisplay" << QVariant("no") << "TimeDisplay" << "true";
    QTest::newRow("number 2") << "options/hexDisplay" << QVariant(2) << "HexDisplay" << "true";
    QTest::newRow("port number") << "network/localPort" << QVariant(5000) << "Local_Port" << "5000";
    QTest::newRow("unknown baud") << "serial/baudRate" << QVariant("14400") << "BaudrateList" << "1200";
    QTest::newRow("baud number") << "serial/baudRate" << QVariant(9600) << "BaudrateList" << "9600";
    QTest::newRow("case differs") << "serial/flowControl" << QVariant("xon/xoff") << "FlowControlList" << "NO";
}

// What is shown is also what goes back into the store at exit.
void SettingsTest::convertsStoredValues()
{
    QFETCH(QString, key);
    QFETCH(QVariant, stored);
    QFETCH(QString, control);
    QFETCH(QString, shown);
    store().setValue(key, stored);
    QCOMPARE(controlValue(*window(), qPrintable(control)), shown);
    QCOMPARE(store().value(key).toString(), shown);
}

void SettingsTest::storedPortChosenWhenListed()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    store().setValue("serial/portName", pty.portName());
    auto w = window();
    auto *list = child<QComboBox>(*w, "SerialList");
    QCOMPARE(list->currentText(), "ttyQ0");
    ports << pty.portName();
    QTRY_COMPARE(list->count(), 3);
    QCOMPARE(list->currentText(), pty.portName());
}

void SettingsTest::resetAnsweredNoChangesNothing()
{
    storeOtherValues();
    auto w = window();
    child<QTextEdit>(*w, "Send_msg")->setPlainText("keep");
    Answers boxes({ QMessageBox::No });
    child<QPushButton>(*w, "resetButton")->click();
    QCOMPARE(boxes.seen.value(0).value(0), "确认重置");
    QCOMPARE(boxes.seen[0][2], "parent");
    for (const Key &k : keys) {
        QCOMPARE(controlValue(*w, k.control), QString(k.other));
        QCOMPARE(store().value(k.key).toString(), QString(k.other));
    }
    QCOMPARE(child<QTextEdit>(*w, "Send_msg")->toPlainText(), "keep");
}

void SettingsTest::resetStopsEverythingAndRestoresDefaults()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    QTcpServer probe; // a free port for the window's server
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    storeOtherValues();
    store().setValue("network/localPort", QString::number(port));
    store().setValue("serial/portName", pty.portName());
    // Settings a pseudo-terminal takes.
    store().setValue("serial/dataBits", "5");
    store().setValue("serial/parity", "odd");
    ports << pty.portName();
    auto w = window();
    QCOMPARE(controlValue(*w, "mode"), "1");
    QCOMPARE(controlValue(*w, "SerialList"), pty.portName());
    // Restored loop boxes show checked, but only a click starts a loop.
    QVERIFY(child<QCheckBox>(*w, "Timer_Send")->isChecked() && child<QCheckBox>(*w, "LoopSend")->isChecked());
    QVERIFY(!timerRuns(*w, 30) && !timerRuns(*w, 40));

    // A listening server with a client, fed by the network loop (hex "ping").
    child<QPushButton>(*w, "Connect")->click();
    QTcpSocket client;
    QVERIFY(QTest::qWaitFor([&] {
        client.connectToHost(QHostAddress::LocalHost, port);
        return client.waitForConnected(1000);
    }));
    QTRY_COMPARE(child<QComboBox>(*w, "client_list")->count(), 2);
    child<QTextEdit>(*w, "Send_msg")->setPlainText("70696e67");
    // The open pty, fed by the serial loop (hex "tick").
    child<QPushButton>(*w, "SerialOpen")->click();
    child<QTextEdit>(*w, "DataToSend")->setPlainText("7469636b");
    for (const char *loop : { "Timer_Send", "LoopSend" }) {
        child<QCheckBox>(*w, loop)->click();
        child<QCheckBox>(*w, loop)->click();
    }
    QTRY_VERIFY(client.bytesAvailable() >= 8);
    QVERIFY(client.readAll().startsWith("pingping"));
    QVERIFY(pty.read(8).startsWith("ticktick"));
    // Both pages restored hex display.
    client.write("hello");
    pty.write("serin");
    auto text = [&](const char *area) { return child(*w, area)->property("plainText").toString(); };
    QTRY_VERIFY(text("Recive_msg").contains("68 65 6c 6c 6f"));
    QTRY_VERIFY(text("DataRecive").contains("73 65 72 69 6e"));
    QCOMPARE(descriptorsOn(pty.portName()), 2);
    QVERIFY(timerRuns(*w, 30) && timerRuns(*w, 40) && !timerRuns(*w, 500));

    Answers boxes({ QMessageBox::Yes, QMessageBox::Ok });
    child<QPushButton>(*w, "resetButton")->click();
    QCOMPARE(boxes.seen.size(), 2);
    QCOMPARE(boxes.seen[0][0], "确认重置");
    QCOMPARE(boxes.seen[1], QStringList({ "重置完成", "所有设置已恢复为默认状态。", "parent" }));

    QVERIFY(store().allKeys().isEmpty());
    for (const Key &k : keys)
        QCOMPARE(controlValue(*w, k.control), defaultOr(k, pty.portName()));
    QVERIFY(child(*w, "Connect")->isEnabled() && !child(*w, "Disconnect")->isEnabled());
    QVERIFY(child(*w, "SerialOpen")->isEnabled() && !child(*w, "SerialClose")->isEnabled());
    QCOMPARE(child<QComboBox>(*w, "client_list")->count(), 0);
    // The server's farewell to its client may still arrive; what was there is gone.
    QVERIFY(!text("Recive_msg").contains("68 65 6c 6c 6f"));
    QCOMPARE(text("Send_msg") + text("DataRecive") + text("DataToSend"), QString());
    for (const char *counter : { "Send_cnt", "Recive_cnt", "SendCountLabel", "ReciveCountLabel" })
        QVERIFY(child<QLabel>(*w, counter)->text().endsWith("：0"));
    QVERIFY(!timerRuns(*w, 30) && !timerRuns(*w, 40) && timerRuns(*w, 500));

    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!late.waitForConnected(3000));
    QTRY_COMPARE(descriptorsOn(pty.portName()), 1);

    // The next exit writes the defaults back.
    w.reset();
    for (const Key &k : keys)
        QCOMPARE(store().value(k.key).toString(), defaultOr(k, pty.portName()));
}

void SettingsTest::sessionEndSavesSettings_data()
{
    QTest::addColumn<int>("signalNumber"); // 0: the session manager's save request
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("session save") << 0;
}

// A signal ends the event loop, so the window goes and saves as it does at
// any end; the session manager's request saves and the program goes on.
void SettingsTest::sessionEndSavesSettings()
{
    QFETCH(int, signalNumber);
    WindowDriver driver;
    QuitSignals quitSignals;
    driver.type("Obj_IP", "127.0.0.9");
    QTimer::singleShot(0, [&] {
        if (signalNumber)
            ::raise(signalNumber);
        else
            driver.window().commitSessionData();
    });
    // Ends the loop with 1 unless something ended it first.
    QTimer::singleShot(signalNumber ? 20000 : 300, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), signalNumber ? 0 : 1);
    if (signalNumber)
        driver.close();
    QCOMPARE(store().value("network/targetIP").toString(), "127.0.0.9");
}

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
