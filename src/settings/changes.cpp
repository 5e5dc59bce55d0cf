#include "settings/changes.h"

#include "settings/decode.h"
#include "settings/encode.h"
#include "settings/items.h"
#include "settings/writable.h"

#include <optional>

namespace veltra {
namespace {

std::optional<int> valueOf(int page, int item, const QString &text)
{
    return writeProblem(page, item, text) ? std::nullopt : writeCode(pageKind(page), item, text);
}

} // namespace

QList<FieldState> pageStates(int page, const QStringList &present, const QStringList &set)
{
    QList<FieldState> states;
    const int count = isSettingsPage(page) ? itemCount(page) : 0;
    if (present.size() < count || set.size() < count)
        return states;
    bool chosen = false;
    for (int item = 0; item < count; ++item)
        chosen = chosen || set[item] != notLoadedText();
    for (int item = 0; item < count; ++item) {
        const auto problem = writeProblem(page, item, set[item]);
        if (problem == WriteProblem::NotChosen && !chosen)
            states.append(FieldState{});
        else if (problem)
            states.append({FieldMark::Warning, problem});
        else if (!writeProblem(page, item, present[item]) &&
                 !sameValue(page, item, present[item], set[item]))
            states.append({FieldMark::Pending, std::nullopt});
        else
            states.append(FieldState{});
    }
    return states;
}

bool sameValue(int page, int item, const QString &a, const QString &b)
{
    if (isSettingsPage(page) && item >= 0 && item < itemCount(page)) {
        const std::optional<int> first = valueOf(page, item, a);
        const std::optional<int> second = valueOf(page, item, b);
        if (first && second)
            return *first == *second;
    }
    return a == b;
}

bool relayHolds(int page, int item, const QString &text, QByteArrayView reply)
{
    const std::optional<int> written = valueOf(page, item, text);
    const std::optional<int> reported = reportedCode(page, item, reply);
    return written && reported && *written == *reported;
}

QString reportedText(int page, int item, QByteArrayView reply)
{
    const std::optional<int> code = reportedCode(page, item, reply);
    const std::optional<QString> text =
        code ? writeText(pageKind(page), item, *code) : std::nullopt;
    return text.value_or(errorText());
}

bool relayMatches(int page, int item, const QString &text, QByteArrayView reply)
{
    return relayHolds(page, item, text, reply) ||
           sameValue(page, item, text, reportedText(page, item, reply));
}

} // namespace veltra
