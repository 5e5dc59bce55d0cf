#include "link/serialport.h"

#include "link/networkport.h"

#include <QRegularExpression>

#include <algorithm>

#ifdef Q_OS_WIN
#include "link/winportlist.h"
#endif

namespace veltra {

Q_LOGGING_CATEGORY(lcLink, "veltra.link", QtInfoMsg)

namespace {

// Picks the backend by the name it is given, and passes everything on to it; the link never
// knows which one serves it.
class PortByName final : public SerialPort
{
public:
    explicit PortByName(QObject *parent) : SerialPort(parent)
    {
        m_device = createDeviceSerialPort(this);
        forward(m_device);
        m_active = m_device;
    }

    void setPortName(const QString &systemName) override
    {
        if (networkAddress(systemName)) {
            if (!m_network) {
                m_network = new NetworkPort(this);
                forward(m_network);
            }
            m_active = m_network;
        } else {
            m_active = m_device;
        }
        m_active->setPortName(systemName);
    }
    void setLineSettings() override { m_active->setLineSettings(); }
    bool open() override { return m_active->open(); }
    void beginOpen() override { m_active->beginOpen(); }
    bool isOpen() const override { return m_active->isOpen(); }
    void close() override { m_active->close(); }
    void write(QByteArrayView bytes) override { m_active->write(bytes); }
    bool writeAndDrain(QByteArrayView bytes) override { return m_active->writeAndDrain(bytes); }
    QByteArray takeReceived() override { return m_active->takeReceived(); }
    void discardInput() override { m_active->discardInput(); }
    std::optional<LineSettings> lineSettings() const override { return m_active->lineSettings(); }

private:
    void forward(SerialPort *line)
    {
        connect(line, &SerialPort::openFinished, this, &SerialPort::openFinished);
        connect(line, &SerialPort::bytesArrived, this, &SerialPort::bytesArrived);
        connect(line, &SerialPort::lineLost, this, &SerialPort::lineLost);
        connect(line, &SerialPort::refused, this, &SerialPort::refused);
        connect(line, &SerialPort::receiveError, this, &SerialPort::receiveError);
        connect(line, &SerialPort::notice, this, &SerialPort::notice);
    }

    SerialPort *m_device = nullptr;
    SerialPort *m_network = nullptr;
    SerialPort *m_active = nullptr;
};

} // namespace

SerialPort *createSerialPort(QObject *parent)
{
    return new PortByName(parent);
}

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

std::optional<NetworkAddress> networkAddress(QStringView name)
{
    // Only a host and a port: no user, path, query or fragment.
    static const QRegularExpression kAddress(
        QStringLiteral(
            R"(^(socket|rfc2217)://(\[([0-9A-Fa-f:.]+)\]|([A-Za-z0-9._-]+)):([0-9]{1,5})$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = kAddress.match(name.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const int port = match.captured(5).toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    NetworkAddress address;
    address.kind = match.captured(1).compare(QLatin1String("socket"), Qt::CaseInsensitive) == 0
                       ? NetworkAddress::Kind::Raw
                       : NetworkAddress::Kind::Rfc2217;
    address.host = match.hasCaptured(3) ? match.captured(3) : match.captured(4);
    address.port = quint16(port);
    return address;
}

std::optional<QString> systemPortName(const QString &fieldText)
{
    if (fieldText.contains(QLatin1String("://"))) {
        const std::optional<NetworkAddress> address =
            networkAddress(normalisedFieldText(fieldText));
        if (!address)
            return std::nullopt;
        const bool bracketed = address->host.contains(u':');
        return QStringLiteral("%1://%2%3%4:%5")
            .arg(address->kind == NetworkAddress::Kind::Raw ? u"socket" : u"rfc2217",
                 bracketed ? u"[" : u"", address->host, bracketed ? u"]" : u"")
            .arg(address->port);
    }
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
