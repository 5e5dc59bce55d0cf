#include "file/settingsfile.h"

#include "file/sjis.h"
#include "file/wholefile.h"
#include "settings/items.h"
#include "settings/settingsfields.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>

namespace veltra {
namespace {

constexpr int kLineCount = 12;
// mutate: equivalent: const 64 to 65, const 64 to 63, const 1024 to 1025, const 1024 to 1023: any
// size of chunk reads the same lines
constexpr qsizetype kChunkSize = 64 * 1024;
// A file written by the tool has lines of well under 100 bytes, and the parsers use only the
// first fields of a line. Keeping at most this much of a line bounds a load to about 12 x 64 KiB
// of memory whatever the file holds, and still leaves hand-edited files far more room than any
// value needs. The rest of an over-long line is skipped, not kept.
constexpr qsizetype kMaxLineBytes = 64 * 1024;

const QByteArray kLineEnd = QByteArrayLiteral("\r\n");

// Item order; the item table already names items 1 and 2 as the files in use head them.
QString headerLine(PageKind kind, const QString &firstColumn)
{
    QStringList columns{firstColumn};
    for (int item = 0; item < itemCount(kind); ++item)
        columns << fileColumn(kind, item);
    return columns.join(u',');
}

QString valueLine(const QString &label, int page, const SettingsFields &fields, FileColumn column)
{
    QString line = label;
    for (int item = 0; item < itemCount(page); ++item)
        line += u',' + (column == FileColumn::Present ? fields.presentValue(page, item)
                                                      : fields.setValue(page, item));
    return line;
}

// Splits a file into lines while reading it in bounded chunks. A line ends at CR LF or at a
// lone CR; a lone LF belongs to the line. A CR byte never occurs inside a Shift-JIS character,
// so splitting before decoding is safe.
class LineReader
{
public:
    enum class Result { Line, Overlong, End, Error };

    explicit LineReader(QIODevice &device) : m_device(device) {}

    // The first bytes read, for telling what kind of text a file that is no settings file holds.
    const QByteArray &firstChunk() const { return m_first; }

    // Next line without its end, at most `limit` bytes of it. The rest of a longer line is
    // skipped, or, with `stopWhenOverlong`, Overlong is returned at once and nothing more read.
    Result readLine(QByteArray &line, qsizetype limit, bool stopWhenOverlong)
    {
        line.clear();
        bool started = false;
        for (;;) {
            if (m_pos == m_chunk.size()) {
                if (!fill())
                    return m_failed ? Result::Error : started ? Result::Line : Result::End;
            }
            if (m_skipLf) {
                m_skipLf = false;
                if (m_chunk[m_pos] == '\n') {
                    ++m_pos;
                    continue;
                }
            }
            started = true;
            const qsizetype cr = m_chunk.indexOf('\r', m_pos);
            const qsizetype end = cr < 0 ? m_chunk.size() : cr;
            const qsizetype take = std::min(end - m_pos, limit - line.size());
            line.append(QByteArrayView(m_chunk).sliced(m_pos, take));
            if (take < end - m_pos && stopWhenOverlong)
                return Result::Overlong;
            m_pos = end;
            if (cr >= 0) {
                m_pos = cr + 1;
                m_skipLf = true; // the LF of a CR LF may arrive with the next chunk
                return Result::Line;
            }
        }
    }

private:
    bool fill()
    {
        m_chunk.resize(kChunkSize);
        const qint64 got = m_device.read(m_chunk.data(), kChunkSize);
        m_chunk.resize(std::max<qint64>(got, 0));
        if (m_first.isNull())
            m_first = m_chunk.isEmpty() ? QByteArray("") : m_chunk;
        m_pos = 0;
        m_failed = got < 0;
        return got > 0;
    }

