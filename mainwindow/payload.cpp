#include "mainwindow/payload.h"

QByteArray encodePayload(const QString &text)
{
    return text.toLocal8Bit();
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
    QStringView digits = QStringView(text).trimmed();
    if (!isDecimal(digits.toString()))
        return std::nullopt;
    // Leading zeros say nothing: "039101" is 39101.
    while (digits.size() > 1 && digits.front() == u'0')
        digits = digits.mid(1);
    if (digits.size() > 5)
        return std::nullopt;
    const uint value = digits.toUInt();
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

namespace {

bool isHexSeparator(QChar c)
{
    return c == u' ' || c == u',' || c == u'\r' || c == u'\n';
}

int hexValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

} // namespace

HexBytes decodeHex(QStringView text)
{
    HexBytes result;
    result.bytes.reserve(text.size() / 2);
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size;) {
        if (isHexSeparator(text[i])) {
            ++i;
            continue;
        }
        if (text[i] == u'0' && i + 1 < size && (text[i + 1] == u'x' || text[i + 1] == u'X'))
            i += 2;
        const int high = i < size ? hexValue(text[i]) : -1;
        const int low = high >= 0 && i + 1 < size ? hexValue(text[i + 1]) : -1;
        if (low < 0) {
            // A digit or prefix left alone before a separator or the end is
            // the fault itself; otherwise the stranger that follows it.
            qsizetype bad = high < 0 ? i : i + 1;
            if (bad >= size || isHexSeparator(text[bad]))
                --bad;
            result.badAt = bad;
            return result;
        }
        result.bytes.append(char(high << 4 | low));
        i += 2;
    }
    return result;
}
