#include "settings/itemchange.h"

#include "settings/items.h"

namespace veltra {

int itemOfLabel(int page, const QString &label)
{
    for (int item = 0; item < itemCount(page); ++item)
        if (rowLabel(pageKind(page), item) == label)
            return item;
    return -1;
}

ItemChange ItemChange::parse(const QString &text)
{
    ItemChange change;
    const qsizetype colon = text.indexOf(u':');
    const qsizetype equals = text.indexOf(u'=', colon + 1);
    if (colon < 0 || equals < 0)
        return change;
    change.pageText = text.first(colon);
    change.label = text.sliced(colon + 1, equals - colon - 1);
    change.value = text.sliced(equals + 1);
    bool isNumber = false;
    const int page = change.pageText.toInt(&isNumber);
    change.item = isNumber ? itemOfLabel(page, change.label) : -1;
    change.page = change.item < 0 ? -1 : page;
    change.parsed = change.item < 0 ? Parsed::NoSuchItem : Parsed::Ok;
    return change;
}

} // namespace veltra
