#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <termios.h>

namespace {

const QStringList arrangement { "SerialList", "ParityList", "SerialOpen", "SerialClose", "SnedData" };

// The real window on its serial page, listing `ports`: a real pty to begin with.
struct Rig
{
    Rig() { d.click("serialButton"); }
    qint64 count(const char *label) const { return d.text(label).section(u'：', 1).toLongLong(); }
    // True once the port carries bytes, with the counter back at 0.
    bool carries()
    {
        d.click("SendClear");
        d.setText("DataToSend", "set");
        d.click("SnedData");
        const bool ready = pty.read(3) == "set" && QTest::qWaitFor([this] { return count("SendCountLabel") == 3; });
        d.click("SendClear");
        return ready;
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
        if (failure == "typed")
            r.d.type("SerialList", port);
        else if (failure != "lost")
            r.d.choose(failure.section('=', 0, 0), failure.section('=', 1));
        r.d.click("SerialOpen");
        if (failure == "lost") {
            QVERIFY(r.carries());
            r.pty.closeMaster();
        }
        QTRY_VERIFY(box->seen);
        QVERIFY2(box->text.contains(port) && box->text.contains(named), qPrintable(box->text));
        QCOMPARE(r.d.enabled(arrangement), "SerialList ParityList SerialOpen");
        // The list is followed again, and the failed port stays chosen.
        r.ports.prepend("ttyQ9");
        QTRY_COMPARE(r.d.w("SerialList")->property("count").toInt(), 2);
        QCOMPARE(r.d.text("SerialList"), port);
    }

    void opensSendsAndReceives_data()
    {
        QTest::addColumn<QStringList>("choices"); // baud rate, data bits, stop bits, parity, flow control
        // The codes the page asks the worker for, in that order, then the port's speed, c_cflag and c_iflag.
        // A pty keeps eight data bits and drops PARENB; the parity kind stays in PARODD and CMSPAR.
        QTest::addColumn<QList<uint>>("line");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("options"); // hex, CR LF, echo, time stamps: 0 or 1 each
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("defaults, CR LF") << QStringList() << QList<uint> { 115200, 8, 0, 0, 0, B115200, 0, 0 } << "AB" << "0110"
                                         << QByteArray("AB\r\n");
        QTest::newRow("odd, 1.5 stop, RTS/CTS, hex") << QStringList { "1200", "8", "1.5", "odd", "RTS/CTS" }
                                                     << QList<uint> { 1200, 8, 1, 2, 1, B1200, PARODD | CRTSCTS, 0 } << "01 02 ff"
                                                     << "1011" << QByteArray("\x01\x02\xff");
        // More than a 16-bit counter holds.
        QTest::newRow("mark, 2 stop, 70000 bytes") << QStringList { "9600", "8", "2", "mark", "NO" }
                                                   << QList<uint> { 9600, 8, 2, 4, 0, B9600, CSTOPB | PARODD | CMSPAR, 0 }
                                                   << QString(70000, 'x') << "0000" << QByteArray(70000, 'x');
        QTest::newRow("space, 5 bits, XON/XOFF") << QStringList { "57600", "5", "1", "space", "XON/XOFF" }
                                                 << QList<uint> { 57600, 5, 0, 3, 2, B57600, CMSPAR, IXON | IXOFF } << "z"
                                                 << "0001" << QByteArray("z");
    }
    void opensSendsAndReceives()
    {
        QFETCH(QStringList, choices);
        QFETCH(QList<uint>, line);
        QFETCH(QString, text);
        QFETCH(QString, options);
        QFETCH(QByteArray, bytes);
        Rig r;
        const char *const lists[] = { "BaudrateList", "DataBitsList", "StopBitsList", "ParityList", "FlowControlList" };
        for (int i = 0; i < choices.size(); ++i)
            r.d.choose(lists[i], choices[i]);
        QSignalSpy requests(&r.d.window(), &MainWindow::openSerial);
        answerNextMessageBox(QMessageBox::Ok); // a refusal then fails below instead of hanging
        r.d.click("SerialOpen");
        QVERIFY(r.carries());
        QList<uint> seen;
        for (int i = 1; i < 6; ++i)
            seen << requests.value(0).value(i).toUInt();
        termios settings {};
        QVERIFY(r.pty.slaveSettings(&settings));
        seen << cfgetospeed(&settings) << (settings.c_cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS))
             << (settings.c_iflag & (IXON | IXOFF));
        QCOMPARE(seen, line);

