#include "mainwindow/receiveconsole.h"

#include "mainwindow/payload.h"

#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>

namespace {

const QString timestampFormat = QStringLiteral("yyyy.MM.dd hh:mm:ss.zzz");

} // namespace

ReceiveConsole::ReceiveConsole(QTextBrowser *view, const Options &options, QObject *parent)
    : QObject(parent)
    , view(view)
    , options(options)
    , decoder(QStringDecoder::System)
{
    passTimer.setSingleShot(true);
    passTimer.setInterval(0);
    connect(&passTimer, &QTimer::timeout, this, [this] { runPass(passBudget); });
    // A log has nothing to undo; the undo stack would hold a copy of every chunk.
    view->document()->setUndoRedoEnabled(false);
}

void ReceiveConsole::appendData(const QByteArray &bytes, const QString &stampSuffix, QObject *source)
{
    appendTimestampIfShown(stampSuffix);
    Entry entry;
    entry.data = bytes;
    entry.source = source;
    entry.isData = true;
    entry.hex = options.hex->isChecked();
    entry.newParagraph = options.newParagraph->isChecked();
    enqueue(std::move(entry));
}

void ReceiveConsole::appendMessage(const QString &text, const QString &stampSuffix)
{
    appendTimestampIfShown(stampSuffix);
    Entry entry;
    entry.text = text;
    entry.newParagraph = true;
    enqueue(std::move(entry));
}

void ReceiveConsole::appendTimestampIfShown(const QString &suffix)
{
    if (!options.timestamp->isChecked())
        return;
    Entry entry;
    entry.text = QDateTime::currentDateTime().toString(timestampFormat) + suffix;
    entry.newParagraph = true;
    enqueue(std::move(entry));
}

void ReceiveConsole::enqueue(Entry entry)
{
    pending.push_back(std::move(entry));
    if (!passTimer.isActive())
        passTimer.start();
}

void ReceiveConsole::clear()
{
    ShownBytes discarded;
    for (const Entry &entry : pending)
        countShown(discarded, entry);
    pending.clear();
    passTimer.stop();
    view->clear();
    decoder.resetState();
    reportShown(discarded);
}

void ReceiveConsole::countShown(ShownBytes &shown, const Entry &entry)
{
    if (entry.data.isEmpty())
        return;
    if (!shown.isEmpty() && shown.last().first == entry.source)
        shown.last().second += entry.data.size();
    else
        shown.append({ entry.source, entry.data.size() });
}

void ReceiveConsole::reportShown(const ShownBytes &shown)
{
    for (const auto &[source, bytes] : shown)
        emit dataShown(source, bytes);
}

void ReceiveConsole::flush()
{
    runPass(std::numeric_limits<qsizetype>::max());
}

QString ReceiveConsole::plainText()
{
    flush();
    return view->toPlainText();
}

QString ReceiveConsole::dataText(const Entry &entry)
{
    if (entry.hex != decoderHex) {
        // A chunk split across a change of display mode cannot be joined.
        decoder.resetState();
        decoderHex = entry.hex;
    }
    return entry.hex ? hexPairs(entry.data) : decoder.decode(entry.data);
}

void ReceiveConsole::runPass(qsizetype budget)
{
    if (pending.empty())
        return;

    QElapsedTimer clock;
    clock.start();
    QScrollBar *scrollBar = view->verticalScrollBar();
    const bool followEnd = scrollBar->value() == scrollBar->maximum();
    QTextDocument *document = view->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();

    qsizetype spent = 0;
    ShownBytes shown;
    while (!pending.empty() && spent < budget) {
        const Entry entry = std::move(pending.front());
        pending.pop_front();
        const QString text = entry.isData ? dataText(entry) : entry.text;
        if (entry.newParagraph && !document->isEmpty())
            cursor.insertBlock();
        cursor.insertText(text);
        spent += text.size() + 1;
        countShown(shown, entry);
    }

    cursor.endEditBlock();
    if (followEnd)
        scrollBar->setValue(scrollBar->maximum());

    // Layout dominates the cost and varies with the text, so the budget
    // follows what the last full pass cost.
    const qint64 elapsed = qMax<qint64>(clock.nsecsElapsed(), 1);
    if (spent >= budget && budget == passBudget) {
        const double perChar = double(elapsed) / double(spent);
        passBudget = std::clamp<qsizetype>(qsizetype(PassTargetNs / perChar), 4 * 1024, 4 * 1024 * 1024);
    }
    if (!pending.empty())
        passTimer.start();
    reportShown(shown);
}
