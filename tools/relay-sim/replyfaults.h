#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

namespace veltra::sim {

// Ways a relay (or the line) can spoil the answer to a read request.
enum class ReadFault {
    None,
    NoReply,
    NoCr,
    BadChecksum,
    LowercaseChecksum,
    StrayBeforeStx,
    CrBeforeStx,
    Hangup,
    GarbageFlood,
    LongReply,
    LowercaseHex, // the data fields in lower case, with a checksum that matches them
    BlankInField, // a blank in place of each data field's leading 0, checksum matching
    Echo,         // the request echoed back, then the reply, as a looped-back line gives
    OtherPage,    // a right reply, but for the next page
};

QStringList readFaultNames(); // the names of every fault but None, as given on the command line
QString readFaultName(ReadFault fault);
std::optional<ReadFault> readFaultFromName(const QString &name);

inline constexpr qsizetype kLongReplyDataLength = 10 * 1024;
inline constexpr qsizetype kHangupPartLength = 10; // bytes of the reply sent before hanging up

// The bytes a faulty relay sends instead of the reply with `header` and `data`. NoReply and
// GarbageFlood send no reply at all (the flood is the simulator's business); Hangup gives the
// part that leaves before the line closes.
QByteArray faultyReply(ReadFault fault, QByteArrayView header, QByteArrayView data);

} // namespace veltra::sim
