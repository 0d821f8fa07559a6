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

std::optional<QByteArray> decodeHex(QStringView text, QString *reason)
{
    const auto refuse = [&](qsizetype at, const char *why) -> std::optional<QByteArray> {
        if (reason) {
            const QString shown = at < text.size() ? QStringLiteral("“%1”").arg(text[at]) : QString();
            *reason = QStringLiteral("第 %1 个字符%2%3").arg(at + 1).arg(shown, QString::fromUtf8(why));
        }
        return std::nullopt;
    };
    QByteArray bytes;
    bytes.reserve(text.size() / 2);
    bool tokenStart = true;
    for (qsizetype i = 0; i < text.size();) {
        if (isHexSeparator(text[i])) {
            tokenStart = true;
            ++i;
            continue;
        }
        if (tokenStart && text[i] == u'0' && i + 1 < text.size() && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
            i += 2;
            if (i == text.size() || hexValue(text[i]) < 0)
                return refuse(i, "处缺少 0x 之后的十六进制数字");
        }
        tokenStart = false;
        const int high = hexValue(text[i]);
        if (high < 0)
            return refuse(i, "不是十六进制数字");
        if (i + 1 == text.size() || isHexSeparator(text[i + 1]))
            return refuse(i, "是落单的十六进制数字");
        const int low = hexValue(text[i + 1]);
        if (low < 0)
            return refuse(i + 1, "不是十六进制数字");
        bytes.append(char(high << 4 | low));
        i += 2;
    }
    return bytes;
}
