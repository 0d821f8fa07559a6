#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

// The send area's text as the bytes that go out in text mode.
QByteArray encodePayload(const QString &text);

// Received bytes as two lower-case hex digits per byte, separated by spaces.
QString hexPairs(const QByteArray &bytes);

// A port field: a decimal number from 0 (when allowed) to 65535, nothing else.
std::optional<quint16> parsePort(const QString &text, bool allowZero);

// A loop period: a whole number of milliseconds greater than 0.
std::optional<int> parsePeriod(const QString &text);

// Hex notation that must decode whole: pairs of hex digits, each may carry a
// 0x, separated by spaces, commas or line breaks. Anything else is refused:
// `badAt` is the first character that cannot stand where it does, -1 when
// the whole text decoded.
struct HexBytes
{
    QByteArray bytes;
    qsizetype badAt = -1;
};
HexBytes decodeHex(QStringView text);
