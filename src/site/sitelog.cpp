#include "site/sitelog.h"

#include "file/filenames.h"
#include "operations/messages.h"
#include "site/sitefile.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif

namespace veltra {
namespace {

// The header's names, in the order each line's fields follow.
const QStringList &columns()
{
    static const QStringList names{QStringLiteral("時刻"),
                                   QStringLiteral("技術者"),
                                   QStringLiteral("名称"),
                                   QStringLiteral("ポート"),
                                   QStringLiteral("読込局番号"),
                                   QStringLiteral("操作"),
                                   QStringLiteral("変更前フィンガープリント"),
                                   QStringLiteral("変更後フィンガープリント"),
                                   QStringLiteral("結果")};
    return names;
}

QString line(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &field : fields)
        quoted << csvField(field);
    return quoted.join(u',') + QStringLiteral("\r\n");
}

} // namespace

QString siteLogPath(const QString &sitePath)
{
    const QFileInfo info(sitePath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".log.csv"));
}

QString siteHistoryFolder(const QString &sitePath)
{
    const QFileInfo info(sitePath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".history"));
}

QString siteStatusWord(RelayCheck::Status status)
{
    using Status = RelayCheck::Status;
    switch (status) {
    case Status::Match:
        return QStringLiteral("match");
    case Status::Differs:
        return QStringLiteral("differs");
    case Status::WrongStation:
        return QStringLiteral("wrong-station");
    case Status::NoReply:
        return QStringLiteral("no-reply");
    case Status::DataError:
        return QStringLiteral("data-error");
    case Status::PortUnusable:
        return QStringLiteral("port-unusable");
    case Status::NotReached:
        return QStringLiteral("not-reached");
    case Status::DesignInvalid:
        return QStringLiteral("design-invalid");
    }
    Q_UNREACHABLE();
}

QString siteWriteWord(RelayWrite::Status status)
{
    using Status = RelayWrite::Status;
    switch (status) {
    case Status::Verified:
        return QStringLiteral("verified");
    case Status::NotTaken:
        return QStringLiteral("not-taken");
    case Status::NotVerified:
        return QStringLiteral("not-verified");
    case Status::WriteFailed:
        return QStringLiteral("write-failed");
    case Status::Refused:
        return QStringLiteral("refused");
    case Status::HistoryUnsaved:
        return QStringLiteral("history-unsaved");
    case Status::LeftAlone:
        return QStringLiteral("left-alone");
    case Status::NotReached:
        return QStringLiteral("not-reached");
    }
    Q_UNREACHABLE();
}

QString csvField(const QString &text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

FileProblem SiteLog::open(const QString &path)
{
    const bool fresh = !QFileInfo::exists(path);
    if (const FileProblem problem = m_file.open(path); problem != FileProblem::None)
        return problem;
    m_path = path;
    if (fresh)
        m_complete = m_file.append(QByteArrayLiteral("\xEF\xBB\xBF") + line(columns()).toUtf8());
    return FileProblem::None;
}

bool SiteLog::append(const SiteLogEntry &entry)
{
    const QDateTime &time = entry.time;
    const bool written = m_file.append(
        line({time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate), entry.engineer,
              entry.tag, entry.port, entry.stationRead, entry.operation, entry.fingerprintBefore,
              entry.fingerprintAfter, entry.result})
            .toUtf8());
    m_complete = m_complete && written;
    return written;
}

SiteLogEntry checkLogEntry(const RelayCheck &check, const QString &engineer)
{
    const QString fingerprint = check.relayFingerprint.value_or(QString());
    return {QDateTime::currentDateTime(),
            engineer,
            check.relay.tag,
            check.relay.port,
            check.stationRead ? messages::stationText(*check.stationRead) : QString(),
            QString::fromUtf16(siteoperation::kCheck),
            fingerprint,
            fingerprint,
            siteStatusWord(check.status)};
}

QList<SiteLogEntry> writeLogEntries(const RelayWrite &write, const QString &engineer)
{
    using Status = RelayWrite::Status;
    if (write.status == Status::LeftAlone || write.status == Status::NotReached)
        return {};
    SiteLogEntry entry = checkLogEntry(write.check, engineer);
    entry.operation = QString::fromUtf16(siteoperation::kWrite);
    entry.fingerprintAfter = write.check.designFingerprint.value_or(QString());
    const bool everyFrameLeft = write.status == Status::Verified ||
                                write.status == Status::NotTaken ||
                                write.status == Status::NotVerified;
    entry.result =
        everyFrameLeft ? QString::fromUtf16(siteoperation::kWritten) : siteWriteWord(write.status);
    if (!everyFrameLeft)
        return {entry};
    SiteLogEntry verify = entry;
    verify.operation = QString::fromUtf16(siteoperation::kVerify);
    verify.fingerprintAfter = write.fingerprintAfter.value_or(QString());
    verify.result = siteWriteWord(write.status);
    return {entry, verify};
}

QString systemUserName()
{
    for (const char *variable : {"USER", "USERNAME", "LOGNAME"})
        if (const QString user = qEnvironmentVariable(variable); !user.isEmpty())
            return user;
#ifndef Q_OS_WIN
    // A service or a container may set none of them; the account is still known.
    if (const passwd *account = getpwuid(getuid()))
        return QString::fromLocal8Bit(account->pw_name);
#endif
    return {};
}

QList<SiteLogEntry> readSiteLog(const QString &path)
{
    QList<SiteLogEntry> entries;
    FileProblem problem = FileProblem::None;
    const std::unique_ptr<QFile> file = openInputFile(path, &problem);
    if (!file)
        return entries;
    const QByteArray bytes = file->readAll();
    // A line cut by a crash has no line end: it is no complete line.
    const qsizetype end = bytes.lastIndexOf('\n');
    const std::optional<QList<CsvRecord>> records = parseCsv(decodeSiteText(bytes.first(end + 1)));
    if (!records)
        return entries;
    for (const CsvRecord &record : *records) {
        const QStringList &f = record.fields;
        if (f.size() != columns().size() || f.constFirst() == columns().constFirst())
            continue;
        const QDateTime time = QDateTime::fromString(f[0], Qt::ISODate);
        if (!time.isValid())
            continue;
        entries << SiteLogEntry{time, f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8]};
    }
    return entries;
}

const SiteLogEntry *lastEntry(const QList<SiteLogEntry> &log, const QString &tag,
                              const QString &operation)
{
    for (auto entry = log.crbegin(); entry != log.crend(); ++entry)
        if (entry->tag == tag && entry->operation == operation)
            return &*entry;
    return nullptr;
}

} // namespace veltra
