// Telnet's receiving side on arbitrary bytes from a device server, delivered in chunks chosen
// by the input itself: it holds at most one subnegotiation's worth between chunks, hands out
// no more data than came, answers and offers each option once in each direction, and hands out
// the same however the stream is cut.

#include "harness.h"
#include "link/telnetreceiver.h"

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

using namespace veltra;
using namespace veltra::telnet;

namespace {

constexpr qsizetype kChunkHeader = 2; // input bytes that choose the chunking

// Options we offer as the port does once it is connected.
constexpr std::array<unsigned char, 3> kOffered{kBinary, kSuppressGoAhead, kComPort};

struct Total
{
    QByteArray data;
    QByteArray answers;
    QByteArrayList subnegotiations;
    bool comPortDeclined = false;

    bool operator==(const Total &) const = default;
};

// Each WILL or WONT, and each DO or DONT, said at most once per option, in answers and offers
// together: a server that repeats itself gets no answer loop.
class SaidOnce
{
public:
    void note(QByteArrayView commands)
    {
        FUZZ_CHECK(commands.size() % 3 == 0);
        for (qsizetype i = 0; i < commands.size(); i += 3) {
            const auto verb = static_cast<unsigned char>(commands[i + 1]);
            FUZZ_CHECK(static_cast<unsigned char>(commands[i]) == kIac);
            FUZZ_CHECK(verb >= kWill && verb <= kDont);
            const bool ours = verb == kWill || verb == kWont;
            bool &said = (ours ? m_said : m_asked)[static_cast<unsigned char>(commands[i + 2])];
            FUZZ_CHECK(!said);
            said = true;
        }
    }

private:
    std::array<bool, 256> m_said{};
    std::array<bool, 256> m_asked{};
};

void add(Total &total, const TelnetReceiver::Received &received)
{
    total.data += received.data;
    total.answers += received.answers;
    total.subnegotiations += received.subnegotiations;
    total.comPortDeclined = total.comPortDeclined || received.comPortDeclined;
}

// Our greeting, sent ahead of the stream or not at all, so that both cuts see it alike.
void offer(TelnetReceiver &telnet, SaidOnce *said)
{
    for (const unsigned char option : kOffered) {
        const QByteArray command = telnet.offer(kWill, option);
        if (said)
            said->note(command);
    }
    for (const unsigned char option : {kBinary, kSuppressGoAhead}) {
        const QByteArray command = telnet.offer(kDo, option);
        if (said)
            said->note(command);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < std::size_t(kChunkHeader))
        return 0;
    // The first byte sets the largest chunk (1..256); the second how the sizes run, and its
    // lowest bit whether we greet first.
    const qsizetype largest = 1 + data[0];
    std::uint32_t state = data[1];
    const bool greet = data[1] & 1;
    const QByteArrayView stream(reinterpret_cast<const char *>(data) + kChunkHeader,
                                qsizetype(size) - kChunkHeader);

    TelnetReceiver chunked;
    Total cut;
    SaidOnce said;
    if (greet)
        offer(chunked, &said);
    for (qsizetype at = 0; at < stream.size();) {
        state = state * 1103515245u + 12345u;
        const qsizetype length = std::min(1 + qsizetype(state >> 16) % largest, stream.size() - at);
        const TelnetReceiver::Received received = chunked.take(stream.sliced(at, length));
        at += length;
        FUZZ_CHECK(chunked.held() <= TelnetReceiver::kMaxSubnegotiation);
        FUZZ_CHECK(received.data.size() <= length);
        for (const QByteArray &body : received.subnegotiations)
            FUZZ_CHECK(body.size() <= TelnetReceiver::kMaxSubnegotiation);
        said.note(received.answers);
        add(cut, received);
    }

    // How the stream was cut changes nothing of what came out of it.
    TelnetReceiver whole;
    if (greet)
        offer(whole, nullptr);
    Total once;
    add(once, whole.take(stream));
    FUZZ_CHECK(once == cut);
    FUZZ_CHECK(whole.held() == chunked.held());
    return 0;
}
