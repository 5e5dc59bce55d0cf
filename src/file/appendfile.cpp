#include "file/appendfile.h"

#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace veltra {

#ifdef Q_OS_WIN

AppendFile::~AppendFile() = default;

FileProblem AppendFile::open(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return FileProblem::NotRegular;
    if (info.exists() && !info.isWritable())
        return FileProblem::ReadOnly;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return FileProblem::Unusable;
    m_file = std::move(file);
    return FileProblem::None;
}

bool AppendFile::append(QByteArrayView bytes)
{
    return m_file && m_file->write(bytes.data(), bytes.size()) == bytes.size() && m_file->flush();
}

bool AppendFile::isOpen() const
{
    return m_file != nullptr;
}

#else

AppendFile::~AppendFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FileProblem AppendFile::open(const QString &path)
{
    // Non-blocking, so that a FIFO never holds the command up; the descriptor itself then says
    // what was opened, and anything but a regular file is closed unwritten.
    int fd = -1;
    do
        fd = ::open(encodeFileName(path).constData(),
                    O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno == EISDIR || errno == ENXIO ? FileProblem::NotRegular : FileProblem::Unusable;
    struct stat info = {};
    FileProblem problem = FileProblem::None;
    if (::fstat(fd, &info) != 0)
        problem = FileProblem::Unusable;
    else if (!S_ISREG(info.st_mode))
        problem = FileProblem::NotRegular;
    else if ((info.st_mode & 0222) == 0)
        problem = FileProblem::ReadOnly;
    if (problem != FileProblem::None) {
        ::close(fd);
        return problem;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_fd = fd;
    return FileProblem::None;
}

bool AppendFile::append(QByteArrayView bytes)
{
    if (m_fd < 0)
        return false;
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(m_fd, bytes.data(), size_t(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

bool AppendFile::isOpen() const
{
    return m_fd >= 0;
}

#endif

} // namespace veltra