        const char *const boxes[] = { "SendHEX_2", "SendNewLine_2", "SendDisplay", "TimeDisplay" };
        for (int i = 0; i < 4; ++i)
            r.d.check(boxes[i], options[i] == '1');
        r.d.setText("DataToSend", text);
        r.d.click("SnedData");
        QVERIFY(r.pty.read(bytes.size()) == bytes);
        QTRY_COMPARE(r.count("SendCountLabel"), bytes.size());
        // The echo is the text as typed, under a time stamp if asked for.
        const bool stamped = options[3] == '1';
        const QString echo = options[2] == '1' ? text + (options[1] == '1' ? "\n" : "") : QString();
        QVERIFY(r.d.waitForShown("DataRecive", echo));
        QCOMPARE(r.d.text("DataRecive").section('\n', stamped ? 1 : 0), echo);
        r.d.click("ClearRecive");
        r.pty.write("hello");
        QVERIFY(r.d.waitForShown("DataRecive", "hello"));
        const QString stamp = "^\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}  Recive：\n";
        QVERIFY2(QRegularExpression((stamped ? stamp : "^") + "hello$").match(r.d.text("DataRecive")).hasMatch(),
                 qPrintable(r.d.text("DataRecive")));
        QTRY_COMPARE(r.count("ReciveCountLabel"), 5);
        r.d.click("SerialClose");
        QCOMPARE(r.d.enabled(arrangement), "SerialList ParityList SerialOpen");
    }

    void pickedPortOutlastsStoredOneAndLoopEndsAtClose()
    {
        Rig r;
        auto restartPreferring = [&](const QStringList &listed) {
            r.ports = listed;
            r.d.close();
            QSettings("Varnholt", "Quorvix").setValue("serial/portName", "ttyQ1");
            r.d.restart([&] { return r.ports; });
            r.d.click("serialButton");
            return r.d.text("SerialList");
        };
        QCOMPARE(restartPreferring({ "ttyQ0" }), "ttyQ0");
        r.ports << "ttyQ1";
        QTRY_COMPARE(r.d.text("SerialList"), "ttyQ1");
        // The stored name is only a preference: the user's pick outlasts it, and so does a typed path.
        QCOMPARE(restartPreferring({ "ttyQ0", "ttyQ2" }), "ttyQ0");
        r.d.choose("SerialList", "ttyQ2");
        r.ports = QStringList { "ttyQ0", "ttyQ1", "ttyQ2" };
        QTRY_COMPARE(r.d.w("SerialList")->property("count").toInt(), 3);
        QCOMPARE(r.d.text("SerialList"), "ttyQ2");
        r.d.type("SerialList", r.pty.portName());
        r.ports = QStringList { "ttyQ0" };
        QTRY_COMPARE(r.d.w("SerialList")->property("count").toInt(), 1);
        r.d.click("SerialOpen");
        QVERIFY(r.carries());

        // A loop sends until the port closes; the counter ends at what the port took.
        r.d.setText("DataToSend", "t");
        r.d.setText("LoopSendPeriod", "10");
        r.d.click("LoopSend");
        QByteArray sent = r.pty.read(5);
        r.d.click("SerialClose");
        QVERIFY(!r.d.w("LoopSend")->property("checked").toBool());
        sent += r.pty.readAvailable(300);
        QCOMPARE(sent, QByteArray(qMax(5, int(sent.size())), 't'));
        QTRY_COMPARE(r.count("SendCountLabel"), sent.size());
        // Closed for real: it opens again.
        r.d.click("SerialOpen");
        QVERIFY(r.carries());
    }
};

QTEST_MAIN(SerialWindowTest)
#include "tst_serialwindow.moc"
