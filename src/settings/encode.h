#pragma once

#include <QByteArray>
#include <QString>

namespace veltra {

class SettingsFields;

// The 17-character write frame of page 0..8 from its set values, or the clear frame for
// page 9 from the two clear options. A text outside its item's table is sent as "E".
QByteArray BuildWriteFrame(int page, const SettingsFields &fields);

} // namespace veltra
