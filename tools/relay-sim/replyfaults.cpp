#include "replyfaults.h"

#include "protocol.h"
#include "relaymodel.h"

#include <array>

namespace veltra::sim {

using namespace protocol;

namespace {

struct FaultName
{
    ReadFault fault;
    const char *name;
};

constexpr std::array<FaultName, 13> kFaultNames{{
    {ReadFault::NoReply, "no-reply"},
    {ReadFault::NoCr, "no-cr"},
    {ReadFault::BadChecksum, "bad-checksum"},
    {ReadFault::LowercaseChecksum, "lowercase-checksum"},
    {ReadFault::StrayBeforeStx, "stray-before-stx"},
    {ReadFault::CrBeforeStx, "cr-before-stx"},
    {ReadFault::Hangup, "hangup"},
    {ReadFault::GarbageFlood, "garbage-flood"},
    {ReadFault::LongReply, "long-reply"},
    {ReadFault::LowercaseHex, "lowercase-hex"},
    {ReadFault::BlankInField, "blank-in-field"},
    {ReadFault::Echo, "echo"},
    {ReadFault::OtherPage, "other-page"},
}};

constexpr char kStrayChar = '*';

bool hasHexLetter(QByteArrayView checksum)
{
    for (char c : checksum) {
        if (c >= 'A' && c <= 'F')
            return true;
    }
    return false;
}

QByteArray covered(QByteArrayView header, QByteArrayView data)
{
    QByteArray text;
    text.append(header).append(data).append(kEtx);
    return text;
}

} // namespace

QStringList readFaultNames()
{
    QStringList names;
    for (const FaultName &f : kFaultNames)
        names << QLatin1String(f.name);
    return names;
}

QString readFaultName(ReadFault fault)
{
    for (const FaultName &f : kFaultNames) {
        if (f.fault == fault)
            return QLatin1String(f.name);
    }
    return QStringLiteral("none");
}

std::optional<ReadFault> readFaultFromName(const QString &name)
{
    if (name == QLatin1String("none"))
        return ReadFault::None;
    for (const FaultName &f : kFaultNames) {
        if (name == QLatin1String(f.name))
            return f.fault;
    }
    return std::nullopt;
}

QByteArray faultyReply(ReadFault fault, QByteArrayView header, QByteArrayView data)
{
    const QByteArray good = replyFrame(header, data);
    switch (fault) {
    case ReadFault::None:
        return good;
    case ReadFault::NoReply:
    case ReadFault::GarbageFlood:
        return {};
    case ReadFault::NoCr:
        return good.chopped(1);
    case ReadFault::BadChecksum: {
        const QByteArray text = covered(header, data);
        const int sum = checksum(text).toInt(nullptr, 16);
        QByteArray frame;
        frame.append(kStx).append(text).append(hexByte((sum + 1) & 0xFF)).append(kCr);
        return frame;
    }
    case ReadFault::LowercaseChecksum: {
        // Lower case only shows when the checksum holds a letter; the four header characters
        // are not interpreted, so the last one is bent until it does.
        QByteArray bent = header.toByteArray();
        for (int step = 0; step < 16 && !hasHexLetter(checksum(covered(bent, data))); ++step)
            bent.back() = char(bent.back() + 1);
        const QByteArray text = covered(bent, data);
        QByteArray frame;
        frame.append(kStx).append(text).append(checksum(text).toLower()).append(kCr);
        return frame;
    }
    case ReadFault::StrayBeforeStx:
        return kStrayChar + good;
    case ReadFault::CrBeforeStx:
        return kCr + good;
    case ReadFault::Hangup:
        return good.first(kHangupPartLength);
    case ReadFault::LowercaseHex:
        return replyFrame(header, data.toByteArray().toLower());
    case ReadFault::BlankInField: {
        QByteArray padded = data.toByteArray();
        for (qsizetype field = 0; field + 1 < padded.size(); field += 2)
            if (padded[field] == '0')
                padded[field] = ' ';
        return replyFrame(header, padded);
    }
    case ReadFault::Echo:
    case ReadFault::OtherPage:
        return good; // the simulator has the request and the other page
    case ReadFault::LongReply: {
        QByteArray text;
        text.append(header).append(QByteArray(kLongReplyDataLength, '0')).append(kEtx);
        QByteArray frame;
        frame.append(kStx).append(text).append(checksum(text)).append(kCr);
        return frame;
    }
    }
    return good;
}

} // namespace veltra::sim
