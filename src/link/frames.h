#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace veltra {

inline constexpr char kEnq = 0x05;
inline constexpr char kStx = 0x02;
inline constexpr char kEtx = 0x03;
inline constexpr char kCr = 0x0D;

// The relay is always addressed as station FF; the station number setting plays no part.
inline constexpr QByteArrayView kStationAddress = "FF";

// Last two upper-case hex digits of the sum of the character codes of `body`.
QByteArray RequestChecksum(QByteArrayView body);

// ENQ + body + checksum + CR: the envelope of every request.
QByteArray frameRequest(QByteArrayView body);

// The 12-byte read request for page 0..8, e.g. ENQ "FFAE0000" "D2" CR.
QByteArray readRequest(int page);

// The 17-byte write frame of page 0..8, or the clear frame for page 9, around its nine data
// characters: ENQ "FF" "B" and the page digit, the data, the checksum, CR.
QByteArray writeFrame(int page, QByteArrayView data);

// True when `reply` passes the relay's checksum rule; nothing else of the reply is examined.
bool ReplyChecksumTest(QByteArrayView reply);

// What a text collected after a read request is, by the one rule every reader of replies uses.
enum class ReplyVerdict {
    Incomplete,     // no STX and a CR yet: wait for more, or no reply at all
    Accepted,       // it passes the checksum test, counted from its first character
    StrayBeforeStx, // rejected: something came before the STX, shifting every position
    BadChecksum,    // rejected: the checksum does not match
};

// A real line delivers under 3 KB in the 3 s time-out; this much of a collection is kept, so a
// runaway peer cannot grow it without bound. Beyond it nothing can be accepted.
inline constexpr qsizetype kMaxReplyBytes = 64 * 1024;

// Complete once an STX and a CR have arrived; then judged from the first character received,
// as the read transaction judges it.
ReplyVerdict judgeReply(QByteArrayView collected);

// Two upper-case hex digits of 0..255, high nibble first.
QByteArray hexByte(int value);

} // namespace veltra
