#include "about/aboutdialog.h"
#include "app/quitsignals.h"
#include "app/qttranslation.h"
#include "app/stylesheet.h"
#include "mainwindow/receiveview.h"
#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QTranslator>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <csignal>

namespace {

QSettings store() { return QSettings("Varnholt", "Quorvix"); }

// A few options of each kind, as shown.
QStringList shown(const WindowDriver &d)
{
    QStringList all;
    for (const char *name : { "titlelabel", "Obj_IP", "BaudrateList", "ParityList", "SerialList" })
        all << d.text(name);
    all << d.w("HexDisplay")->property("checked").toString();
    return all;
}

// The names of the option boxes that are checked, joined by spaces.
QString checkedBoxes(const WindowDriver &d)
{
    QStringList names;
    for (const QCheckBox *box : d.window().findChildren<QCheckBox *>())
        if (box->isChecked())
            names << box->objectName();
    names.sort();
    return names.join(' ');
}

// Threads or open descriptors of this process.
qsizetype entriesOf(const QString &procFolder)
{
    return QDir(procFolder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

} // namespace

class AppWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void formAndSheetHaveWhatCodeReliesOn()
    {
        // A renamed object silently loses its by-name slot; this warning is all that shows.
        QTest::failOnWarning(QRegularExpression("connectSlotsByName"));
        WindowDriver d;
        QVERIFY(d.w("Recive_msg")->property("readOnly").toBool() && d.w("DataRecive")->property("readOnly").toBool());
        QVERIFY(d.w("SerialList")->property("editable").toBool());
        // Each receive area carries its own tools, named as its menu shows them.
        for (const char *area : { "Recive_msg", "DataRecive" }) {
            QStringList tools;
            for (const QAction *action : d.w(area)->findChildren<QAction *>(QRegularExpression("^Act")))
                tools << action->objectName() + ' ' + action->text();
            tools.sort();
            QCOMPARE(tools, QStringList({ "ActCapture 开始记录", "ActCaptureFolder 记录文件夹…", "ActFind 查找…",
                                          "ActHexView 十六进制查看…" }));
        }
        QButtonGroup *modes = d.w<QAbstractButton>("serialButton")->group();
        QVERIFY(modes && modes->exclusive() && modes->buttons().size() == 4 && modes->checkedButton());
        QVERIFY(!d.w<QAbstractButton>("TCPClient")->icon().pixmap(32, 32).isNull()); // null without the SVG plugin
        QVERIFY(loadStyleSheet(*qApp));
        const QRegularExpression byName("#(?![0-9a-fA-F]{3,8}\\b|qt_)(\\w+)"); // not colours, not Qt's own
        for (const auto &match : byName.globalMatch(qApp->styleSheet())) // every object styled by name exists
            QVERIFY2(d.window().findChild<QWidget *>(match.captured(1)), qPrintable(match.captured(1)));
        // Failures leave the sheet as it was: no sheet, an empty one (a bare BOM too), no resource root.
        QTemporaryDir dir;
        const QString sheet = dir.filePath("sheet.css");
        QVERIFY(!loadStyleSheet(*qApp, sheet, dir.path()));
        const QList<QPair<QByteArray, QString>> failures { { "", dir.path() }, { "\xEF\xBB\xBF", dir.path() },
                                                           { "QLabel { color: red; }", dir.filePath("gone") } };
        for (const auto &[bytes, root] : failures) {
            QFile file(sheet);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush());
            QVERIFY(!loadStyleSheet(*qApp, sheet, root));
        }
        QVERIFY(qApp->styleSheet().contains("#frameMian"));
        QVERIFY(loadStyleSheet(*qApp, sheet, dir.path()));
        QCOMPARE(qApp->styleSheet(), "QLabel { color: red; }");
    }
    void settingsOutliveRestartsUntilReset()
    {
        PseudoTerminal pty;
        QStringList ports { pty.portName(), "ttyQ0" };
        WindowDriver d([&] { return ports; });
        QCOMPARE(checkedBoxes(d), "AutoSwitchLine AutoSwitchLine_2");
        QStringList titles;
        for (const char *mode : { "TCPserver", "UDPButton", "serialButton", "TCPClient" }) {
            d.click(mode);
            titles << d.text("titlelabel");
        }
        QCOMPARE(titles, QStringList({ "TCP服务器", "UDP", "串口", "TCP客户端" }));
        d.click("UDPButton");
        d.type("Obj_IP", "localhost");
        d.choose("BaudrateList", "9600");
        d.choose("ParityList", "odd");
        d.choose("SerialList", "ttyQ0");
        d.check("HexDisplay", true);
        const QStringList changed { "UDP", "localhost", "9600", "odd", "ttyQ0", "true" };
        d.restart([&] { return ports; });
        QCOMPARE(shown(d), changed);
        QCOMPARE(store().value("options/hexDisplay").toBool(), true);

        // A typed path, or a stored port absent for a whole run, stays shown and stored.
        d.type("SerialList", "/dev/pts/quorvix");
        d.restart([&] { return ports; });
        QCOMPARE(d.text("SerialList"), "/dev/pts/quorvix");
        d.close();
        store().setValue("serial/portName", "ttyQ1");
        d.restart([&] { return ports; });
        d.restart([&] { return ports; });
        QCOMPARE(d.text("SerialList"), "ttyQ1");
        QCOMPARE(d.text("titlelabel"), "UDP");
        d.close();
        store().setValue("protocol/currentIndex", 3); // the serial mode is not one to start in
        store().setValue("display/maxParagraphs", 0); // raised to 1
        store().setValue("display/maxCharacters", "many"); // the default
        d.restart([&] { return ports; });
        QCOMPARE(d.text("titlelabel"), "TCP客户端");
        for (const char *area : { "Recive_msg", "DataRecive" }) {
            const ReceiveView::Bounds bounds = d.w<ReceiveView>(area)->displayBounds();
            QCOMPARE(QList<int>({ bounds.maxParagraphs, bounds.maxCharacters }), QList<int>({ 1, 16 * 1024 * 1024 }));
        }
        // A pick outlasts that port's arrival; with the pty open, a reset closes it and keeps the field.
        d.choose("SerialList", "ttyQ0");
        ports << "ttyQ1";
        QTRY_COMPARE(d.w("SerialList")->property("count").toInt(), 3);
        QCOMPARE(d.text("SerialList"), "ttyQ0");
        ports.removeLast();
        QTRY_COMPARE(d.w("SerialList")->property("count").toInt(), 2);
        d.choose("SerialList", pty.portName());
        d.click("serialButton");
        d.click("SerialOpen");
        // 累计清零 leaves the serial figures; 清零 and the reset zero them, the reset the areas too.
        const auto figures = [&] { return QList<qint64>({ d.count("ReciveCountLabel"), d.count("SendCountLabel") }); };
        const auto exchange = [&] {
            pty.write("in");
            d.setText("DataToSend", "out");
            d.click("SnedData");
            return QTest::qWaitFor([&] { return figures() == QList<qint64>({ 2, 3 }); });
        };
        QVERIFY(exchange());
        d.click("clear_send_cnt");
        QCOMPARE(figures(), QList<qint64>({ 2, 3 }));
        d.click("SendClear");
        QCOMPARE(figures(), QList<qint64>({ 0, 0 }));
        QVERIFY(exchange());
        d.click("TCPClient");
        const auto boxes = answerMessageBoxes({ QMessageBox::Yes, QMessageBox::Ok });
        d.click("resetButton");
        QCOMPARE(boxes->size(), 2);
        QCOMPARE(figures(), QList<qint64>({ 0, 0 }));
        QCOMPARE(d.text("DataRecive") + d.text("DataToSend"), QString());
        QCOMPARE(checkedBoxes(d), "AutoSwitchLine AutoSwitchLine_2");
        QVERIFY(store().allKeys().isEmpty());
        const QStringList defaults { "TCP客户端", "127.0.0.1", "115200", "none", pty.portName(), "false" };
        QCOMPARE(shown(d), defaults);
        QCOMPARE(d.enabled({ "SerialOpen", "SerialClose" }), "SerialOpen");
        ports << "ttyQ1";
        QTRY_COMPARE(d.w("SerialList")->property("count").toInt(), 3);
        QCOMPARE(d.text("SerialList"), pty.portName());
    }

