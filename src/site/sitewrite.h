#pragma once

#include "operations/outcome.h"
#include "site/sitecheck.h"

#include <QObject>

#include <optional>

namespace veltra {

class DeviceLink;
class SerialPort;

// What a site write did to one relay.
struct RelayWrite
{
    enum class Status {
        Verified,       // written and read back: the relay holds its design
        NotTaken,       // written; reading back found items it did not take (`outcome`)
        NotVerified,    // every frame left, and reading them back failed
        WriteFailed,    // a frame did not leave: written up to `outcome.page`, not further
        Refused,        // the link check stopped it before any frame (`outcome`: another
                        // station, no reply, a port that would not open)
        HistoryUnsaved, // its values before the write could not be saved: nothing was sent
        LeftAlone,      // it matches, or its check could not compare it: `check.status` says
        NotReached,     // the write was stopped before its turn
    };
    RelayCheck check;
    Status status = Status::NotReached;
    QString historyPath;                            // where its values before the write were saved
    FileProblem historyProblem = FileProblem::None; // with HistoryUnsaved: why
    Outcome outcome;                                // of the write, where one ran
    std::optional<QString> fingerprintAfter;        // of what it holds, read back, when verified
};

// Whether a relay the check found like this gets written at all: only one that answered with
// the row's station and differs from its design.
bool needsWrite(const RelayCheck &check);

// What a site write came to, as its summary says it: relays a frame went to, those of them
// verified, those left as they were, those a stop left unreached.
struct SiteWriteCounts
{
    int written = 0;
    int verified = 0;
    int leftAlone = 0;
    int notReached = 0;
};
SiteWriteCounts countWrites(const QList<RelayWrite> &writes);

// The file name a relay's values before a write are kept under in `folder`:
// TAG_YYYYMMDD_HHMMSS.DT, the tag made safe for any file system, and never the name of a file
// that is there already.
QString historyFileName(const QString &folder, const QString &tag, const QDateTime &time);

// Writes a site's relays that differ from their designs, one after another: for each, the
// values its check read saved in the history folder, then its design written under the station
// guard with its row's station, and read back.
class SiteWriter : public QObject
{
    Q_OBJECT
public:
    using LineFactory = SiteChecker::LineFactory;
    explicit SiteWriter(LineFactory makeLine = {}, QObject *parent = nullptr);

    // One result per check, in their order; relays that need no write get no frame.
    QList<RelayWrite> write(const QList<RelayCheck> &checks, const QString &historyFolder);
    // The relay being written finishes, its read-back too; no other begins.
    void stop();

signals:
    // A relay's write begins on this link: what a frame log follows.
    void linkOpened(const veltra::DeviceLink &link, const QString &port);
    // Every relay's result as it is known, the relays left alone included.
    void relayWritten(const veltra::RelayWrite &result);
    // The write of `tag` is at step `done` of `total`: a frame sent, a page read back.
    void progressed(const QString &tag, veltra::Progress kind, int done, int total);

private:
    RelayWrite writeOne(const RelayCheck &check, const QString &historyFolder);

    LineFactory m_makeLine;
    bool m_stopping = false;
};

} // namespace veltra
