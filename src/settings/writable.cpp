#include "settings/writable.h"

#include "settings/encode.h"
#include "settings/items.h"

namespace veltra {

std::optional<WriteProblem> writeProblem(int page, int item, const QString &text)
{
    if (text == notLoadedText())
        return WriteProblem::NotChosen;
    if (text == errorText())
        return WriteProblem::Error;
    const bool station = page == kCommonPage && item == kStationItem;
    if (!isSettingsPage(page) || item < 0 || item >= itemCount(page))
        return WriteProblem::Unknown;
    if (writeCode(pageKind(page), item, text))
        return std::nullopt;
    if (station)
        return WriteProblem::StationOutOfRange;
    return text.isEmpty() ? WriteProblem::Empty : WriteProblem::Unknown;
}

bool alwaysRefused(WriteProblem problem)
{
    return problem == WriteProblem::NotChosen || problem == WriteProblem::Error;
}

} // namespace veltra
