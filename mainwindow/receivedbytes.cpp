#include "mainwindow/receivedbytes.h"

#include <algorithm>

ReceivedBytes::ReceivedBytes(qint64 capacity, QObject *parent)
    : QObject(parent)
    , capacity(qMax<qint64>(capacity, 1))
{
}

int ReceivedBytes::sourceNumber(const QString &name)
{
    const auto found = numbers.constFind(name);
    if (found != numbers.constEnd())
        return *found;
    const int number = int(names.size());
    names << name;
    numbers.insert(name, number);
    segments.emplace_back();
    sent.push_back(0);
    emit sourceAdded(name);
    return number;
}

void ReceivedBytes::append(const QString &source, QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    const int number = sourceNumber(source);
    const qint64 size = bytes.size();
    if (!runs.empty() && runs.back().source == number) {
        runs.back().length += size;
        segments[number].back().length += size;
    } else {
        runs.push_back({ number, size });
        segments[number].push_back({ sent[number], total, size });
    }
    sent[number] += size;
    store(bytes);
    trim();
    emit appended();
}

void ReceivedBytes::store(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        if (blocks.empty() || blocks.back().size() == BlockSize) {
            blocks.emplace_back();
            blocks.back().reserve(BlockSize);
        }
        QByteArray &block = blocks.back();
        const qsizetype take = qMin(bytes.size(), BlockSize - block.size());
        block.append(bytes.first(take));
        bytes = bytes.sliced(take);
        total += take;
    }
}

// The oldest bytes leave, from their runs and their sources' segments alike.
void ReceivedBytes::trim()
{
    qint64 excess = total - first - capacity;
    while (excess > 0) {
        Run &run = runs.front();
        std::deque<Segment> &own = segments[run.source];
        Segment &segment = own.front();
        const qint64 take = qMin(excess, run.length);
        run.length -= take;
        segment.length -= take;
        segment.offset += take;
        segment.sourceOffset += take;
        if (run.length == 0) {
            own.pop_front();
            runs.pop_front();
        }
        first += take;
        excess -= take;
    }
    while (blocks.size() > 1 && blocksStart + BlockSize <= first) {
        blocks.pop_front();
        blocksStart += BlockSize;
    }
}

void ReceivedBytes::clear()
{
    names.clear();
    numbers.clear();
    segments.clear();
    sent.clear();
    runs.clear();
    blocks.clear();
    blocksStart = first = total = 0;
    emit cleared();
}

qint64 ReceivedBytes::begin(int source) const
{
    if (source == AllSources)
        return first;
    const std::deque<Segment> &own = segments[size_t(source)];
    return own.empty() ? sent[size_t(source)] : own.front().sourceOffset;
}

qint64 ReceivedBytes::end(int source) const
{
    return source == AllSources ? total : sent[size_t(source)];
}

QByteArray ReceivedBytes::read(int source, qint64 offset, qint64 count) const
{
    QByteArray out;
    offset = qMax(offset, begin(source));
    count = qMin(count, end(source) - offset);
    if (count <= 0)
        return out;
    out.reserve(count);
    if (source == AllSources) {
        copyArrived(offset, count, out);
        return out;
    }
    const std::deque<Segment> &own = segments[size_t(source)];
    auto segment = std::upper_bound(own.begin(), own.end(), offset, [](qint64 at, const Segment &s) {
                       return at < s.sourceOffset;
                   }) - 1;
    for (; count > 0 && segment != own.end(); ++segment) {
        const qint64 within = offset - segment->sourceOffset;
        const qint64 take = qMin(count, segment->length - within);
        copyArrived(segment->offset + within, take, out);
        offset += take;
        count -= take;
    }
    return out;
}

void ReceivedBytes::copyArrived(qint64 offset, qint64 count, QByteArray &out) const
{
    while (count > 0) {
        const qint64 index = (offset - blocksStart) / BlockSize;
        const qint64 within = (offset - blocksStart) % BlockSize;
        const QByteArray &block = blocks[size_t(index)];
        const qint64 take = qMin(count, block.size() - within);
        out.append(block.constData() + within, take);
        offset += take;
        count -= take;
    }
}
