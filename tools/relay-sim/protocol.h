#pragma once

// The line as the relay speaks it, written down here once more rather than taken from the
// tool: a relay that shared the tool's constants would agree with any mistake in them.

#include <QByteArray>
#include <QByteArrayView>

namespace veltra::sim::protocol {

inline constexpr char kEnq = 0x05; // starts every request
inline constexpr char kStx = 0x02; // starts every reply
inline constexpr char kEtx = 0x03; // ends a reply's data
inline constexpr char kCr = 0x0D;  // ends every frame

// The relay answers to FF whatever its station number setting says.
inline constexpr QByteArrayView kStationAddress = "FF";

// Page 0 is the common settings, 1..8 the circuits; 9 only ever selects the clear frame.
inline constexpr int kPageCount = 9;
inline constexpr int kCommonPage = 0;
inline constexpr int kClearPage = 9;

// Two upper-case hex digits of 0..255, high nibble first.
inline QByteArray hexByte(int value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QByteArray out;
    out.append(kDigits[(value >> 4) & 0xF]).append(kDigits[value & 0xF]);
    return out;
}

// The sum of the character codes written in upper-case hex, its last two digits.
inline QByteArray checksum(QByteArrayView text)
{
    unsigned sum = 0;
    for (char c : text)
        sum += static_cast<unsigned char>(c);
    return QByteArray::number(sum, 16).toUpper().right(2);
}

} // namespace veltra::sim::protocol
