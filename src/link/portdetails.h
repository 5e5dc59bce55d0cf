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

// Something about a line the operator should know that is no failure. Its words are in the
// outcome table's neighbourhood (messages::lineNotice), with every other text the user reads.
struct LineNotice
{
    enum class Kind {
        EightBitsUnderWine, // Wine cannot set 7E1 on this COM port: it runs 8N1
        SlowLatencyTimer,   // a USB adapter holds received bytes longer than 9600 baud needs
    };
    Kind kind;
    QString port;           // the line it is about; empty in a listing of every port
    int latencyTimerMs = 0; // SlowLatencyTimer's timer
};

// What the operator should be told about an FTDI adapter whose latency timer is `ms` on `port`,
// or nothing when it is low enough.
std::optional<LineNotice> latencyTimerNotice(const QString &port, int ms);

} // namespace veltra
