#include "settings/decode.h"

#include "settings/items.h"
#include "settings/settingsfields.h"

namespace veltra {
namespace {

// Data fields start at these positions (counted from 1 at STX).
constexpr int kFieldPositions[] = {6, 8, 10, 12, 14, 16};
constexpr int kNoCode = 21;

QByteArrayView fieldAt(QByteArrayView reply, int position)
{
    const qsizetype start = position - 1;
    if (start >= reply.size())
        return {};
    return reply.sliced(start, std::min<qsizetype>(2, reply.size() - start));
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QString resetModeText(bool manual)
{
    return textOfCode(PageKind::Common, 1, manual ? 1 : 0);
}

} // namespace

int hexReading(QByteArrayView field)
{
    int value = 0;
    for (char c : field) {
        const int digit = hexDigit(c);
        if (digit < 0)
            break;
        value = value * 16 + digit;
    }
    return value;
}

int decimalReading(QByteArrayView field)
{
    int value = 0;
    for (char c : field) {
        if (c == ' ')
            continue;
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
    }
    return value;
}

int HexCodeValue(QByteArrayView field)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (field.size() != 2 || field[0] != '0')
        return kNoCode;
    for (int code = 0; code < 16; ++code) {
        if (field[1] == kDigits[code])
            return code;
    }
    return kNoCode;
}

QStringList decodePage(int page, QByteArrayView reply, DecodedRecords &records)
{
    if (!isSettingsPage(page))
        return {};
    QStringList texts;
    if (page == kCommonPage) {
        CommonSettings &c = records.common;
        c.frequency = std::int16_t(hexReading(fieldAt(reply, kFieldPositions[0])) & 1);
        c.resetModeBits = std::int16_t(hexReading(fieldAt(reply, kFieldPositions[1])) & 3);
        c.leakageContactReset = std::int16_t(hexReading(fieldAt(reply, kFieldPositions[2])) & 1);
        c.tripOnTest = std::int16_t(hexReading(fieldAt(reply, kFieldPositions[3])) & 1);
        c.selfDiagnosis = std::int16_t(hexReading(fieldAt(reply, kFieldPositions[4])) & 1);
        c.stationNumber = std::int16_t(hexReading(fieldAt(reply, kFieldPositions[5])));
        texts << textOfCode(PageKind::Common, 0, c.frequency) << resetModeText(c.resetModeBits & 2)
              << resetModeText(c.resetModeBits & 1)
              << textOfCode(PageKind::Common, 3, c.leakageContactReset)
              << textOfCode(PageKind::Common, 4, c.tripOnTest)
              << textOfCode(PageKind::Common, 5, c.selfDiagnosis)
              << textOfCode(PageKind::Common, kStationItem, c.stationNumber);
        return texts;
    }
    // Wiring and insulation delay travel as decimal, the other three as exact hex codes.
    using Reading = int (*)(QByteArrayView);
    static constexpr Reading kReadings[kCircuitItemCount] = {
        decimalReading, HexCodeValue, decimalReading, HexCodeValue, HexCodeValue};
    CircuitSettings &record = records.circuits[std::size_t(page - 1)];
    for (int k = 0; k < kCircuitItemCount; ++k)
        record.codes[std::size_t(k)] =
            std::int16_t(kReadings[k](fieldAt(reply, kFieldPositions[k])));
    for (int k = 0; k < kCircuitItemCount; ++k)
        texts << textOfCode(PageKind::Circuit, k, record.codes[std::size_t(k)]);
    return texts;
}

int reportedCode(int page, int item, QByteArrayView reply)
{
    if (!isSettingsPage(page) || item < 0 || item >= itemCount(page))
        return kNoCode;
    if (page == kCommonPage) {
        // Items 1 and 2 share the reset-mode field: item 1 is bit 1, item 2 bit 0.
        static constexpr int kField[kCommonItemCount] = {0, 1, 1, 2, 3, 4, 5};
        const int value = hexReading(fieldAt(reply, kFieldPositions[kField[item]]));
        switch (item) {
        case 1:
            return (value >> 1) & 1;
        case kStationItem:
            return value;
        default:
            return value & 1;
        }
    }
    // The codes beyond 15 that a leakage sensitivity can hold travel as hex too.
    const QByteArrayView field = fieldAt(reply, kFieldPositions[item]);
    return item == 0 || item == 2 ? decimalReading(field) : hexReading(field);
}

void DecodeReply(int page, QByteArrayView reply, DecodedRecords &records, SettingsFields &fields)
{
    const QStringList texts = decodePage(page, reply, records);
    for (int item = 0; item < texts.size(); ++item)
        fields.setPresentValue(page, item, texts[item]);
}

} // namespace veltra
