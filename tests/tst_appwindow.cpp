#include "app/quitsignals.h"
#include "mainwindow/recordfile.h"
#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QSettings store() { return QSettings("Varnholt", "Quorvix"); }

// A few options of each kind, as shown.
QStringList shown(const WindowDriver &d)
{
    QStringList all;
    for (const char *name : { "titlelabel", "Obj_IP", "BaudrateList", "ParityList", "SerialList" })
        all << d.text(name);
    for (const char *name : { "HexDisplay", "AutoSwitchLine", "TimeDisplay" })
        all << d.w(name)->property("checked").toString();
    return all;
}

} // namespace

class AppWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void settingsOutliveRestartsUntilReset()
    {
        PseudoTerminal pty;
        QStringList ports { pty.portName(), "ttyQ0" };
        WindowDriver d([&] { return ports; });
        d.click("UDPButton");
        d.type("Obj_IP", "localhost");
        d.choose("BaudrateList", "9600");
        d.choose("ParityList", "odd");
        d.choose("SerialList", "ttyQ0");
        d.check("HexDisplay", true);
        d.check("AutoSwitchLine", false);
        d.check("TimeDisplay", true);
        const QStringList changed { "UDP", "localhost", "9600", "odd", "ttyQ0", "true", "false", "true" };
        QCOMPARE(shown(d), changed);
        d.restart([&] { return ports; });
        QCOMPARE(shown(d), changed);
        QCOMPARE(store().value("protocol/currentIndex").toInt(), 2);
        QCOMPARE(store().value("options/hexDisplay").toBool(), true);
        QCOMPARE(store().value("serial/parity").toString(), "odd");

        // With a stored port not listed yet and the pty open, a declined reset
        // changes nothing; an accepted one closes the port and forgets the name.
        d.close();
        store().setValue("serial/portName", "ttyQ1");
        d.restart([&] { return ports; });
        d.click("serialButton");
        d.click("SerialOpen");
        d.click("TCPClient");
        const QStringList before = shown(d);
        const auto boxes = answerMessageBoxes({ QMessageBox::No, QMessageBox::Yes, QMessageBox::Ok });
        d.click("resetButton");
        QCOMPARE(shown(d), before);
        d.click("resetButton");
        QCOMPARE(boxes->size(), 3);
        QVERIFY(store().allKeys().isEmpty());
        QCOMPARE(shown(d), QStringList({ "TCP客户端", "127.0.0.1", "115200", "none", pty.portName(), "false", "true", "false" }));
        QCOMPARE(d.enabled({ "SerialOpen", "SerialClose" }), "SerialOpen");
        ports << "ttyQ1";
        QTRY_COMPARE(d.w("SerialList")->property("count").toInt(), 3);
        QCOMPARE(d.text("SerialList"), pty.portName());
    }

    // A signal ends the event loop, and the window saves as it goes; the
    // session manager's request (0) saves at once and the program goes on.
    void endingSavesSettings()
    {
        for (int signalNumber : { SIGTERM, SIGINT, SIGHUP, 0 }) {
            WindowDriver d;
            QuitSignals quitSignals;
            d.type("Obj_IP", QString("127.0.0.%1").arg(signalNumber));
            QTimer::singleShot(0, [&] { signalNumber ? void(::raise(signalNumber)) : d.window().commitSessionData(); });
            QTimer::singleShot(signalNumber ? 20000 : 200, &quitSignals, [] { QCoreApplication::exit(1); });
            QCOMPARE(QApplication::exec(), signalNumber ? 0 : 1);
            if (signalNumber)
                d.close();
            QCOMPARE(store().value("network/targetIP").toString(), QString("127.0.0.%1").arg(signalNumber));
        }
    }

    void recordsAndLoadedFiles()
    {
        PseudoTerminal pty;
        WindowDriver d([&] { return QStringList { pty.portName() }; });
        d.click("serialButton");
        d.click("SerialOpen");
        pty.write("记录 end");
        QVERIFY(d.waitForShown("DataRecive", "end"));
        QDir folder(d.folder(), "*.txt");
        // Two saves that straddle a second prove nothing, so such a pair is tried again.
        for (int attempt = 0; attempt < 5 && folder.entryList().filter("-2.txt").isEmpty(); ++attempt) {
            for (const QString &name : folder.entryList())
                QFile::remove(folder.filePath(name));
            const auto boxes = answerMessageBoxes({ QMessageBox::Ok, QMessageBox::Ok });
            d.click("SaveData");
            d.click("SaveData");
            folder.refresh();
        }
        const QString first = folder.entryList().filter(QRegularExpression("^\\d{4}年\\d\\d月\\d\\d日\\d\\d-\\d\\d-\\d\\d\\.txt$")).value(0);
        QCOMPARE(folder.entryList(), QStringList({ QString(first).replace(".txt", "-2.txt"), first }));
        QFile record(folder.filePath(first));
        QVERIFY(record.open(QIODevice::ReadOnly) && QString::fromLocal8Bit(record.readAll()) == "记录 end");
        QFile blocker(folder.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        d.window().setRecordDirectory(blocker.fileName() + "/records");
        const auto refused = answerNextMessageBox(QMessageBox::Ok);
        d.click("SaveData");
        QVERIFY2(refused->text.contains(blocker.fileName() + "/records/"), qPrintable(refused->text));

        // Loading refuses what is not a regular file of at most 16 MiB, and takes a text file literally.
        d.click("TCPClient");
        for (const QString kind : { "fifo", "big", "text" }) {
            QFile file(folder.filePath(kind + ".txt"));
            const QByteArray path = QFile::encodeName(file.fileName());
            QVERIFY(kind == "fifo" ? ::mkfifo(path.constData(), 0600) == 0 : file.open(QIODevice::WriteOnly));
            QVERIFY(kind != "big" || file.resize(RecordFile::MaxLoadSize + 1));
            QVERIFY(kind != "text" || file.write("<b>粗体</b> &amp;\r\n第二行\r\n") > 0);
            file.close();
            // Opening a FIFO waits for a writer: the watchdog becomes one, so a
            // load that opens it ends with the wrong text instead of hanging.
            std::atomic<bool> done = false;
            std::thread watchdog([&] {
                for (int waited = 0; !done && waited < 3000; waited += 10)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                const int fd = kind == "fifo" ? ::open(path.constData(), O_WRONLY | O_NONBLOCK) : -1;
                if (fd >= 0 && ::write(fd, "hung", 4) >= 0)
                    ::close(fd);
            });
            d.setText("Send_msg", "kept");
            WindowDriver::answerNextFileDialog(file.fileName());
            // No answerer for the text file: one left waiting would take a later box.
            const auto box = kind != "text" ? answerNextMessageBox(QMessageBox::Ok) : std::make_shared<MessageBoxRecord>();
            d.click("openfileButton");
            done = true;
            watchdog.join();
            QCOMPARE(d.text("Send_msg"), kind != "text" ? "kept" : "<b>粗体</b> &amp;\n第二行\n");
            QCOMPARE(box->seen && box->text.contains(file.fileName()), kind != "text");
        }
    }

    void frameDragKeysAndAbout()
    {
        WindowDriver d;
        // Each event is made just before it is sent: events share their device's point.
        for (const char *grip : { "networkPage", "titlelabel" }) {
            const QPoint at = d.w(grip)->rect().center(), start = d.window().pos(), travel(37, -21);
            auto send = [&](QEvent::Type type, QPoint offset, Qt::MouseButton button, Qt::MouseButtons held) {
                QMouseEvent event(type, at + offset, d.w(grip)->mapToGlobal(at) + offset, button, held, Qt::NoModifier);
                QApplication::sendEvent(d.w(grip), &event);
            };
            send(QEvent::MouseButtonPress, {}, Qt::LeftButton, Qt::LeftButton);
            send(QEvent::MouseMove, travel, Qt::NoButton, Qt::LeftButton);
            send(QEvent::MouseButtonRelease, travel, Qt::LeftButton, Qt::NoButton);
            QTRY_COMPARE(d.window().pos(), qstrcmp(grip, "titlelabel") ? start : start + travel);
        }
        QString about;
        QTimer::singleShot(0, &d.window(), [&] {
            if (QWidget *dialog = QApplication::activeModalWidget())
                about = dialog->windowTitle(), dialog->close();
        });
        QVERIFY(QMetaObject::invokeMethod(&d.window(), "on_ActAbout_triggered"));
        QCOMPARE(about, "关于 Quorvix");

        // Quitting asks first: declined, the window stays; confirmed, the event loop ends.
        const auto answers = answerMessageBoxes({ QMessageBox::No, QMessageBox::No, QMessageBox::Yes });
        d.click("closeButton");
        QTest::keyClick(&d.window(), Qt::Key_Escape);
        QVERIFY(d.window().isVisible());
        QTimer::singleShot(0, &d.window(), [&] { d.click("closeButton"); });
        QTimer::singleShot(20000, &d.window(), [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(answers->size(), 3);
        d.window().show();
        // F1 answers, except in server mode. Last: its final answerer waits a moment for nothing.
        for (const char *mode : { "UDPButton", "serialButton", "TCPClient", "TCPserver" }) {
            d.click(mode);
            const auto box = answerNextMessageBox(QMessageBox::Ok, 100);
            QTest::keyClick(&d.window(), Qt::Key_F1);
            QVERIFY2(box->seen == (qstrcmp(mode, "TCPserver") != 0), mode);
        }
    }
};

QTEST_MAIN(AppWindowTest)
#include "tst_appwindow.moc"
