#include "site/sitewrite.h"

#include "file/settingsfile.h"
#include "link/devicelink.h"
#include "link/serialport.h"
#include "operations/commands.h"
#include "operations/userprompts.h"
#include "settings/changes.h"
#include "settings/decode.h"
#include "settings/fingerprint.h"
#include "settings/items.h"
#include "settings/memoryfields.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

namespace veltra {
namespace {

// The site write's one confirmation has been answered before any relay is written; a relay's
// own write asks nothing more and shows nothing.
class AnsweredPrompts final : public UserPrompts
{
public:
    int ShowMessage(const QString &, int style, const QString & = {}) override
    {
        return style == kStyleConfirm ? kAnswerYes : kAnswerOk;
    }
    void showNotice(const QString &) override {}
    std::optional<QString> saveFileName() override { return std::nullopt; }
    std::optional<QString> openFileName() override { return std::nullopt; }
    std::optional<QString> saveEditedFileName(const QString &) override { return std::nullopt; }
    std::optional<QString> openSiteFileName() override { return std::nullopt; }
    std::optional<QString> savePdfFileName(const QString &) override { return std::nullopt; }
    std::optional<QString> saveLogFileName(const QString &) override { return std::nullopt; }
    void showAbout(const QString &) override {}
};

RelayWrite::Status writeStatus(Outcome::Kind kind)
{
    switch (kind) {
    case Outcome::Kind::Success:
        return RelayWrite::Status::Verified;
    case Outcome::Kind::NotTaken:
        return RelayWrite::Status::NotTaken;
    case Outcome::Kind::NotVerified:
        return RelayWrite::Status::NotVerified;
    case Outcome::Kind::WriteFailed:
    case Outcome::Kind::Stopped: // only a signal stops a write, between two frames
        return RelayWrite::Status::WriteFailed;
    case Outcome::Kind::NoReply:
    case Outcome::Kind::DataError:
    case Outcome::Kind::PortUnusable:
    case Outcome::Kind::WrongStation:
    case Outcome::Kind::InvalidSetValues:
    case Outcome::Kind::InvalidPresentValues:
    case Outcome::Kind::NotSettingsFile:
    case Outcome::Kind::FileTooShort:
    case Outcome::Kind::FileUnreadable:
    case Outcome::Kind::FileUnwritable:
    case Outcome::Kind::NothingToClear:
    case Outcome::Kind::Declined:
        return RelayWrite::Status::Refused;
    }
    Q_UNREACHABLE();
}

} // namespace

bool needsWrite(const RelayCheck &check)
{
    return check.status == RelayCheck::Status::Differs;
}

SiteWriteCounts countWrites(const QList<RelayWrite> &writes)
{
    SiteWriteCounts counts;
    for (const RelayWrite &w : writes) {
        const bool written = !w.outcome.pagesSent.isEmpty();
        counts.written += written;
        counts.verified += w.status == RelayWrite::Status::Verified;
        counts.leftAlone += !written && w.status != RelayWrite::Status::NotReached;
        counts.notReached += w.status == RelayWrite::Status::NotReached;
    }
    return counts;
}

QString historyFileName(const QString &folder, const QString &tag, const QDateTime &time)
{
    // What Windows refuses in a name, and what would make the tag a path anywhere.
    QString safe;
    for (const QChar c : tag)
        safe += c.unicode() < 0x20 || QStringLiteral("\\/:*?\"<>|").contains(c) ? u'_' : c;
    if (safe.isEmpty() || safe == u'.' || safe == QLatin1String(".."))
        safe.prepend(u'_');
    const QString stem = safe + u'_' + time.toString(QStringLiteral("yyyyMMdd_HHmmss"));
    const QDir dir(folder);
    QString name = stem + QStringLiteral(".DT");
    // Two writes of one relay within a second keep both files.
    for (int n = 2; QFileInfo::exists(dir.filePath(name)); ++n)
        name = QStringLiteral("%1_%2.DT").arg(stem).arg(n);
    return dir.filePath(name);
}

SiteWriter::SiteWriter(LineFactory makeLine, QObject *parent)
    : QObject(parent), m_makeLine(std::move(makeLine))
{
    if (!m_makeLine)
        m_makeLine = [] { return createSerialPort(nullptr); };
}

void SiteWriter::stop()
{
    m_stopping = true;
}

QList<RelayWrite> SiteWriter::write(const QList<RelayCheck> &checks, const QString &historyFolder)
{
    m_stopping = false;
    QList<RelayWrite> results;
    for (const RelayCheck &check : checks) {
        RelayWrite result;
        result.check = check;
        if (!needsWrite(check))
            result.status = RelayWrite::Status::LeftAlone;
        else if (!m_stopping)
            result = writeOne(check, historyFolder);
        results << result;
        emit relayWritten(result);
    }
    return results;
}

RelayWrite SiteWriter::writeOne(const RelayCheck &check, const QString &historyFolder)
{
    RelayWrite result;
    result.check = check;

    // What the relay held when it was checked, as a read-all would save it: kept before any
    // frame goes, and no frame goes without it.
    MemoryFields before;
    DecodedRecords records;
    for (int page = 0; page < kPageCount; ++page)
        DecodeReply(page, check.replies.value(page), records, before);
    if (!QDir().mkpath(historyFolder)) {
        result.status = RelayWrite::Status::HistoryUnsaved;
        result.historyProblem = FileProblem::Unusable;
        return result;
    }
    result.historyPath =
        historyFileName(historyFolder, check.relay.tag, QDateTime::currentDateTime());
    if (const FileProblem problem = writeSettingsFile(result.historyPath, before);
        problem != FileProblem::None) {
        result.status = RelayWrite::Status::HistoryUnsaved;
        result.historyProblem = problem;
        return result;
    }

    MemoryFields fields;
    fields.setPortText(check.relay.port);
    loadDesign(check.relay.designPath, fields);
    const std::unique_ptr<SerialPort> line(m_makeLine());
    DeviceLink link(*line);
    AnsweredPrompts prompts;
    Commands commands(link, fields, prompts);
    commands.setExpectedStation(check.relay.station);
    commands.setVerifyAfterWrite(true);
    connect(&commands, &Commands::progressed, this, [&](Progress kind, int done, int total) {
        emit progressed(check.relay.tag, kind, done, total);
    });
    emit linkOpened(link, check.relay.port);
    commands.WriteAllPages();
    result.outcome = commands.outcome();
    result.status = writeStatus(result.outcome.kind);
    if (result.outcome.verified) {
        result.fingerprintAfter = fingerprint([&](int page, int item) {
            const std::optional<PageReading> &reading = commands.reading(page);
            return reading ? reportedText(page, item, reading->reply) : QString();
        });
    }
    return result;
}

} // namespace veltra
