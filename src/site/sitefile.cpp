#include "site/sitefile.h"

#include "file/filenames.h"
#include "file/settingsfile.h"
#include "file/sjis.h"
#include "link/serialport.h"
#include "settings/fingerprint.h"
#include "settings/items.h"
#include "settings/memoryfields.h"
#include "settings/validation.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>

namespace veltra {

QString siteProblemText(const SiteProblem &problem)
{
    using Kind = SiteProblem::Kind;
    switch (problem.kind) {
    case Kind::Unreadable:
        return QStringLiteral("サイトファイルを読めません");
    case Kind::Unterminated:
        return QStringLiteral("この行で始まる引用符が閉じていません");
    case Kind::NoHeader:
        return QStringLiteral("見出しの行がありません");
    case Kind::MissingColumn:
        return QStringLiteral("列がありません");
    case Kind::TooManyFields:
        return QStringLiteral("見出しより多い %1 個の欄があります").arg(problem.detail);
    case Kind::EmptyTag:
        return QStringLiteral("名称がありません");
    case Kind::DuplicateTag:
        return QStringLiteral("%1 行目と同じ名称です").arg(problem.detail);
    case Kind::BadStation:
        return QStringLiteral("局番号は 000～255 です: \"%1\"").arg(problem.detail);
    case Kind::BadPort:
        return QStringLiteral("ポートを指していません: \"%1\"").arg(problem.detail);
    case Kind::DesignMissing:
        return problem.detail.isEmpty()
                   ? QStringLiteral("設定ファイルの指定がありません")
                   : QStringLiteral("設定ファイルがありません: %1").arg(problem.detail);
    case Kind::DesignInvalid:
        return QStringLiteral("設定ファイルを確認できません: %1").arg(problem.detail);
    }
    Q_UNREACHABLE();
}

QString decodeSiteText(const QByteArray &bytes)
{
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(view.sliced(3));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(view);
    // A spreadsheet of a Japanese Windows saves CSV in Shift-JIS, which is seldom valid UTF-8.
    return utf8.hasError() ? decodeShiftJis(view) : text;
}

std::optional<QList<CsvRecord>> parseCsv(const QString &text, int *unterminatedLine)
{
    QList<CsvRecord> records;
    CsvRecord record{1, {}};
    QString field;
    bool quoted = false, fieldStarted = false;
    int line = 1, quoteLine = 0;
    const auto endField = [&] {
        record.fields << field;
        field.clear();
        fieldStarted = false;
    };
    const auto endRecord = [&] {
        endField();
        // A blank line is no record, neither is the end of the last line.
        if (record.fields.size() > 1 || !record.fields.constFirst().isEmpty())
            records << record;
        record = {line, {}};
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                if (c == u'\n' || (c == u'\r' && (i + 1 >= text.size() || text[i + 1] != u'\n')))
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == u'"' && !fieldStarted) {
            quoted = fieldStarted = true;
            quoteLine = line;
        } else if (c == u',') {
            endField();
        } else if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            ++line;
            endRecord();
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) {
        if (unterminatedLine)
            *unterminatedLine = quoteLine;
        return std::nullopt;
    }
    endRecord();
    return records;
}

namespace {

using Kind = SiteProblem::Kind;

void fill(const LoadedFile &loaded, MemoryFields &fields)
{
    ParseCommonLine(loaded.lines.at(0), fields);
    for (int circuit = 1; circuit < kPageCount; ++circuit)
        ParseCircuitLine(circuit, loaded.lines.at(circuit), fields);
}

// What `check` says of a design file: it reads, its labels are in their places, and every
// value can be written.
std::optional<QString> designProblem(const QString &path)
{
    const LoadedFile loaded = readSettingsFile(path);
    switch (loaded.status) {
    case LoadStatus::Ok:
        break;
    case LoadStatus::Unreadable:
        return QStringLiteral("読めません");
    case LoadStatus::NotSettingsFile:
    case LoadStatus::TooShort:
        return QStringLiteral("設定ファイルではありません");
    }
    if (const QList<int> misplaced = misplacedLabels(loaded.lines); !misplaced.isEmpty())
        return QStringLiteral("%1 の行が位置と合いません")
            .arg(settingsFileLabel(misplaced.constFirst()));
    MemoryFields fields;
    fill(loaded, fields);
    if (const QList<ValueProblem> problems = setValueProblems(fields, kCommonPage, kPageCount - 1);
        !problems.isEmpty())
        return QStringLiteral("書き込めない値があります (%1 件)").arg(problems.size());
    return std::nullopt;
}

} // namespace

