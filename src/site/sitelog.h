#pragma once

#include "file/appendfile.h"
#include "site/sitewrite.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace veltra {

// Where a site file's log goes: plant.csv's is plant.log.csv beside it.
QString siteLogPath(const QString &sitePath);
// Where the values a site write replaced are kept: plant.csv's in the folder plant.history.
QString siteHistoryFolder(const QString &sitePath);

// The operations a site log's lines record, and the result of a write line whose every frame
// left: the verify line after it says how the relay took them.
namespace siteoperation {
inline constexpr char16_t kCheck[] = u"check";
inline constexpr char16_t kWrite[] = u"write";
inline constexpr char16_t kVerify[] = u"verify";
inline constexpr char16_t kWritten[] = u"written";
} // namespace siteoperation

// One line of a site log: one relay, one operation.
struct SiteLogEntry
{
    QDateTime time; // with its offset from UTC
    QString engineer;
    QString tag;
    QString port;
    QString stationRead; // 000..255, or empty when none was read
    QString operation;   // check, write, verify
    QString fingerprintBefore;
    QString fingerprintAfter;
    QString result; // the operation's word: match, written, verified, ...
};

// The site log: only ever appended to, each line handed to the system as it is written, so
// that a crash loses at most the line in progress. UTF-8 with a BOM, which spreadsheets open
// as UTF-8; the header goes into a new log only.
class SiteLog
{
public:
    [[nodiscard]] FileProblem open(const QString &path);
    // False when the line did not all reach the file; the log is then incomplete.
    bool append(const SiteLogEntry &entry);
    bool complete() const { return m_complete; }
    QString path() const { return m_path; }
    bool isOpen() const { return m_file.isOpen(); }

private:
    AppendFile m_file;
    QString m_path;
    bool m_complete = true;
};

// The check's line for one relay.
SiteLogEntry checkLogEntry(const RelayCheck &check, const QString &engineer);
// A written relay's write line, and its verify line when every frame left; nothing for a relay
// no frame went to.
QList<SiteLogEntry> writeLogEntries(const RelayWrite &write, const QString &engineer);
// Who the log names when no engineer is given: the system's user name.
QString systemUserName();

// Every complete line of a site log, oldest first; lines that are no log line (a line cut by a
// crash, an edit) are passed over.
QList<SiteLogEntry> readSiteLog(const QString &path);

// The newest entry of `operation` for the relay `tag`, if the log has one.
const SiteLogEntry *lastEntry(const QList<SiteLogEntry> &log, const QString &tag,
                              const QString &operation);

// The words a site log's results and the command line's site output use: match, differs,
// wrong-station, no-reply, data-error, port-unusable, not-reached, design-invalid.
QString siteStatusWord(RelayCheck::Status status);
// verified, not-taken, not-verified, write-failed, refused, history-unsaved, left-alone,
// not-reached.
QString siteWriteWord(RelayWrite::Status status);

// One field as CSV writes it: quoted when it holds a comma, a quote or a line end.
QString csvField(const QString &text);

} // namespace veltra
