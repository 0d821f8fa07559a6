#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QTest>

#include <termios.h>

namespace {

const QStringList arrangement { "SerialList", "ParityList", "SerialOpen", "SerialClose", "SnedData" };
const QString closed = "SerialList ParityList SerialOpen";

// The real window on its serial page, listing `ports`: a real pty to begin with.
struct Rig
{
    Rig() { d.click("serialButton"); }
    // True once the port carries bytes, with the counter back at 0.
    bool carries()
    {
        d.click("SendClear");
        d.setText("DataToSend", "set");
        d.click("SnedData");
        const bool ready = pty.read(3) == "set" && QTest::qWaitFor([this] { return d.count("SendCountLabel") == 3; });
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
    // A refused or lost port is named with the cause; the failed port, even a typed path, stays chosen.
    void failuresCloseThePage()
    {
        for (const QString named : { "校验位 even", "无法打开串口", "已断开" }) {
            Rig r;
            // Named per process: copies of the test share the port's lock file.
            const QString missing = QDir::temp().filePath(QString("quorvix-gone-%1").arg(qApp->applicationPid()));
            const QString port = named == "无法打开串口" ? missing : r.pty.portName();
            const auto boxes = answerMessageBoxes({ QMessageBox::Ok });
            if (port == missing)
                r.d.type("SerialList", port);
            else if (named.contains("even"))
                r.d.choose("ParityList", "even");
            r.d.click("SerialOpen");
            if (named == "已断开") { // after a close and a reopen, so the close has to be a real one
                QVERIFY(r.carries());
                // What arrives just before a close is shown; the reopened port gets nothing of the ended loop.
                r.d.setText("DataToSend", "t");
                r.d.setText("LoopSendPeriod", "10");
                r.d.click("LoopSend");
                r.pty.write("tail\xe4\xb8");
                r.d.click("SerialClose");
                QTRY_VERIFY(r.d.text("DataRecive").remove('\n').endsWith(QStringLiteral("tail\uFFFD")));
                r.pty.readAvailable(0);
                r.d.click("SerialOpen");
                QTest::qWait(100);
                QVERIFY(r.carries());
                r.pty.closeMaster();
            }
            const auto said = [&boxes] { return boxes->value(0).text; };
            QTRY_VERIFY2(said().contains(port) && said().contains(named), qPrintable(said()));
            QCOMPARE(r.d.enabled(arrangement), closed);
            r.ports.prepend("ttyQ9");
            QTRY_COMPARE(r.d.w("SerialList")->property("count").toInt(), 2);
            QCOMPARE(r.d.text("SerialList"), port);
        }
    }

    // Every entry of every list, one at a time, as the port took it: its speed,
    // its flags that a pty keeps, or the refusal. A pty keeps the flags of the
    // open before, and takes no parity bit and only 8 (or 5) data bits.
    void everyLineSettingReachesThePort()
    {
        Rig r;
        QStringList seen;
        const QList<QPair<uint, const char *>> flags { { CSTOPB, "CSTOPB" }, { PARODD, "PARODD" }, { CMSPAR, "CMSPAR" },
                                                       { CRTSCTS, "CRTSCTS" } };
        for (const char *list : { "BaudrateList", "DataBitsList", "StopBitsList", "FlowControlList", "ParityList" }) {
            auto *box = r.d.w<QComboBox>(list);
            const QString initial = box->currentText();
            for (int i = 0; i < box->count(); ++i) {
                r.d.choose(list, box->itemText(i));
                const auto refused = answerMessageBoxes({ QMessageBox::Ok });
                r.d.click("SerialOpen");
                r.d.setText("DataToSend", "set");
                r.d.click("SnedData");
                QByteArray carried;
                QVERIFY(QTest::qWaitFor([&] { return (carried += r.pty.readAvailable(5)) == "set" || !refused->isEmpty(); }));
                termios line {};
                QStringList observed;
                if (carried != "set" || !r.pty.slaveSettings(&line))
                    observed << refused->value(0).text.section('\n', 1);
                else if (box == r.d.w("BaudrateList"))
                    observed << QString::number(r.pty.slaveSpeed());
                for (const auto &[flag, name] : flags)
                    observed << (line.c_cflag & flag ? name : nullptr);
                observed << (line.c_iflag & IXON ? "IXON" : nullptr) << (line.c_iflag & IXOFF ? "IXOFF" : nullptr);
                observed.removeAll(QString());
                seen << box->itemText(i) + ": " + observed.join(' ');
                r.d.click("SerialClose");
            }
            r.d.choose(list, initial);
        }
        const QStringList expected {
            "1200: 1200", "2400: 2400", "4800: 4800", "9600: 9600", "19200: 19200", "38400: 38400",
            "57600: 57600", "76800: 76800", "115200: 115200", "128000: 128000", "256000: 256000", "512000: 512000",
            "8: ", "7: 数据位 7 不被串口接受：Invalid argument", "6: 数据位 6 不被串口接受：Invalid argument", "5: ",
            "1: ", "1.5: ", "2: CSTOPB",
            "NO: ", "RTS/CTS: CRTSCTS", "XON/XOFF: IXON IXOFF",
            "none: ", "odd: PARODD", "even: ", "mark: PARODD CMSPAR", "space: CMSPAR"
        };
        QCOMPARE(seen, expected);
    }

    void opensSendsAndReceives_data()
    {
        QTest::addColumn<QStringList>("choices"); // baud rate, data bits, stop bits, parity, flow control
        // Port speed, c_cflag, c_iflag: a pty keeps 8 data bits and drops PARENB, not PARODD or CMSPAR.
        QTest::addColumn<QList<uint>>("line");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("hex"); // else sent with CR LF
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("defaults, CR LF") << QStringList() << QList<uint> { B115200, 0, 0 } << "AB" << false
                                         << QByteArray("AB\r\n");
        QTest::newRow("odd, 1.5 stop, RTS/CTS, hex") << QStringList { "1200", "8", "1.5", "odd", "RTS/CTS" }
                                                     << QList<uint> { B1200, PARODD | CRTSCTS, 0 } << "01 02 ff"
                                                     << true << QByteArray("\x01\x02\xff");
        QTest::newRow("mark, 2 stop, XON/XOFF, past 16 bits") << QStringList { "9600", "8", "2", "mark", "XON/XOFF" }
            << QList<uint> { B9600, CSTOPB | PARODD | CMSPAR, IXON | IXOFF } << QString(70000, 'x') << false
            << QByteArray(70000, 'x').append("\r\n");
    }
    void opensSendsAndReceives()
    {
        QFETCH(QStringList, choices);
        QFETCH(QList<uint>, line);
        QFETCH(QString, text);
        QFETCH(bool, hex);
        QFETCH(QByteArray, bytes);
        Rig r;
        const QStringList lists { "BaudrateList", "DataBitsList", "StopBitsList", "ParityList", "FlowControlList" };
        for (int i = 0; i < choices.size(); ++i)
            r.d.choose(lists[i], choices[i]);
        const auto refused = answerMessageBoxes({ QMessageBox::Ok }); // a refusal then fails instead of hanging
        r.d.click("SerialOpen");
        QVERIFY2(r.carries(), qPrintable(refused->value(0).text));
        QCOMPARE(r.d.enabled(lists + arrangement), "SerialClose SnedData");
        termios settings {};
        QVERIFY(r.pty.slaveSettings(&settings));
        const uint cflags = settings.c_cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS);
        QCOMPARE(QList<uint>({ uint(cfgetospeed(&settings)), cflags, uint(settings.c_iflag & (IXON | IXOFF)) }), line);
        r.d.check("SendHEX_2", hex);
        r.d.check("SendNewLine_2", !hex);
        r.d.setText("DataToSend", text);
        r.d.click("SnedData");
        QVERIFY(r.pty.read(bytes.size()) == bytes);
        QTRY_COMPARE(r.d.count("SendCountLabel"), bytes.size());
        r.pty.write("hello");
        QTRY_VERIFY(r.d.text("DataRecive").contains("hello"));
        r.d.click("SendClear");
        r.d.check("SendHEX_2", false);
        r.d.check("SendNewLine_2", false);
        r.d.setText("DataToSend", "t");
        r.d.setText("LoopSendPeriod", "10");
        r.d.click("LoopSend");
        QByteArray sent = r.pty.read(5);
        r.d.click("SerialClose");
        QVERIFY(!r.d.w("LoopSend")->property("checked").toBool());
        sent += r.pty.readAvailable(300);
        QCOMPARE(sent, QByteArray(qMax(5, int(sent.size())), 't'));
        QTRY_COMPARE(r.d.count("SendCountLabel"), sent.size());
    }
};

QTEST_MAIN(SerialWindowTest)
#include "tst_serialwindow.moc"
