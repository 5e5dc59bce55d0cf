#pragma once

#include <QStringList>

namespace veltra {

// The names under HARDWARE\DEVICEMAP\SERIALCOMM: every serial port the system has a device
// for, whatever its driver.
QStringList listedSerialPorts();

} // namespace veltra
