#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace veltra {

class SettingsFields;

// The 17-character write frame of page 0..8 from its set values, or the clear frame for
// page 9 from the two clear options. A text outside its item's table is sent as "E".
QByteArray BuildWriteFrame(int page, const SettingsFields &fields);

// The station number as written: a whole decimal number 0..255, else nothing.
std::optional<int> stationNumberValue(const QString &text);

} // namespace veltra
