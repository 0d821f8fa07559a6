#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <vector>

// The newest bytes a page received, in arrival order, with the source each
// came from. Offsets count from the first byte a source sent, or for all
// sources together from the first byte the page received, and stay true
// when the oldest bytes leave to keep the store within its capacity.
class ReceivedBytes : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 DefaultCapacity = 64 * 1024 * 1024;
    // The source number that stands for every source, in arrival order.
    static constexpr int AllSources = -1;

    explicit ReceivedBytes(qint64 capacity = DefaultCapacity, QObject *parent = nullptr);

    void append(const QString &source, QByteArrayView bytes);
    void clear();

    // Source numbers are indices into this list, in order of first arrival.
    QStringList sources() const { return names; }
    // The offsets of the kept bytes of `source`: from begin up to end.
    qint64 begin(int source) const;
    qint64 end(int source) const;
    // Up to `count` kept bytes of `source` from `offset` on.
    QByteArray read(int source, qint64 offset, qint64 count) const;

signals:
    void sourceAdded(const QString &name);
    void appended();
    void cleared();

private:
    // Bytes one source sent without another one's in between.
    struct Segment
    {
        qint64 sourceOffset;
        qint64 offset;  // in arrival order
        qint64 length;
    };
    struct Run
    {
        int source;
        qint64 length;
    };

    int sourceNumber(const QString &name);
    void store(QByteArrayView bytes);
    void trim();
    void copyArrived(qint64 offset, qint64 count, QByteArray &out) const;

    static constexpr qsizetype BlockSize = 64 * 1024;

    qint64 capacity;
    QStringList names;
    QHash<QString, int> numbers;
    std::vector<std::deque<Segment>> segments;  // per source, oldest first
    std::vector<qint64> sent;                   // per source, bytes ever received
    std::deque<Run> runs;                       // which source each kept byte came from
    std::deque<QByteArray> blocks;              // the kept bytes; all but the last are full
    qint64 blocksStart = 0;                     // arrival offset of the first block's first byte
    qint64 first = 0;                           // arrival offset of the first kept byte
    qint64 total = 0;                           // bytes ever received
};
