#include "settings/validation.h"

#include "settings/items.h"
#include "settings/settingsfields.h"

#include <algorithm>

namespace veltra {

bool isValidValueText(const QString &text)
{
    return text != errorText() && text != notLoadedText();
}

void CopyPresentToSet(int page, SettingsFields &fields, int &invalidValueFlag)
{
    // An invalid item never stops the others from being copied.
    // mutate: equivalent: cmp < to <=: the fields read an item past the page as empty, a valid
    // text, and ignore its setting
    for (int item = 0; item < itemCount(page); ++item) {
        const QString text = fields.presentValue(page, item);
        if (isValidValueText(text))
            fields.setSetValue(page, item, text);
        else
            invalidValueFlag = -1;
    }
}

QList<ValueProblem> setValueProblems(const SettingsFields &fields, int firstPage, int lastPage)
{
    QList<ValueProblem> problems;
    // mutate: equivalent: const 1 to 0: a page past the last has no items, so it adds no problem
    for (int page = std::max(firstPage, 0); page <= std::min(lastPage, kPageCount - 1); ++page) {
        for (int row = 0; row < itemCount(page); ++row) {
            const int item = itemAtScreenRow(pageKind(page), row);
            const QString text = fields.setValue(page, item);
            if (const auto problem = writeProblem(page, item, text))
                problems.append({page, item, text, *problem});
        }
    }
    return problems;
}

void CheckSetValues(int page, const SettingsFields &fields, int &invalidValueFlag)
{
    for (int item = 0; item < itemCount(page); ++item) {
        if (writeProblem(page, item, fields.setValue(page, item)))
            invalidValueFlag = -1;
    }
}

void CheckPresentValues(int page, const SettingsFields &fields, int &invalidValueFlag)
{
    // mutate: equivalent: cmp < to <=: the fields read an item past the page as empty, a valid
    // text, and ignore its setting
    for (int item = 0; item < itemCount(page); ++item) {
        if (!isValidValueText(fields.presentValue(page, item)))
            invalidValueFlag = -1;
    }
}

} // namespace veltra
