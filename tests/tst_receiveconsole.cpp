#include "mainwindow/receiveconsole.h"
#include "mainwindow/receiveview.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QRegularExpression>
#include <QScrollBar>
#include <QHash>
#include <QSignalSpy>
#include <QTextBlock>
#include <QtTest>

// A receive area as a page has it: the view and its three option boxes.
struct Page
{
    QWidget window;
    ReceiveView *view = new ReceiveView(&window);
    QCheckBox *timestamp = new QCheckBox(&window);
    QCheckBox *hex = new QCheckBox(&window);
    QCheckBox *newParagraph = new QCheckBox(&window);
    ReceiveConsole console { view, { timestamp, hex, newParagraph } };

    QStringList paragraphs()
    {
        console.flush();
        QStringList result;
        for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next())
            result << b.text();
        return result;
    }
};

class ReceiveConsoleTest : public QObject
{
    Q_OBJECT

private slots:
    void placement();
    void hexAndText();
    void decodesEachStreamOnItsOwn();
    void longRunsAreBoundedAndJoinedAgain();
    void markupIsShownLiterally();
    void timestampsAndOrder();
    void clearDropsQueuedData();
    void largeFloodIsShownInPassesAndCredited();
    void followsTheEndOnlyWhenAtTheEnd();
};

void ReceiveConsoleTest::placement()
{
    Page page;
    page.newParagraph->setChecked(true);
    page.console.appendData("Hi", QString());
    page.console.appendData("there", QString());
    QCOMPARE(page.paragraphs(), QStringList({ "Hi", "there" }));

    page.newParagraph->setChecked(false);
    page.console.appendData("AB", QString());
    page.console.appendData("CD", QString());
    QCOMPARE(page.paragraphs(), QStringList({ "Hi", "thereABCD" }));

    // An empty chunk as a paragraph is an empty paragraph.
    page.newParagraph->setChecked(true);
    page.console.appendData(QByteArray(), QString());
    page.console.appendData("x", QString());
    QCOMPARE(page.paragraphs(), QStringList({ "Hi", "thereABCD", "", "x" }));
}

void ReceiveConsoleTest::hexAndText()
{
    Page page;
    page.newParagraph->setChecked(true);
    page.hex->setChecked(true);
    page.console.appendData(QByteArray("\x41\x0d\xff", 3), QString());
    page.hex->setChecked(false);
    page.console.appendData(QByteArray("\x00" "A", 2), QString());
    const QStringList shown = page.paragraphs();
    QCOMPARE(shown.value(0), QStringLiteral("41 0d ff"));
    QCOMPARE(shown.value(1), QString(QChar(0)) + "A");
}

void ReceiveConsoleTest::decodesEachStreamOnItsOwn()
{
    const QByteArray middle = QStringLiteral("中").toUtf8();
    const QString held = QString(QChar::ReplacementCharacter);
    enum Act { Stream, Datagram, End, Hex, Clear };
    struct Step { Act act; QString peer; QByteArray bytes; };
    struct Case { const char *what; QList<Step> steps; QString shown; };
    const Case cases[] = {
        { "split across two chunks",
          { { Stream, "a", "x" + middle.left(1) }, { Stream, "a", middle.mid(1) + "y" } }, "x中y" },
        { "another peer's chunk in between",
          { { Stream, "a", middle.left(2) }, { Stream, "b", "z" }, { Stream, "a", middle.mid(2) } }, "z中" },
        { "another peer ends in between",
          { { Stream, "a", middle.left(2) }, { End, "b" }, { Stream, "a", middle.mid(2) } }, "中" },
        { "datagrams are not joined",
          { { Datagram, "", middle.left(2) }, { Datagram, "", middle.mid(2) } },
          QString::fromLocal8Bit(middle.left(2)) + QString::fromLocal8Bit(middle.mid(2)) },
        { "held bytes shown when the stream ends",
          { { Stream, "a", "x" + middle.left(2) }, { End, "a" } }, "x" + held },
        { "held bytes shown when hex is switched on",
          { { Stream, "a", middle.left(2) }, { Hex }, { Stream, "a", "A" } }, held + "41" },
        { "held bytes shown when cleared",
          { { Stream, "a", "gone" + middle.left(1) }, { Clear }, { Stream, "a", "c" } }, held + "c" },
    };
    for (const Case &c : cases) {
        Page page;
        QObject source;
        for (const Step &step : c.steps) {
            switch (step.act) {
            case Stream: page.console.appendData(step.bytes, QString(), &source, step.peer); break;
            case Datagram: page.console.appendDatagram(step.bytes, QString(), &source); break;
            case End: page.console.endOfStream(&source, step.peer); break;
            case Hex: page.hex->setChecked(true); break;
            case Clear: page.console.flush(); page.console.clear(); break;
            }
        }
        QVERIFY2(page.console.plainText() == c.shown, c.what);
    }
}

void ReceiveConsoleTest::markupIsShownLiterally()
{
    Page page;
    page.newParagraph->setChecked(true);
    const QString markup = QStringLiteral("<img src=\"file:///etc/passwd\"><b>bold</b>");
    page.console.appendData(markup.toUtf8(), QString());
    page.console.appendMessage(QStringLiteral("<h1>echo</h1>"), QString());
    QCOMPARE(page.paragraphs(), QStringList({ markup, QStringLiteral("<h1>echo</h1>") }));
    QVERIFY(!page.view->document()->toHtml().contains(QStringLiteral("<img")));
}

