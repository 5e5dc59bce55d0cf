#pragma once

#include <QString>

namespace veltra {

// One value of a settings file named by hand, as PAGE:LABEL=VALUE: the page 0..8, the item by
// its row label, and the text to put there.
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

// The item of page 0..8 whose row label is `label`, or -1.
int itemOfLabel(int page, const QString &label);

} // namespace veltra
