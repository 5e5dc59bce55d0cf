#pragma once

#include <QString>

namespace veltra {

class SettingsFields;

// Only "ERROR" and "* * * *", compared whole, are invalid.
bool isValidValueText(const QString &text);

// Each sets `invalidValueFlag` to -1 on an invalid field and never resets it; pages outside
// 0..8 touch nothing.
void CopyPresentToSet(int page, SettingsFields &fields, int &invalidValueFlag);
void CheckSetValues(int page, const SettingsFields &fields, int &invalidValueFlag);
void CheckPresentValues(int page, const SettingsFields &fields, int &invalidValueFlag);

} // namespace veltra
