#include "mainwindow/payload.h"

QByteArray encodePayload(const QString &text, bool hex)
{
    const QByteArray bytes = text.toLocal8Bit();
    return hex ? QByteArray::fromHex(bytes) : bytes;
}

QString hexPairs(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

namespace {

bool isDecimal(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

std::optional<quint16> parsePort(const QString &text, bool allowZero)
{
    const QString trimmed = text.trimmed();
    if (!isDecimal(trimmed) || trimmed.size() > 5)
        return std::nullopt;
    const uint value = trimmed.toUInt();
    if (value > 65535 || (value == 0 && !allowZero))
        return std::nullopt;
    return quint16(value);
}

std::optional<int> parsePeriod(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value <= 0)
        return std::nullopt;
    return value;
}
