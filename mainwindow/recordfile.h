#pragma once

#include <QDateTime>
#include <QString>

namespace RecordFile {

// Largest text file that is loaded into a send area.
constexpr qint64 MaxLoadSize = 16 * 1024 * 1024;

struct Outcome
{
    bool ok = false;
    QString path;
    QString error;  // Qt's text when !ok
};

// The record's name for a moment: "/yyyy年MM月dd日hh-mm-ss.txt" in `directory`.
QString recordPath(const QString &directory, const QDateTime &when);

// `stem` with `counter` and `suffix`: "stem.txt" for the first, "stem-2.txt" after.
QString numberedPath(const QString &stem, int counter, const QString &suffix);

// Writes `text` in the local 8-bit encoding as a new record; a name already
// taken gets a counter ("…-2.txt"), so no earlier record is replaced.
Outcome save(const QString &directory, const QString &text, const QDateTime &when);

// Reads a regular UTF-8 text file of at most MaxLoadSize bytes, with its
// CR LF line ends turned into LF; anything else is refused.
Outcome load(const QString &path, QString *text);

} // namespace RecordFile
