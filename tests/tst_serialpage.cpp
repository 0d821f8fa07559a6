#include "mainwindow/mainwindow.h"

#include "mainwindow/receiveview.h"
#include "tests/testsupport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSerialPort>
#include <QTest>
#include <QTextEdit>

#include <termios.h>

namespace {

struct TempSettings
{
    TempSettings() { useSettingsDirectory(dir); }
    QTemporaryDir dir;
};

// The window offscreen; its port list is whatever `ports` holds.
struct SerialSide : TempSettings
{
    SerialSide() : ports { pty.portName() } { window.show(); }

    template<typename T = QWidget> T *widget(const char *name) { return window.findChild<T *>(name); }
    void click(const char *name) { widget<QAbstractButton>(name)->click(); }
    void check(const char *name, bool on) { widget<QCheckBox>(name)->setChecked(on); }
    void choose(const char *list, const QString &entry) { widget<QComboBox>(list)->setCurrentText(entry); }
    void setSendText(const QString &text) { widget<QTextEdit>("DataToSend")->setPlainText(text); }
    qint64 sendCount() { return widget<QLabel>("SendCountLabel")->text().section(u'：', 1).toLongLong(); }
    QString shown() { return widget<ReceiveView>("DataRecive")->joinedText(); }
    QStringList listed()
    {
        QStringList names;
        for (int i = 0; i < widget<QComboBox>("SerialList")->count(); ++i)
            names << widget<QComboBox>("SerialList")->itemText(i);
        return names;
    }
    // Opens the chosen port and returns once it carries bytes.
    bool open()
    {
        click("SerialOpen");
        setSendText("set");
        click("SnedData");
        // Counted once the worker reports the write, so that comes before the clear.
        const bool ready = pty.read(3) == "set" && QTest::qWaitFor([this] { return sendCount() == 3; });
        click("SendClear");
        return ready;
    }
    // Every widget that the open and closed arrangements switch, with its
    // enabling while the port is closed.
    bool arrangedClosed(bool closed)
    {
        for (const char *name : { "SerialList", "BaudrateList", "DataBitsList", "StopBitsList", "ParityList",
                                  "FlowControlList", "SerialOpen" })
            if (widget(name)->isEnabled() != closed)
                return false;
        return widget("SerialClose")->isEnabled() != closed && widget("SnedData")->isEnabled() != closed;
    }

    PseudoTerminal pty;
    QStringList ports;
    MainWindow window { nullptr, [this] { return ports; } };
};

} // namespace

class SerialPageTest : public QObject
{
    Q_OBJECT
private slots:
    void opensWithChosenSettings_data();
    void opensWithChosenSettings();
    void sendsAndEchoes_data();
    void sendsAndEchoes();
    void loopSendsOnlyWhileOpen();
    void rejectsBadPeriods();
    void reportsFailures_data();
    void reportsFailures();
    void followsPortsWhileClosed();
};

void SerialPageTest::opensWithChosenSettings_data()
{
    QTest::addColumn<QStringList>("choices"); // baud rate, data bits, stop bits, parity, flow control
    QTest::addColumn<uint>("speed");
    // A pseudo-terminal keeps eight data bits and no parity enable, but the
    // parity kind (PARODD, CMSPAR), stop bits and flow control stay visible.
    QTest::addColumn<uint>("cflag");
    QTest::addColumn<uint>("iflag");
    QTest::newRow("1200 8N1") << QStringList { "1200", "8", "1", "none", "NO" } << uint(B1200) << 0u << 0u;
    QTest::newRow("odd, RTS/CTS") << QStringList { "115200", "8", "1", "odd", "RTS/CTS" } << uint(B115200)
                                  << uint(PARODD | CRTSCTS) << 0u;
    QTest::newRow("2 stop") << QStringList { "9600", "8", "2", "none", "NO" } << uint(B9600) << uint(CSTOPB) << 0u;
    QTest::newRow("mark") << QStringList { "57600", "8", "1", "mark", "NO" } << uint(B57600) << uint(PARODD | CMSPAR) << 0u;
    QTest::newRow("space, XON/XOFF") << QStringList { "19200", "5", "2", "space", "XON/XOFF" } << uint(B19200)
                                     << uint(CSTOPB | CMSPAR) << uint(IXON | IXOFF);
}

