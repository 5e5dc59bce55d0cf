// The settings-file loader on arbitrary bytes: reading a file, then the two line parsers. An
// accepted file holds exactly the nine data lines, and loading it changes set values of pages
// 0..8 only, at most one write per item.

#include "file/settingsfile.h"
#include "file/sjis.h"
#include "harness.h"
#include "settings/items.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

using namespace veltra;
using namespace veltra::fuzz;

namespace {

constexpr int kFileLines = 12;
constexpr qsizetype kKeptLineBytes = 64 * 1024;

// One in-memory file for the whole run, opened by the loader through its /proc path: no disk
// traffic and nothing left behind when the run ends.
class InputFile
{
public:
    InputFile()
    {
        m_fd = memfd_create("veltra-fuzz-settingsfile", MFD_CLOEXEC);
        FUZZ_CHECK(m_fd >= 0);
        m_path = QStringLiteral("/proc/self/fd/%1").arg(m_fd);
    }

    const QString &hold(QByteArrayView bytes)
    {
        FUZZ_CHECK(ftruncate(m_fd, 0) == 0);
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                pwrite(m_fd, bytes.data() + done, std::size_t(bytes.size() - done), off_t(done));
            FUZZ_CHECK(n > 0);
            done += n;
        }
        return m_path;
    }

private:
    int m_fd = -1;
    QString m_path;
};

// The file's lines as the format defines them, split independently of the loader: a line ends
// at CR LF or at a lone CR, a lone LF stays in the line, the last line may lack its end.
QList<QByteArray> referenceLines(QByteArrayView bytes, int wanted)
{
    QList<QByteArray> lines;
    qsizetype pos = 0;
    while (pos < bytes.size() && lines.size() < wanted) {
        qsizetype cr = bytes.indexOf('\r', pos);
        if (cr < 0)
            cr = bytes.size();
        lines << bytes.sliced(pos, cr - pos).toByteArray();
        pos = cr + 1;
        if (pos < bytes.size() && bytes[pos] == '\n')
            ++pos;
    }
    return lines;
}

// The fields of one data line as the format defines them: a comma or an ASCII blank ends the
// label and every field, each exactly one; missing fields are empty.
QStringList referenceFields(const QString &line, int count)
{
    QStringList fields;
    qsizetype pos = 0;
    auto next = [&] {
        const qsizetype start = pos;
        while (pos < line.size() && line[pos] != u',' && line[pos] != u' ')
            ++pos;
        const QString field = line.sliced(start, pos - start);
        ++pos; // over the separator, or past the end
        return field;
    };
    next(); // the label
    for (int item = 0; item < count; ++item)
        fields << (pos < line.size() ? next() : QString());
    return fields;
}

void checkLoad(QByteArrayView bytes, const LoadedFile &file)
{
    FUZZ_CHECK(file.lines.size() <= kFileLines);
    if (file.status != LoadStatus::Ok) {
        FUZZ_CHECK(file.lines.isEmpty());
        FUZZ_CHECK(file.status == LoadStatus::NotSettingsFile ||
                   file.status == LoadStatus::TooShort);
    }

    const QList<QByteArray> lines = referenceLines(bytes, kFileLines);
    LoadStatus expected = LoadStatus::Ok;
    if (lines.isEmpty())
        expected = LoadStatus::TooShort;
    else if (decodeShiftJis(lines[0]) != settingsFileMarker())
        expected = LoadStatus::NotSettingsFile;
    else if (lines.size() < kFileLines)
        expected = LoadStatus::TooShort;
    FUZZ_CHECK(file.status == expected);
    if (expected != LoadStatus::Ok)
        return;

    // Line 3, then lines 5..12, each cut to the bytes the loader promises to keep.
    FUZZ_CHECK(file.lines.size() == kPageCount);
    for (int entry = 0; entry < kPageCount; ++entry) {
        const int number = entry == 0 ? 3 : entry + 4;
        const QString &line = file.lines[entry];
        FUZZ_CHECK(!line.contains(u'\r'));
        FUZZ_CHECK(line.size() <= kKeptLineBytes);
        FUZZ_CHECK(line == decodeShiftJis(lines[number - 1].left(kKeptLineBytes)));
    }
}

// One parser call: an empty line changes nothing; any other line sets each item of `page`
// once, in item order, to the line's field; present values and other pages stay untouched.
void checkParse(int page, const QString &line, HarnessFields &fields)
{
    fields.forgetWrites();
    if (page == kCommonPage)
        ParseCommonLine(line, fields);
    else
        ParseCircuitLine(page, line, fields);
    const std::vector<FieldWrite> &writes = fields.writes();
    FUZZ_CHECK(fields.badReads() == 0);
    if (line.isEmpty()) {
        FUZZ_CHECK(writes.empty());
        return;
    }
    const QStringList expected = referenceFields(line, itemCount(page));
    FUZZ_CHECK(writes.size() == std::size_t(itemCount(page)));
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const FieldWrite &w = writes[i];
        FUZZ_CHECK(w.kind == FieldKind::Set);
        FUZZ_CHECK(w.page == page);
        FUZZ_CHECK(w.item == int(i));
        FUZZ_CHECK(w.text == expected[qsizetype(i)]);
        FUZZ_CHECK(fields.setValue(page, w.item) == w.text);
    }
}

void checkUntouched(const HarnessFields &fields, int page, bool setValuesToo)
{
    for (int item = 0; item < itemCount(page); ++item) {
        FUZZ_CHECK(fields.presentValue(page, item) == HarnessFields::presentSentinel(page, item));
        if (setValuesToo)
            FUZZ_CHECK(fields.setValue(page, item) == HarnessFields::setSentinel(page, item));
    }
}

void checkParsers(const QStringList &lines)
{
    HarnessFields fields;
    for (int page = 0; page < kPageCount; ++page)
        checkParse(page, lines[page], fields);
    for (int page = 0; page < kPageCount; ++page)
        checkUntouched(fields, page, lines[page].isEmpty());

    // No circuit parser exists for the common page, the clear page or beyond.
    for (int page : {-1, kCommonPage, kClearPage, kPageCount + 1}) {
        HarnessFields other;
        for (const QString &line : lines)
            ParseCircuitLine(page, line, other);
        FUZZ_CHECK(other.writes().empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static InputFile input;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const LoadedFile file = readSettingsFile(input.hold(bytes));
    checkLoad(bytes, file);
    if (file.status == LoadStatus::Ok)
        checkParsers(file.lines);

    // The parsers on the whole input as one line too, marker or not.
    const QString whole = decodeShiftJis(bytes);
    HarnessFields fields;
    checkParse(kCommonPage, whole, fields);
    checkParse(1 + int(size % 8), whole, fields);
    return 0;
}
