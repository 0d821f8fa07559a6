#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>

class QIODevice;

// Follows each send request until the system has taken its bytes (the
// devices' bytesWritten), then reports it, in the order of the requests:
// the bytes taken, and why not all of them. A device that ends with bytes
// still queued fails the requests they belong to.
class SendLedger : public QObject
{
    Q_OBJECT
public:
    explicit SendLedger(QObject *parent = nullptr);

    // A request is begun, given its parts, and ended.
    void begin();
    void write(QIODevice *device, const QByteArray &bytes);
    void refuse(const QString &error);
    void end();
    // `device` sends nothing more of what it still holds.
    void ended(QIODevice *device);
    // Counts what `device` has passed to the system without saying so yet:
    // all it was given but what it still holds. For a device about to drop
    // its output, so bytes already gone are not reported as lost.
    void settle(QIODevice *device);

signals:
    void reported(qint64 bytes, QString error);

private:
    struct Request
    {
        qint64 taken = 0;
        int openParts = 0;
        bool ended = false;
        QStringList errors;
    };
    struct Part
    {
        quint64 request;
        qint64 left;
    };

    void watch(QIODevice *device);
    void taken(QIODevice *device, qint64 bytes);
    Request &at(quint64 id) { return requests[size_t(id - firstId)]; }
    void reportFinished();

    std::deque<Request> requests;
    quint64 firstId = 0;
    QHash<QIODevice *, std::deque<Part>> parts;
};
