#pragma once

#include "settings/writable.h"

#include <QList>
#include <QString>

namespace veltra {

class SettingsFields;

// A present value is invalid for copying and saving when it is "ERROR" or "* * * *",
// compared whole.
bool isValidValueText(const QString &text);

// Every set value of pages first..last that cannot be written, in page and screen order.
QList<ValueProblem> setValueProblems(const SettingsFields &fields, int firstPage, int lastPage);

// Each sets `invalidValueFlag` to -1 on an invalid field and never resets it; pages outside
// 0..8 touch nothing. A set value is invalid when it cannot be written as it stands
// (settings/writable.h).
void CopyPresentToSet(int page, SettingsFields &fields, int &invalidValueFlag);
void CheckSetValues(int page, const SettingsFields &fields, int &invalidValueFlag);
void CheckPresentValues(int page, const SettingsFields &fields, int &invalidValueFlag);

} // namespace veltra
