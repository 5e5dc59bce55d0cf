#pragma once

#include "settings/items.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace veltra {

class SettingsFields;

// The code a write frame carries for `text` as item `item`: its position in the item's write
// table (which for the leakage sensitivity goes on to 2.0(A)), the station number's value, or
// nothing for a text the relay does not know (sent as "E").
std::optional<int> writeCode(PageKind kind, int item, const QString &text);
// The text whose write code is `code`: what the relay holds, in the words a write would use,
// also beyond the list (1.5(A)); nothing for a code no table names.
std::optional<QString> writeText(PageKind kind, int item, int code);

// The nine data characters of page 0..8 from its set values, or of the clear frame for page 9
// from the two clear options; empty for any other page.
QByteArray writeData(int page, const SettingsFields &fields);

// The 17-character write frame of page 0..8 from its set values, or the clear frame for
// page 9 from the two clear options. A text outside its item's table is sent as "E".
QByteArray BuildWriteFrame(int page, const SettingsFields &fields);

} // namespace veltra
