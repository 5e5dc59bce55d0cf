#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace veltra {

// Shift-JIS (code page 932), the settings file's encoding. Encoding fails, rather than
// substituting, for any text the code page cannot hold exactly.
std::optional<QByteArray> encodeShiftJis(const QString &text);
// Never fails: bytes that are no Shift-JIS character decode to U+FFFD.
QString decodeShiftJis(QByteArrayView bytes);

} // namespace veltra
