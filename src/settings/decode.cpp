#include "settings/decode.h"

#include "settings/items.h"
#include "settings/settingsfields.h"

namespace veltra {
namespace {

// Data fields start at these positions (counted from 1 at STX).
constexpr int kFieldPositions[] = {6, 8, 10, 12, 14, 16};
constexpr int kNoCode = 21;

// Where an item travels in a reply and how: which data field, read how, and which of its bits.
struct ItemField
{
    int field;
    FieldReading reading;
    int shift;
    int mask;
};

// Items 1 and 2 share the reset-mode field: item 1 is bit 1, item 2 bit 0. The other common
// fields keep bit 0 only, but the station number is the whole value.
constexpr ItemField kCommonFields[kCommonItemCount] = {
    {0, FieldReading::Hex, 0, 1},   {1, FieldReading::Hex, 1, 1}, {1, FieldReading::Hex, 0, 1},
    {2, FieldReading::Hex, 0, 1},   {3, FieldReading::Hex, 0, 1}, {4, FieldReading::Hex, 0, 1},
    {5, FieldReading::Hex, 0, 0xFF}};
// Wiring and insulation delay travel as decimal, the other three as hex codes.
constexpr ItemField kCircuitFields[kCircuitItemCount] = {{0, FieldReading::Decimal, 0, 0xFF},
                                                         {1, FieldReading::Hex, 0, 0xFF},
                                                         {2, FieldReading::Decimal, 0, 0xFF},
                                                         {3, FieldReading::Hex, 0, 0xFF},
                                                         {4, FieldReading::Hex, 0, 0xFF}};

QByteArrayView fieldAt(QByteArrayView reply, int field)
{
    const qsizetype start = kFieldPositions[field] - 1;
    // mutate: equivalent: cmp >= to >: a field that starts at the reply's end is empty either way
    if (start >= reply.size())
        return {};
    return reply.sliced(start, std::min<qsizetype>(2, reply.size() - start));
}

int digitValue(char c, FieldReading reading)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (reading == FieldReading::Hex && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    // mutate: equivalent: const 1 to 2: the caller takes any negative value as no digit
    return -1;
}

std::int16_t recorded(std::optional<int> code)
{
    return code ? std::int16_t(*code) : kUnreadableField;
}

} // namespace

std::optional<int> readField(QByteArrayView field, FieldReading reading)
{
    if (field.size() != 2)
        return std::nullopt;
    const int high = digitValue(field[0], reading);
    const int low = digitValue(field[1], reading);
    if (high < 0 || low < 0)
        return std::nullopt;
    return high * (reading == FieldReading::Hex ? 16 : 10) + low;
}

int HexCodeValue(QByteArrayView field)
{
    const std::optional<int> value = readField(field, FieldReading::Hex);
    return value && *value < 16 ? *value : kNoCode;
}

std::optional<int> reportedCode(int page, int item, QByteArrayView reply)
{
    // mutate: equivalent: logic || to && #1: a page that is no settings page has no items, so
    // the item's bounds refuse it alone
    if (!isSettingsPage(page) || item < 0 || item >= itemCount(page))
        return std::nullopt;
    const ItemField &at = page == kCommonPage ? kCommonFields[item] : kCircuitFields[item];
    const std::optional<int> value = readField(fieldAt(reply, at.field), at.reading);
    if (!value)
        return std::nullopt;
    return (*value >> at.shift) & at.mask;
}

QStringList decodePage(int page, QByteArrayView reply, DecodedRecords &records)
{
    if (!isSettingsPage(page))
        return {};
    const PageKind kind = pageKind(page);
    QStringList texts;
    for (int item = 0; item < itemCount(kind); ++item)
        // mutate: equivalent: const 1 to 2: any code that no list holds reads as ERROR
        texts << textOfCode(kind, item, reportedCode(page, item, reply).value_or(-1));
    if (page == kCommonPage) {
        CommonSettings &c = records.common;
        c.frequency = recorded(reportedCode(page, 0, reply));
        const auto resetBits = readField(fieldAt(reply, 1), FieldReading::Hex);
        c.resetModeBits = resetBits ? std::int16_t(*resetBits & 3) : kUnreadableField;
        c.leakageContactReset = recorded(reportedCode(page, 3, reply));
        c.tripOnTest = recorded(reportedCode(page, 4, reply));
        c.selfDiagnosis = recorded(reportedCode(page, 5, reply));
        c.stationNumber = recorded(reportedCode(page, kStationItem, reply));
        return texts;
    }
    CircuitSettings &record = records.circuits[std::size_t(page - 1)];
    for (int k = 0; k < kCircuitItemCount; ++k) {
        const ItemField &at = kCircuitFields[k];
        record.codes.at(std::size_t(k)) = at.reading == FieldReading::Hex
                                              ? std::int16_t(HexCodeValue(fieldAt(reply, at.field)))
                                              : recorded(reportedCode(page, k, reply));
    }
    return texts;
}

void DecodeReply(int page, QByteArrayView reply, DecodedRecords &records, SettingsFields &fields)
{
    const QStringList texts = decodePage(page, reply, records);
    for (int item = 0; item < texts.size(); ++item)
        fields.setPresentValue(page, item, texts[item]);
}

} // namespace veltra
