#include "app/quitsignals.h"
#include "mainwindow/recordfile.h"
#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
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

// A few options of each kind as shown, the check boxes by the names of those checked.
QStringList shown(const WindowDriver &d)
{
    QStringList all, on;
    for (const char *name : { "titlelabel", "Obj_IP", "period", "BaudrateList", "ParityList", "SerialList" })
        all << d.text(name);
    for (const char *name : { "HexDisplay", "AutoSwitchLine", "TimeDisplay" })
        if (d.w<QCheckBox>(name)->isChecked())
            on << name;
    return all << on.join(' ');
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
        d.type("period", "30");
        d.choose("BaudrateList", "9600");
        d.choose("ParityList", "odd");
        d.choose("SerialList", "ttyQ0");
        d.check("HexDisplay", true);
        d.check("AutoSwitchLine", false);
        d.check("TimeDisplay", true);
        const QStringList changed { "UDP", "localhost", "30", "9600", "odd", "ttyQ0", "HexDisplay TimeDisplay" };
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
        QCOMPARE(shown(d), QStringList({ "TCP客户端", "127.0.0.1", "1000", "115200", "none", pty.portName(), "AutoSwitchLine" }));
        QCOMPARE(d.enabled({ "SerialOpen", "SerialClose" }), "SerialOpen");
        ports << "ttyQ1";
        QTRY_COMPARE(d.w<QComboBox>("SerialList")->count(), 3);
        QCOMPARE(d.text("SerialList"), pty.portName());
    }

    void endingSavesSettings_data()
    {
        QTest::addColumn<int>("signalNumber"); // 0: the session manager's save request
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("session save") << 0;
    }
    // A signal ends the event loop, so the window goes and saves; the session
    // manager's request saves at once and the program goes on.
    void endingSavesSettings()
    {
        QFETCH(int, signalNumber);
        WindowDriver d;
        QuitSignals quitSignals;
        d.type("Obj_IP", "127.0.0.9");
        QTimer::singleShot(0, [&] { signalNumber ? void(::raise(signalNumber)) : d.window().commitSessionData(); });
        QTimer::singleShot(signalNumber ? 20000 : 200, &quitSignals, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), signalNumber ? 0 : 1);
        if (signalNumber)
            d.close();
        QCOMPARE(store().value("network/targetIP").toString(), "127.0.0.9");
    }

    void recordsAreNeverOverwritten()
    {
        PseudoTerminal pty;
        WindowDriver d([&] { return QStringList { pty.portName() }; });
        d.click("serialButton");
        d.click("SerialOpen");
        pty.write("记录 end");
        QVERIFY(d.waitForShown("DataRecive", "end"));
        QDir folder(d.folder(), "*.txt");
        QStringList names;
        // Two saves that straddle a second prove nothing, so such a pair is tried again.
        for (int attempt = 0; attempt < 5 && names.filter("-2.txt").isEmpty(); ++attempt) {
            for (const QString &name : folder.entryList())
                QFile::remove(folder.filePath(name));
            const auto boxes = answerMessageBoxes({ QMessageBox::Ok, QMessageBox::Ok });
            d.click("SaveData");
            d.click("SaveData");
            folder.refresh();
            names = folder.entryList();
        }
        const QString first = names.filter(QRegularExpression("^\\d{4}年\\d\\d月\\d\\d日\\d\\d-\\d\\d-\\d\\d\\.txt$")).value(0);
        QCOMPARE(names, QStringList({ QString(first).replace(".txt", "-2.txt"), first }));
        for (const QString &name : names) {
            QFile record(folder.filePath(name));
            QVERIFY(record.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromLocal8Bit(record.readAll()), "记录 end");
        }
        QFile blocker(folder.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        d.window().setRecordDirectory(blocker.fileName() + "/records");
        const auto refused = answerNextMessageBox(QMessageBox::Ok);
        d.click("SaveData");
        QVERIFY2(refused->text.contains(blocker.fileName() + "/records/"), qPrintable(refused->text));
    }

    void loadsOnlyRegularFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("loaded"); // empty: refused with a box naming the file
        QTest::newRow("FIFO") << "fifo" << "";
        QTest::newRow("over 16 MiB") << "big" << "";
        QTest::newRow("text, literally") << "text" << "<b>粗体</b> &amp;\n第二行\n";
    }
    void loadsOnlyRegularFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, loaded);
        WindowDriver d;
        QFile file(d.folder() + "/load.txt");
        const QByteArray path = QFile::encodeName(file.fileName());
        QVERIFY(kind == "fifo" ? ::mkfifo(path.constData(), 0600) == 0 : file.open(QIODevice::WriteOnly));
        QVERIFY(kind != "big" || file.resize(RecordFile::MaxLoadSize + 1));
        QVERIFY(kind != "text" || file.write("<b>粗体</b> &amp;\r\n第二行\r\n") > 0);
        file.close();
        // Opening a FIFO waits for a writer: the watchdog becomes one, so a load
        // that opens it ends with the wrong text instead of hanging.
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
        // No answerer for the loaded file: one left waiting would take a later test's box.
        const auto box = loaded.isEmpty() ? answerNextMessageBox(QMessageBox::Ok) : std::make_shared<MessageBoxRecord>();
        d.click("openfileButton");
        done = true;
        watchdog.join();
        QCOMPARE(d.text("Send_msg"), loaded.isEmpty() ? "kept" : loaded);
        QCOMPARE(box->seen && box->text.contains(file.fileName()), loaded.isEmpty());
        // The bound itself: exactly 16 MiB still loads.
        QString text;
        QVERIFY(kind != "big" || (file.resize(RecordFile::MaxLoadSize) && RecordFile::load(file.fileName(), &text).ok));
    }

    void quittingAsksFirst_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::addColumn<bool>("yes");
        QTest::newRow("close button, no") << false << false;
        QTest::newRow("close button, yes") << false << true;
        QTest::newRow("Escape, no") << true << false;
        QTest::newRow("Escape, yes") << true << true;
    }
    // A confirmed quit ends the event loop (0); after a declined one the window is still up (1).
    void quittingAsksFirst()
    {
        QFETCH(bool, escape);
        QFETCH(bool, yes);
        WindowDriver d;
        const auto box = answerNextMessageBox(yes ? QMessageBox::Yes : QMessageBox::No);
        QTimer::singleShot(0, &d.window(), [&] {
            escape ? QTest::keyClick(&d.window(), Qt::Key_Escape) : d.click("closeButton");
            if (d.window().isVisible())
                QCoreApplication::exit(1);
        });
        QTimer::singleShot(20000, &d.window(), [] { QCoreApplication::exit(2); });
        QCOMPARE(QApplication::exec(), yes ? 0 : 1);
        QVERIFY(box->seen);
    }

    void frameKeysDragAndAbout()
    {
        WindowDriver d;
        d.window().move(60, 40);
        QVERIFY(QTest::qWaitForWindowExposed(&d.window()));
        const QPoint travel(37, -21);
        // Dragging by the header moves the window, by the page it does not. Each event
        // is made just before it is sent: events share their device's point.
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
        for (const char *mode : { "UDPButton", "serialButton", "TCPClient", "TCPserver" }) {
            d.click(mode);
            // The reminder is modal: once the key returns it has come and gone.
            const auto box = answerNextMessageBox(QMessageBox::Ok, 100);
            QTest::keyClick(&d.window(), Qt::Key_F1);
            QVERIFY2(box->seen == (qstrcmp(mode, "TCPserver") != 0), mode);
        }
        QString about;
        QTimer::singleShot(0, &d.window(), [&] {
            if (QWidget *dialog = QApplication::activeModalWidget())
                about = dialog->windowTitle(), dialog->close();
        });
        QVERIFY(QMetaObject::invokeMethod(&d.window(), "on_ActAbout_triggered"));
        QCOMPARE(about, "关于 Quorvix");
    }
};

QTEST_MAIN(AppWindowTest)
#include "tst_appwindow.moc"