    QIODevice &m_device;
    QByteArray m_first;
    QByteArray m_chunk;
    qsizetype m_pos = 0;
    bool m_skipLf = false;
    bool m_failed = false;
};

// The scan shared by both parsers: a comma or an ASCII blank ends the label and every field,
// each separator exactly one; what lies beyond the last item is ignored.
void parseLine(const QString &line, int page, SettingsFields &fields)
{
    if (line.isEmpty())
        return;
    const auto fieldEnd = [&line](qsizetype from) {
        qsizetype pos = from;
        while (pos < line.size() && line[pos] != u',' && line[pos] != u' ')
            ++pos;
        return pos;
    };
    qsizetype start = fieldEnd(0) + 1; // past the label and its separator
    // mutate: equivalent: cmp < to <=: the fields read an item past the page as empty, a valid
    // text, and ignore its setting
    for (int item = 0; item < itemCount(page); ++item) {
        // mutate: equivalent: cmp >= to >: a field that starts at the line's end is empty either
        // way
        if (start >= line.size()) {
            fields.setSetValue(page, item, QString());
            continue;
        }
        const qsizetype end = fieldEnd(start);
        fields.setSetValue(page, item, line.sliced(start, end - start));
        start = end + 1;
    }
}

} // namespace

QString settingsFileMarker()
{
    return QStringLiteral("VELTRA設定ファイル");
}

QStringList settingsFileLines(const SettingsFields &fields, FileColumn column)
{
    QStringList lines;
    lines << settingsFileMarker();
    lines << headerLine(PageKind::Common, QStringLiteral("設定項目"));
    lines << valueLine(settingsFileLabel(kCommonPage), kCommonPage, fields, column);
    lines << headerLine(PageKind::Circuit, QStringLiteral("回路NO."));
    for (int circuit = 1; circuit < kPageCount; ++circuit)
        lines << valueLine(settingsFileLabel(circuit), circuit, fields, column);
    return lines;
}

FileProblem writeSettingsFile(const QString &path, const SettingsFields &fields, FileColumn column)
{
    QByteArray bytes;
    for (const QString &line : settingsFileLines(fields, column)) {
        const std::optional<QByteArray> encoded = encodeShiftJis(line);
        if (!encoded)
            return FileProblem::Unusable;
        bytes += *encoded + kLineEnd;
    }
    return saveWholeFile(path, bytes);
}

namespace {

bool looksLikeUtf8(const QByteArray &bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    return !utf8.hasError() && !text.isEmpty();
}

} // namespace

LoadedFile readSettingsFile(const QString &path)
{
    FileProblem problem = FileProblem::None;
    const std::unique_ptr<QFile> file = openInputFile(path, &problem);
    if (!file)
        return {LoadStatus::Unreadable, {}, problem};
    LineReader reader(*file);
    QByteArray bytes;
    const auto notSettingsFile = [&reader](LoadStatus status) {
        return LoadedFile{status, {}, FileProblem::None, looksLikeUtf8(reader.firstChunk())};
    };

    // A first line longer than the marker cannot be the marker: no need to read on.
    const QByteArray marker = encodeShiftJis(settingsFileMarker()).value_or(QByteArray());
    switch (reader.readLine(bytes, marker.size(), true)) {
    case LineReader::Result::Error:
        return {LoadStatus::Unreadable, {}, FileProblem::Unusable};
    case LineReader::Result::End:
        return notSettingsFile(LoadStatus::TooShort);
    case LineReader::Result::Overlong:
        return notSettingsFile(LoadStatus::NotSettingsFile);
    case LineReader::Result::Line:
        if (decodeShiftJis(bytes) != settingsFileMarker())
            return notSettingsFile(LoadStatus::NotSettingsFile);
        break;
    }

    QStringList lines;
    for (int number = 2; number <= kLineCount; ++number) {
        switch (reader.readLine(bytes, kMaxLineBytes, false)) {
        case LineReader::Result::Error:
            return {LoadStatus::Unreadable, {}, FileProblem::Unusable};
        case LineReader::Result::End:
            return notSettingsFile(LoadStatus::TooShort);
        case LineReader::Result::Overlong:
        case LineReader::Result::Line:
            break;
        }
        if (number != 2 && number != 4) // the two heading lines are not compared
            lines << decodeShiftJis(bytes);
    }
    return {LoadStatus::Ok, lines};
}

QString settingsFileLabel(int page)
{
    return page == kCommonPage ? QStringLiteral("共通設定")
                               : QStringLiteral("回路") + fullWidthDigit(page);
}

QList<int> misplacedLabels(const QStringList &lines)
{
    QList<int> misplaced;
    for (int page = 0; page < std::min<int>(int(lines.size()), kPageCount); ++page) {
        const QString &line = lines[page];
        qsizetype end = 0;
        while (end < line.size() && line[end] != u',' && line[end] != u' ')
            ++end;
        if (line.first(end) != settingsFileLabel(page))
            misplaced << page;
    }
    return misplaced;
}

void ParseCommonLine(const QString &line, SettingsFields &fields)
{
    parseLine(line, kCommonPage, fields);
}

void ParseCircuitLine(int page, const QString &line, SettingsFields &fields)
{
    // mutate: equivalent: cmp >= to >: the page after the last has no items to parse
    if (page < 1 || page >= kPageCount)
        return;
    parseLine(line, page, fields);
}

} // namespace veltra
