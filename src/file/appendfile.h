#pragma once

#include "file/filenames.h"

#include <QByteArrayView>
#include <QString>

#include <memory>

namespace veltra {

// A file that only grows, each piece handed to the system as it is written, so that a process
// killed a moment later leaves everything written before: the command line's frame log. It
// opens by the rule every saved file follows (a regular file or none, never read-only).
class AppendFile
{
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;

    // Opens `path` for appending, creating it when missing; FileProblem::None when it did.
    [[nodiscard]] FileProblem open(const QString &path);
    // False when the bytes did not all reach the file (a full medium); later appends still try.
    bool append(QByteArrayView bytes);
    bool isOpen() const;

private:
#ifdef Q_OS_WIN
    std::unique_ptr<class QFile> m_file;
#else
    int m_fd = -1;
#endif
};

} // namespace veltra
