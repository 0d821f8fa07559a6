#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <termios.h>

namespace {

const QString stamp = "\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}";

// The real window on its serial page, listing `ports`: a real pty to begin with.
struct Rig
{
    Rig() { d.click("serialButton"); }
    qint64 count(const char *label) const { return d.text(label).section(u'：', 1).toLongLong(); }
    bool closed() const
    {
        return d.enabled({ "SerialList", "ParityList", "SerialOpen", "SerialClose", "SnedData" })
            == "SerialList ParityList SerialOpen";
    }
    bool open()
    {
        d.click("SerialOpen");
        return carries();
    }
    // True once the port carries bytes, with the counter back at 0.
    bool carries()
    {
        d.setText("DataToSend", "set");
        d.click("SnedData");
        const bool ready = pty.read(3) == "set" && QTest::qWaitFor([this] { return count("SendCountLabel") == 3; });
        d.click("SendClear");
        return ready;
    }
    // Restarts the window on a stored port name that is not listed yet.
    QString restartPreferring(const QString &stored, const QStringList &listed)
    {
        ports = listed;
        d.close();
        QSettings("Varnholt", "Quorvix").setValue("serial/portName", stored);
        d.restart([this] { return ports; });
        d.click("serialButton");
        return d.text("SerialList");
    }

    PseudoTerminal pty;
    QStringList ports { pty.portName() };
    WindowDriver d { [this] { return ports; } };
};

} // namespace

class SerialWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void opensWithLineSettings_data()
    {
        QTest::addColumn<QStringList>("choices"); // baud rate, data bits, stop bits, parity, flow control
        QTest::addColumn<QList<int>>("codes"); // what the page asks of the worker, in that order
        // A pty keeps eight data bits and drops PARENB; the parity kind stays in PARODD and CMSPAR.
        QTest::addColumn<QList<uint>>("line"); // speed, c_cflag, c_iflag
        QTest::newRow("defaults") << QStringList() << QList<int> { 115200, 8, 0, 0, 0 } << QList<uint> { B115200, 0, 0 };
        QTest::newRow("odd, 1.5 stop, RTS/CTS") << QStringList { "1200", "8", "1.5", "odd", "RTS/CTS" }
                                                << QList<int> { 1200, 8, 1, 2, 1 } << QList<uint> { B1200, PARODD | CRTSCTS, 0 };
        QTest::newRow("mark, 2 stop") << QStringList { "9600", "8", "2", "mark", "NO" } << QList<int> { 9600, 8, 2, 4, 0 }
                                      << QList<uint> { B9600, CSTOPB | PARODD | CMSPAR, 0 };
        QTest::newRow("space, XON/XOFF") << QStringList { "57600", "5", "1", "space", "XON/XOFF" }
                                         << QList<int> { 57600, 5, 0, 3, 2 } << QList<uint> { B57600, CMSPAR, IXON | IXOFF };
    }
    void opensWithLineSettings()
    {
        QFETCH(QStringList, choices);
        QFETCH(QList<int>, codes);
        QFETCH(QList<uint>, line);
        Rig r;
        const char *const lists[] = { "BaudrateList", "DataBitsList", "StopBitsList", "ParityList", "FlowControlList" };
        for (int i = 0; i < choices.size(); ++i)
            r.d.choose(lists[i], choices[i]);
        QSignalSpy requests(&r.d.window(), &MainWindow::openSerial);
        QVERIFY(r.closed());
        r.d.click("SerialOpen");
        QList<int> asked;
        for (int i = 1; i < 6; ++i)
            asked << requests.value(0).value(i).toInt();
        QCOMPARE(asked, codes);
        QVERIFY(r.carries());
        termios settings {};
        QVERIFY(r.pty.slaveSettings(&settings));
        QCOMPARE(QList<uint>({ uint(cfgetospeed(&settings)), uint(settings.c_cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS)),
                               uint(settings.c_iflag & (IXON | IXOFF)) }),
                 line);
        QVERIFY(!r.closed());
        r.d.click("SerialClose");
        QVERIFY(r.closed());
    }

    void failuresCloseThePage_data()
    {
        QTest::addColumn<QString>("failure"); // "list=entry" chosen, "typed" or "lost"
        QTest::addColumn<QString>("named"); // besides the port
        QTest::newRow("7 data bits refused") << "DataBitsList=7" << "数据位 7";
        QTest::newRow("even parity refused") << "ParityList=even" << "校验位 even";
        QTest::newRow("typed port missing") << "typed" << "无法打开串口";
        QTest::newRow("port lost while open") << "lost" << "已断开";
    }
    void failuresCloseThePage()
    {
        QFETCH(QString, failure);
        QFETCH(QString, named);
        Rig r;
        // Named per process: copies of the test share the port's lock file.
        const QString missing = QDir::temp().filePath(QString("quorvix-missing-%1").arg(QCoreApplication::applicationPid()));
        const QString port = failure == "typed" ? missing : r.pty.portName();
        const auto box = answerNextMessageBox(QMessageBox::Ok);
        if (failure == "lost") {
            QVERIFY(r.open());
            r.pty.closeMaster();
        } else {
            failure == "typed" ? r.d.type("SerialList", port) : r.d.choose(failure.section('=', 0, 0), failure.section('=', 1));
            r.d.click("SerialOpen");
        }
        QTRY_VERIFY(box->seen);
        QVERIFY2(box->text.contains(port) && box->text.contains(named), qPrintable(box->text));
        QVERIFY(r.closed());
        // The list is followed again, and the failed port stays chosen.
        r.ports.prepend("ttyQ9");
        QTRY_COMPARE(r.d.w<QComboBox>("SerialList")->count(), 2);
        QCOMPARE(r.d.text("SerialList"), port);
    }

    void pickedPortOutlastsStoredOne()
    {
        Rig r;
        QCOMPARE(r.restartPreferring("ttyQ1", { "ttyQ0" }), "ttyQ0");
        r.ports << "ttyQ1";
        QTRY_COMPARE(r.d.text("SerialList"), "ttyQ1");
        // The stored name is only a preference: the user's pick outlasts it.
        QCOMPARE(r.restartPreferring("ttyQ1", { "ttyQ0", "ttyQ2" }), "ttyQ0");
        r.d.choose("SerialList", "ttyQ2");
        r.ports = QStringList { "ttyQ0", "ttyQ1", "ttyQ2" };
        QTRY_COMPARE(r.d.w<QComboBox>("SerialList")->count(), 3);
        QCOMPARE(r.d.text("SerialList"), "ttyQ2");
        // So does a path typed by hand, and it is what opens.
        r.d.type("SerialList", r.pty.portName());
        r.ports = QStringList { "ttyQ0" };
        QTRY_COMPARE(r.d.w<QComboBox>("SerialList")->count(), 1);
        QCOMPARE(r.d.text("SerialList"), r.pty.portName());
        QVERIFY(r.open());
    }

    void sendsAndReceives_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("options"); // hex, CR LF, echo, time stamps: 0 or 1 each
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("text, CR LF") << "AB" << "0110" << QByteArray("AB\r\n");
        QTest::newRow("hex, stamped") << "01 02 ff" << "1011" << QByteArray("\x01\x02\xff");
        // More than a 16-bit counter holds.
        QTest::newRow("70000 bytes") << QString(70000, 'x') << "0000" << QByteArray(70000, 'x');
    }
    void sendsAndReceives()
    {
        QFETCH(QString, text);
        QFETCH(QString, options);
        QFETCH(QByteArray, bytes);
        Rig r;
        QVERIFY(r.open());
        const char *const boxes[] = { "SendHEX_2", "SendNewLine_2", "SendDisplay", "TimeDisplay" };
        for (int i = 0; i < 4; ++i)
            r.d.check(boxes[i], options[i] == '1');
        const bool stamped = options[3] == '1';
        r.d.setText("DataToSend", text);
        r.d.click("SnedData");
        QVERIFY(r.pty.read(bytes.size()) == bytes);
        QTRY_COMPARE(r.count("SendCountLabel"), bytes.size());
        const QString echo = options[2] == '1' ? text + (options[1] == '1' ? "\n" : "") : QString();
        QVERIFY(r.d.waitForShown("DataRecive", echo));
        QCOMPARE(r.d.text("DataRecive").section('\n', stamped ? 1 : 0), echo);
        r.d.click("ClearRecive");
        r.pty.write("hello");
        QVERIFY(r.d.waitForShown("DataRecive", "hello"));
        const QString shown = r.d.text("DataRecive");
        QVERIFY2(QRegularExpression(stamped ? "^" + stamp + "  Recive：\nhello$" : "^hello$").match(shown).hasMatch(),
                 qPrintable(shown));
        QCOMPARE(r.count("ReciveCountLabel"), 5);
    }

    void loopSendsWhileOpen()
    {
        Rig r;
        r.d.setText("DataToSend", "t");
        r.d.setText("LoopSendPeriod", "10");
        r.d.click("LoopSend");
        // Armed while closed: nothing is sent, counted or reported until the port opens.
        QTest::qWait(100);
        QCOMPARE(r.count("SendCountLabel") + r.d.text("DataRecive").size(), 0);
        r.d.click("SerialOpen");
        QByteArray sent = r.pty.read(5);
        QCOMPARE(sent, "ttttt");
        // Closing stops the loop; the counter ends at what the port took.
        r.d.click("SerialClose");
        QVERIFY(!r.d.w<QCheckBox>("LoopSend")->isChecked());
        sent += r.pty.readAvailable(300);
        QCOMPARE(sent, QByteArray(sent.size(), 't'));
        QTRY_COMPARE(r.count("SendCountLabel"), sent.size());
    }
};

QTEST_MAIN(SerialWindowTest)
#include "tst_serialwindow.moc"
