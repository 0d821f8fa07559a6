#include "mainwindow/mainwindow.h"
#include "mainwindow/receiveview.h"

#include "tests/testsupport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Answers file dialogs with `pick` (cancels when empty) and message boxes with
// their first button. Boxes are recorded as title, text, icon and parent.
struct Dialogs
{
    explicit Dialogs(const QString &pick = QString())
    {
        QObject::connect(&poll, &QTimer::timeout, [this, pick] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || modal == last || !modal->isVisible())
                return;
            last = modal;
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                boxes << QStringList { box->windowTitle(), box->text(), QString::number(box->icon()),
                                       box->parentWidget() ? "parent" : "none" };
                return box->buttons().first()->click();
            }
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            fileDialog = { dialog->windowTitle(), dialog->parentWidget() ? "parent" : "none",
                           dialog->nameFilters().join(';') };
            // Typed, as a user would: the dialog's directory model loads lazily.
            if (auto *typed = dialog->findChild<QLineEdit *>("fileNameEdit"); typed && !pick.isEmpty()) {
                typed->setText(pick);
                static_cast<QDialog *>(dialog)->accept();
            }
            if (dialog->isVisible())
                dialog->reject();
        });
        poll.start(10);
    }
    QStringList fileDialog;
    QList<QStringList> boxes;
    QPointer<QWidget> last;
    QTimer poll;
};

const QString warning = QString::number(QMessageBox::Warning);

} // namespace

class RecordsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { useSettingsDirectory(settingsDir); }
    void init()
    {
        records = std::make_unique<QTemporaryDir>();
        window = std::make_unique<MainWindow>(nullptr, [this] { return QStringList { pty.portName() }; });
        window->setRecordDirectory(records->path());
    }
    void cleanup() { window.reset(); }
    void twoSavesInOneSecondKeepBoth_data() { pages(); }
    void twoSavesInOneSecondKeepBoth();
    void emptyAreas();
    void unwritableDirectoryIsNamed();
    void loadsLiterally_data() { pages(); }
    void loadsLiterally();
    void refusedLoadChangesNothing_data();
    void refusedLoadChangesNothing();

private:
    void pages()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("network") << false;
        QTest::newRow("serial") << true;
    }
    template<typename T = QPushButton>
    T *child(const char *name) { return window->findChild<T *>(QString::fromLatin1(name)); }
    QStringList recordFiles() const { return QDir(records->path()).entryList(QDir::Files); }
    QByteArray recordContent(const QString &name) const
    {
        QFile file(records->filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    }
    // Brings `bytes`, ending in "end", into a receive area over a real link:
    // loopback TCP for the network page, the pty for the serial page.
    bool receive(bool serial, const QByteArray &bytes)
    {
        if (serial) {
            child("SerialOpen")->click();
            pty.write(bytes);
        } else {
            if (!server.isListening() && !server.listen(QHostAddress::LocalHost))
                return false;
            child<QLineEdit>("Obj_IP")->setText("127.0.0.1");
            child<QLineEdit>("Obj_Port")->setText(QString::number(server.serverPort()));
            child("Connect")->click();
            if (!QTest::qWaitFor([&] { return server.hasPendingConnections(); }))
                return false;
            server.nextPendingConnection()->write(bytes);
        }
        auto *area = child<ReceiveView>(serial ? "DataRecive" : "Recive_msg");
        return QTest::qWaitFor([&] { return area->joinedText().endsWith("end"); });
    }

    QTemporaryDir settingsDir;
    PseudoTerminal pty;
    QTcpServer server;
    std::unique_ptr<QTemporaryDir> records;
    std::unique_ptr<MainWindow> window;
};

void RecordsTest::twoSavesInOneSecondKeepBoth()
{
    QFETCH(bool, serial);
    QVERIFY(pty.isValid());
    QVERIFY(receive(serial, "记录 第一行\nsecond end"));
    const QString shown = child<ReceiveView>(serial ? "DataRecive" : "Recive_msg")->joinedText();
    const QRegularExpression plainName("^\\d{4}年\\d\\d月\\d\\d日\\d\\d-\\d\\d-\\d\\d\\.txt$");

    // Now and then two saves straddle a second; such a pair proves nothing, so try again.
    QString first;
    for (int attempt = 0; attempt < 5 && first.isEmpty(); ++attempt) {
        for (const QString &name : recordFiles())
            QVERIFY(QFile::remove(records->filePath(name)));
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        Dialogs dialogs;
        child(serial ? "SaveData" : "savefileButton")->click();
        child(serial ? "SaveData" : "savefileButton")->click();
        QCOMPARE(dialogs.boxes, QList<QStringList>(2, { "提示！", "保存成功！", "1", "none" }));
        const QStringList names = recordFiles();
        QCOMPARE(names.size(), 2);
        for (const QString &name : names)
            QCOMPARE(QString::fromLocal8Bit(recordContent(name)), shown);
        const QStringList plain = names.filter(plainName);
        QVERIFY(!plain.isEmpty());
        const QDateTime when = QDateTime::fromString(plain.first(), "yyyy年MM月dd日hh-mm-ss'.txt'");
        QVERIFY(when >= before && when <= QDateTime::currentDateTime());
        if (plain.size() == 1) {
            first = plain.first();
            QVERIFY(names.contains(first.chopped(4) + "-2.txt"));
        }
    }
    QVERIFY(!first.isEmpty());
}

