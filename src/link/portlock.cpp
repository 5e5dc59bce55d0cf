#include "link/portlock.h"

#include "link/serialport.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace veltra {

PortLock::~PortLock()
{
    unlock();
}

QString PortLock::canonicalName(const QString &device)
{
    if (const std::optional<NetworkAddress> address = networkAddress(device))
        return QStringLiteral("net:%1:%2").arg(address->host.toLower()).arg(address->port);
#ifdef Q_OS_WIN
    QString name = device.toUpper();
    if (name.startsWith(QLatin1String("\\\\.\\")))
        name = name.sliced(4);
    return name;
#else
    const QString resolved = QFileInfo(device).canonicalFilePath();
    return resolved.isEmpty() ? device : resolved;
#endif
}

#ifdef Q_OS_WIN

bool PortLock::tryLock(const QString &device)
{
    const QString name = canonicalName(device);
    if (m_mutex && name == m_name)
        return true;
    unlock();
    const QString mutexName =
        QStringLiteral("Local\\veltra-port-") + QString::fromLatin1(QUrl::toPercentEncoding(name));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(mutexName.utf16()));
    if (!mutex)
        return true;
    const DWORD waited = WaitForSingleObject(mutex, 0);
    // An abandoned mutex was held by a process that ended: the port is free now.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return false;
    }
    m_mutex = mutex;
    m_name = name;
    return true;
}

void PortLock::unlock()
{
    if (m_mutex) {
        ReleaseMutex(static_cast<HANDLE>(m_mutex));
        CloseHandle(static_cast<HANDLE>(m_mutex));
        m_mutex = nullptr;
    }
    m_name.clear();
}

#else

namespace {

// Shared by every user's processes: /run/lock where the system has it, else the temp folder.
QString lockFolder()
{
    static const QString folder =
        ::access("/run/lock", W_OK | X_OK) == 0 ? QStringLiteral("/run/lock") : QDir::tempPath();
    return folder;
}

} // namespace

bool PortLock::tryLock(const QString &device)
{
    const QString name = canonicalName(device);
    if (m_fd >= 0 && name == m_name)
        return true;
    unlock();
    const QByteArray path =
        QFile::encodeName(lockFolder()) + "/veltra-port-" + QUrl::toPercentEncoding(name) + ".lock";
    // Never through a link another user left in a shared folder.
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
    if (fd < 0 && errno == EACCES) // another user's lock file: locking needs no write access
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) {
        qCWarning(lcLink) << "no lock for" << name << "at" << path << ::strerror(errno);
        return true;
    }
    (void)::fchmod(fd, 0666); // so that another user's tool can take it too
    int locked = -1;
    do
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_name = name;
    return true;
}

void PortLock::unlock()
{
    // The file stays: removing it would let a third process lock a new file of the same name
    // while a second still waits on the old one.
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_name.clear();
}

#endif

} // namespace veltra
