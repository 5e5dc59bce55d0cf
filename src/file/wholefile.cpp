#include "file/wholefile.h"

#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QSaveFile>
#else
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace veltra {

#ifdef Q_OS_WIN

FileProblem checkSaveTarget(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return FileProblem::None;
    if (!info.isFile())
        return FileProblem::NotRegular;
    return info.isWritable() ? FileProblem::None : FileProblem::ReadOnly;
}

FileProblem saveWholeFile(const QString &path, QByteArrayView bytes)
{
    if (const FileProblem problem = checkSaveTarget(path); problem != FileProblem::None)
        return problem;
    // Written beside the target and renamed over it. QSaveFile buffers: a full medium shows
    // only when the buffer is flushed, and commit() would still rename the short file over the
    // old one, so the flush is checked here and any error cancels the save.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return FileProblem::Unusable;
    if (file.write(bytes.data(), bytes.size()) != bytes.size() || !file.flush() ||
        file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return FileProblem::Unusable;
    }
    return file.commit() ? FileProblem::None : FileProblem::Unusable;
}

#else

namespace {

struct Target
{
    FileProblem problem = FileProblem::None;
    bool exists = false;
    struct stat info = {};
    QByteArray path; // where the bytes go: a link's own target, so that the link stays
};

bool folderExists(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder =
        slash < 0 ? QByteArray(".") : path.first(std::max<qsizetype>(slash, 1));
    struct stat info = {};
    return ::stat(folder.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

Target findTarget(const QString &path)
{
    Target target;
    const QByteArray name = encodeFileName(path);
    if (::stat(name.constData(), &target.info) != 0) {
        const bool missing = errno == ENOENT;
        struct stat link = {};
        if (!missing)
            target.problem = FileProblem::Unusable;
        else if (::lstat(name.constData(), &link) == 0) // a link that leads nowhere
            target.problem = FileProblem::NotRegular;
        else if (!folderExists(name))
            target.problem = FileProblem::Unusable;
        target.path = name;
        return target;
    }
    target.exists = true;
    if (!S_ISREG(target.info.st_mode))
        target.problem = FileProblem::NotRegular;
    else if ((target.info.st_mode & 0222) == 0 || ::access(name.constData(), W_OK) != 0)
        target.problem = FileProblem::ReadOnly;
    char resolved[PATH_MAX];
    target.path = ::realpath(name.constData(), resolved) ? QByteArray(resolved) : name;
    return target;
}

bool writeAll(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

mode_t creationMode()
{
    // The mode a new file gets from the user's umask, as any editor's would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

FileProblem checkSaveTarget(const QString &path)
{
    return findTarget(path).problem;
}

FileProblem saveWholeFile(const QString &path, QByteArrayView bytes)
{
    const Target target = findTarget(path);
    if (target.problem != FileProblem::None)
        return target.problem;
    // Written beside the target and renamed over it only once every byte is on the medium: a
    // full disk, a size limit or a lost medium leaves the old file as it was.
    const qsizetype slash = target.path.lastIndexOf('/');
    const QByteArray folder =
        slash < 0 ? QByteArray(".") : target.path.first(std::max<qsizetype>(slash, 1));
    const QByteArray base = target.path.sliced(slash + 1);
    QByteArray temporary = folder + "/." + base + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return FileProblem::Unusable;
    bool ok = ::fchmod(fd, target.exists ? target.info.st_mode & 07777 : creationMode()) == 0;
    // Root replacing someone's file gives it back to them.
    if (ok && target.exists && ::geteuid() == 0)
        ok = ::fchown(fd, target.info.st_uid, target.info.st_gid) == 0;
    ok = ok && writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), target.path.constData()) == 0;
    if (!ok) {
        ::unlink(temporary.constData());
        return FileProblem::Unusable;
    }
    return FileProblem::None;
}

#endif

} // namespace veltra
