#pragma once

#include <QString>

namespace veltra {

// One value of a settings file named by hand, as PAGE:LABEL=VALUE: the page 0..8, the item by
// its row label, its short name in a settings file's heading ("絶縁感度") or its row on the
// page counted from 1 as the window shows it, and the text to put there.
struct ItemChange
{
    enum class Parsed {
        Ok,
        NotAChange, // no PAGE:LABEL=VALUE at all
        NoSuchItem, // a page or a label the relay does not have
    };

    Parsed parsed = Parsed::NotAChange;
    QString pageText; // as written
    QString label;
    QString value;
    int page = -1;
    int item = -1;

    static ItemChange parse(const QString &text);
};

// The item of page 0..8 that `label` names in any of those three ways, or -1.
int itemOfLabel(int page, const QString &label);

// What the item takes, short: "30(mA)…100(mA), 5 刻み, ﾛｯｸ"; every value where the list has
// no even steps.
QString permittedValues(int page, int item);

} // namespace veltra
