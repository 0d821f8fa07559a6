#include "mainwindow/capturefile.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/receiveview.h"
#include "mainwindow/recordfile.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include <csignal>
#include <cstring>

#include <sys/resource.h>

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
    void stream(const QByteArray &bytes, const QString &peer = "a")
    {
        console.appendData(bytes, QString(), &source, peer);
    }
    // Paragraphs "<from>" to "<to - 1>", shown.
    void paragraphs(int from, int to)
    {
        newParagraph->setChecked(true);
        for (int i = from; i < to; ++i)
            stream(QByteArray::number(i));
        console.flush();
    }
    QStringList shownLines() { return view->joinedText().split(u'\n'); }
};

class ReceiveConsoleTest : public QObject
{
    Q_OBJECT
private slots:
    // A character split between chunks is held back per sender, and shown as
    // a replacement once its sender ends, hex starts or the area is cleared.
    void decodesEachSenderOnItsOwn()
    {
        const QByteArray middle = QStringLiteral("中").toUtf8();
        const QString held(QChar::ReplacementCharacter);
        Page page;
        page.stream(middle.left(2));
        page.stream("z", "b");
        page.stream(middle.mid(2));
        page.console.appendDatagrams({ middle.left(2), middle.mid(2) }, QString(), &page.source);
        page.stream("x" + middle.left(2), "c");
        page.console.endOfStream(&page.source, "c");
        page.stream(middle.left(1), "d");
        page.hex->setChecked(true);
        page.stream("A", "d");
        const QString datagrams = QString::fromLocal8Bit(middle.left(2)) + QString::fromLocal8Bit(middle.mid(2));
        QCOMPARE(page.console.plainText(), "z中" + datagrams + "x" + held + held + "41");
        page.hex->setChecked(false);
        page.stream("gone" + middle.left(1));
        page.console.flush();
        page.console.clear();
        page.stream("c");
        QCOMPARE(page.console.plainText(), held + "c");
        // A time paragraph, to the millisecond, goes before each entry when asked for.
        page.timestamp->setChecked(true);
        page.newParagraph->setChecked(true);
        page.console.appendMessage("sent", "   Send");
        page.console.appendDatagrams({ "a", "b" }, "   Recive", &page.source);
        QTest::qWait(5);
        page.stream("c");
        const QString time = R"(\n(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d\.\d{3}))";
        const QRegularExpression stamp(time + "   Send\nsent" + time + "   Recive\na" + time + "   Recive\nb" + time + "\nc$");
        const QRegularExpressionMatch stamped = stamp.match(page.console.plainText());
        QVERIFY2(stamped.hasMatch(), qPrintable(page.console.plainText()));
        QVERIFY(stamped.captured(4) > stamped.captured(1));
    }
    // Blocks stay short however long a run grows; records and copies see the run whole, markup
    // as it came, and the CR LF at the first cut as one line break. The view follows the end
    // through lines that wrap, unless scrolled away.
    void longRunsAreBoundedJoinedAndFollowed()
    {
        Page page;
        page.view->resize(300, 200);
        page.window.show();
        page.newParagraph->setChecked(true);
        page.console.appendData("<b>head</b>", QString());
        QByteArray run(3 * ReceiveView::MaxBlockLength + 100, 'r');
        run.replace(ReceiveView::MaxBlockLength - 1, 2, "\r\n");
        page.console.appendData(run.left(5000), QString());
        page.newParagraph->setChecked(false);
        page.console.appendData(run.mid(5000), QString());
        page.newParagraph->setChecked(true);
        page.console.appendData("tail", QString());
        const QString expected = "<b>head</b>\n" + QString::fromLatin1(run).replace("\r\n", "\n") + "\ntail";
        QCOMPARE(page.console.plainText(), expected);
        QScrollBar *bar = page.view->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(0);
        page.console.appendData("more", QString());
        page.console.flush();
        QCOMPARE(bar->value(), 0);
        QTextDocument *document = page.view->document();
        for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
            QVERIFY(b.length() <= ReceiveView::MaxBlockLength + 2);
        QTextCursor part(document);
        part.setPosition(2);
        part.setPosition(3 * ReceiveView::MaxBlockLength, QTextCursor::KeepAnchor);
        page.view->setTextCursor(part);
        page.view->copy();
        QCOMPARE(QApplication::clipboard()->text(), expected.mid(2, 3 * ReceiveView::MaxBlockLength - 4));
    }
    // However a long run falls into passes, a pass never ends between CR and LF.
    void passesKeepLineBreaksWhole()
    {
        for (const QByteArray &lead : { QByteArray(), QByteArray("x") }) {
            Page page;
            page.stream(lead + QByteArray("\r\n").repeated(40000));
            QTRY_VERIFY(!page.view->document()->isEmpty());
            QCOMPARE(page.console.plainText(), QString::fromLatin1(lead) + QString(40000, u'\n'));
        }
    }
    // A flood is shown in passes; each source gets back exactly what it handed over, shown or cleared.
    void everyByteIsCreditedShownOrCleared()
    {
        Page page;
        QObject other;
        QSignalSpy shown(&page.console, &ReceiveConsole::dataShown);
        page.newParagraph->setChecked(true);
        for (int i = 0; i < 10000; ++i)
            page.console.appendData(QByteArray::number(i).rightJustified(63, '.'), QString(), &page.source);
        QTRY_COMPARE(page.view->document()->blockCount(), 10000);
        QVERIFY2(shown.size() > 1, "a flood is split into bounded passes");
        page.console.appendDatagrams({ "ab", "c" }, QString(), &other);
        page.console.flush();
        page.console.appendData("queued", QString(), &other);
        page.console.appendDatagrams({ "de" }, QString(), &other);
        page.console.clear();
        QHash<QObject *, qint64> credited;
        for (const auto &call : shown)
            credited[call.at(0).value<QObject *>()] += call.at(1).toLongLong();
        QCOMPARE(credited.value(&page.source), qint64(10000 * 63));
        QCOMPARE(credited.value(&other), qint64(3 + 6 + 2));
    }
    // Past a bound, whole paragraphs go, oldest first, a long one with all its blocks, until an
    // eighth is free; a run that never ends a paragraph loses its oldest blocks. A first line tells.
    void boundKeepsTheNewestWholeParagraphs()
    {
        Page page;
        page.view->setBounds({ 10, 1 << 20 });
        page.paragraphs(0, 10); // exactly the bound: all kept
        QCOMPARE(page.shownLines(), QString("0 1 2 3 4 5 6 7 8 9").split(' '));
        page.console.clear();
        page.paragraphs(0, 5);
        page.stream(QByteArray(3 * ReceiveView::MaxBlockLength, 'l'));
        page.paragraphs(5, 15);
        QCOMPARE(page.shownLines().mid(1), QString("6 7 8 9 10 11 12 13 14").split(' '));
        QCOMPARE(page.shownLines().first(),
                 QStringLiteral("（较早的内容已移除，这里只显示最新的部分；要保留全部内容，请在右键菜单中选择“开始记录”）"));
        page.view->setBounds({ 10, 8 * ReceiveView::MaxBlockLength });
        page.newParagraph->setChecked(false);
        for (const bool hex : { false, true }) {
            page.hex->setChecked(hex);
            for (int i = 0; i < 10; ++i)
                page.stream(QByteArray(100000, 'r') + "end");
            page.console.flush();
            QVERIFY(page.view->document()->characterCount() <= 8 * ReceiveView::MaxBlockLength);
            QVERIFY(page.view->joinedText().endsWith(hex ? "72 65 6e 64" : "rend"));
        }
    }
    // A view scrolled up stays on its lines while older ones go, until its own lines go.
    void scrolledViewKeepsItsLines()
    {
        Page page;
        page.view->resize(200, 200);
        page.window.show();
        page.view->setBounds({ 100, 1 << 20 });
        page.paragraphs(0, 100);
        QScrollBar *bar = page.view->verticalScrollBar();
        bar->setValue(50);
        const QString top = page.view->cursorForPosition({ 0, 0 }).block().text();
        page.paragraphs(100, 130);
        QCOMPARE(page.view->cursorForPosition({ 0, 0 }).block().text(), top);
        QVERIFY(!page.shownLines().contains("29"));
        page.paragraphs(130, 200);
        QCOMPARE(bar->value(), 0);
        bar->setValue(bar->maximum());
        page.paragraphs(200, 300);
        QCOMPARE(bar->value(), bar->maximum());
    }
    // A capture records what is shown from its start to its stop, on lines of their own, whole
    // whatever the bound, and every byte received.
    // A capture takes the first name of its second that no file holds, and
    // leaves nothing behind when only its .bin name is taken; a failed write
    // ends it and says so.
    void captureNamesAndFailures()
    {
        QTemporaryDir folder;
        const QDateTime now = QDateTime::currentDateTime();
        const QString stem = QFileInfo(RecordFile::recordPath(folder.path(), now)).completeBaseName();
        CaptureFile first, second;
        QVERIFY(first.start(folder.path(), now));
        QFile(folder.filePath(stem + "-2.bin")).open(QIODevice::WriteOnly);
        QVERIFY(second.start(folder.path(), now));
        const QStringList names { stem + "-2.bin", stem + "-3.bin", stem + "-3.txt", stem + ".bin", stem + ".txt" };
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files, QDir::Name), names);
        QSignalSpy failed(&second, &CaptureFile::failed);
        rlimit unbounded {};
        getrlimit(RLIMIT_FSIZE, &unbounded);
        rlimit small = unbounded;
        small.rlim_cur = 8;
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        const bool written = second.append(u"more than eight", "x");
        setrlimit(RLIMIT_FSIZE, &unbounded);
        QVERIFY(!written && !second.isActive());
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().value(0).toString(), folder.filePath(stem + "-3.txt"));
        QCOMPARE(failed.first().value(1).toString(), QString::fromLocal8Bit(strerror(EFBIG)));
    }

    void captureHoldsWhatWasShown()
    {
        Page page;
        QTemporaryDir folder;
        auto *capture = new CaptureFile;
        QVERIFY(capture->start(folder.path(), QDateTime::currentDateTime()));
        page.view->setBounds({ 3, 1 << 20 });
        page.stream("before");
        page.console.startCapture(capture);
        page.stream("a\r");
        page.console.flush(); // a paragraph that starts in the next pass
        page.newParagraph->setChecked(true);
        page.stream("\nb\r\nc");
        page.console.appendMessage("echo", QString());
        page.hex->setChecked(true);
        page.console.appendDatagrams({ "\x01\xff" }, QString(), &page.source);
        page.console.stopCapture();
        page.hex->setChecked(false);
        page.newParagraph->setChecked(false);
        page.stream("z"); // runs on after data, not after the stop line
        page.console.flush();
        QFile text(capture->textPath());
        QFile raw(QString(capture->textPath()).replace(".txt", ".bin"));
        QVERIFY(text.open(QIODevice::ReadOnly) && raw.open(QIODevice::ReadOnly));
        QCOMPARE(text.readAll(), "a\n\n\nb\nc\necho\n01 ff");
        QCOMPARE(raw.readAll(), "a\r\nb\r\nc\x01\xff");
        QCOMPARE(page.shownLines().mid(1).join('|').remove(folder.path()),
                 QStringLiteral("01 ff|停止记录：/%1，文本 18 字节，原始数据 9 字节|z")
                     .arg(QFileInfo(text).fileName()));
    }
};

QTEST_MAIN(ReceiveConsoleTest)
#include "tst_receiveconsole.moc"
