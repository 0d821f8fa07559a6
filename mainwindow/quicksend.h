#pragma once

#include <QList>
#include <QString>

#include <optional>

class QSettings;

// One saved payload of the quick-send list, sent with its own options.
struct QuickSend
{
    QString name;
    QString payload;
    bool hex = false;
    bool newLine = false;  // CR LF after the payload

    bool operator==(const QuickSend &other) const
    {
        return name == other.name && payload == other.payload && hex == other.hex && newLine == other.newLine;
    }
};

using QuickSendList = QList<QuickSend>;

// The list in the settings store, as the array quickSend.
QuickSendList readQuickSends(QSettings &store);
void writeQuickSends(QSettings &store, const QuickSendList &list);

// The list shared as a JSON file. Reading refuses a file over `maxImportBytes`
// or one that is not such a list, and says why.
constexpr qint64 maxImportBytes = 1024 * 1024;
bool exportQuickSends(const QString &path, const QuickSendList &list, QString *reason);
std::optional<QuickSendList> importQuickSends(const QString &path, QString *reason);
