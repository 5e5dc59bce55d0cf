#include "file/wholefile.h"

#include <QSaveFile>

namespace veltra {

bool saveWholeFile(const QString &path, QByteArrayView bytes)
{
    // Written beside the target and renamed over it. QSaveFile buffers: a full medium shows
    // only when the buffer is flushed, and commit() would still rename the short file over the
    // old one, so the flush is checked here and any error cancels the save.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes.data(), bytes.size()) != bytes.size() || !file.flush() ||
        file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace veltra
