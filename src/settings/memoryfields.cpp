#include "settings/memoryfields.h"

namespace veltra {

MemoryFields::MemoryFields()
{
    for (int page = 0; page < kPageCount; ++page) {
        m_present << QStringList(itemCount(page), notLoadedText());
        m_set << QStringList(itemCount(page), notLoadedText());
    }
}

QString MemoryFields::presentValue(int page, int item) const
{
    return m_present.value(page).value(item);
}

void MemoryFields::setPresentValue(int page, int item, const QString &text)
{
    if (page >= 0 && page < kPageCount && item >= 0 && item < itemCount(page))
        m_present[page][item] = text;
}

QString MemoryFields::setValue(int page, int item) const
{
    return m_set.value(page).value(item);
}

void MemoryFields::setSetValue(int page, int item, const QString &text)
{
    if (page >= 0 && page < kPageCount && item >= 0 && item < itemCount(page))
        m_set[page][item] = text;
}

bool MemoryFields::clearOptionSelected(int index) const
{
    return index >= 0 && index < 2 && m_clear[index];
}

void MemoryFields::setClearOptions(bool operationValues, bool maximumValues)
{
    m_clear[0] = operationValues;
    m_clear[1] = maximumValues;
}

} // namespace veltra
