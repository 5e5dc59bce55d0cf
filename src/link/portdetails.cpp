#include "link/portdetails.h"

#include <QRegularExpression>

namespace veltra {

QString usbIdText(quint16 vendorId, quint16 productId)
{
    return QStringLiteral("%1:%2")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'))
        .toUpper();
}

QString usbIdFromHardwareIds(const QStringList &hardwareIds)
{
    const QRegularExpression pattern(QStringLiteral("VID_([0-9A-F]{4})&PID_([0-9A-F]{4})"),
                                     QRegularExpression::CaseInsensitiveOption);
    for (const QString &id : hardwareIds) {
        const QRegularExpressionMatch match = pattern.match(id);
        if (match.hasMatch())
            return usbIdText(match.captured(1).toUShort(nullptr, 16),
                             match.captured(2).toUShort(nullptr, 16));
    }
    return {};
}

QString usbSerialNumber(const QStringList &instanceIds)
{
    // ENUMERATOR\DEVICE\INSTANCE. A composite device's interface (&MI_nn) has the serial number
    // on its parent; a port driver's own bus (FTDIBUS) on its USB parent.
    for (const QString &id : instanceIds) {
        const QStringList parts = id.split(u'\\');
        if (parts.size() != 3 || parts[0].compare(QLatin1String("USB"), Qt::CaseInsensitive) != 0)
            continue;
        if (parts[1].contains(QLatin1String("&MI_"), Qt::CaseInsensitive))
            continue;
        return parts[2].contains(u'&') ? QString() : parts[2];
    }
    return {};
}

bool isBluetoothPort(const QString &instanceIdOrDevice)
{
    return instanceIdOrDevice.startsWith(QLatin1String("BTHENUM\\"), Qt::CaseInsensitive) ||
           instanceIdOrDevice.startsWith(QLatin1String("/dev/rfcomm"));
}

std::optional<LineNotice> latencyTimerNotice(const QString &port, int ms)
{
    if (ms <= kLatencyTimerLimitMs)
        return std::nullopt;
    return LineNotice{LineNotice::Kind::SlowLatencyTimer, port, ms};
}

} // namespace veltra
