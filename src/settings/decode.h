#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

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

// The three readings of a two-character data field.
int hexReading(QByteArrayView field);
int decimalReading(QByteArrayView field);
int HexCodeValue(QByteArrayView field); // exact "00".."0F", else 21

// The code the relay reports for item `item` of page 0..8 in an accepted reply, read as the
// relay encodes it (hex or decimal, the common page's bits as decoding reads them), also where
// no text has that code: what a written code is compared with.
int reportedCode(int page, int item, QByteArrayView reply);

// The texts that page 0..8's present-value fields get from an accepted reply; empty for
// any other page. Updates the page's record.
QStringList decodePage(int page, QByteArrayView reply, DecodedRecords &records);

// Writes the decoded texts into the page's present-value fields.
void DecodeReply(int page, QByteArrayView reply, DecodedRecords &records, SettingsFields &fields);

} // namespace veltra
