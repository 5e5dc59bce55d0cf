#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace veltra {

class SettingsFields;

// What the relay last reported, as codes.
struct CommonSettings
{
    std::int16_t frequency = 0;
    std::int16_t resetModeBits = 0; // bit 1: item 1, bit 0: item 2
    std::int16_t leakageContactReset = 0;
    std::int16_t tripOnTest = 0;
    std::int16_t selfDiagnosis = 0;
    std::int16_t stationNumber = 0;
};

struct CircuitSettings
{
    std::array<std::int16_t, 5> codes{};
};

struct DecodedRecords
{
    CommonSettings common;
    std::array<CircuitSettings, 8> circuits{};
};

// How the relay writes a two-character data field.
enum class FieldReading { Hex, Decimal };

// The one reading of a data field, for decoding, verify, diff and the relay search alike: two
// upper-case hex digits, or two decimal digits. Nothing for any other text (a lower-case digit,
// a blank, a field cut short), so that a field nobody can read is never taken for a value.
std::optional<int> readField(QByteArrayView field, FieldReading reading);

// The code lookup of the circuit pages: exactly "00".."0F" gives 0..15, anything else 21.
int HexCodeValue(QByteArrayView field);

// Kept in a record for a field that cannot be read.
inline constexpr std::int16_t kUnreadableField = -1;

// The code the relay reports for item `item` of page 0..8 in an accepted reply, read as the
// relay encodes it (hex or decimal, the common page's bits as decoding reads them), also where
// no text has that code: what a written code is compared with. Nothing when the field cannot
// be read.
std::optional<int> reportedCode(int page, int item, QByteArrayView reply);

// The texts that page 0..8's present-value fields get from an accepted reply; empty for
// any other page. Updates the page's record.
QStringList decodePage(int page, QByteArrayView reply, DecodedRecords &records);

// Writes the decoded texts into the page's present-value fields.
void DecodeReply(int page, QByteArrayView reply, DecodedRecords &records, SettingsFields &fields);

} // namespace veltra
