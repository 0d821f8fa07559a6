#include "mainwindow/receiveconsole.h"
#include "mainwindow/receiveview.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QScrollBar>
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
    QObject source;
};

class ReceiveConsoleTest : public QObject
{
    Q_OBJECT

private slots:
    void placementHexStampsAndMarkup();
    void decodesEachStreamOnItsOwn();
    void longRunsAreBoundedAndJoinedAgain();
    void everyByteIsCreditedShownOrCleared();
    void followsTheEndOnlyWhenAtTheEnd();
};

void ReceiveConsoleTest::placementHexStampsAndMarkup()
{
    Page page;
    page.newParagraph->setChecked(true);
    page.console.appendData("<b>Hi</b>", QString());
    page.hex->setChecked(true);
    page.console.appendData(QByteArray("\x41\x0d\xff", 3), QString());
    page.hex->setChecked(false);
    page.newParagraph->setChecked(false);
    page.console.appendData("AB", QString());
    page.newParagraph->setChecked(true);
    page.console.appendData(QByteArray(), QString());
    page.timestamp->setChecked(true);
    page.console.appendMessage("<h1>sent</h1>", "   Send");
    const QStringList shown = page.console.plainText().split('\n');
    QCOMPARE(shown.mid(0, 3), QStringList({ "<b>Hi</b>", "41 0d ffAB", "" }));
    QVERIFY2(QRegularExpression(R"(^\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d\.\d{3}   Send$)").match(shown.value(3)).hasMatch(),
             qPrintable(shown.value(3)));
    QCOMPARE(shown.mid(4), QStringList({ "<h1>sent</h1>" }));
}

void ReceiveConsoleTest::decodesEachStreamOnItsOwn()
{
    const QByteArray middle = QStringLiteral("中").toUtf8();
    const QString held(QChar::ReplacementCharacter);
    enum Act { Stream, Datagram, End, Hex, Clear };
    struct Step { Act act; QString peer; QByteArray bytes; };
    const struct { const char *what; QList<Step> steps; QString shown; } cases[] = {
        { "split across two chunks",
          { { Stream, "a", "x" + middle.left(1) }, { Stream, "a", middle.mid(1) + "y" } }, "x中y" },
        { "another peer's chunk in between",
          { { Stream, "a", middle.left(2) }, { Stream, "b", "z" }, { Stream, "a", middle.mid(2) } }, "z中" },
        { "datagrams are not joined",
          { { Datagram, "", middle.left(2) }, { Datagram, "", middle.mid(2) } },
          QString::fromLocal8Bit(middle.left(2)) + QString::fromLocal8Bit(middle.mid(2)) },
        { "held bytes shown when the stream ends", { { Stream, "a", "x" + middle.left(2) }, { End, "a" } }, "x" + held },
        { "held bytes shown when hex is switched on",
          { { Stream, "a", middle.left(2) }, { Hex }, { Stream, "a", "A" } }, held + "41" },
        { "held bytes shown when cleared",
          { { Stream, "a", "gone" + middle.left(1) }, { Clear }, { Stream, "a", "c" } }, held + "c" },
    };
    for (const auto &c : cases) {
        Page page;
        for (const Step &step : c.steps) {
            switch (step.act) {
            case Stream: page.console.appendData(step.bytes, QString(), &page.source, step.peer); break;
            case Datagram: page.console.appendDatagram(step.bytes, QString(), &page.source); break;
            case End: page.console.endOfStream(&page.source, step.peer); break;
            case Hex: page.hex->setChecked(true); break;
            case Clear: page.console.flush(); page.console.clear(); break;
            }
        }
        QVERIFY2(page.console.plainText() == c.shown, c.what);
    }
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
    QTextCursor part(document);
    part.setPosition(2);
    part.setPosition(3 * ReceiveView::MaxBlockLength, QTextCursor::KeepAnchor);
    page.view->setTextCursor(part);
    page.view->copy();
    QCOMPARE(QApplication::clipboard()->text(), expected.mid(2, 3 * ReceiveView::MaxBlockLength - 4));
}

// A flood is written in passes from the event loop; each source gets back
// exactly what it handed over, shown or cleared.
void ReceiveConsoleTest::everyByteIsCreditedShownOrCleared()
{
    Page page;
    QObject other;
    QSignalSpy shown(&page.console, &ReceiveConsole::dataShown);
    page.newParagraph->setChecked(true);
    QString sent;
    for (int i = 0; i < 10000; ++i) {
        const QByteArray line = QByteArray::number(i).rightJustified(63, '.');
        sent += QString::fromLatin1(line) + '\n';
        page.console.appendData(line, QString(), &page.source);
    }
    QVERIFY(page.view->document()->isEmpty());
    QTRY_COMPARE(page.view->document()->blockCount(), 10000);
    QVERIFY2(shown.size() > 1, "a flood is split into bounded passes");
    QCOMPARE(page.view->toPlainText() + '\n', sent);
    page.console.appendData("queued", QString(), &other);
    page.console.clear();
    QVERIFY(page.view->document()->isEmpty());
    QHash<QObject *, qint64> credited;
    for (const auto &call : shown)
        credited[call.at(0).value<QObject *>()] += call.at(1).toLongLong();
    QCOMPARE(credited.value(&page.source), qint64(10000 * 63));
    QCOMPARE(credited.value(&other), qint64(6));
}

void ReceiveConsoleTest::followsTheEndOnlyWhenAtTheEnd()
{
    Page page;
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

QTEST_MAIN(ReceiveConsoleTest)
#include "tst_receiveconsole.moc"