void SerialPageTest::opensWithChosenSettings()
{
    QFETCH(QStringList, choices);
    QFETCH(uint, speed);
    QFETCH(uint, cflag);
    QFETCH(uint, iflag);

    SerialSide page;
    QVERIFY(page.arrangedClosed(true));
    const char *const lists[] = { "BaudrateList", "DataBitsList", "StopBitsList", "ParityList", "FlowControlList" };
    for (int i = 0; i < choices.size(); ++i)
        page.choose(lists[i], choices[i]);
    QVERIFY(page.open());
    QVERIFY(page.arrangedClosed(false));

    termios settings {};
    QVERIFY(page.pty.slaveSettings(&settings));
    QCOMPARE(uint(cfgetospeed(&settings)), speed);
    QCOMPARE(uint(cfgetispeed(&settings)), speed);
    QCOMPARE(uint(settings.c_cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS)), cflag);
    QCOMPARE(uint(settings.c_iflag & (IXON | IXOFF)), iflag);
    page.click("SerialClose");
    QVERIFY(page.arrangedClosed(true));
}

void SerialPageTest::sendsAndEchoes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<bool>("timestamp");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("text with CR LF") << "AB" << false << false << QByteArray("AB\r\n");
    QTest::newRow("stamped hex with CR LF") << "01 02 ff" << true << true << QByteArray("\x01\x02\xff");
}

void SerialPageTest::sendsAndEchoes()
{
    QFETCH(QString, text);
    QFETCH(bool, hex);
    QFETCH(bool, timestamp);
    QFETCH(QByteArray, bytes);

    SerialSide page;
    QVERIFY(page.open());
    page.check("SendHEX_2", hex);
    page.check("SendNewLine_2", true);
    page.check("SendDisplay", true);
    page.check("TimeDisplay", timestamp);
    page.setSendText(text);
    const QDateTime before = QDateTime::currentDateTime();
    page.click("SnedData");
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(page.pty.read(bytes.size()), bytes);
    QTRY_COMPARE(page.sendCount(), bytes.size());

    // The echo is the text as typed, its CR LF ending the paragraph.
    QTRY_VERIFY(!page.shown().isEmpty());
    QStringList lines = page.shown().split('\n');
    if (timestamp) {
        const QString format = "yyyy.MM.dd hh:mm:ss.zzz";
        const QString stampLine = lines.takeFirst();
        QCOMPARE(stampLine.mid(format.size()), "  Send：");
        const QDateTime stamp = QDateTime::fromString(stampLine.left(format.size()), format);
        QVERIFY(stamp >= before && stamp <= after);
    }
    QCOMPARE(lines, (QStringList { text, "" }));
}

// A running loop keeps ticking while the port is closed, sends nothing then,
// and goes on once the port is open.
void SerialPageTest::loopSendsOnlyWhileOpen()
{
    SerialSide page;
    page.check("SendDisplay", true);
    page.setSendText("t");
    page.widget<QLineEdit>("LoopSendPeriod")->setText("10");
    page.click("LoopSend");
    QVERIFY(page.widget<QCheckBox>("LoopSend")->isChecked());
    QVERIFY(QMetaObject::invokeMethod(&page.window, "on_SnedData_clicked"));
    QTest::qWait(100);
    QCOMPARE(page.sendCount(), 0);
    QVERIFY(page.shown().isEmpty());

    page.click("SerialOpen");
    const QByteArray sent = page.pty.read(3);
    QCOMPARE(sent, QByteArray(sent.size(), 't'));
    QVERIFY(sent.size() >= 3);
    page.click("LoopSend");
    const QByteArray all = sent + page.pty.readAvailable(300);
    QCOMPARE(all, QByteArray(all.size(), 't'));
    QTRY_COMPARE(page.sendCount(), all.size());
    const qint64 total = all.size();
    QTRY_COMPARE(page.shown(), QStringList(total, "t").join('\n'));

    page.click("SerialClose");
    page.click("LoopSend");
    QTest::qWait(100);
    QCOMPARE(page.sendCount(), total);
}

