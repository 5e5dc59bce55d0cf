// The reply path on arbitrary bytes: the checksum test, then decoding into every page. Whatever
// arrives, decoding writes only the page's present values, and only texts the window can show.

#include "harness.h"
#include "link/frames.h"
#include "settings/decode.h"
#include "settings/items.h"

#include <QByteArrayView>

#include <cstddef>
#include <cstdint>

using namespace veltra;
using namespace veltra::fuzz;

namespace {

bool isUpperHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

void checkChecksumTest(QByteArrayView reply)
{
    const bool accepted = ReplyChecksumTest(reply);
    if (!accepted)
        return;
    // Either rule needs the whole data area and two checksum characters after it, and the
    // relay's checksum is upper-case hex: nothing shorter or lower-case may pass.
    FUZZ_CHECK(reply.size() >= 19);
    const qsizetype checksumAt = reply[17] == kEtx ? 18 : 17;
    FUZZ_CHECK(reply.size() >= checksumAt + 2);
    FUZZ_CHECK(isUpperHexDigit(reply[checksumAt]) && isUpperHexDigit(reply[checksumAt + 1]));
}

void checkRecords(const DecodedRecords &records)
{
    // Each field is its masked value, or marked as one that could not be read.
    const auto within = [](std::int16_t code, int max) {
        return code == kUnreadableField || (code >= 0 && code <= max);
    };
    const CommonSettings &c = records.common;
    FUZZ_CHECK(within(c.frequency, 1));
    FUZZ_CHECK(within(c.resetModeBits, 3));
    FUZZ_CHECK(within(c.leakageContactReset, 1));
    FUZZ_CHECK(within(c.tripOnTest, 1));
    FUZZ_CHECK(within(c.selfDiagnosis, 1));
    FUZZ_CHECK(within(c.stationNumber, kStationMax));
    for (const CircuitSettings &circuit : records.circuits) {
        // Two decimal digits or a code lookup (0..15, or 21 for no code).
        for (std::int16_t code : circuit.codes)
            FUZZ_CHECK(within(code, 99));
    }
}

void decodeEveryPage(QByteArrayView reply)
{
    DecodedRecords records;
    for (int page = -1; page <= kPageCount + 1; ++page) {
        HarnessFields fields;
        DecodeReply(page, reply, records, fields);
        const std::vector<FieldWrite> &writes = fields.writes();
        FUZZ_CHECK(fields.badReads() == 0);
        if (!isSettingsPage(page)) {
            FUZZ_CHECK(writes.empty());
            continue;
        }
        // Every present value of the page, in item order, and nothing else.
        FUZZ_CHECK(writes.size() == std::size_t(itemCount(page)));
        for (std::size_t i = 0; i < writes.size(); ++i) {
            const FieldWrite &w = writes[i];
            FUZZ_CHECK(w.kind == FieldKind::Present);
            FUZZ_CHECK(w.page == page);
            FUZZ_CHECK(w.item == int(i));
            FUZZ_CHECK(isDecodedText(page, w.item, w.text));
            // The masks leave every common field that can be read a text of its own.
            FUZZ_CHECK(page != kCommonPage || (w.text == errorText()) ==
                                                  !reportedCode(page, w.item, reply).has_value());
        }
        // The texts decodePage hands out are the ones written.
        DecodedRecords again;
        const QStringList texts = decodePage(page, reply, again);
        FUZZ_CHECK(texts.size() == qsizetype(writes.size()));
        for (qsizetype i = 0; i < texts.size(); ++i)
            FUZZ_CHECK(texts[i] == writes[std::size_t(i)].text);
    }
    checkRecords(records);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A view of exactly the fuzzer's buffer, so reading past the reply's end is caught.
    const QByteArrayView reply(reinterpret_cast<const char *>(data), qsizetype(size));
    checkChecksumTest(reply);
    decodeEveryPage(reply);
    return 0;
}
