#include "pseudoterminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace veltra::sim {
namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

bool PseudoTerminal::open(QString *error)
{
    auto fail = [this, error](const char *what) {
        if (error)
            *error = systemError(what);
        close();
        return false;
    };

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    if (::fcntl(m_master, F_SETFD, FD_CLOEXEC) < 0)
        return fail("fcntl(FD_CLOEXEC)");
    if (::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK) < 0)
        return fail("fcntl(O_NONBLOCK)");
    if (::grantpt(m_master) < 0)
        return fail("grantpt");
    if (::unlockpt(m_master) < 0)
        return fail("unlockpt");
    const char *name = ::ptsname(m_master);
    if (!name)
        return fail("ptsname");
    m_slavePath = QString::fromLocal8Bit(name);

    m_heldSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_heldSlave < 0)
        return fail("open slave");

    // Raw, so the line discipline neither echoes the relay's replies back to it nor turns CR
    // into LF before the tool opens its port.
    termios tio{};
    if (::tcgetattr(m_heldSlave, &tio) < 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(m_heldSlave, TCSANOW, &tio) < 0)
        return fail("tcsetattr");
    return true;
}

void PseudoTerminal::close()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_heldSlave >= 0)
        ::close(m_heldSlave);
    m_master = -1;
    m_heldSlave = -1;
}

} // namespace veltra::sim
