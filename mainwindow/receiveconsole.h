#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringDecoder>
#include <QTimer>

#include <deque>
#include <utility>

class QCheckBox;
class QTextBrowser;

// One page's receive area. Entries are queued as they arrive, with the page's
// options and the arrival time captured then, and written to the document in
// batches: one edit block per pass, each pass bounded, so a flood neither
// freezes the window nor changes what is shown.
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

    ReceiveConsole(QTextBrowser *view, const Options &options, QObject *parent = nullptr);

    // Received bytes from `source`, after a time paragraph ending in
    // `stampSuffix` when the page shows times.
    void appendData(const QByteArray &bytes, const QString &stampSuffix, QObject *source = nullptr);
    // A paragraph of the program's own (an echo, a status line), shown
    // literally, after a time paragraph when the page shows times.
    void appendMessage(const QString &text, const QString &stampSuffix);

    void clear();
    // Writes everything queued so far into the document.
    void flush();
    // The area's text including everything received so far.
    QString plainText();

    // Each pass aims at this much time, so the window keeps repainting and
    // answering clicks during a flood.
    static constexpr qint64 PassTargetNs = 12'000'000;

signals:
    // `bytes` of the data from `source` are now in the document (or were
    // cleared), so `source` may hand over that much more.
    void dataShown(QObject *source, qint64 bytes);

private:
    struct Entry
    {
        QString text;        // a paragraph of text, or empty for data
        QByteArray data;
        QObject *source = nullptr;
        bool isData = false;
        bool hex = false;
        bool newParagraph = false;
    };

    void enqueue(Entry entry);
    void appendTimestampIfShown(const QString &suffix);
    void runPass(qsizetype budget);
    QString dataText(const Entry &entry);
    // Bytes shown per source, one item per run of entries from one source.
    using ShownBytes = QList<std::pair<QObject *, qint64>>;
    static void countShown(ShownBytes &shown, const Entry &entry);
    void reportShown(const ShownBytes &shown);

    QTextBrowser *view;
    Options options;
    std::deque<Entry> pending;
    QTimer passTimer;
    qsizetype passBudget = 64 * 1024;  // characters per pass, adapted to the measured cost
    QStringDecoder decoder;
    bool decoderHex = false;
};
