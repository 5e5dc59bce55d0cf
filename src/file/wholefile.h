#pragma once

#include "file/filenames.h"

#include <QByteArrayView>
#include <QString>

namespace veltra {

// The one rule for every file the tool writes: the target is a regular file or does not exist,
// and it is not read-only. Read-only holds even for root, whom the system would let write it:
// a file someone marked read-only is one they meant to keep. FileProblem::None when it may be
// written.
[[nodiscard]] FileProblem checkSaveTarget(const QString &path);

// Writes `bytes` as the file `path`, whole or not at all, by that rule: FileProblem::None only
// when every byte reached the file and it replaced the old one, which keeps its permissions. On
// any failure (a full medium, a missing folder, a device, a folder or a read-only file of that
// name) the old file stays byte for byte, and nothing else is left behind.
[[nodiscard]] FileProblem saveWholeFile(const QString &path, QByteArrayView bytes);

} // namespace veltra