void ReceiveConsoleTest::timestampsAndOrder()
{
    Page page;
    page.timestamp->setChecked(true);
    page.newParagraph->setChecked(true);
    page.console.appendData("one", QStringLiteral("   Recive"));
    page.console.appendMessage(QStringLiteral("sent"), QStringLiteral("   Send"));
    page.timestamp->setChecked(false);
    page.console.appendData("two", QStringLiteral("   Recive"));

    const QStringList shown = page.paragraphs();
    QCOMPARE(shown.size(), 5);
    const QRegularExpression stamp(QStringLiteral(
        "^\\d{4}\\.\\d{2}\\.\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}(   Recive|   Send)$"));
    QVERIFY2(stamp.match(shown[0]).hasMatch(), qPrintable(shown[0]));
    QVERIFY(shown[0].endsWith(QStringLiteral("   Recive")));
    QCOMPARE(shown[1], QStringLiteral("one"));
    QVERIFY(shown[2].endsWith(QStringLiteral("   Send")));
    QCOMPARE(shown.mid(3), QStringList({ "sent", "two" }));
}

void ReceiveConsoleTest::clearDropsQueuedData()
{
    // Each source gets back exactly what it handed over, shown or cleared.
    Page page;
    QObject first, second;
    QSignalSpy shown(&page.console, &ReceiveConsole::dataShown);
    page.console.appendData("shown", QString(), &first);
    page.console.flush();
    page.console.appendData("queued", QString(), &second);
    page.console.appendData("x", QString(), &first);
    page.console.clear();
    QCOMPARE(page.paragraphs(), QStringList({ QString() }));
    QVERIFY(page.view->document()->isEmpty());
    QHash<QObject *, qint64> credited;
    for (const auto &call : shown)
        credited[call.at(0).value<QObject *>()] += call.at(1).toLongLong();
    QCOMPARE(credited.value(&first), qint64(6));
    QCOMPARE(credited.value(&second), qint64(6));
    QCOMPARE(credited.size(), 2);
}

void ReceiveConsoleTest::largeFloodIsShownInPassesAndCredited()
{
    Page page;
    page.newParagraph->setChecked(true);
    QSignalSpy shown(&page.console, &ReceiveConsole::dataShown);
    QByteArray sent;
    for (int i = 0; i < 10000; ++i) {
        const QByteArray line = QByteArray::number(i).rightJustified(63, '.');
        sent += line + '\n';
        page.console.appendData(line, QString());
    }
    // Nothing is written within the call; passes run from the event loop.
    QVERIFY(page.view->document()->isEmpty());
    QTRY_VERIFY(!shown.isEmpty());
    QTRY_COMPARE(page.view->document()->blockCount(), 10000);
    QVERIFY2(shown.size() > 1, "a flood is split into bounded passes");
    qint64 credited = 0;
    for (const auto &call : shown)
        credited += call.at(1).toLongLong();
    QCOMPARE(credited, qint64(10000 * 63));
    QCOMPARE(page.view->toPlainText() + '\n', QString::fromLatin1(sent));
}

void ReceiveConsoleTest::followsTheEndOnlyWhenAtTheEnd()
{
    Page page;
    page.window.resize(300, 200);
    page.view->resize(300, 200);
    page.window.show();
    page.newParagraph->setChecked(true);
    for (int i = 0; i < 200; ++i)
        page.console.appendData(QByteArray::number(i), QString());
    page.console.flush();
    QScrollBar *bar = page.view->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    bar->setValue(0);
    page.console.appendData("more", QString());
    page.console.flush();
    QCOMPARE(bar->value(), 0);

    // Back at the end, a run that wraps into many lines is followed too.
    bar->setValue(bar->maximum());
    const int before = bar->maximum();
    page.newParagraph->setChecked(false);
    page.console.appendData(QByteArray(20000, 'w'), QString());
    page.console.flush();
    QVERIFY(bar->maximum() > before);
    QCOMPARE(bar->value(), bar->maximum());
}

// Blocks stay short however long a run grows; records and copies see the
// run whole. The CR LF at the first cut must stay one line break.
void ReceiveConsoleTest::longRunsAreBoundedAndJoinedAgain()
{
    Page page;
    page.newParagraph->setChecked(true);
    page.console.appendData("head", QString());
    QByteArray run(3 * ReceiveView::MaxBlockLength + 100, 'r');
    run.replace(ReceiveView::MaxBlockLength - 1, 2, "\r\n");
    page.console.appendData(run.left(5000), QString());
    page.newParagraph->setChecked(false);
    page.console.appendData(run.mid(5000), QString());
    page.newParagraph->setChecked(true);
    page.console.appendData("tail", QString());

    const QString expected = "head\n" + QString::fromLatin1(run).replace("\r\n", "\n") + "\ntail";
    QCOMPARE(page.console.plainText(), expected);
    QTextDocument *document = page.view->document();
    QVERIFY(document->blockCount() > 5);
    for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
        QVERIFY(b.length() <= ReceiveView::MaxBlockLength + 2);

    page.view->selectAll();
    page.view->copy();
    QCOMPARE(QApplication::clipboard()->text(), expected);
    // From inside the first block to inside the fourth: two display breaks
    // lie in between.
    QTextCursor part(document);
    part.setPosition(2);
    part.setPosition(3 * ReceiveView::MaxBlockLength, QTextCursor::KeepAnchor);
    page.view->setTextCursor(part);
    page.view->copy();
    QCOMPARE(QApplication::clipboard()->text(), expected.mid(2, 3 * ReceiveView::MaxBlockLength - 4));
}

QTEST_MAIN(ReceiveConsoleTest)
#include "tst_receiveconsole.moc"