bool loadDesign(const QString &path, MemoryFields &fields)
{
    const LoadedFile loaded = readSettingsFile(path);
    if (loaded.status != LoadStatus::Ok)
        return false;
    fill(loaded, fields);
    return true;
}

std::optional<QString> designFingerprint(const SiteRelay &relay)
{
    MemoryFields design;
    if (!relay.designValid || !loadDesign(relay.designPath, design))
        return std::nullopt;
    return fingerprint([&](int page, int item) { return design.setValue(page, item); });
}

SiteFile readSiteFile(const QString &path)
{
    SiteFile site{path, {}, {}};
    // Regular files only: a FIFO named as the site file must not block.
    const std::unique_ptr<QFile> file = openInputFile(path);
    if (!file) {
        site.problems << SiteProblem{0, {}, Kind::Unreadable, {}};
        return site;
    }
    int unterminated = 0;
    const std::optional<QList<CsvRecord>> records =
        parseCsv(decodeSiteText(file->readAll()), &unterminated);
    if (!records) {
        site.problems << SiteProblem{unterminated, {}, Kind::Unterminated, {}};
        return site;
    }
    if (records->isEmpty()) {
        site.problems << SiteProblem{0, {}, Kind::NoHeader, {}};
        return site;
    }
    const CsvRecord &header = records->constFirst();
    QHash<QString, qsizetype> column;
    for (qsizetype i = 0; i < header.fields.size(); ++i)
        column.insert(header.fields[i].trimmed(), i);
    const QString tagName = QString::fromUtf16(sitecolumn::kTag),
                  placeName = QString::fromUtf16(sitecolumn::kPlace),
                  portName = QString::fromUtf16(sitecolumn::kPort),
                  stationName = QString::fromUtf16(sitecolumn::kStation),
                  designName = QString::fromUtf16(sitecolumn::kDesign);
    for (const QString &required : {tagName, portName, stationName, designName})
        if (!column.contains(required))
            site.problems << SiteProblem{header.line, required, Kind::MissingColumn, {}};
    if (!site.problems.isEmpty())
        return site;

    const QDir beside = QFileInfo(path).absoluteDir();
    QHash<QString, int> tagLines;
    for (qsizetype r = 1; r < records->size(); ++r) {
        const CsvRecord &row = records->at(r);
        const auto at = [&](const QString &name) {
            return row.fields.value(column.value(name, -1)).trimmed();
        };
        const qsizetype before = site.problems.size();
        const auto problem = [&](const QString &name, Kind kind, const QString &detail = {}) {
            site.problems << SiteProblem{row.line, name, kind, detail};
        };
        if (row.fields.size() > header.fields.size()) {
            problem({}, Kind::TooManyFields, QString::number(row.fields.size()));
            continue;
        }
        SiteRelay relay{row.line, at(tagName), at(placeName), at(portName), 0, at(designName), {}};
        if (relay.tag.isEmpty())
            problem(tagName, Kind::EmptyTag);
        else if (const int first = tagLines.value(relay.tag); first != 0)
            problem(tagName, Kind::DuplicateTag, QString::number(first));
        else
            tagLines.insert(relay.tag, row.line);
        const QString station = at(stationName);
        if (const std::optional<int> number = stationNumberValue(station))
            relay.station = *number;
        else
            problem(stationName, Kind::BadStation, station);
        if (relay.port.isEmpty() || !systemPortName(relay.port))
            problem(portName, Kind::BadPort, relay.port);
        const qsizetype rowProblems = site.problems.size();
        if (relay.design.isEmpty()) {
            problem(designName, Kind::DesignMissing);
        } else {
            relay.designPath = QDir::cleanPath(beside.absoluteFilePath(relay.design));
            if (!QFileInfo::exists(relay.designPath))
                problem(designName, Kind::DesignMissing, relay.design);
            else if (const std::optional<QString> why = designProblem(relay.designPath))
                problem(designName, Kind::DesignInvalid, *why);
        }
        relay.designValid = site.problems.size() == rowProblems;
        if (rowProblems == before)
            site.relays << relay;
    }
    return site;
}

} // namespace veltra
