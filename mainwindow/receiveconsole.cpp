#include "mainwindow/receiveconsole.h"

#include "mainwindow/capturefile.h"
#include "mainwindow/payload.h"
#include "mainwindow/receiveview.h"

#include <QCheckBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTextCursor>

#include <algorithm>
#include <limits>

namespace {

const QString timestampFormat = QStringLiteral("yyyy.MM.dd hh:mm:ss.zzz");

// What `decoder` holds of an unfinished character, as replacement
// characters. A NUL never continues a character, so it pushes the held bytes
// out; the NUL itself is dropped again (Qt 6.4 already swallows the byte
// after an unfinished character).
QString pushOut(QStringDecoder &decoder)
{
    QString held = decoder.decode(QByteArrayView("\0", 1));
    if (held.endsWith(QChar(0)))
        held.chop(1);
    return held;
}

} // namespace

ReceiveConsole::ReceiveConsole(ReceiveView *view, const Options &options, QObject *parent)
    : QObject(parent)
    , view(view)
    , options(options)
{
    passTimer.setSingleShot(true);
    passTimer.setInterval(0);
    connect(&passTimer, &QTimer::timeout, this, [this] { runPass(passBudget); });
    // Bytes held for a character are not joined with data shown the other way.
    connect(options.hex, &QCheckBox::toggled, this, [this] {
        Entry entry;
        entry.kind = Entry::HexSwitch;
        entry.newParagraph = this->options.newParagraph->isChecked();
        enqueue(std::move(entry));
    });
}

void ReceiveConsole::appendData(const QByteArray &bytes, const QString &stampSuffix, QObject *source,
                                const QString &peer)
{
    enqueueData(Entry::Stream, bytes, stampSuffix, { source, peer });
}

// One entry for the batch, since its datagrams arrived together: an entry
// of their own, each, only when their turn comes, so a flood of batches
// never holds up the event loop.
void ReceiveConsole::appendDatagrams(const QByteArrayList &datagrams, const QString &stampSuffix,
                                     QObject *source)
{
    Entry batch;
    batch.kind = Entry::Datagrams;
    batch.datagrams = datagrams;
    for (const QByteArray &datagram : datagrams)
        batch.bytes += datagram.size();
    batch.stream = { source, QString() };
    batch.hex = options.hex->isChecked();
    batch.newParagraph = options.newParagraph->isChecked();
    batch.text = timestamp(stampSuffix, batch.newParagraph);
    enqueue(std::move(batch));
}

void ReceiveConsole::expandBatch()
{
    Entry batch = std::move(pending.front());
    pending.pop_front();
    const bool stamped = !batch.text.isNull();
    for (auto datagram = batch.datagrams.crbegin(); datagram != batch.datagrams.crend(); ++datagram) {
        Entry entry;
        entry.kind = Entry::Datagram;
        entry.data = *datagram;
        entry.bytes = datagram->size();
        entry.stream = batch.stream;
        entry.hex = batch.hex;
        entry.newParagraph = batch.newParagraph && !stamped;
        pending.push_front(std::move(entry));
        if (stamped) {
            Entry time;
            time.text = batch.text;
            time.newParagraph = true;
            pending.push_front(std::move(time));
        }
    }
}

void ReceiveConsole::enqueueData(Entry::Kind kind, const QByteArray &bytes, const QString &stampSuffix,
                                 const StreamKey &stream)
{
    Entry entry;
    entry.kind = kind;
    entry.data = bytes;
    entry.bytes = bytes.size();
    entry.stream = stream;
    entry.hex = options.hex->isChecked();
    entry.newParagraph = options.newParagraph->isChecked();
    // The time is the first line of the data's own paragraph: the same text
    // as a paragraph of its own, and a text document pays per paragraph.
    if (appendTimestampIfShown(stampSuffix, entry.newParagraph))
        entry.newParagraph = false;
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

void ReceiveConsole::endOfStream(QObject *source, const QString &peer)
{
    Entry entry;
    entry.kind = Entry::StreamEnd;
    entry.stream = { source, peer };
    entry.newParagraph = options.newParagraph->isChecked();
    enqueue(std::move(entry));
}

QString ReceiveConsole::timestamp(const QString &suffix, bool lineFollows)
{
    if (!options.timestamp->isChecked())
        return QString();
    // Local time costs a look at the time zone; a flood asks many times a millisecond.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now != stampMs) {
        stampMs = now;
        stampText = QDateTime::fromMSecsSinceEpoch(now).toString(timestampFormat);
    }
    QString text = stampText + suffix;
    if (lineFollows)
        text += QChar(QChar::LineSeparator);
    return text;
}

bool ReceiveConsole::appendTimestampIfShown(const QString &suffix, bool lineFollows)
{
    Entry entry;
    entry.text = timestamp(suffix, lineFollows);
    if (entry.text.isNull())
        return false;
    entry.newParagraph = true;
    enqueue(std::move(entry));
    return true;
}

void ReceiveConsole::enqueue(Entry entry)
{
    pending.push_back(std::move(entry));
    if (!passTimer.isActive())
        passTimer.start();
}

void ReceiveConsole::clear()
{
    // A capture holds even what is cleared before its turn to be shown.
    if (captureInvolved())
        flush();
    ShownBytes discarded;
    for (const Entry &entry : pending)
        countShown(discarded, entry);
    pending.clear();
    passTimer.stop();
    // Nothing stays held to be joined with what arrives after the clearing.
    const QString held = takeAllHeld();
    view->clear();
    ReceiveView::Appender(view).appendRun(held);
    reportShown(discarded);
    emit cleared();
}

