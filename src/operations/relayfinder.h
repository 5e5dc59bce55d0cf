#pragma once

#include "link/frames.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QEventLoop;

namespace veltra {

class SerialPort;

// What one port said to a read of the common settings.
struct Probe
{
    enum class Status {
        Relay,      // a reply that passed its checksum
        Unusable,   // the port would not open: in use by another program, or not there
        Silent,     // nothing within the time-out
        Unreadable, // something came, but a read would reject it (`verdict`): never a relay
    };

    QString port; // as given: a port field's text or a name the system lists
    Status status = Status::Silent;
    QString station;   // with Relay: "012"
    QString frequency; // with Relay: "60Hz"
    // With Unreadable: why; Incomplete when bytes came but no whole reply in the time-out.
    ReplyVerdict verdict = ReplyVerdict::Incomplete;
    // With Unusable: why, as the port said it ("Port already in use", "connection refused");
    // empty where it gave no reason (a local port).
    QString refusal;
};

// Finds relays on many ports at once: every port gets the common page's read request at the
// same moment, and all replies are awaited together, so the search takes one reply time-out
// however many ports there are. Nothing but read requests is sent.
class RelayFinder : public QObject
{
    Q_OBJECT
public:
    using LineFactory = std::function<SerialPort *()>;
    explicit RelayFinder(LineFactory makeLine = {}, QObject *parent = nullptr);
    ~RelayFinder() override;

    // Probes each port (field texts or system names; duplicates by device probed once), in
    // the order given. Runs a nested event loop meanwhile, so the window stays live.
    QList<Probe> find(const QStringList &ports);
    // Ends a search now (the window is closing); the ports not yet answered are Silent.
    void abort();

signals:
    // What went over each line, as a frame log names it: `port` as given.
    void requestSent(const QString &port, const QByteArray &frame);
    void replyReceived(const QString &port, const QByteArray &collected);
    void frameNotSent(const QString &port, const QByteArray &frame);
    // The ports whose reply is still awaited, each time that list shrinks.
    void stillWaiting(const QStringList &ports);

private:
    LineFactory m_makeLine;
    QEventLoop *m_loop = nullptr;
};

} // namespace veltra
