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

} // namespace veltra
