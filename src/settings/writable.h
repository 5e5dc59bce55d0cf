#pragma once

#include <QString>

#include <optional>

namespace veltra {

// Why a set value cannot be written as it stands.
enum class WriteProblem {
    NotChosen,         // "* * * *": nothing read or chosen yet
    Error,             // "ERROR": a code the relay reported that has no text
    Empty,             // an empty field
    Unknown,           // a text the relay does not know; the window sends it as "E"
    StationOutOfRange, // a station number outside 000..255, or no number at all
};

// Whether `text` can be written as item `item` of page `page`, and if not, why. Built on the
// encoder's own codes, so it says exactly what a write frame would carry.
std::optional<WriteProblem> writeProblem(int page, int item, const QString &text);

// The problems a write refused before this rule was one: "* * * *" and "ERROR" alone. A
// refusal naming only these keeps the classic message without a list.
bool alwaysRefused(WriteProblem problem);

// One problem with one set value, for the lists that name them.
struct ValueProblem
{
    int page = 0;
    int item = 0;
    QString text;
    WriteProblem problem = WriteProblem::NotChosen;

    friend bool operator==(const ValueProblem &, const ValueProblem &) = default;
};

} // namespace veltra
