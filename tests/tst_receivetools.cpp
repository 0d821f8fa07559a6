#include "mainwindow/findbar.h"
#include "mainwindow/hexdump.h"
#include "mainwindow/hexviewwindow.h"
#include "mainwindow/receivedbytes.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/receiveview.h"
#include "tests/testsupport.h"
#include "tests/windowdriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>
#include <QVBoxLayout>

namespace {

// The offset, hex and ASCII columns of every row.
QStringList rows(HexViewModel &model)
{
    QStringList all;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList columns;
        for (int column = 0; column < HexViewModel::ColumnCount; ++column)
            columns << model.index(row, column).data().toString();
        all << columns.join(u'|');
    }
    return all;
}

QByteArray counting(int from, int count)
{
    QByteArray bytes;
    for (int i = from; i < from + count; ++i)
        bytes += char(i);
    return bytes;
}

} // namespace

class ReceiveToolsTest : public QObject
{
    Q_OBJECT
private slots:
    void hexRows_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("lead");
        QTest::addColumn<QString>("row");
        QTest::newRow("full") << qint64(0x1230) << QByteArray("0123456789:;<=>?") << 0
                              << "00001230|30 31 32 33 34 35 36 37  38 39 3a 3b 3c 3d 3e 3f|0123456789:;<=>?";
        QTest::newRow("unprintable") << qint64(0) << QByteArray("\r\n\0\x1f \x7e\x7f\x80\xff", 9) << 0
                                     << "00000000|0d 0a 00 1f 20 7e 7f 80  ff                     |.... ~...";
        QTest::newRow("after bytes that left") << qint64(0x100000000) << QByteArray("ab") << 14
                                               << "100000000|                                           61 62|"
                                                  "              ab";
    }
    void hexRows()
    {
        QFETCH(qint64, offset);
        QFETCH(QByteArray, bytes);
        QFETCH(int, lead);
        const HexRow row = hexDumpRow(offset, bytes, lead);
        QTEST(QStringList({ row.offset, row.hex, row.ascii }).join(u'|'), "row");
    }

    // Rows of 16 run across chunks; each source counts its own offsets from
    // its first byte, and they stay true when the oldest bytes leave.
    void storeKeepsOffsetsPerSource()
    {
        ReceivedBytes store(40);
        HexViewModel model(&store);
        store.append("a", counting(0x41, 17));
        store.append("a", counting(0x61, 15));
        model.setSource(0);
        QCOMPARE(rows(model), QStringList({ "00000000|41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50|ABCDEFGHIJKLMNOP",
                                            "00000010|51 61 62 63 64 65 66 67  68 69 6a 6b 6c 6d 6e 6f|Qabcdefghijklmno" }));
        store.append("b", "xyz");
        store.append("a", "!");
        QCOMPARE(store.sources(), QStringList({ "a", "b" }));
        QCOMPARE(store.read(1, 0, 16), "xyz");
        QCOMPARE(store.read(0, 31, 2), "o!");
        model.setSource(ReceivedBytes::AllSources);
        QCOMPARE(model.rowBytes(2), "xyz!");
        // 36 bytes kept of 40; 10 more push out the oldest 6, all of source a.
        store.append("b", "0123456789");
        model.sync();
        QCOMPARE(store.begin(0), 6);
        QCOMPARE(store.end(0), 33);
        QCOMPARE(store.read(0, 0, 4), counting(0x47, 4));
        QCOMPARE(rows(model).first(), "00000000|                  47 48  49 4a 4b 4c 4d 4e 4f 50|      GHIJKLMNOP");
        // A source with nothing left keeps its offsets.
        store.append("c", QByteArray(40, 'c'));
        QCOMPARE(store.begin(1), 13);
        QCOMPARE(store.end(1), 13);
        QCOMPARE(store.read(2, 0, 100), QByteArray(40, 'c'));
    }

    // The find bar searches the area's joined text: a match across a break
    // that only bounds a block, and hex pairs shown in different chunks.
    void findMatchesAcrossBreaksAndHexChunks()
    {
        QWidget window;
        auto *view = new ReceiveView(&window);
        (new QVBoxLayout(&window))->addWidget(view);
        QCheckBox timestamp, hex, newParagraph;
        ReceiveConsole console(view, { &timestamp, &hex, &newParagraph });
        FindBar bar(view);
        window.show();
        QObject source;
        const QByteArray run = QByteArray(ReceiveView::MaxBlockLength - 2, 'x') + "needle" + QByteArray(50, 'y') + " axb a.b";
        console.appendData(run, QString(), &source);
        hex.setChecked(true);
        console.appendData("A\r", QString(), &source);
        console.appendData("\nB", QString(), &source);
        console.flush();
        QVERIFY(view->document()->blockCount() > 1);
        auto *text = bar.findChild<QLineEdit *>("FindText");
        auto *count = bar.findChild<QLabel *>("FindCount");
        const std::pair<QString, QString> queries[] = { { "needle", "needle" }, { "a.b", "a.b" }, { "0D 0A", "0d0a" } };
        for (const auto &[query, selected] : queries) {
            bar.open();
            text->setText(query);
            QTRY_COMPARE(count->text(), "1 / 1");
            const QTextCursor found = view->textCursor();
            QCOMPARE(view->joinedText(found.selectionStart(), found.selectionEnd()), selected);
        }
        // Previous and next step through the matches and wrap at either end.
        text->setText("yyy");
        QTRY_VERIFY(count->text().startsWith("1 / "));
        QStringList steps;
        for (const char *button : { "FindPrevious", "FindNext", "FindNext", "FindPrevious" }) {
            bar.findChild<QAbstractButton *>(button)->click();
            steps << count->text();
        }
        const QString total = count->text().section(" / ", 1);
        QCOMPARE(steps, QStringList({ total + " / " + total, "1 / " + total, "2 / " + total, "1 / " + total }));
        // Closed, the bar lets the area follow new data again; open, it keeps its match in view.
        const QScrollBar *scroll = view->verticalScrollBar();
        const auto moreLines = [&console] {
            for (int i = 0; i < 100; ++i)
                console.appendMessage("line", QString());
            console.flush();
        };
        QTest::keyClick(text, Qt::Key_Escape);
        moreLines();
        QVERIFY(scroll->maximum() > 0 && scroll->value() == scroll->maximum());
        console.appendMessage("marker", QString()); // a match at the end, where the view follows
        console.flush();
        bar.open();
        text->setText("marker");
        QTRY_COMPARE(count->text(), "1 / 1");
        const int held = scroll->value();
        moreLines();
        QVERIFY(scroll->value() == held && held < scroll->maximum());
    }

    // Escape in the find bar, or in its area while the bar is shown, closes the bar, not the window.
    void findBarEscapeIsNotQuit()
    {
        WindowDriver d;
        auto *view = d.w<ReceiveView>("Recive_msg");
        auto *bar = view->parentWidget()->findChild<FindBar *>("FindBar");
        d.window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d.window()));
        const auto boxes = answerMessageBoxes({ QMessageBox::Yes });
        for (QWidget *target : { static_cast<QWidget *>(bar->findChild<QLineEdit *>("FindText")), d.w("Recive_msg") }) {
            view->setFocus();
            QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
            QVERIFY(bar->isVisible());
            QTest::keyClick(target, Qt::Key_Escape);
            QTest::qWait(100);
            QVERIFY(!bar->isVisible());
        }
        QVERIFY(boxes->isEmpty());
        QVERIFY(d.window().isVisible());
    }

    // Each UDP sender is a source of its own, named by address and port.
    void hexViewerNamesUdpSenders()
    {
        WindowDriver d;
        d.click("UDPButton");
        const quint16 port = freePort(QAbstractSocket::UdpSocket);
        QVERIFY(port);
        d.type("Local_Port", port);
        d.click("Connect");
        // The second sends from the first one's port on another address.
        QUdpSocket senders[2];
        QVERIFY(senders[0].bind(QHostAddress::LocalHost));
        QVERIFY(senders[1].bind(QHostAddress("127.0.0.2"), senders[0].localPort()));
        const QString from = QString::number(senders[0].localPort());
        const QStringList names { "全部", "127.0.0.1:" + from, "127.0.0.2:" + from };
        // Lost until the window has bound the port, so sent until one arrives.
        QVERIFY(QTest::qWaitFor([&] { senders[0].writeDatagram("a", QHostAddress::LocalHost, port); return d.count("Recive_cnt") > 0; }));
        senders[1].writeDatagram("bc", QHostAddress::LocalHost, port);
        d.w("Recive_msg")->findChild<QAction *>("ActHexView")->trigger();
        auto *sources = d.w<QComboBox>("HexViewSource");
        QTRY_COMPARE(sources->count(), 3);
        QStringList listed;
        for (int i = 0; i < sources->count(); ++i)
            listed << sources->itemText(i);
        QCOMPARE(listed, names);
    }

    // Two server clients interleaved, each under its own source with its own
    // offsets; copying rows gives their hex pairs; clearing the area empties the viewer.
    void hexViewerKeepsServerClientsApart()
    {
        WindowDriver d;
        d.click("TCPserver");
        const quint16 port = freePort();
        QVERIFY(port);
        d.type("Local_Port", port);
        d.click("Connect");
        QTcpSocket clients[2];
        for (QTcpSocket &client : clients)
            QVERIFY(connectOnceListening(client, port));
        const std::pair<int, QByteArray> writes[] = { { 0, counting(0x41, 17) }, { 1, "xyz" }, { 0, counting(0x61, 15) } };
        qint64 received = 0;
        for (const auto &[client, bytes] : writes) {
            clients[client].write(bytes);
            received += bytes.size();
            QTRY_COMPARE(d.count("Recive_cnt"), received);
        }
        d.w("Recive_msg")->findChild<QAction *>("ActHexView")->trigger();
        auto *viewer = d.w("HexViewWindow");
        QVERIFY(viewer->isVisible());
        auto *sources = viewer->findChild<QComboBox *>("HexViewSource");
        auto *table = viewer->findChild<QTableView *>("HexViewTable");
        auto *model = static_cast<HexViewModel *>(table->model());
        QTRY_COMPARE(model->rowCount(), 3);
        QCOMPARE(sources->count(), 3);
        // Listed in the order they first sent, by the server's key for each.
        sources->setCurrentIndex(2);
        QCOMPARE(rows(*model), QStringList({ "00000000|78 79 7a                                        |xyz" }));
        sources->setCurrentIndex(1);
        QCOMPARE(rows(*model).value(1), "00000010|51 61 62 63 64 65 66 67  68 69 6a 6b 6c 6d 6e 6f|Qabcdefghijklmno");
        table->selectAll();
        QVERIFY(QTest::qWaitForWindowActive(viewer));
        table->setFocus();
        QTest::keySequence(table, QKeySequence::Copy);
        const QByteArray sent = counting(0x41, 17) + counting(0x61, 15);
        QCOMPARE(QApplication::clipboard()->text(), sent.left(16).toHex(' ') + '\n' + sent.mid(16).toHex(' '));
        // A sender that comes while the viewer is open is listed and shown under its own name.
        QTcpSocket late;
        QVERIFY(connectOnceListening(late, port));
        late.write("late");
        QTRY_COMPARE(sources->count(), 4);
        QCOMPARE(sources->itemText(3), QString("127.0.0.1:%1").arg(late.localPort()));
        sources->setCurrentIndex(3);
        QCOMPARE(rows(*model), QStringList({ "00000000|6c 61 74 65                                     |late" }));
        d.click("ClearMessage");
        QTRY_COMPARE(model->rowCount(), 0);
        QCOMPARE(sources->count(), 1);
        clients[1].write("new"); // counted from 0 again, in all and under its own name
        QTRY_COMPARE(sources->count(), 2);
        for (const int source : { 0, 1 }) {
            sources->setCurrentIndex(source);
            QTRY_COMPARE(rows(*model), QStringList({ "00000000|6e 65 77                                        |new" }));
        }
    }
};

QTEST_MAIN(ReceiveToolsTest)
#include "tst_receivetools.moc"
