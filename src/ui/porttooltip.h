#pragma once

#include "link/serialport.h"

#include <QList>
#include <QString>

namespace veltra {

// The port field's tooltip: what the field is for, what its text opens now, and the serial
// ports the system has, with their descriptions.
QString portFieldToolTip(const QString &fieldText, const QList<PresentPort> &ports);

} // namespace veltra
