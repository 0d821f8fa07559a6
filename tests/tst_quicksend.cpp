#include "mainwindow/payload.h"
#include "mainwindow/quicksendmodel.h"
#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

QuickSendModel *rows(const WindowDriver &d)
{
    return qobject_cast<QuickSendModel *>(d.w<QTableView>("QuickSendTable")->model());
}

// A row added with the button and filled in through the table's model, as a user's edits arrive.
void addRow(const WindowDriver &d, const QString &name, const QString &payload, bool hex, bool newLine = false)
{
    d.click("QuickSendAdd");
    QAbstractItemModel *model = rows(d);
    const int row = model->rowCount() - 1;
    model->setData(model->index(row, QuickSendModel::Name), name);
    model->setData(model->index(row, QuickSendModel::Payload), payload);
    model->setData(model->index(row, QuickSendModel::Hex), hex ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    model->setData(model->index(row, QuickSendModel::NewLine), newLine ? Qt::Checked : Qt::Unchecked,
                   Qt::CheckStateRole);
}

void clickCell(const WindowDriver &d, int row, int column, bool twice = false)
{
    auto *table = d.w<QTableView>("QuickSendTable");
    if (column == QuickSendModel::Send)
        return QTest::mouseClick(table->indexWidget(rows(d)->index(row, column)), Qt::LeftButton);
    const QPoint at = table->visualRect(rows(d)->index(row, column)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
    if (twice) { // the second press of a double click
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, at);
    }
}

} // namespace

