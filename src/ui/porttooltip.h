#pragma once

#include "link/serialport.h"

#include <QList>
#include <QString>

namespace veltra {

// The port field's tooltip: what the field is for, what its text opens now, and the serial
// ports the system has, each with what the system knows of it (description, manufacturer, USB
// VID:PID, serial number) and an FTDI adapter's latency timer where it slows replies.
QString portFieldToolTip(const QString &fieldText, const QList<PresentPort> &ports);

} // namespace veltra
