#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the system says about a serial port's device, in the forms the port listings show. Pure
// functions, so that both systems test the Windows rules too.
namespace veltra {

// A USB device's vendor and product as "0403:6001": four upper-case hex digits each.
QString usbIdText(quint16 vendorId, quint16 productId);

// "VID_xxxx&PID_xxxx" of the first Windows hardware ID that has it, as usbIdText; empty when
// none has.
QString usbIdFromHardwareIds(const QStringList &hardwareIds);

// The USB serial number in Windows device instance IDs, the port's own first and then its
// parents' ("FTDIBUS\...\0000" under "USB\VID_0403&PID_6001\A50285BI"). Windows makes up an
// instance ID with '&' in it for a device that has no serial number: that is none.
QString usbSerialNumber(const QStringList &instanceIds);

// A port on a Bluetooth link (a Windows instance ID under BTHENUM, a Linux rfcomm device):
// opening it may take seconds while the system pages the far device.
bool isBluetoothPort(const QString &instanceIdOrDevice);

// An FTDI adapter holds received bytes up to its latency timer before the PC sees them: at the
// drivers' default 16 ms, a reply comes up to 16 ms late. 1 to 4 ms is enough for 9600 baud.
inline constexpr int kLatencyTimerLimitMs = 4;

// What the operator should be told about an FTDI adapter whose latency timer is `ms`, or
// nothing when it is low enough.
std::optional<QString> latencyTimerNotice(int ms);

} // namespace veltra
