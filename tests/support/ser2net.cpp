#include "ser2net.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QThread>

namespace veltra::test {

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

namespace {

// Listening is seen without connecting: a connection would be a client the server serves.
bool listening(quint16 port)
{
    QTcpServer probe;
    return !probe.listen(QHostAddress::LocalHost, port) &&
           probe.serverError() == QAbstractSocket::AddressInUseError;
}

} // namespace

Ser2net::~Ser2net()
{
    stop();
}

bool Ser2net::start(const QString &device, const QString &lineSettings)
{
    m_rawPort = freeLoopbackPort();
    m_telnetPort = freeLoopbackPort();
    while (m_telnetPort == m_rawPort)
        m_telnetPort = freeLoopbackPort();
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
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("ser2net did not start (scripts/install-deps installs it): %1")
                      .arg(m_process.errorString());
        return false;
    }
    const QDeadlineTimer deadline(5000);
    while (!(listening(m_rawPort) && listening(m_telnetPort))) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("ser2net is not listening: %1")
                          .arg(QString::fromLocal8Bit(m_process.readAll()));
            return false;
        }
        QThread::msleep(10);
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
