#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include "settings/writable.h"

#include <optional>

namespace veltra {

// How a set value stands against the present value beside it.
enum class FieldMark {
    None,    // nothing to say
    Pending, // both hold real values and differ: a write would change the relay's value
    Warning, // the value cannot be written as it stands
};

// How one set value stands; the words for it are the window's (operations/messages).
struct FieldState
{
    FieldMark mark = FieldMark::None;
    std::optional<WriteProblem> problem; // with FieldMark::Warning: why

    friend bool operator==(const FieldState &, const FieldState &) = default;
};

// The marks of page 0..8's set values, by item, given its present and set texts by item.
// "* * * *" alone says nothing; it warns only on a page where another set value has been
// chosen, since a write of that page would be refused.
QList<FieldState> pageStates(int page, const QStringList &present, const QStringList &set);

// Whether two texts of an item stand for the same value ("12" and "012" are one station);
// texts without a value compare as texts.
bool sameValue(int page, int item, const QString &a, const QString &b);

} // namespace veltra

namespace veltra {

// Whether an accepted reply of page 0..8 holds `text` for the item: the code a write of `text`
// carries against the code the relay reports, both read strictly. What verify and diff go by.
bool relayHolds(int page, int item, const QString &text, QByteArrayView reply);

// Whether the relay holds `text` for the item as far as a comparison with it goes: by the
// codes that travel, or by value where the reply's code has no text of its own. What diff and a
// site's check go by.
bool relayMatches(int page, int item, const QString &text, QByteArrayView reply);

// The item's value in the reply as a write would name it: 1.5(A) where the list shows ERROR;
// "ERROR" for a code no table names or a field that cannot be read.
QString reportedText(int page, int item, QByteArrayView reply);

} // namespace veltra