class QuickSendTest : public QObject
{
    Q_OBJECT
private slots:
    void hexIsDecodedWholeOrRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes"); // when decoded
        QTest::addColumn<int>("badAt");
        QTest::newRow("pairs, separators, prefixes") << "0x01,02 FF\r\n0Xa0b1" << QByteArray("\x01\x02\xff\xa0\xb1", 5) << -1;
        QTest::newRow("lone digit") << "12 3" << QByteArray() << 3;
        QTest::newRow("not a digit") << "1g" << QByteArray() << 1;
        QTest::newRow("bare prefix") << "01 0x" << QByteArray() << 4;
    }

    void hexIsDecodedWholeOrRefused()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(int, badAt);
        const HexBytes decoded = decodeHex(text);
        QCOMPARE(decoded.badAt, badAt);
        if (badAt < 0)
            QCOMPARE(decoded.bytes, bytes);
    }

    void rowsGoThroughThePageSendPath()
    {
        WindowDriver d;
        // The menu keeps its two entries first and opens the window.
        const auto entries = d.window().findChild<QMenu *>()->actions();
        QCOMPARE(entries.size(), 3);
        entries[2]->trigger();
        QVERIFY(d.w("QuickSendWindow")->isVisible());
        addRow(d, "ab", "AB", false, true);
        addRow(d, "", "0x41, 42\n43", true);
        addRow(d, "third", "温度", false);
        addRow(d, "bad", "12 3", true);
        clickCell(d, 0, QuickSendModel::Send);
        QVERIFY(d.text("QuickSendStatus").contains(QStringLiteral("第 1 行")));
        QVERIFY(d.text("QuickSendStatus").contains(QStringLiteral("网络连接未打开")));

        QTcpServer peer;
        peer.listen(QHostAddress::LocalHost);
        d.type("Obj_Port", peer.serverPort());
        d.check("DisplaySendMsg", true);
        d.click("Connect");
        QVERIFY(QTest::qWaitFor([&] { return peer.hasPendingConnections(); }));
        QTcpSocket *link = peer.nextPendingConnection();
        clickCell(d, 0, QuickSendModel::Send);
        clickCell(d, 1, QuickSendModel::Name, true);
        clickCell(d, 3, QuickSendModel::Send);
        QVERIFY2(d.text("QuickSendStatus").contains(QStringLiteral("第 4 个字符")), qPrintable(d.text("QuickSendStatus")));
        d.w("QuickSendWindow")->hide(); // the keys work in the main window too
        d.window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d.window()));
        QTest::keyClick(&d.window(), Qt::Key_3, Qt::ControlModifier);
        const QByteArray expected = QByteArray("AB\r\nABC") + QStringLiteral("温度").toLocal8Bit();
        QTRY_COMPARE(link->peek(64), expected);
        QTRY_COMPARE(d.count("Send_cnt"), expected.size());
        QTRY_COMPARE(d.text("Recive_msg"), QStringLiteral("AB\n\n0x41, 42\n43\n温度"));
        // A row moves down and back up with the selection.
        auto *table = d.w<QTableView>("QuickSendTable");
        table->setCurrentIndex(rows(d)->index(0, QuickSendModel::Name));
        QStringList order;
        for (const char *button : { "QuickSendDown", "QuickSendUp" }) {
            d.click(button);
            order << rows(d)->rows().value(0).name + ',' + rows(d)->rows().value(1).name;
        }
        QCOMPARE(order, QStringList({ ",ab", "ab," }));
    }

    void sequenceRunsInOrderAndEndsWithTheLink()
    {
        PseudoTerminal pty;
        WindowDriver d([&] { return QStringList { pty.portName() }; });
        d.click("serialButton");
        d.click("SerialOpen");
        for (const char *payload : { "a", "b", "c" })
            addRow(d, payload, payload, false);
        QCOMPARE(d.text("QuickSendDelay"), "100");
        d.type("QuickSendDelay", "20");
        d.click("QuickSendSequence");
        QCOMPARE(pty.read(3), "abc");
        QTRY_VERIFY(!d.w<QAbstractButton>("QuickSendSequence")->isChecked());
        QCOMPARE(d.text("QuickSendStatus"), QStringLiteral("依次发送完成，共 3 行。"));
        // A link closed and opened again between two rows gets none of the rest.
        d.type("QuickSendDelay", "1000");
        d.click("QuickSendSequence");
        QCOMPARE(pty.read(1), "a");
        d.click("SerialClose");
        d.click("SerialOpen");
        QCOMPARE(pty.readAvailable(1500), "");
        QVERIFY(d.text("QuickSendStatus").contains(QStringLiteral("连接已关闭")));
    }

    void listOutlivesRestartAndReset()
    {
        WindowDriver d;
        const QuickSendList unusual {
            { "", QStringLiteral("温度 ✓\r\n\t"), true, false },
            { "@Variant(x)", "  lead, trail  ", false, true },
            { "a=b;c\"#\\/[]", "", true, true },
            { QStringLiteral("名称"), "%1 $HOME \x01", false, false },
        };
        rows(d)->setRows(unusual);
        const auto boxes = answerMessageBoxes({ QMessageBox::Yes, QMessageBox::Ok });
        d.click("resetButton");
        QTRY_COMPARE(boxes->size(), 2);
        QSettings store("Varnholt", "Quorvix");
        QCOMPARE(readQuickSends(store), unusual); // kept even if the program ends without saving
        d.restart();
        QCOMPARE(rows(d)->rows(), unusual);
        // A shorter list, then an empty one, is what comes back.
        for (const QuickSendList &kept : { unusual.mid(1, 1), QuickSendList() }) {
            rows(d)->setRows(kept);
            d.restart();
            QCOMPARE(rows(d)->rows(), kept);
        }
        // Of ten rows the first nine have keys, and the last can be removed; a hex box unchecks.
        rows(d)->setRows(QuickSendList(10));
        for (const Qt::CheckState state : { Qt::Checked, Qt::Unchecked })
            rows(d)->setData(rows(d)->index(9, QuickSendModel::Hex), state, Qt::CheckStateRole);
        QVERIFY(!rows(d)->rows().last().hex);
        QCOMPARE(rows(d)->headerData(8, Qt::Vertical).toString() + ' ' + rows(d)->headerData(9, Qt::Vertical).toString(),
                 "Ctrl+9 10");
        d.w<QTableView>("QuickSendTable")->setCurrentIndex(rows(d)->index(9, QuickSendModel::Name));
        d.click("QuickSendRemove");
        QCOMPARE(rows(d)->rowCount(), 9);
    }

    void importAddsOrChangesNothing()
    {
        WindowDriver d;
        addRow(d, "kept", "31", true);
        const QString shared = d.folder() + "/shared.json";
        WindowDriver::answerNextFileDialog(shared);
        d.click("QuickSendExport");
        const QList<std::pair<QByteArray, QString>> refused {
            { "{\"quickSend\": [", "JSON" },
            { "{\"quickSend\": [{\"name\": \"n\", \"payload\": 5}]}", QStringLiteral("第 1 行") },
            { "{\"quickSend\": [{\"payload\": \"" + QByteArray(1024 * 1024, 'x') + "\"}]}", "1 MiB" },
        };
        for (const auto &[content, reason] : refused) {
            QFile file(d.folder() + "/bad.json");
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
            file.close();
            const auto boxes = answerMessageBoxes({ QMessageBox::Ok });
            WindowDriver::answerNextFileDialog(file.fileName());
            d.click("QuickSendImport");
            QTRY_COMPARE(boxes->size(), 1);
            QVERIFY2(boxes->first().text.contains(reason), qPrintable(boxes->first().text));
            QCOMPARE(rows(d)->rowCount(), 1);
        }
        WindowDriver::answerNextFileDialog(shared);
        d.click("QuickSendImport");
        QCOMPARE(rows(d)->rows(), QuickSendList({ { "kept", "31", true, false }, { "kept", "31", true, false } }));
    }
};

QTEST_MAIN(QuickSendTest)
#include "tst_quicksend.moc"
