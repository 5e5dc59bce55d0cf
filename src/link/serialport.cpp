#include "link/serialport.h"

#include <algorithm>

#ifdef Q_OS_WIN
#include "link/winportlist.h"
#endif

namespace veltra {

Q_LOGGING_CATEGORY(lcLink, "veltra.link", QtInfoMsg)

void SerialPort::beginOpen()
{
    const bool opened = open();
    QMetaObject::invokeMethod(
        this, [this, opened] { emit openFinished(opened); }, Qt::QueuedConnection);
}

namespace {

// ASCII digits only: other scripts' digits are no port number, and NFKC has made full-width
// ones ASCII already.
bool allDigits(QStringView text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

std::optional<int> portNumber(QStringView digits)
{
    if (!allDigits(digits) || digits.size() > 6)
        return std::nullopt;
    const int number = digits.toInt();
    return number >= 1 ? std::optional(number) : std::nullopt;
}

QString normalisedFieldText(const QString &text)
{
    // NFKC first: it turns an ideographic space into a plain one, which trimming then drops.
    return text.normalized(QString::NormalizationForm_KC).trimmed();
}

// A name that "\\.\" can be put in front of without reaching anything but a device: no
// folder, drive or pipe.
bool isPlainDeviceName(QStringView name)
{
    return !name.isEmpty() && std::none_of(name.begin(), name.end(), [](QChar c) {
        return c == u'\\' || c == u'/' || c == u':' || c.category() == QChar::Other_Control;
    });
}

} // namespace

std::optional<QString> windowsPortName(const QString &fieldText, const QStringList &listedNames)
{
    const QString text = normalisedFieldText(fieldText);
    if (const std::optional<int> number = portNumber(text))
        return QStringLiteral("COM%1").arg(*number);
    QStringView name = text;
    if (name.startsWith(QLatin1String("\\\\.\\")))
        name = name.sliced(4);
    if (name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        if (const std::optional<int> number = portNumber(name.sliced(3)))
            return QStringLiteral("COM%1").arg(*number);
    }
    for (const QString &listed : listedNames) {
        if (isPlainDeviceName(listed) && name.compare(listed, Qt::CaseInsensitive) == 0)
            return listed;
    }
    return std::nullopt;
}

std::optional<QString> systemPortName(const QString &fieldText)
{
#ifdef Q_OS_WIN
    return windowsPortName(fieldText, listedSerialPorts());
#else
    const QString text = normalisedFieldText(fieldText);
    if (text.isEmpty())
        return std::nullopt;
    if (allDigits(text)) {
        const std::optional<int> number = portNumber(text);
        if (!number)
            return std::nullopt;
        return QStringLiteral("/dev/ttyS%1").arg(*number - 1);
    }
    return text;
#endif
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
