#pragma once

#include "mainwindow/receiveview.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringDecoder>
#include <QTimer>

#include <deque>
#include <map>
#include <utility>

class CaptureFile;
class QCheckBox;

// One page's receive area. Entries are queued as they arrive, with the page's
// options and the arrival time captured then, and written to the view in
// passes of bounded cost: a flood neither freezes the window nor changes
// what is shown.
class ReceiveConsole : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QCheckBox *timestamp = nullptr;     // a time paragraph before each entry
        QCheckBox *hex = nullptr;           // data as hex pairs
        QCheckBox *newParagraph = nullptr;  // each data chunk starts a paragraph
    };

    ReceiveConsole(ReceiveView *view, const Options &options, QObject *parent = nullptr);

    // A chunk of the byte stream that `peer` of `source` sends, after a time
    // paragraph ending in `stampSuffix` when the page shows times. Each
    // stream is decoded on its own, so a character split between two of its
    // chunks is shown whole whatever arrives in between.
    void appendData(const QByteArray &bytes, const QString &stampSuffix, QObject *source = nullptr,
                    const QString &peer = QString());
    // Datagrams, each a message of its own, decoded by itself.
    void appendDatagrams(const QByteArrayList &datagrams, const QString &stampSuffix, QObject *source);
    // A paragraph of the program's own (an echo, a status line), shown
    // literally, after a time paragraph when the page shows times.
    void appendMessage(const QString &text, const QString &stampSuffix);
    // The stream of `peer` of `source` has ended: what its decoder still
    // holds of an unfinished character is shown as replacement characters.
    void endOfStream(QObject *source, const QString &peer = QString());

    void clear();
    // Writes everything queued so far into the view.
    void flush();
    // The area's text including everything received so far, without the
    // breaks that only bound the view's blocks.
    QString plainText();

    // Records what the area shows after everything queued so far, until
    // stopCapture(): a line with the .txt's path goes before it. Takes
    // `capture`, already started.
    void startCapture(CaptureFile *capture);
    // Ends the capture after what is queued so far, with a line that says
    // what was written.
    void stopCapture();
    // Shows what is queued and closes the capture at once, as the window goes.
    void finishCapture();

    // Gives `worker` back the credit for the data it handed over, and
    // nothing else: a report queued to a worker whose thread never ran
    // would wait there for good.
    template<typename Worker>
    void returnCreditTo(Worker *worker)
    {
        connect(this, &ReceiveConsole::dataShown, this, [worker](QObject *source, qint64 bytes) {
            if (source == worker)
                QMetaObject::invokeMethod(worker, [worker, bytes] { worker->DataShown(worker, bytes); });
        });
    }

    // Each pass aims at this much time, so the window keeps repainting and
    // answering clicks during a flood.
    static constexpr qint64 PassTargetNs = 12'000'000;

signals:
    // `bytes` of the data from `source` are now in the view (or were
    // cleared), so `source` may hand over that much more.
    void dataShown(QObject *source, qint64 bytes);
    // The capture could not be written and has stopped; the display goes on.
    void captureFailed(const QString &file, const QString &reason);
    // The area was emptied.
    void cleared();

private:
    using StreamKey = std::pair<QObject *, QString>;

    struct Entry
    {
        enum Kind { Text, Stream, Datagram, Datagrams, StreamEnd, HexSwitch, CaptureOn, CaptureOff };
        Kind kind = Text;
        QString text;          // what is shown; data is decoded into it when its turn comes
        qsizetype shownChars = 0;
        QByteArray data;
        qint64 bytes = 0;      // data bytes the source is owed back
        StreamKey stream;
        QByteArrayList datagrams;  // of a batch until their turn comes; `text` is then the time of each
        bool hex = false;
        bool newParagraph = false;
        bool started = false;
        CaptureFile *capture = nullptr;  // the one a CaptureOn starts
    };

    void enqueue(Entry entry);
    void enqueueData(Entry::Kind kind, const QByteArray &bytes, const QString &stampSuffix,
                     const StreamKey &stream);
    // The time paragraph's text, null when the page shows no times;
    // `lineFollows` ends it with a line break, for what goes on in the same
    // paragraph.
    QString timestamp(const QString &suffix, bool lineFollows);
    // True when the time paragraph was added.
    bool appendTimestampIfShown(const QString &suffix, bool lineFollows = false);
    // Turns the batch at the front into an entry per datagram, each after
    // its time paragraph when the page shows times.
    void expandBatch();
    void runPass(qsizetype budget);
    void start(Entry &entry, ReceiveView::Appender &end);
    QString decode(const Entry &entry);
    QString takeHeld(const StreamKey &stream);
    QString takeAllHeld();
    // Bytes shown per source, one item per run of entries from one source.
    using ShownBytes = QList<std::pair<QObject *, qint64>>;
    static void countShown(ShownBytes &shown, const Entry &entry);
    void reportShown(const ShownBytes &shown);
    // A capture runs or is about to start or stop.
    bool captureInvolved() const;
    // Hands what this pass showed to the capture.
    void feedCapture();
    QString endCapture();

    ReceiveView *view;
    Options options;
    std::deque<Entry> pending;
    QTimer passTimer;
    qsizetype passBudget = 64 * 1024;  // characters per pass, adapted to the measured cost
    std::map<StreamKey, QStringDecoder> decoders;
    qint64 stampMs = -1;  // the time of stampText, in ms since the epoch
    QString stampText;
    CaptureFile *capture = nullptr;
    bool statusLineOpen = false;  // the last line is a capture's start or stop line
    QString capturedText;
    QByteArray capturedBytes;
};
