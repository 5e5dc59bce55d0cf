#include "settings/validation.h"

#include "settings/items.h"
#include "settings/settingsfields.h"

namespace veltra {

bool isValidValueText(const QString &text)
{
    return text != errorText() && text != notLoadedText();
}

void CopyPresentToSet(int page, SettingsFields &fields, int &invalidValueFlag)
{
    // An invalid item never stops the others from being copied.
    for (int item = 0; item < itemCount(page); ++item) {
        const QString text = fields.presentValue(page, item);
        if (isValidValueText(text))
            fields.setSetValue(page, item, text);
        else
            invalidValueFlag = -1;
    }
}

void CheckSetValues(int page, const SettingsFields &fields, int &invalidValueFlag)
{
    for (int item = 0; item < itemCount(page); ++item) {
        if (!isValidValueText(fields.setValue(page, item)))
            invalidValueFlag = -1;
    }
}

void CheckPresentValues(int page, const SettingsFields &fields, int &invalidValueFlag)
{
    for (int item = 0; item < itemCount(page); ++item) {
        if (!isValidValueText(fields.presentValue(page, item)))
            invalidValueFlag = -1;
    }
}

} // namespace veltra