void ReceiveConsole::countShown(ShownBytes &shown, const Entry &entry)
{
    if (entry.bytes == 0)
        return;
    QObject *source = entry.stream.first;
    if (!shown.isEmpty() && shown.last().first == source)
        shown.last().second += entry.bytes;
    else
        shown.append({ source, entry.bytes });
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
    return view->joinedText();
}

void ReceiveConsole::startCapture(CaptureFile *file)
{
    file->setParent(this);
    connect(file, &CaptureFile::failed, this, [this, file](const QString &path, const QString &reason) {
        if (capture == file)
            appendMessage(endCapture(), QString());
        emit captureFailed(path, reason);
    });
    appendMessage(QStringLiteral("开始记录：%1").arg(file->textPath()), QString());
    Entry entry;
    entry.kind = Entry::CaptureOn;
    entry.capture = file;
    enqueue(std::move(entry));
}

void ReceiveConsole::stopCapture()
{
    appendTimestampIfShown(QString());
    Entry entry;
    entry.kind = Entry::CaptureOff;
    enqueue(std::move(entry));
}

bool ReceiveConsole::captureInvolved() const
{
    return capture || std::any_of(pending.begin(), pending.end(), [](const Entry &entry) {
        return entry.kind == Entry::CaptureOn || entry.kind == Entry::CaptureOff;
    });
}

void ReceiveConsole::finishCapture()
{
    if (!captureInvolved())
        return;
    flush();
    feedCapture();
    endCapture();
}

void ReceiveConsole::feedCapture()
{
    if (capture && (!capturedText.isEmpty() || !capturedBytes.isEmpty()))
        capture->append(capturedText, capturedBytes);
    capturedText.clear();
    capturedBytes.clear();
}

// Closes the capture; the line that says so.
QString ReceiveConsole::endCapture()
{
    if (!capture)
        return QString();
    CaptureFile *ended = std::exchange(capture, nullptr);
    ended->stop();
    ended->deleteLater();
    return QStringLiteral("停止记录：%1，文本 %2 字节，原始数据 %3 字节")
        .arg(ended->textPath(), QString::number(ended->textSize()), QString::number(ended->rawSize()));
}

QString ReceiveConsole::decode(const Entry &entry)
{
    if (entry.hex)
        return hexPairs(entry.data);
    if (entry.kind == Entry::Datagram)
        return QString::fromLocal8Bit(entry.data);
    auto decoder = decoders.try_emplace(entry.stream, QStringDecoder::System).first;
    return decoder->second.decode(entry.data);
}

QString ReceiveConsole::takeHeld(const StreamKey &stream)
{
    const auto found = decoders.find(stream);
    if (found == decoders.end())
        return QString();
    const QString held = pushOut(found->second);
    decoders.erase(found);
    return held;
}

QString ReceiveConsole::takeAllHeld()
{
    QString held;
    for (auto &[stream, decoder] : decoders)
        held += pushOut(decoder);
    decoders.clear();
    return held;
}

// Turns the entry into the text it shows, once its turn has come: decoders
// see the chunks in the order they are shown.
void ReceiveConsole::start(Entry &entry, ReceiveView::Appender &end)
{
    entry.started = true;
    switch (entry.kind) {
    case Entry::Text:
    case Entry::Datagrams: // expanded before its turn
        break;
    case Entry::Stream:
    case Entry::Datagram:
        if (capture)
            capturedBytes += entry.data;
        entry.text = decode(entry);
        entry.data = QByteArray();
        break;
    case Entry::StreamEnd:
        entry.text = takeHeld(entry.stream);
        entry.newParagraph = entry.newParagraph && !entry.text.isEmpty();
        break;
    case Entry::HexSwitch:
        entry.text = takeAllHeld();
        entry.newParagraph = entry.newParagraph && !entry.text.isEmpty();
        break;
    case Entry::CaptureOn:
        feedCapture();
        capture = entry.capture;
        statusLineOpen = true;
        break;
    case Entry::CaptureOff:
        feedCapture();
        entry.text = endCapture();
        entry.newParagraph = statusLineOpen = !entry.text.isEmpty();
        break;
    }
    // Data that runs on does not run into the capture's start or stop line.
    if (statusLineOpen && entry.kind != Entry::CaptureOff && !entry.text.isEmpty()) {
        entry.newParagraph = true;
        statusLineOpen = false;
    }
    if (entry.newParagraph) {
        end.startParagraph();
        if (capture && (capture->hasText() || !capturedText.isEmpty()))
            capturedText += u'\n';
    }
}

void ReceiveConsole::runPass(qsizetype budget)
{
    if (pending.empty())
        return;

    QElapsedTimer clock;
    clock.start();
    QScrollBar *scrollBar = view->verticalScrollBar();
    const bool followEnd = !view->isPinned() && scrollBar->value() == scrollBar->maximum();
    qsizetype spent = 0;
    ShownBytes shown;
    {
        ReceiveView::Appender end(view);
        while (!pending.empty() && spent < budget) {
            if (pending.front().kind == Entry::Datagrams) {
                expandBatch();
                continue;
            }
            Entry &entry = pending.front();
            if (!entry.started)
                start(entry, end);
            // A long entry is shown over several passes.
            const QStringView rest = QStringView(entry.text).mid(entry.shownChars);
            const qsizetype take = ReceiveView::safeCut(rest, qMin(rest.size(), budget - spent));
            end.appendRun(rest.left(take));
            if (capture)
                capturedText += ReceiveView::recordForm(rest.left(take));
            entry.shownChars += take;
            spent += take + 1;
            if (take < rest.size())
                break;
            countShown(shown, entry);
            pending.pop_front();
        }
    }
    if (followEnd)
        scrollBar->setValue(scrollBar->maximum());
    feedCapture();
    view->trimToBounds();

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
