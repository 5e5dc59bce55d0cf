#pragma once

#include <QString>

namespace veltra::sim {

// The relay's end of a pseudo-terminal. The simulator keeps its own descriptor on the slave
// side (never read) so the master sees no hang-up while the tool has the port closed between
// transactions; without it every close of the port would make the master report EIO.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;
    ~PseudoTerminal() { close(); }

    bool open(QString *error);
    // Closes both ends: the tool's open port then reports the line as lost.
    void close();

    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

private:
    int m_master = -1;
    int m_heldSlave = -1;
    QString m_slavePath;
};

} // namespace veltra::sim