    // A signal ends the event loop, and the window has saved as it went.
    void signalsEndTheLoopAndSettingsAreSaved()
    {
        for (int signalNumber : { SIGTERM, SIGINT, SIGHUP }) {
            WindowDriver d;
            QuitSignals quitSignals;
            d.type("Obj_IP", QString("127.0.0.%1").arg(signalNumber));
            QTimer::singleShot(0, [=] { ::raise(signalNumber); });
            QTimer::singleShot(20000, &quitSignals, [] { QCoreApplication::exit(1); });
            QCOMPARE(QApplication::exec(), 0);
            d.close();
            QCOMPARE(store().value("network/targetIP").toString(), QString("127.0.0.%1").arg(signalNumber));
        }
        // The session manager's save request saves and leaves the window open.
        WindowDriver d;
        d.type("Obj_IP", "127.0.0.9");
        QMetaObject::invokeMethod(&d.window(), "commitSessionData");
        QCOMPARE(store().value("network/targetIP").toString(), QString("127.0.0.9"));
        QVERIFY(d.window().isVisible());
    }

    void recordsAndLoadedFiles()
    {
        PseudoTerminal pty;
        const MainWindow::PortLister lister = [&] { return QStringList { pty.portName() }; };
        WindowDriver d(lister);
        const QString captures = d.folder() + "/captures";
        d.close();
        store().setValue("capture/folder", captures);
        d.restart(lister);
        d.click("serialButton");
        d.click("SerialOpen");
        QDir folder(d.folder() + "/%1", "*.txt"); // the %1 stays as it is in the second record's name
        QVERIFY(folder.mkpath("."));
        d.window().setRecordDirectory(folder.path());
        // An empty area: the network one is saved as an empty record, the serial one not at all.
        auto empty = answerMessageBoxes({ QMessageBox::Ok });
        d.click("SaveData");
        d.click("savefileButton");
        QTRY_COMPARE(empty->size(), 1);
        QCOMPARE(empty->first().text.section('\n', 0, 0), "保存成功！");
        QCOMPARE(QFileInfo(empty->first().text.section('\n', 1)).size(), 0);
        QCOMPARE(folder.entryList().size(), 1);
        pty.write("记录 end");
        QTRY_VERIFY(d.text("DataRecive").contains("end"));

        // Two saves that straddle a second prove nothing, so such a pair is tried again.
        for (int attempt = 0; attempt < 5 && folder.entryList().filter("-2.txt").isEmpty(); ++attempt) {
            for (const QString &name : folder.entryList())
                QFile::remove(folder.filePath(name));
            const auto boxes = answerMessageBoxes({ QMessageBox::Ok, QMessageBox::Ok });
            d.click("SaveData");
            d.click("SaveData");
            QTRY_COMPARE(boxes->size(), 2);
            folder.refresh();
        }
        const QString first = folder.entryList().filter(QRegularExpression("\\d\\d\\.txt$")).value(0);
        const QDateTime named = QDateTime::fromString(first, "yyyy年MM月dd日hh-mm-ss'.txt'");
        QVERIFY2(named.isValid() && qAbs(named.secsTo(QDateTime::currentDateTime())) < 60, qPrintable(first));
        QCOMPARE(folder.entryList(), QStringList({ QString(first).replace(".txt", "-2.txt"), first }));
        QFile record(folder.filePath(first));
        QVERIFY(record.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(record.readAll()), "记录 end");

        // A capture folder that cannot be made: a box with the system's reason, and the display goes on.
        QFile(captures).open(QIODevice::WriteOnly);
        QAction *capture = d.w("DataRecive")->findChild<QAction *>("ActCapture");
        auto boxes = answerMessageBoxes({ QMessageBox::Ok });
        capture->trigger();
        QVERIFY2(boxes->size() == 1 && boxes->first().text.contains(captures + "/"), qPrintable(boxes->value(0).text));
        QVERIFY(boxes->first().text.contains("Not a directory") && !capture->isChecked());
        pty.write(" more");
        QTRY_VERIFY(d.text("DataRecive").endsWith(" more"));
        // Records go to the capture folder when the program's folder takes none; the box names the file.
        QFile::remove(captures);
        d.window().setRecordDirectory(record.fileName());
        boxes = answerMessageBoxes({ QMessageBox::Ok });
        d.click("SaveData");
        QTRY_COMPARE(boxes->size(), 1);
        const QString saved = boxes->first().text.section('\n', 1);
        QVERIFY2(saved.startsWith(captures + "/") && QFile::exists(saved), qPrintable(boxes->first().text));

        // Loading refuses what is not a regular file and takes a text file literally.
        d.click("TCPClient");
        QFile text(folder.filePath("text.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("<b>粗体</b> &amp;\r\n第二行\r\n") > 0);
        text.close();
        // Up to 16 MiB: a file of exactly that size loads, one byte more is refused.
        const QByteArray bound(16 * 1024 * 1024, 'b');
        QFile exact(folder.filePath("exact.txt")), over(folder.filePath("over.txt"));
        QVERIFY(exact.open(QIODevice::WriteOnly) && exact.write(bound) == bound.size());
        QVERIFY(over.open(QIODevice::WriteOnly) && over.write(bound + 'b') == bound.size() + 1);
        exact.close();
        over.close();
        const QList<QPair<QString, QString>> loads { { "", "kept" },
                                                     { "/dev/null", "kept" },
                                                     { text.fileName(), "<b>粗体</b> &amp;\n第二行\n" },
                                                     { over.fileName(), "kept" },
                                                     { exact.fileName(), QLatin1String(bound) } };
        for (const auto &[path, loaded] : loads) {
            d.setText("Send_msg", "kept");
            WindowDriver::answerNextFileDialog(path);
            const bool refused = loaded == "kept";
            const auto boxes = answerMessageBoxes({ QMessageBox::Ok });
            d.click("openfileButton");
            QVERIFY2(d.text("Send_msg") == loaded, qPrintable(path));
            QCOMPARE(boxes->size() == 1 && boxes->first().text.contains(path), refused);
            if (path.isEmpty())
                QCOMPARE(boxes->first().title + ' ' + boxes->first().text, "提示 未选择文件");
        }
        // A long line, set or pasted, is kept in blocks the area can lay out, yet copied and sent whole.
        const QString line = QString("0123456789").repeated(1000);
        auto *area = d.w<QPlainTextEdit>("Send_msg");
        d.setText("Send_msg", line + "\nend");
        QApplication::clipboard()->setText(line);
        area->moveCursor(QTextCursor::Start);
        area->paste();
        area->selectAll();
        area->copy();
        QCOMPARE(QApplication::clipboard()->text(), line + line + "\nend");
        QCOMPARE(d.text("Send_msg"), QApplication::clipboard()->text());
        QVERIFY(area->document()->blockCount() > 4);
    }

    // A capture survives a kill of the real program: what it showed is in the files.
    void captureSurvivesAKill()
    {
        QTemporaryDir home;
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost));
        QSettings stored(home.filePath("config/Varnholt/Quorvix.conf"), QSettings::IniFormat);
        stored.setValue("network/targetPort", QString::number(peer.serverPort()));
        stored.setValue("options/autoSwitchLine", false);
        stored.setValue("capture/folder", home.filePath("captures"));
        stored.sync();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QStringList variables { "HOME", home.path(), "XDG_CONFIG_HOME", home.filePath("config"),
                                      "QT_PLUGIN_PATH", QUORVIX_TEST_PLUGINS, "QT_QPA_GENERIC_PLUGINS", "capturedriver" };
        for (int i = 0; i < variables.size(); i += 2)
            environment.insert(variables[i], variables[i + 1]);
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QUORVIX_PROGRAM);
        QVERIFY(peer.waitForNewConnection(20000));
        const QByteArray data = QByteArray("shown before the kill\n").repeated(20000);
        peer.nextPendingConnection()->write(data);
        const auto captured = [folder = QDir(home.filePath("captures"))](const QString &suffix) {
            QFile file(folder.filePath(folder.entryList({ "*" + suffix }).value(0)));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_VERIFY_WITH_TIMEOUT(captured(".bin").size() == data.size() && captured(".txt").size() == data.size(), 20000);
        program.kill();
        QVERIFY(program.waitForFinished());
        QCOMPARE(captured(".bin"), data);
        QCOMPARE(captured(".txt"), data);
        // An option it does not know ends the program at once with status 2.
        program.start(QUORVIX_PROGRAM, { "--no-such-option" });
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 2);
    }

    void soakCycles_data()
    {
        QTest::addColumn<QString>("mode");
        for (const char *mode : { "TCPClient", "TCPserver", "UDPButton", "serialButton" })
            QTest::newRow(mode) << mode;
    }

    // Opens and closes through the window leave no thread or descriptor behind; each Disconnect ends its link.
    void soakCycles()
    {
        QFETCH(QString, mode);
        PseudoTerminal pty;
        WindowDriver d([&pty] { return QStringList { pty.portName() }; });
        QTcpServer peer; // the client's peer; its port is also the server's and the UDP port
        const quint16 port = peer.listen(QHostAddress::LocalHost) ? peer.serverPort() : 0;
        d.click(mode);
        d.type("Obj_IP", "127.0.0.1");
        d.type(mode == "TCPClient" ? "Obj_Port" : "Local_Port", port);
        d.setText("DataToSend", "x");
        if (mode == "TCPserver")
            peer.close();
        auto *clients = d.w<QComboBox>("client_list");
        const auto cycle = [&] {
            if (mode == "serialButton") {
                d.click("SerialOpen");
                d.click("SnedData");
                const bool through = pty.read(1) == "x";
                d.click("SerialClose");
                return through;
            }
            const QString received = d.text("Recive_cnt");
            d.click("Connect");
            QTcpSocket visitor;
            const bool open = QTest::qWaitFor([&] {
                if (mode == "TCPClient")
                    return peer.hasPendingConnections();
                if (mode == "UDPButton") { // lost until the window has bound the port
                    QUdpSocket().writeDatagram("ping", QHostAddress::LocalHost, port);
                    return d.text("Recive_cnt") != received;
                }
                return connectOnceListening(visitor, port) && QTest::qWaitFor([&] { return clients->count() == 2; });
            });
            QTcpSocket *link = mode == "TCPClient" ? peer.nextPendingConnection() : &visitor;
            d.click("Disconnect"); // the far end sees the link end, and the port is freed
            const auto freed = [&] {
                if (mode == "UDPButton")
                    return QUdpSocket().bind(QHostAddress::Any, port, QAbstractSocket::DontShareAddress);
                return mode == "TCPClient" || QTcpServer().listen(QHostAddress::LocalHost, port);
            };
            if (!open || (link->state() != QAbstractSocket::UnconnectedState && !link->waitForDisconnected(5000)))
                return false;
            return !clients->count() && QTest::qWaitFor(freed);
        };
        QVERIFY(cycle());
        QTest::qWait(100); // counted once a first cycle has created what is made lazily
        const qsizetype threads = entriesOf("/proc/self/task");
        const qsizetype descriptors = entriesOf("/proc/self/fd");
        for (int i = 0; i < 60; ++i)
            QVERIFY2(cycle(), qPrintable(QString::number(i)));
        // Pooled helper threads of Qt's may expire meanwhile, taking their descriptors along.
        QTRY_VERIFY(entriesOf("/proc/self/task") <= threads);
        QTRY_VERIFY(entriesOf("/proc/self/fd") <= descriptors);
    }
    // The notice names the licence; the link opens the installed one, or is gone and nothing moves.
    void aboutDialog()
    {
        QTemporaryDir prefix;
        QFile licence(prefix.filePath("copy right"));
        QVERIFY(licence.open(QIODevice::WriteOnly));
        AboutDialog present(nullptr, licence.fileName()), absent(nullptr, prefix.filePath("gone"));
        present.show();
        absent.show();
        const auto label = [](const AboutDialog &dialog, const char *name) { return dialog.findChild<QLabel *>(name); };
        const QString href = QRegularExpression("href=\"(.+)\"").match(label(present, "websiteLabel")->text()).captured(1);
        QVERIFY(QUrl(href).toLocalFile() == licence.fileName() && label(present, "copyrightLabel")->text().contains("MIT"));
        QVERIFY(label(present, "websiteLabel")->isVisible() && !label(absent, "websiteLabel")->isVisible());
        QCOMPARE(label(absent, "copyrightLabel")->geometry(), label(present, "copyrightLabel")->geometry());
    }
    // Qt's own texts speak the window's language, whatever the locale.
    void qtTextsInChinese()
    {
        QTranslator translator;
        QVERIFY(loadQtTranslation(translator) && qApp->installTranslator(&translator));
        QMessageBox box(QMessageBox::Question, "", "", QMessageBox::Yes | QMessageBox::No);
        QStringList texts { box.button(QMessageBox::Yes)->text(), box.button(QMessageBox::No)->text() };
        WindowDriver d;
        std::unique_ptr<QMenu> menu(d.w<QPlainTextEdit>("Recive_msg")->createStandardContextMenu());
        for (QAction *action : menu->actions())
            texts << action->text().section('\t', 0, 0);
        QCOMPARE(texts, QStringList({ "是(&Y)", "否(&N)", "复制(&C)", "", "全选" }));
    }
    // F1 answers, except in server mode.
    void helpKey()
    {
        WindowDriver d;
        for (const char *mode : { "UDPButton", "serialButton", "TCPClient", "TCPserver" }) {
            d.click(mode);
            const auto boxes = answerMessageBoxes({ QMessageBox::Ok });
            QTest::keyClick(&d.window(), Qt::Key_F1);
            QVERIFY2(boxes->size() == (qstrcmp(mode, "TCPserver") != 0), mode);
        }
    }
};

QTEST_MAIN(AppWindowTest)
#include "tst_appwindow.moc"
