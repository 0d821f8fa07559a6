#include "mainwindow/capturefile.h"

#include "mainwindow/recordfile.h"

#include <QDir>

CaptureFile::CaptureFile(QObject *parent) : QObject(parent) {}

CaptureFile::~CaptureFile()
{
    stop();
}

bool CaptureFile::start(const QString &folder, const QDateTime &now)
{
    // A folder that cannot be made shows in the reason the file cannot be opened.
    QDir().mkpath(folder);
    const QString stem = RecordFile::recordPath(folder, now).chopped(4);
    for (int counter = 1;; ++counter) {
        text.setFileName(RecordFile::numberedPath(stem, counter, QStringLiteral(".txt")));
        raw.setFileName(RecordFile::numberedPath(stem, counter, QStringLiteral(".bin")));
        // NewOnly: neither file of an earlier capture or record is touched.
        if (!text.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            if (text.exists())
                continue;
            return fail(text);
        }
        if (raw.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return true;
        const bool taken = raw.exists();
        text.close();
        text.remove();
        if (!taken)
            return fail(raw);
    }
}

bool CaptureFile::append(QStringView shown, QByteArrayView raw)
{
    if (!isActive())
        return false;
    // Written in the local 8-bit encoding, as a record is.
    if (write(text, shown.toLocal8Bit(), &textBytes) && write(this->raw, raw, &rawBytes))
        return true;
    const QString file = failedFile;
    const QString reason = failure;
    stop();
    emit failed(file, reason);
    return false;
}

// Unbuffered, so each pass reaches the system at once. A short write gives
// no reason; the write of the rest fails with the system's own.
bool CaptureFile::write(QFile &file, QByteArrayView bytes, qint64 *count)
{
    while (!bytes.isEmpty()) {
        const qint64 written = file.write(bytes.data(), bytes.size());
        if (written <= 0)
            return fail(file);
        *count += written;
        bytes = bytes.sliced(written);
    }
    return true;
}

bool CaptureFile::fail(const QFile &file)
{
    failedFile = file.fileName();
    failure = file.errorString();
    return false;
}

void CaptureFile::stop()
{
    text.close();
    raw.close();
}
