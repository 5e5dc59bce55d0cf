// The simulated relay's frame parser on arbitrary bytes, delivered in chunks chosen by the
// input itself: the splitter stays bounded and loses no byte, chunking does not change what it
// hands out, a rejected frame changes nothing, and every read it answers gets a sound reply.

#include "framesplitter.h"
#include "harness.h"
#include "link/frames.h"
#include "relaymodel.h"
#include "settings/decode.h"
#include "settings/items.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstddef>
#include <cstdint>

using namespace veltra;
using namespace veltra::fuzz;
using namespace veltra::sim;

namespace {

constexpr qsizetype kReplyLength = 21;
constexpr qsizetype kChunkHeader = 2; // input bytes that choose the chunking

// Chunk sizes from a small generator seeded by the input's first bytes: runs of single bytes,
// the whole stream at once, and everything between.
class Chunker
{
public:
    explicit Chunker(std::uint16_t seed) : m_state(seed | 1u), m_largest(1 + (seed >> 10)) {}

    qsizetype next()
    {
        m_state ^= m_state << 7;
        m_state ^= m_state >> 9;
        m_state ^= m_state << 8;
        return 1 + qsizetype(m_state % m_largest);
    }

private:
    std::uint16_t m_state;
    std::uint16_t m_largest; // 1..64
};

bool settingsInRange(const RelaySettings &s)
{
    const CommonCodes &c = s.common;
    bool ok = c.frequency >= 0 && c.frequency <= 1 && c.resetBits >= 0 && c.resetBits <= 3 &&
              c.leakageReset >= 0 && c.leakageReset <= 1 && c.tripOnTest >= 0 &&
              c.tripOnTest <= 1 && c.selfDiagnosis >= 0 && c.selfDiagnosis <= 1 && c.station >= 0 &&
              c.station <= kStationMax;
    for (const CircuitCodes &k : s.circuits) {
        ok = ok && k.wiring >= 0 && k.wiring <= 5 && k.insulationSensitivity >= 0 &&
             k.insulationSensitivity <= 15 && k.insulationDelay >= 0 && k.insulationDelay <= 4 &&
             k.leakageSensitivity >= 0 && k.leakageSensitivity <= 19 && k.leakageDelay >= 0 &&
             k.leakageDelay <= 11;
    }
    return ok;
}

// The reply to an accepted read: 21 bytes of STX, header, data, ETX, upper-case checksum, CR,
// passing the tool's checksum test and decoding to texts the window can show.
void checkReply(int page, const QByteArray &reply)
{
    FUZZ_CHECK(reply.size() == kReplyLength);
    FUZZ_CHECK(reply.front() == kStx && reply[17] == kEtx && reply.back() == kCr);
    FUZZ_CHECK(ReplyChecksumTest(reply));
    DecodedRecords records;
    HarnessFields fields;
    DecodeReply(page, reply, records, fields);
    FUZZ_CHECK(fields.writes().size() == std::size_t(itemCount(page)));
    for (const FieldWrite &w : fields.writes())
        FUZZ_CHECK(isDecodedText(page, w.item, w.text));
}

void checkFrame(RelayModel &model, QByteArrayView frame)
{
    const RelaySettings before = model.settings();
    const StoredValues storedBefore = model.storedValues();
    const FrameResult result = model.handleFrame(frame);
    FUZZ_CHECK(settingsInRange(model.settings()));
    FUZZ_CHECK(!result.reason.isEmpty());

    if (!result.accepted) {
        FUZZ_CHECK(result.kind == FrameKind::Rejected);
        FUZZ_CHECK(result.reply.isEmpty());
        FUZZ_CHECK(model.settings() == before);
        FUZZ_CHECK(model.storedValues() == storedBefore);
        return;
    }
    // Only a well-formed frame from ENQ to CR is ever accepted.
    FUZZ_CHECK(frame.front() == kEnq && frame.back() == kCr);
    switch (result.kind) {
    case FrameKind::Read:
        FUZZ_CHECK(frame.size() == 12);
        FUZZ_CHECK(isSettingsPage(result.page));
        FUZZ_CHECK(model.settings() == before);
        FUZZ_CHECK(model.storedValues() == storedBefore);
        checkReply(result.page, result.reply);
        break;
    case FrameKind::Write: {
        FUZZ_CHECK(frame.size() == 17);
        FUZZ_CHECK(isSettingsPage(result.page));
        FUZZ_CHECK(result.reply.isEmpty());
        FUZZ_CHECK(model.storedValues() == storedBefore);
        // A write changes its own page and no other.
        RelaySettings others = model.settings();
        if (result.page == kCommonPage)
            others.common = before.common;
        else
            others.circuits[std::size_t(result.page - 1)] =
                before.circuits[std::size_t(result.page - 1)];
        FUZZ_CHECK(others == before);
        break;
    }
    case FrameKind::Clear:
        FUZZ_CHECK(frame.size() == 17);
        FUZZ_CHECK(result.page == kClearPage);
        FUZZ_CHECK(result.reply.isEmpty());
        FUZZ_CHECK(model.settings() == before);
        break;
    case FrameKind::Rejected:
        FUZZ_CHECK(!"an accepted frame of kind Rejected");
    }
}

// A frame as the splitter hands it out: ENQ first, no other ENQ, and either CR at its end and
// nowhere else, or no CR at all and the full length at which the splitter gives up on it.
void checkSplitFrame(const QByteArray &frame)
{
    FUZZ_CHECK(!frame.isEmpty() && frame.front() == kEnq);
    FUZZ_CHECK(frame.size() <= FrameSplitter::kMaxFrameLength);
    FUZZ_CHECK(frame.lastIndexOf(kEnq) == 0);
    const qsizetype cr = frame.indexOf(kCr);
    if (cr >= 0)
        FUZZ_CHECK(cr == frame.size() - 1);
    else
        FUZZ_CHECK(frame.size() == FrameSplitter::kMaxFrameLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < std::size_t(kChunkHeader))
        return 0;
    const auto seed = std::uint16_t(data[0] | (data[1] << 8));
    const QByteArrayView stream(reinterpret_cast<const char *>(data) + kChunkHeader,
                                qsizetype(size) - kChunkHeader);

    FrameSplitter splitter;
    RelayModel model;
    Chunker chunker(seed);
    QList<QByteArray> frames;
    qsizetype fed = 0;
    qsizetype framedBytes = 0;
    while (fed < stream.size()) {
        const qsizetype n = std::min(chunker.next(), stream.size() - fed);
        const QList<QByteArray> out = splitter.feed(stream.sliced(fed, n));
        fed += n;
        FUZZ_CHECK(splitter.pendingSize() < FrameSplitter::kMaxFrameLength);
        for (const QByteArray &frame : out) {
            checkSplitFrame(frame);
            framedBytes += frame.size();
            checkFrame(model, frame);
            frames << frame;
        }
        // Every byte fed is in a frame handed out, skipped, or waiting.
        FUZZ_CHECK(framedBytes + splitter.skippedBytes() + splitter.pendingSize() == fed);
    }

    // The same stream in one piece gives the same frames.
    FrameSplitter whole;
    FUZZ_CHECK(whole.feed(stream) == frames);
    FUZZ_CHECK(whole.pendingSize() == splitter.pendingSize());
    FUZZ_CHECK(whole.skippedBytes() == splitter.skippedBytes());

    // The model on the raw bytes too, which need not start with ENQ or end with CR.
    checkFrame(model, stream);
    return 0;
}
