#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace veltra {

// A value by page and item: the present or the set values, from the window or a file.
using ValueAt = std::function<QString(int page, int item)>;

// The text the fingerprint is taken over, or nothing when a page holds a value that cannot
// be written (not read, "ERROR", a text the relay does not know). Nine lines, one per page
// in order: the page number, ':', then each item's write code as two upper-case hex digits
// in item order, the station number left out, and LF. Commissioning records quote
// fingerprints, so this form never changes.
std::optional<QByteArray> fingerprintText(const ValueAt &value);

// The first eight hex digits (upper case) of the SHA-256 of fingerprintText: equal for every
// relay set from one file, whatever its station number.
std::optional<QString> fingerprint(const ValueAt &value);

// As shown: the fingerprint, or "—" where there is none.
QString shownFingerprint(const std::optional<QString> &fingerprint);

} // namespace veltra
