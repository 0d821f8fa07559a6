#include "mainwindow/hexdump.h"

HexRow hexDumpRow(qint64 offset, QByteArrayView bytes, int lead)
{
    static const char digits[] = "0123456789abcdef";
    HexRow row;
    row.offset = QString::number(offset, 16).rightJustified(8, u'0');
    row.hex.reserve(3 * HexRowBytes);
    row.ascii.reserve(HexRowBytes);
    for (int cell = 0; cell < HexRowBytes; ++cell) {
        if (cell > 0)
            row.hex += cell == HexRowBytes / 2 ? QLatin1String("  ") : QLatin1String(" ");
        const qsizetype at = cell - lead;
        if (at < 0 || at >= bytes.size()) {
            row.hex += QLatin1String("  ");
            if (at < 0)
                row.ascii += u' ';
            continue;
        }
        const auto byte = quint8(bytes[at]);
        row.hex += QLatin1Char(digits[byte >> 4]);
        row.hex += QLatin1Char(digits[byte & 0xf]);
        row.ascii += byte >= 0x20 && byte < 0x7f ? QChar(byte) : QChar(u'.');
    }
    return row;
}
