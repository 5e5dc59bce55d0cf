#include "ser2net.h"

#include <algorithm>

#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QThread>

namespace veltra::test {

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

namespace {

// Generous: a loaded machine may take seconds to start a process.
constexpr int kStartLimitMs = 30000;
constexpr int kListenLimitMs = 10000;
constexpr int kAttempts = 3;

// A port for the server below the system's range for outgoing connections: a port from that
// range may become a client's own port between our look and the server's bind.
quint16 serverPort()
{
    int low = 32768;
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly))
        low = std::clamp(range.readAll().split('\t').value(0).trimmed().toInt(), 20001, 65535);
    for (;;) {
        const auto port = quint16(20000 + QRandomGenerator::global()->bounded(low - 20000));
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, port))
            return port;
    }
}

// Whether the process `pid` itself listens on the loopback port, read from the kernel's
// tables: a connection would be a client the server serves, and a look at the port alone
// would also pass for another test's server there, whose relay our clients would then reach.
bool listensOn(qint64 pid, quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (pid <= 0 || !table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local =
        "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    QByteArray inode;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 9 && fields[1] == local && fields[3] == "0A") {
            inode = fields[9];
            break;
        }
    }
    if (inode.isEmpty())
        return false;
    const QByteArray socket = "socket:[" + inode + "]";
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString &fd : QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[64];
        const ssize_t n =
            ::readlink(QFile::encodeName(fds + u'/' + fd).constData(), target, sizeof target);
        if (n > 0 && QByteArray(target, n) == socket)
            return true;
    }
    return false;
}

} // namespace

Ser2net::~Ser2net()
{
    stop();
}

bool Ser2net::start(const QString &device, const QString &lineSettings)
{
    // A port taken meanwhile is not reported: the server just never listens on it. So a start
    // that does not listen soon is tried again on other ports.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        stop();
        m_rawPort = serverPort();
        do
            m_telnetPort = serverPort();
        while (m_telnetPort == m_rawPort);
        if (!startOnce(device, lineSettings) || m_process.state() == QProcess::NotRunning)
            return false;
        const QDeadlineTimer deadline(kListenLimitMs);
        const qint64 pid = m_process.processId();
        auto served = [&] { return listensOn(pid, m_rawPort) && listensOn(pid, m_telnetPort); };
        while (!served() && !deadline.hasExpired() && m_process.state() != QProcess::NotRunning)
            QThread::msleep(10);
        if (served())
            return true;
        m_error = QStringLiteral("ser2net is not listening on %1 and %2: %3")
                      .arg(m_rawPort)
                      .arg(m_telnetPort)
                      .arg(QString::fromLocal8Bit(m_process.readAll()));
    }
    stop();
    return false;
}

bool Ser2net::startOnce(const QString &device, const QString &lineSettings)
{
    const QString config = m_dir.filePath(QStringLiteral("ser2net.yaml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = file.errorString();
        return false;
    }
    const QString connector =
        QStringLiteral("serialdev(nouucplock),%1,%2,local").arg(device, lineSettings);
    // chardelay off: by default the server holds what the line sends for a few character times
    // before passing it on (about 3 ms a reply here), which is the server's time, not ours. The
    // Telnet port keeps Nagle's algorithm on, as ser2net's default has it: the tool must cope.
    file.write(QStringLiteral("connection: &raw\n"
                              "  accepter: tcp(nodelay),127.0.0.1,%1\n"
                              "  connector: %3\n"
                              "  options:\n"
                              "    chardelay: false\n"
                              "connection: &rfc2217\n"
                              "  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                              "  connector: %3\n"
                              "  options:\n"
                              "    chardelay: false\n")
                   .arg(m_rawPort)
                   .arg(m_telnetPort)
                   .arg(connector)
                   .toUtf8());
    file.close();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral("ser2net"),
                    {QStringLiteral("-n"), QStringLiteral("-c"), config, QStringLiteral("-P"),
                     m_dir.filePath(QStringLiteral("ser2net.pid"))});
    if (!m_process.waitForStarted(kStartLimitMs)) {
        m_error = QStringLiteral("ser2net did not start (scripts/install-deps installs it): %1")
                      .arg(m_process.errorString());
        return false;
    }
    return true;
}

void Ser2net::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

} // namespace veltra::test