void RecordsTest::emptyAreas()
{
    Dialogs dialogs;
    child("SaveData")->click();
    QVERIFY(dialogs.boxes.isEmpty());
    QVERIFY(recordFiles().isEmpty());

    child("savefileButton")->click();
    QCOMPARE(dialogs.boxes.value(0).value(1), "保存成功！");
    QCOMPARE(recordFiles().size(), 1);
    QCOMPARE(recordContent(recordFiles().first()), QByteArray());
}

void RecordsTest::unwritableDirectoryIsNamed()
{
    QFile blocker(records->filePath("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString directory = records->filePath("blocker/records");
    window->setRecordDirectory(directory);
    QFile probe(directory + "/probe.txt");
    QVERIFY(!probe.open(QIODevice::WriteOnly));

    Dialogs dialogs;
    child("savefileButton")->click();
    QCOMPARE(dialogs.boxes.size(), 1);
    const QStringList box = dialogs.boxes[0];
    QCOMPARE(box[0] + box[2] + box[3], "错误！" + warning + "none");
    QVERIFY2(box[1].contains("写入文件失败！") && box[1].contains(directory) && box[1].contains(probe.errorString()),
             qPrintable(box[1]));
    QCOMPARE(recordFiles(), QStringList { "blocker" });
}

void RecordsTest::loadsLiterally()
{
    QFETCH(bool, serial);
    QFile file(records->filePath("load.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<b>粗体</b> &amp;\r\n第二行\r\n");
    file.close();
    auto *target = child<QTextEdit>(serial ? "DataToSend" : "Send_msg");
    target->setPlainText("old");

    Dialogs dialogs(file.fileName());
    child(serial ? "OpenFile" : "openfileButton")->click();
    QCOMPARE(dialogs.fileDialog.mid(0, 2), QStringList({ "请选择txt文件", serial ? "none" : "parent" }));
    // Only the network page narrows the choice to text files.
    QCOMPARE(dialogs.fileDialog[2].contains("*.txt"), !serial);
    QVERIFY(dialogs.boxes.isEmpty());
    QCOMPARE(target->toPlainText(), "<b>粗体</b> &amp;\n第二行\n");
}

void RecordsTest::refusedLoadChangesNothing_data()
{
    QTest::addColumn<QString>("pick"); // empty cancels; a bare name is made in the folder
    QTest::addColumn<QStringList>("box"); // title, text, icon, parent
    QTest::addColumn<QString>("why"); // also in the text
    const QStringList refused { "错误：", "打开文件失败", warning, "none" };
    QTest::newRow("cancelled") << "" << QStringList { "提示", "未选择文件", warning, "none" } << "";
    QTest::newRow("over 16 MiB") << "big.txt" << refused << "16 MiB";
    QTest::newRow("FIFO") << "fifo.txt" << refused << "fifo.txt";
    QTest::newRow("device") << "/dev/null" << refused << "/dev/null";
}

void RecordsTest::refusedLoadChangesNothing()
{
    QFETCH(QString, pick);
    QFETCH(QStringList, box);
    QFETCH(QString, why);
    const QString path = pick.startsWith('/') ? pick : records->filePath(pick);
    const QByteArray name = QFile::encodeName(path);
    QFile big(path);
    if (pick == "big.txt")
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(16 * 1024 * 1024 + 1));
    big.close();
    // Opening a FIFO waits for a writer. The watchdog becomes one after a
    // while, so a load that opens it ends instead of hanging.
    std::atomic<bool> done = false;
    std::thread watchdog;
    if (pick == "fifo.txt") {
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        watchdog = std::thread([&] {
            for (int waited = 0; !done && waited < 3000; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0 && ::write(fd, "hung", 4) >= 0)
                ::close(fd);
        });
    }
    child<QTextEdit>("Send_msg")->setPlainText("keep");

    Dialogs dialogs(pick.isEmpty() ? QString() : path);
    child("openfileButton")->click();
    done = true;
    if (watchdog.joinable())
        watchdog.join();
    QCOMPARE(dialogs.boxes.size(), 1);
    QStringList shown = dialogs.boxes[0];
    QVERIFY2(shown[1].startsWith(box[1]) && shown[1].contains(why), qPrintable(shown[1]));
    shown[1] = box[1];
    QCOMPARE(shown, box);
    QCOMPARE(child<QTextEdit>("Send_msg")->toPlainText(), "keep");
}

QTEST_MAIN(RecordsTest)
#include "tst_records.moc"
