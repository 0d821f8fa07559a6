#include "mainwindow/recordfile.h"

#include <QFile>
#include <QFileInfo>

namespace RecordFile {

QString recordPath(const QString &directory, const QDateTime &when)
{
    return directory + when.toString(QStringLiteral("/yyyy年MM月dd日hh-mm-ss")) + QStringLiteral(".txt");
}

QString numberedPath(const QString &stem, int counter, const QString &suffix)
{
    // One arg() call: a stem holding "%2" stays as it is.
    return counter == 1 ? stem + suffix : QStringLiteral("%1-%2%3").arg(stem, QString::number(counter), suffix);
}

Outcome save(const QString &directory, const QString &text, const QDateTime &when)
{
    const QString stem = recordPath(directory, when).chopped(4);
    Outcome outcome;
    for (int counter = 1;; ++counter) {
        outcome.path = numberedPath(stem, counter, QStringLiteral(".txt"));
        QFile file(outcome.path);
        // NewOnly: an existing record is never opened, let alone truncated.
        if (file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::NewOnly)) {
            const QByteArray bytes = text.toLocal8Bit();
            outcome.ok = file.write(bytes) == bytes.size() && file.flush();
            if (!outcome.ok)
                outcome.error = file.errorString();
            return outcome;
        }
        if (!file.exists()) {
            outcome.error = file.errorString();
            return outcome;
        }
    }
}

Outcome load(const QString &path, QString *text)
{
    Outcome outcome;
    outcome.path = path;
    // Checked before opening: opening a FIFO waits for a writer, and a device
    // may never end.
    if (!QFileInfo(path).isFile()) {
        outcome.error = QStringLiteral("不是普通文件");
        return outcome;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        outcome.error = file.errorString();
        return outcome;
    }
    // Bounded whatever size the file claims; one byte more tells it is too large.
    QByteArray bytes = file.read(MaxLoadSize + 1);
    if (bytes.size() > MaxLoadSize) {
        outcome.error = QStringLiteral("文件大小超过 %1 MiB").arg(MaxLoadSize / (1024 * 1024));
        return outcome;
    }
    *text = QString::fromUtf8(bytes.replace("\r\n", "\n"));
    outcome.ok = true;
    return outcome;
}

} // namespace RecordFile
