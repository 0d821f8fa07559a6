#include "workers/sendledger.h"

#include <QAbstractSocket>
#include <QIODevice>

namespace {

QString named(const QIODevice *device, const QString &text)
{
    return device->objectName().isEmpty() ? text : device->objectName() + QStringLiteral("：") + text;
}

} // namespace

SendLedger::SendLedger(QObject *parent) : QObject(parent)
{
}

void SendLedger::begin()
{
    requests.emplace_back();
}

void SendLedger::write(QIODevice *device, const QByteArray &bytes)
{
    Request &request = requests.back();
    const qint64 queued = device->write(bytes);
    if (queued != bytes.size())
        request.errors << named(device, device->errorString());
    if (queued <= 0)
        return;
    watch(device);
    parts[device].push_back({ firstId + requests.size() - 1, queued });
    ++request.openParts;
}

void SendLedger::refuse(const QString &error)
{
    requests.back().errors << error;
}

void SendLedger::end()
{
    requests.back().ended = true;
    reportFinished();
}

void SendLedger::watch(QIODevice *device)
{
    if (parts.contains(device))
        return;
    connect(device, &QIODevice::bytesWritten, this, [this, device](qint64 bytes) { taken(device, bytes); });
    // A socket's close lets it deliver first; its end is when it is unconnected.
    if (auto *socket = qobject_cast<QAbstractSocket *>(device)) {
        connect(socket, &QAbstractSocket::stateChanged, this, [this, device](QAbstractSocket::SocketState state) {
            if (state == QAbstractSocket::UnconnectedState)
                ended(device);
        });
    } else {
        connect(device, &QIODevice::aboutToClose, this, [this, device] { ended(device); });
    }
    connect(device, &QObject::destroyed, this, [this, device] { ended(device); });
}

void SendLedger::taken(QIODevice *device, qint64 bytes)
{
    auto found = parts.find(device);
    if (found == parts.end())
        return;
    std::deque<Part> &queue = found.value();
    while (bytes > 0 && !queue.empty()) {
        Part &part = queue.front();
        const qint64 share = qMin(bytes, part.left);
        part.left -= share;
        bytes -= share;
        at(part.request).taken += share;
        if (part.left == 0) {
            --at(part.request).openParts;
            queue.pop_front();
        }
    }
    reportFinished();
}

void SendLedger::ended(QIODevice *device)
{
    auto found = parts.find(device);
    if (found == parts.end())
        return;
    for (const Part &part : found.value()) {
        Request &request = at(part.request);
        request.errors << named(device, tr("连接已断开，%1 字节未发出").arg(part.left));
        --request.openParts;
    }
    parts.erase(found);
    disconnect(device, nullptr, this, nullptr);
    reportFinished();
}

void SendLedger::settle(QIODevice *device)
{
    qint64 given = 0;
    for (const Part &part : parts.value(device))
        given += part.left;
    const qint64 gone = given - device->bytesToWrite();
    if (gone > 0)
        taken(device, gone);
}

void SendLedger::reportFinished()
{
    while (!requests.empty() && requests.front().ended && requests.front().openParts == 0) {
        const Request done = std::move(requests.front());
        requests.pop_front();
        ++firstId;
        emit reported(done.taken, done.errors.join(QStringLiteral("；")));
    }
}
