#pragma once

#include <QStringList>

#include <optional>

namespace veltra {

// The names under HARDWARE\DEVICEMAP\SERIALCOMM: every serial port the system has a device
// for, whatever its driver.
QStringList listedSerialPorts();

// The latency timer of the FTDI adapter behind `portName`, as its driver keeps it; nothing for
// any other port.
std::optional<int> ftdiLatencyTimerMs(const QString &portName);

} // namespace veltra
