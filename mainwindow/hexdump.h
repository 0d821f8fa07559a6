#pragma once

#include <QByteArrayView>
#include <QString>

// One row of a hex dump, as its three columns.
struct HexRow
{
    QString offset;  // 8 hex digits
    QString hex;     // 16 cells of two digits, a wider gap after the eighth
    QString ascii;   // printable characters as they are, a dot for the rest
};

// Bytes in a hex dump row.
constexpr int HexRowBytes = 16;

// The row that starts at `offset`, where `bytes` fill the cells from `lead`
// on; cells before them (bytes no longer kept) and after them (not received
// yet) are blank.
HexRow hexDumpRow(qint64 offset, QByteArrayView bytes, int lead = 0);
