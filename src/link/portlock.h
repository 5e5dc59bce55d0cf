#pragma once

#include <QString>

namespace veltra {

// One command at a time on a port, across processes: two tools that each open the port only for
// one transaction would otherwise interleave their frames between each other's, and a relay
// would hold half of one file and half of the other. An advisory lock file on Linux (released by
// the system when the process ends, however it ends), a named mutex on Windows, keyed by the
// port's canonical name.
class PortLock
{
public:
    PortLock() = default;
    ~PortLock();
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    // The name every process gives one port: a device by the path its links lead to, COMn in
    // upper case, a device server by host and port whatever the scheme.
    static QString canonicalName(const QString &device);

    // Takes the port's lock without waiting; false when another holder has it. A lock that
    // cannot be made at all (no folder to put it in) is not held, and the port is used anyway:
    // the lock guards against a second tool, it must not stop the only one.
    bool tryLock(const QString &device);
    void unlock();
    // Why a port another command holds cannot be used, as a refusal is told.
    static QString heldElsewhere()
    {
        return QStringLiteral("in use by another command of this tool");
    }

    // The canonical name of the port held; empty when none.
    const QString &name() const { return m_name; }

private:
    QString m_name;
#ifdef Q_OS_WIN
    void *m_mutex = nullptr;
#else
    int m_fd = -1;
#endif
};

} // namespace veltra
