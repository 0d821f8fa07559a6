#include "mainwindow/quicksend.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSettings>

namespace {

const QString arrayKey = QStringLiteral("quickSend");

} // namespace

QuickSendList readQuickSends(QSettings &store)
{
    QuickSendList list;
    const int size = store.beginReadArray(arrayKey);
    for (int i = 0; i < size; ++i) {
        store.setArrayIndex(i);
        list.append({ store.value("name").toString(), store.value("payload").toString(),
                      store.value("hex", false).toBool(), store.value("newLine", false).toBool() });
    }
    store.endArray();
    return list;
}

void writeQuickSends(QSettings &store, const QuickSendList &list)
{
    // Rows of a longer list written earlier must not linger.
    store.remove(arrayKey);
    if (list.isEmpty())
        return;
    store.beginWriteArray(arrayKey, int(list.size()));
    for (int i = 0; i < list.size(); ++i) {
        store.setArrayIndex(i);
        store.setValue("name", list[i].name);
        store.setValue("payload", list[i].payload);
        store.setValue("hex", list[i].hex);
        store.setValue("newLine", list[i].newLine);
    }
    store.endArray();
}

bool exportQuickSends(const QString &path, const QuickSendList &list, QString *reason)
{
    QJsonArray rows;
    for (const QuickSend &row : list) {
        rows.append(QJsonObject { { "name", row.name }, { "payload", row.payload }, { "hex", row.hex },
                                  { "newLine", row.newLine } });
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = file.errorString();
        return false;
    }
    file.write(QJsonDocument(QJsonObject { { arrayKey, rows } }).toJson());
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

std::optional<QuickSendList> importQuickSends(const QString &path, QString *reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return std::nullopt;
    }
    // Read one byte past the limit, so a file that grows meanwhile is caught too.
    const QByteArray json = file.read(maxImportBytes + 1);
    if (json.size() > maxImportBytes) {
        *reason = QStringLiteral("文件超过 1 MiB");
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        *reason = QStringLiteral("第 %1 个字节处不是有效的 JSON：%2").arg(error.offset + 1).arg(error.errorString());
        return std::nullopt;
    }
    const QJsonValue rows = document.object().value(arrayKey);
    if (!rows.isArray()) {
        *reason = QStringLiteral("文件中没有快捷发送列表（%1）").arg(arrayKey);
        return std::nullopt;
    }
    QuickSendList list;
    const QJsonArray array = rows.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject row = array[i].toObject();
        const QJsonValue name = row.value("name"), payload = row.value("payload");
        const QJsonValue hex = row.value("hex"), newLine = row.value("newLine");
        if (!array[i].isObject() || !payload.isString() || !(name.isString() || name.isUndefined())
            || !(hex.isBool() || hex.isUndefined()) || !(newLine.isBool() || newLine.isUndefined())) {
            *reason = QStringLiteral("第 %1 行格式不对：需要文本 payload，可选文本 name、真假值 hex 与 newLine")
                          .arg(i + 1);
            return std::nullopt;
        }
        list.append({ name.toString(), payload.toString(), hex.toBool(), newLine.toBool() });
    }
    return list;
}
