#pragma once

#include <QString>

namespace veltra {

// How a set value stands against the present value beside it.
enum class FieldMark {
    None,    // nothing to say: equal, or one of the two holds no value yet
    Pending, // a write would change the relay's value
    Warning, // the value cannot be written as it stands
};

struct FieldState
{
    FieldMark mark = FieldMark::None;
    QString explanation; // for a tooltip and screen readers; empty with FieldMark::None
};

// A set value the lists know (for the station number: any whole number 0..255, which is
// how it is written).
bool isWritableValue(int page, int item, const QString &setText);

FieldState fieldState(int page, int item, const QString &presentText, const QString &setText);

// Whether two texts of an item stand for the same value ("12" and "012" are one station);
// texts without a value compare as texts.
bool sameValue(int page, int item, const QString &a, const QString &b);

} // namespace veltra
