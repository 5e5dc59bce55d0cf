#pragma once

#include <QByteArrayView>
#include <QString>

namespace veltra {

// Writes `bytes` as the file `path`, whole or not at all: true only when every byte reached
// the file and it replaced the old one; on any failure (a full medium, a missing folder, a
// folder or a read-only file of that name) the old file stays byte for byte.
bool saveWholeFile(const QString &path, QByteArrayView bytes);

} // namespace veltra
