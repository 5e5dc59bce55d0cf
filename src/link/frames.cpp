#include "link/frames.h"

namespace veltra {
namespace {

// Positions in the relay's documentation count from 1 at STX.
// mutate: equivalent: const 18 to 19: a reply of 18 characters has no room for a two-digit checksum
// in either form
constexpr qsizetype kMinReplyLength = 18;
constexpr qsizetype kEtxPosition = 18;

QByteArray lastTwoHexDigits(unsigned sum)
{
    return QByteArray::number(sum, 16).toUpper().right(2);
}

unsigned sumOfPositions(QByteArrayView text, qsizetype first, qsizetype last)
{
    unsigned sum = 0;
    for (qsizetype pos = first; pos <= last; ++pos)
        sum += static_cast<unsigned char>(text[pos - 1]);
    return sum;
}

} // namespace

QByteArray RequestChecksum(QByteArrayView body)
{
    unsigned sum = 0;
    for (char c : body)
        sum += static_cast<unsigned char>(c);
    return lastTwoHexDigits(sum);
}

QByteArray frameRequest(QByteArrayView body)
{
    QByteArray frame;
    frame.append(kEnq).append(body).append(RequestChecksum(body)).append(kCr);
    return frame;
}

QByteArray readRequest(int page)
{
    QByteArray body;
    body.append(kStationAddress).append("AE").append("00").append('0').append(char('0' + page));
    return frameRequest(body);
}

QByteArray writeFrame(int page, QByteArrayView data)
{
    QByteArray body;
    body.append(kStationAddress).append('B').append(char('0' + page)).append(data);
    return frameRequest(body);
}

bool ReplyChecksumTest(QByteArrayView reply)
{
    // mutate: equivalent: cmp < to <=: a reply of 18 characters has no room for a two-digit
    // checksum in either form
    if (reply.size() < kMinReplyLength)
        return false;
    // With ETX at 18 the sum covers 2..18 and the checksum follows at 19; otherwise the
    // data fields alone, with the checksum right after them at 18.
    const bool etx = reply[kEtxPosition - 1] == kEtx;
    const unsigned sum = etx ? sumOfPositions(reply, 2, 18) : sumOfPositions(reply, 6, 17);
    const qsizetype checksumPos = etx ? 19 : 18;
    // Two received characters against the sum's last two digits: a checksum cut short, or a
    // sum below 0x10 (one digit), never matches.
    const QByteArrayView received = reply.sliced(checksumPos - 1);
    return received.size() >= 2 && lastTwoHexDigits(sum) == received.first(2);
}

ReplyVerdict judgeReply(QByteArrayView collected)
{
    if (!collected.contains(kStx) || !collected.contains(kCr))
        return ReplyVerdict::Incomplete;
    if (ReplyChecksumTest(collected))
        return ReplyVerdict::Accepted;
    return collected.front() == kStx ? ReplyVerdict::BadChecksum : ReplyVerdict::StrayBeforeStx;
}

QByteArray hexByte(int value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QByteArray out;
    out.append(kDigits[(value >> 4) & 0xF]).append(kDigits[value & 0xF]);
    return out;
}

} // namespace veltra