void SerialPageTest::rejectsBadPeriods()
{
    SerialSide page;
    QVERIFY(page.open());
    page.setSendText("x");
    for (const QString period : { "0", "-5", "abc" }) {
        page.widget<QLineEdit>("LoopSendPeriod")->setText(period);
        const auto box = answerNextMessageBox(QMessageBox::Ok);
        page.click("LoopSend");
        QVERIFY2(box->seen, qPrintable(period));
        QCOMPARE(box->title, "警告");
        QCOMPARE(box->text, "定时周期错误！");
        QVERIFY(!page.widget<QCheckBox>("LoopSend")->isChecked());
    }
    QVERIFY(page.pty.readAvailable(100).isEmpty());
    QCOMPARE(page.sendCount(), 0);
}

void SerialPageTest::reportsFailures_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("named"); // besides the port
    QTest::newRow("port gone before opening") << "vanished" << "";
    QTest::newRow("port lost while open") << "lost" << "";
    // A pseudo-terminal keeps no parity enable bit, so it refuses even parity.
    QTest::newRow("setting refused") << "refused" << "校验位 even";
}

// Either way the user is told which port failed, and the page is closed
// with its port list followed again.
void SerialPageTest::reportsFailures()
{
    QFETCH(QString, failure);
    QFETCH(QString, named);
    SerialSide page;
    // Named per process: the port's lock file is shared by every copy of the test.
    const QString missing = QDir::temp().filePath(
        QStringLiteral("quorvix-vanished-port-%1").arg(QCoreApplication::applicationPid()));
    QSerialPort reference(missing);
    QVERIFY(!reference.open(QIODevice::ReadWrite));
    if (failure == "vanished")
        named = reference.errorString();
    const QString port = failure == "vanished" ? missing : page.pty.portName();
    page.ports = { port };
    QTRY_COMPARE(page.listed(), page.ports);

    const auto box = answerNextMessageBox(QMessageBox::Ok);
    if (failure == "lost") {
        QVERIFY(page.open());
        page.pty.closeMaster();
    } else {
        page.choose("ParityList", failure == "refused" ? "even" : "none");
        page.click("SerialOpen");
    }
    QTRY_VERIFY(box->seen);
    QVERIFY2(box->text.contains(port) && box->text.contains(named), qPrintable(box->text));
    QCOMPARE(box->icon, QMessageBox::Warning);
    QVERIFY(box->hadParent);
    QVERIFY(page.arrangedClosed(true));

    page.ports = { "other", port };
    QTRY_COMPARE(page.listed(), page.ports);
    QCOMPARE(page.widget<QComboBox>("SerialList")->currentText(), port);
}

void SerialPageTest::followsPortsWhileClosed()
{
    SerialSide page;
    const QString first = page.pty.portName();
    QCOMPARE(page.listed(), QStringList { first });

    // A new port listed ahead of the chosen one does not take its place.
    PseudoTerminal second;
    page.ports = { second.portName(), first };
    QTRY_COMPARE(page.listed(), page.ports);
    QCOMPARE(page.widget<QComboBox>("SerialList")->currentText(), first);

    // The chosen port goes: the one that is left is taken, and it works.
    page.ports = { second.portName() };
    QTRY_COMPARE(page.listed(), page.ports);
    QCOMPARE(page.widget<QComboBox>("SerialList")->currentText(), second.portName());
    page.click("SerialOpen");
    page.setSendText("2nd");
    page.click("SnedData");
    QCOMPARE(second.read(3), "2nd");

    // Not followed while open; the same count with another name is noticed
    // once closed.
    page.ports = { first };
    QTest::qWait(700);
    QCOMPARE(page.listed(), QStringList { second.portName() });
    page.click("SerialClose");
    QTRY_COMPARE(page.listed(), QStringList { first });
}

QTEST_MAIN(SerialPageTest)
#include "tst_serialpage.moc"
