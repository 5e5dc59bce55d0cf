#include "link/serialport.h"

#include <algorithm>

namespace veltra {

std::optional<QString> systemPortName(const QString &fieldText)
{
    if (fieldText.isEmpty())
        return std::nullopt;
    bool isNumber = false;
    const int number = fieldText.toInt(&isNumber, 10);
    const bool plainDigits =
        std::all_of(fieldText.begin(), fieldText.end(), [](QChar c) { return c.isDigit(); });
    if (isNumber && plainDigits) {
        if (number < 1)
            return std::nullopt;
#ifdef Q_OS_WIN
        return QStringLiteral("COM%1").arg(number);
#else
        return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
    }
    return fieldText;
}

bool portNameLess(const QString &a, const QString &b)
{
    // The trailing number counts as a number, the rest as text.
    auto split = [](const QString &name) {
        qsizetype digits = name.size();
        while (digits > 0 && name[digits - 1].isDigit())
            --digits;
        return std::pair(name.first(digits), name.sliced(digits));
    };
    const auto [stemA, numberA] = split(a);
    const auto [stemB, numberB] = split(b);
    if (stemA != stemB)
        return stemA < stemB;
    if (numberA.size() != numberB.size())
        return numberA.size() < numberB.size();
    return numberA < numberB;
}

} // namespace veltra
