#include "coresession.h"
#include "expectedtexts.h"
#include "file/settingsfile.h"
#include "file/sjis.h"
#include "knownfile.h"
#include "settings/items.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace veltra;
using veltra::test::CoreSession;
using veltra::test::kKnownFile;
using veltra::test::kKnownLines;
using veltra::test::ScriptedPrompts;

namespace {

using Pages = QList<QStringList>; // field texts of pages 0..8 in item order

const QString kBad = QString(QChar::ReplacementCharacter);
const QString kRefused = QStringLiteral(
    "VELTRAの現在値が読み込まれていないか、正常値ではありません。保存を中止します。");
const QString kSaveFailed = QStringLiteral("設定値を保存できませんでした。");
const QString kNotSettingsFile =
    QStringLiteral("VELTRA設定ファイルではありません。読み込みを終了します。");
const QString kUnreadable = QStringLiteral("設定ファイルを読み込めませんでした。");
const QString kLoaded = QStringLiteral("設定値が読み込まれました。");
constexpr qsizetype kHugeFileBytes = 50 * 1024 * 1024;

Pages knownState()
{
    Pages pages;
    for (int line : {2, 4, 5, 6, 7, 8, 9, 10, 11})
        pages << kKnownLines[line].split(u',').mid(1);
    return pages;
}

// The data lines a reader hands on: line 3 and lines 5..12.
QStringList knownDataLines()
{
    QStringList lines = kKnownLines.mid(4);
    lines.prepend(kKnownLines[2]);
    return lines;
}

QList<QByteArray> knownFileLines()
{
    QList<QByteArray> lines = kKnownFile.split('\n');
    lines.removeLast();
    for (QByteArray &line : lines)
        line.chop(1); // the CR
    return lines;
}

QByteArray joined(const QList<QByteArray> &lines, const QByteArray &end = "\r\n")
{
    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += line + end;
    return bytes;
}

Pages startUp()
{
    Pages pages;
    for (int page = 0; page < kPageCount; ++page)
        pages << QStringList(itemCount(page), notLoadedText());
    return pages;
}

Pages with(Pages pages, int page, const QStringList &values)
{
    pages[page] = values;
    return pages;
}

Pages setValues(const SettingsFields &fields)
{
    Pages pages = startUp();
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            pages[page][item] = fields.setValue(page, item);
    return pages;
}

Pages presentValues(const SettingsFields &fields)
{
    Pages pages = startUp();
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            pages[page][item] = fields.presentValue(page, item);
    return pages;
}

void setPresent(SettingsFields &fields, const Pages &pages)
{
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            fields.setPresentValue(page, item, pages[page][item]);
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The path as the system writes it: C:\folder\file.DT on Windows.
QString confirmation(const QString &absolutePath)
{
    return QDir::toNativeSeparators(absolutePath) + u'\n' +
           QStringLiteral("のVELTRA設定ファイルを読み込みます。");
}

// How far the peak resident memory rose while `run` ran, in KiB; nullopt where the kernel
// cannot reset its peak.
std::optional<qint64> peakGrowthKiB(const std::function<void()> &run)
{
    const auto statusKiB = [](QByteArrayView key) {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return qint64(-1);
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith(key))
                return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
        return qint64(-1);
    };
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    // 5: reset the peak to the present size.
    if (!clear.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || clear.write("5") != 1)
        return std::nullopt;
    clear.close();
    const qint64 before = statusKiB("VmRSS:");
    run();
    const qint64 peak = statusKiB("VmHWM:");
    if (before < 0 || peak < 0)
        return std::nullopt;
    return peak - before;
}

// A folder in which nobody, root included, can create a file: root ignores permission bits,
// but not the immutable attribute.
class UnwritableFolder
{
public:
    explicit UnwritableFolder(const QString &path) : m_path(path)
    {
#ifdef Q_OS_UNIX
        m_immutable = geteuid() == 0;
#endif
        if (m_immutable)
            m_changed = QProcess::execute(QStringLiteral("chattr"), {"+i", m_path}) == 0;
        else
            m_changed = QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ExeOwner);
    }
    ~UnwritableFolder()
    {
        if (!m_changed)
            return;
        if (m_immutable)
            QProcess::execute(QStringLiteral("chattr"), {"-i", m_path});
        else
            QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    bool holds() const
    {
        QFile probe(m_path + QStringLiteral("/probe"));
        const bool created = probe.open(QIODevice::WriteOnly);
        if (created)
            probe.remove();
        return m_changed && !created;
    }

private:
    QString m_path;
    bool m_immutable = false;
    bool m_changed = false;
};

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private slots:
    void codecRoundTrip_data();
    void codecRoundTrip();
    void knownBytes_data();
    void knownBytes();
    void unrepresentable_data();
    void unrepresentable();
    void invalidBytes_data();
    void invalidBytes();
    void separatorsSurviveBadBytes();

    void readLines_data();
    void readLines();
    void unreadable();
    void hugeFile_data();
    void hugeFile();

    void parseCommonLine_data();
    void parseCommonLine();
    void parseCircuitLine_data();
    void parseCircuitLine();

    void saveWritesKnownBytes();
    void saveThenLoad();
    void saveRefused_data();
    void saveRefused();
    void editedValuesRoundTrip();
    void editedSaveRefusedListsTheProblems();
    void failedSaveKeepsOldFile_data();
    void failedSaveKeepsOldFile();
    void load_data();
    void load();
    void misplacedLabels_data();
    void misplacedLabels();
};

void TestSettingsFile::codecRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    for (int page : {kCommonPage, 1}) {
        for (int item = 0; item < itemCount(page); ++item) {
            const QStringList values = valueList(pageKind(page), item);
            for (int code = 0; code < values.size(); ++code)
                QTest::addRow("page %d item %d value %d", page, item, code) << values[code];
        }
    }
}

void TestSettingsFile::codecRoundTrip()
{
    QFETCH(QString, text);
    const std::optional<QByteArray> bytes = encodeShiftJis(text);
    QVERIFY(bytes);
    QCOMPARE(decodeShiftJis(*bytes), text);
}

void TestSettingsFile::knownBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("half-width katakana") << "ﾛｯｸ" << QByteArray("\xDB\xAF\xB8");
    QTest::newRow("phi") << "φ" << QByteArray("\x83\xD3");
    QTest::newRow("seconds") << "(秒)" << QByteArray("(\x95\x62)");
    QTest::newRow("full-width digit") << "１８" << QByteArray("\x82\x50\x82\x57");
    QTest::newRow("arrow") << "⇒" << QByteArray("\x81\xCB");
    QTest::newRow("0x5C as second byte") << "表" << QByteArray("\x95\x5C");
    QTest::newRow("empty") << "" << QByteArray("");
}

void TestSettingsFile::knownBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeShiftJis(text).value_or("(none)"), bytes);
    QCOMPARE(decodeShiftJis(bytes), text);
}

void TestSettingsFile::unrepresentable_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("hangul") << "한";
    QTest::newRow("euro") << "€";
    QTest::newRow("emoji") << "😀";
    QTest::newRow("lone surrogate") << QString(QChar(0xD800));
    QTest::newRow("replacement character") << kBad;
    // Mapped one way only: what the file would hold reads back as another character.
    QTest::newRow("wave dash") << "〜";
    QTest::newRow("yen sign") << "¥";
    QTest::newRow("minus sign") << "−";
}

void TestSettingsFile::unrepresentable()
{
    QFETCH(QString, text);
    QVERIFY(!encodeShiftJis(QStringLiteral("50Hz") + text));
}

void TestSettingsFile::invalidBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("first byte at the end") << QByteArray("50Hz\x82") << "50Hz" + kBad;
    QTest::newRow("first byte before a comma") << QByteArray("\x81,60Hz") << kBad + ",60Hz";
    QTest::newRow("unassigned pair") << QByteArray("\x85\x40") << kBad + "@";
    QTest::newRow("never used bytes") << QByteArray("\xFD\xFE\xFF") << kBad + kBad + kBad;
    QTest::newRow("between valid characters") << QByteArray("\xDB\xFF\xAF") << "ﾛ" + kBad + "ｯ";
}

void TestSettingsFile::invalidBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeShiftJis(bytes), text);
}

void TestSettingsFile::separatorsSurviveBadBytes()
{
    // Every pair of bytes followed by a comma: a bad first byte must never swallow the comma.
    QByteArray bytes;
    for (int first = 0; first < 256; ++first)
        for (int second = 0; second < 256; ++second)
            bytes += char(first) + QByteArray(1, char(second)) + ',';
    const QString text = decodeShiftJis(bytes);
    QCOMPARE(text.count(u','), bytes.count(','));
    QCOMPARE(text.count(u' '), bytes.count(' '));
}

void TestSettingsFile::readLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("lines");
    const QList<QByteArray> lines = knownFileLines();
    const int ok = int(LoadStatus::Ok);
    const int notFile = int(LoadStatus::NotSettingsFile);
    const int tooShort = int(LoadStatus::TooShort);

    QTest::newRow("CR LF") << kKnownFile << ok << knownDataLines();
    QTest::newRow("lone CR") << joined(lines, "\r") << ok << knownDataLines();
    QByteArray mixed;
    for (int i = 0; i < lines.size(); ++i)
        mixed += lines[i] + (i % 2 ? "\r" : "\r\n");
    QTest::newRow("CR and CR LF mixed") << mixed << ok << knownDataLines();
    QTest::newRow("no end after line 12") << kKnownFile.chopped(2) << ok << knownDataLines();
    QTest::newRow("lines after 12") << kKnownFile + "\xFF\r\n\r\nmore" << ok << knownDataLines();
    QList<QByteArray> withLf = lines;
    withLf[2].insert(withLf[2].indexOf(','), '\n');
    QStringList dataWithLf = knownDataLines();
    dataWithLf[0].insert(dataWithLf[0].indexOf(u','), u'\n');
    QTest::newRow("lone LF stays in its line") << joined(withLf) << ok << dataWithLf;
    QList<QByteArray> badByte = lines;
    badByte[4] += '\xFF';
    QStringList dataBadByte = knownDataLines();
    dataBadByte[1] += kBad;
    QTest::newRow("bad byte in a value") << joined(badByte) << ok << dataBadByte;
    // The reader takes the file in chunks: a CR LF split between two must still be one end.
    for (int boundary = 1 << 12; boundary <= 1 << 20; boundary <<= 2) {
        QList<QByteArray> padded = lines;
        padded[1] +=
            QByteArray(boundary - 1 - joined(lines.mid(0, 1)).size() - padded[1].size(), 'x');
        QTest::addRow("CR LF across %d", boundary) << joined(padded) << ok << knownDataLines();
    }
    // Reading in 64 KiB chunks: a CR that opens a chunk, a last byte alone in one, a line
    // exactly as long as the bound, and an LF after a CR LF that opens the next line.
    constexpr qsizetype kChunk = 64 * 1024;
    QList<QByteArray> crFirst = lines;
    const qsizetype tail = kChunk - joined(lines.mid(0, 2)).size() - crFirst[2].size();
    crFirst[2] += QByteArray(tail, 'x'); // beyond the last item: kept in the line, not parsed
    QStringList dataCrFirst = knownDataLines();
    dataCrFirst[0] += QString(tail, u'x');
    QTest::newRow("CR first in a chunk") << joined(crFirst) << ok << dataCrFirst;
    QByteArray lastAlone = kKnownFile.chopped(2);
    lastAlone.insert(lines[0].size() + 2 + lines[1].size(),
                     QByteArray(kChunk + 1 - lastAlone.size(), 'x'));
    QTest::newRow("last byte alone in a chunk") << lastAlone << ok << knownDataLines();
    QList<QByteArray> longest = lines;
    const qsizetype labelEnd = longest[2].indexOf(',');
    const qsizetype padding = kChunk - longest[2].size();
    longest[2].insert(labelEnd, QByteArray(padding, 'x'));
    QStringList dataLongest = knownDataLines();
    dataLongest[0].insert(dataLongest[0].indexOf(u','), QString(padding, u'x'));
    QTest::newRow("a line as long as the bound") << joined(longest) << ok << dataLongest;
    QList<QByteArray> lfFirst = lines;
    lfFirst[2].prepend('\n');
    QStringList dataLfFirst = knownDataLines();
    dataLfFirst[0].prepend(u'\n');
    QTest::newRow("LF after CR LF") << joined(lfFirst) << ok << dataLfFirst;

    QTest::newRow("LF only") << joined(lines, "\n") << notFile << QStringList();
    QTest::newRow("blank before the marker") << " " + kKnownFile << notFile << QStringList();
    QByteArray trailingBlank = kKnownFile;
    trailingBlank.insert(lines[0].size(), ' ');
    QTest::newRow("marker and a blank") << trailingBlank << notFile << QStringList();
    QTest::newRow("marker in lower case")
        << "veltra" + kKnownFile.mid(6) << notFile << QStringList();
    QTest::newRow("marker in UTF-8")
        << kKnownLines[0].toUtf8() + kKnownFile.mid(lines[0].size()) << notFile << QStringList();
    QTest::newRow("eleven lines") << joined(lines.mid(0, 11)) << tooShort << QStringList();
    QTest::newRow("marker only") << lines[0] << tooShort << QStringList();
    QTest::newRow("empty file") << QByteArray() << tooShort << QStringList();
}

void TestSettingsFile::readLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(QStringList, lines);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.DT"));
    QVERIFY(writeBytes(path, bytes));
    const LoadedFile loaded = readSettingsFile(path);
    QCOMPARE(int(loaded.status), status);
    QCOMPARE(loaded.lines, lines);
}

void TestSettingsFile::unreadable()
{
    QTemporaryDir dir;
    QCOMPARE(readSettingsFile(dir.filePath(QStringLiteral("missing.DT"))).status,
             LoadStatus::Unreadable);
    QCOMPARE(readSettingsFile(dir.path()).status, LoadStatus::Unreadable);
#ifdef Q_OS_LINUX
    // It opens, but reading fails: an error, never a file that merely ends early.
    QCOMPARE(readSettingsFile(QStringLiteral("/proc/self/mem")).status, LoadStatus::Unreadable);
#endif
}

void TestSettingsFile::hugeFile_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<int>("status");
    const QList<QByteArray> lines = knownFileLines();
    QTest::newRow("no line end at all")
        << QByteArray() << QByteArray() << int(LoadStatus::NotSettingsFile);
    QTest::newRow("huge line 2") << joined(lines.mid(0, 1)) << "\r\n" + joined(lines.mid(2))
                                 << int(LoadStatus::Ok);
    QTest::newRow("huge line 12") << joined(lines.mid(0, 11)) + lines[11] << QByteArray()
                                  << int(LoadStatus::Ok);
}

void TestSettingsFile::hugeFile()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, tail);
    QFETCH(int, status);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.DT"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(head);
        const QByteArray block(1024 * 1024, 'x');
        for (qsizetype written = 0; written < kHugeFileBytes; written += block.size())
            QCOMPARE(file.write(block), block.size());
        file.write(tail);
    }
    LoadedFile loaded;
    const std::optional<qint64> growth = peakGrowthKiB([&] { loaded = readSettingsFile(path); });
    QCOMPARE(int(loaded.status), status);
    for (const QString &line : loaded.lines)
        QVERIFY(line.size() <= 64 * 1024);
    if (status == int(LoadStatus::Ok)) {
        QCOMPARE(loaded.lines.mid(0, 8), knownDataLines().mid(0, 8));
        QVERIFY(loaded.lines[8].startsWith(kKnownLines[11]));
    }
    if (!growth)
        QSKIP("the peak memory of a process cannot be reset here");
    QVERIFY2(*growth < 16 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(*growth)));
}

void TestSettingsFile::parseCommonLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("values");
    const QStringList known = knownState()[0];
    QTest::newRow("commas") << kKnownLines[2] << known;
    QTest::newRow("blanks") << QString(kKnownLines[2]).replace(u',', u' ') << known;
    QTest::newRow("blank after the first comma")
        << QString(kKnownLines[2]).replace(4, 1, QStringLiteral(", "))
        << QStringList{"", "60Hz", "手動", "自動", "手動", "有り", "無し"};
    QTest::newRow("comma and blank between values")
        << "共通設定,50Hz, 自動,手動" << QStringList{"50Hz", "", "自動", "手動", "", "", ""};
    QTest::newRow("two commas") << "共通設定,,60Hz" << QStringList{"", "60Hz", "", "", "", "", ""};
    QTest::newRow("too few values")
        << "共通設定,60Hz" << QStringList{"60Hz", "", "", "", "", "", ""};
    QTest::newRow("label only") << "共通設定" << QStringList(7, "");
    QTest::newRow("label and comma") << "共通設定," << QStringList(7, "");
    QTest::newRow("empty line") << "" << QStringList(7, notLoadedText());
    QTest::newRow("surplus ignored") << kKnownLines[2] + ",999,x y" << known;
    QTest::newRow("no label") << ",a,b" << QStringList{"a", "b", "", "", "", "", ""};
    QTest::newRow("leading blank") << " a,b" << QStringList{"a", "b", "", "", "", "", ""};
    QTest::newRow("ideographic space and tab are text")
        << "x,自　動,a\tb" << QStringList{"自　動", "a\tb", "", "", "", "", ""};
    QTest::newRow("placeholder splits at its blanks")
        << "x,* * * *,ERROR" << QStringList{"*", "*", "*", "*", "ERROR", "", ""};
    QTest::newRow("LF and bad bytes are text")
        << "x,6\n0," + kBad << QStringList{"6\n0", kBad, "", "", "", "", ""};
}

void TestSettingsFile::parseCommonLine()
{
    QFETCH(QString, line);
    QFETCH(QStringList, values);
    MemoryFields fields;
    ParseCommonLine(line, fields);
    QCOMPARE(setValues(fields), with(startUp(), kCommonPage, values));
    QCOMPARE(presentValues(fields), startUp());
}

void TestSettingsFile::parseCircuitLine_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("line");
    QTest::addColumn<Pages>("expected");
    const Pages known = knownState();
    QTest::newRow("circuit 1") << 1 << kKnownLines[4] << with(startUp(), 1, known[1]);
    QTest::newRow("circuit 8, blanks")
        << 8 << QString(kKnownLines[11]).replace(u',', u' ') << with(startUp(), 8, known[8]);
    QTest::newRow("label decides nothing") << 3 << kKnownLines[4] << with(startUp(), 3, known[1]);
    QTest::newRow("too few values")
        << 2 << "回路２,ﾛｯｸ" << with(startUp(), 2, {"ﾛｯｸ", "", "", "", ""});
    QTest::newRow("empty line") << 5 << "" << startUp();
    QTest::newRow("common page") << 0 << kKnownLines[4] << startUp();
    QTest::newRow("page 9") << 9 << kKnownLines[4] << startUp();
    QTest::newRow("page -1") << -1 << kKnownLines[4] << startUp();
}

void TestSettingsFile::parseCircuitLine()
{
    QFETCH(int, page);
    QFETCH(QString, line);
    QFETCH(Pages, expected);
    MemoryFields fields;
    ParseCircuitLine(page, line, fields);
    QCOMPARE(setValues(fields), expected);
}

void TestSettingsFile::saveWritesKnownBytes()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("relay.DT"));
    QVERIFY(writeBytes(path, QByteArray(4096, 'o'))); // longer than the new file
    CoreSession session;
    ScriptedPrompts &prompts = session.prompts;
    setPresent(session.fields, knownState());
    prompts.saveNames << path;
    session.commands.SaveSettingsFile();
    QCOMPARE(readBytes(path), kKnownFile);
    QCOMPARE(prompts.texts(), QStringList());
    QCOMPARE(setValues(session.fields), startUp());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"relay.DT"});
}

void TestSettingsFile::saveThenLoad()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
    QVERIFY(QDir::setCurrent(dir.path()));
    CoreSession session;
    ScriptedPrompts &prompts = session.prompts;
    // Every list value at least once; neighbouring items never share a value, so a swap of
    // the reset-mode columns shows.
    for (int round = 0; round < 16; ++round) {
        Pages state = startUp();
        for (int page = 0; page < kPageCount; ++page)
            for (int item = 0; item < itemCount(page); ++item) {
                const QStringList values = valueList(pageKind(page), item);
                state[page][item] = values[(round + page + item) % values.size()];
            }
        setPresent(session.fields, state);
        prompts.clear();
        prompts.saveNames << dir.filePath(QStringLiteral("state.DT"));
        prompts.openNames << QStringLiteral("state.DT"); // relative: shown in full
        prompts.answers << kAnswerYes;
        session.commands.SaveSettingsFile();
        session.commands.LoadSettingsFile();
        QCOMPARE(setValues(session.fields), state);
        QCOMPARE(presentValues(session.fields), state);
        QCOMPARE(prompts.texts(),
                 (QStringList{confirmation(QDir::currentPath() + "/state.DT"), kLoaded}));
        QCOMPARE(prompts.messages[0].style, kStyleConfirm);
    }
}

void TestSettingsFile::editedValuesRoundTrip()
{
    // Every value a write takes: each list, the leakage sensitivities beyond it, and station
    // numbers 001..128 with 000 and 255. Saved from the set values, loaded back to the same
    // set values, in the very bytes the present values' save writes.
    auto candidates = [](int page, int item) {
        QStringList values = valueList(pageKind(page), item);
        if (page != kCommonPage && item == 3)
            for (int tenths = 11; tenths <= 20; ++tenths)
                values << QStringLiteral("%1.%2(A)").arg(tenths / 10).arg(tenths % 10);
        if (page == kCommonPage && item == kStationItem)
            values << QStringLiteral("000") << QStringLiteral("255");
        return values;
    };
    QTemporaryDir dir;
    const QString edited = dir.filePath(QStringLiteral("edited.DT"));
    const QString fromPresent = dir.filePath(QStringLiteral("present.DT"));
    CoreSession session;
    ScriptedPrompts &prompts = session.prompts;
    for (int round = 0; round < 130; ++round) {
        Pages state = startUp();
        for (int page = 0; page < kPageCount; ++page)
            for (int item = 0; item < itemCount(page); ++item) {
                const QStringList values = candidates(page, item);
                state[page][item] = values[(round + page + item) % values.size()];
                session.fields.setSetValue(page, item, state[page][item]);
            }
        setPresent(session.fields, state);
        prompts.clear();
        prompts.saveNames << edited << fromPresent;
        session.commands.saveEditedSettingsFile();
        session.commands.SaveSettingsFile();
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(readBytes(edited), readBytes(fromPresent));

        setPresent(session.fields, startUp());
        for (int page = 0; page < kPageCount; ++page)
            for (int item = 0; item < itemCount(page); ++item)
                session.fields.setSetValue(page, item, notLoadedText());
        prompts.openNames << edited;
        prompts.answers << kAnswerYes;
        session.commands.LoadSettingsFile();
        QCOMPARE(setValues(session.fields), state);
    }
    // The next save proposes the file last loaded.
    prompts.saveNames << std::nullopt;
    session.commands.saveEditedSettingsFile();
    QCOMPARE(prompts.proposedPaths.constLast(), edited);
}

void TestSettingsFile::editedSaveRefusedListsTheProblems()
{
    QTemporaryDir dir;
    CoreSession session;
    ScriptedPrompts &prompts = session.prompts;
    prompts.saveNames << dir.filePath(QStringLiteral("x.DT"));
    session.commands.saveEditedSettingsFile(); // right after start-up: 47 values not chosen
    QCOMPARE(prompts.messages.size(), 1);
    const QStringList lines = prompts.messages[0].text.split(u'\n');
    QCOMPARE(lines.size(), 2 + 10 + 1);
    QCOMPARE(lines[2], QStringLiteral("共通設定 監視電路周波数 \"* * * *\": 値が選ばれていません"));
    QCOMPARE(lines.last(), QStringLiteral("ほか 37 件"));
    QVERIFY(prompts.proposedPaths.isEmpty()); // no dialog
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestSettingsFile::saveRefused_data()
{
    QTest::addColumn<Pages>("present");
    QTest::newRow("right after start-up") << startUp();
    Pages error = knownState();
    error[8][4] = errorText();
    QTest::newRow("ERROR on circuit 8 only") << error;
    error = knownState();
    error[1][0] = errorText();
    QTest::newRow("ERROR in a page's first item") << error;
    Pages placeholder = knownState();
    placeholder[0][6] = notLoadedText();
    QTest::newRow("station number not read") << placeholder;
}

void TestSettingsFile::saveRefused()
{
    QFETCH(Pages, present);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.DT"));
    CoreSession session;
    ScriptedPrompts &prompts = session.prompts;
    setPresent(session.fields, present);
    prompts.saveNames << path;
    session.commands.SaveSettingsFile();
    QCOMPARE(prompts.texts(), QStringList{kRefused});
    QCOMPARE(prompts.messages[0].style, kStyleNotice);
    QCOMPARE(prompts.saveNames.size(), 1); // no dialog
    QVERIFY(!QFile::exists(path));
}

void TestSettingsFile::failedSaveKeepsOldFile_data()
{
    QTest::addColumn<QString>("folder"); // below the temporary folder
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QString>("value"); // present value of circuit 1 item 0
    QTest::newRow("read-only folder") << "ro"
                                      << "old.DT" << true << "1φ3W";
    // The new file is written beside the old one under a longer name first.
    QTest::newRow("no room for the temporary name")
        << "long" << QString(250, u'n') << true << "1φ3W";
    QTest::newRow("text Shift-JIS cannot hold") << "plain"
                                                << "old.DT" << true << "1φ3W€";
    QTest::newRow("missing folder") << "missing"
                                    << "new.DT" << false << "1φ3W";
    QTest::newRow("target is a folder") << "plain"
                                        << "sub" << false << "1φ3W";
}

void TestSettingsFile::failedSaveKeepsOldFile()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(bool, existing);
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString folderPath = dir.filePath(folder);
    const QString path = folderPath + u'/' + name;
    const QByteArray old = "old settings\r\n";
    if (folder != QLatin1String("missing"))
        QVERIFY(QDir().mkpath(folderPath));
    if (name == QLatin1String("sub"))
        QVERIFY(QDir().mkpath(path));
    if (existing)
        QVERIFY(writeBytes(path, old));
    std::optional<UnwritableFolder> readOnly;
    if (folder == QLatin1String("ro")) {
        readOnly.emplace(folderPath);
        if (!readOnly->holds())
            QSKIP("no way to make a folder read-only for this user here");
    }
    const QStringList before = QDir(folderPath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    CoreSession session;
    ScriptedPrompts &prompts = session.prompts;
    Pages state = knownState();
    state[1][0] = value;
    setPresent(session.fields, state);
    prompts.saveNames << path;
    session.commands.SaveSettingsFile();
    QCOMPARE(prompts.texts(), QStringList{kSaveFailed});
    QCOMPARE(prompts.messages[0].style, kStyleNotice);
    QCOMPARE(QDir(folderPath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    if (existing)
        QCOMPARE(readBytes(path), old);
}

void TestSettingsFile::load_data()
{
    QTest::addColumn<QByteArray>("bytes"); // null: no such file
    QTest::addColumn<MessageCode>("answer");
    QTest::addColumn<QStringList>("messages"); // after the confirmation
    QTest::addColumn<Pages>("expected");
    QTest::addColumn<int>("refusedWrite"); // page whose write is refused after loading
    const QList<QByteArray> lines = knownFileLines();
    const Pages known = knownState();
    const QStringList done{kLoaded};
    const QStringList notFile{kNotSettingsFile};

    QTest::newRow("settings file") << kKnownFile << kAnswerYes << done << known << -1;
    QTest::newRow("answered No") << kKnownFile << kAnswerNo << QStringList() << startUp() << -1;
    QTest::newRow("no CR LF at the end")
        << kKnownFile.chopped(2) << kAnswerYes << done << known << -1;
    QTest::newRow("marker and a blank") << joined(QList<QByteArray>{lines[0] + ' '} + lines.mid(1))
                                        << kAnswerYes << notFile << startUp() << -1;
    QTest::newRow("marker in lower case")
        << "veltra" + kKnownFile.mid(6) << kAnswerYes << notFile << startUp() << -1;
    QTest::newRow("LF line ends") << joined(lines, "\n") << kAnswerYes << notFile << startUp()
                                  << -1;
    // Said, not silent: the set values shown are still the previous file's.
    QTest::newRow("eleven lines") << joined(lines.mid(0, 11)) << kAnswerYes << notFile << startUp()
                                  << -1;
    QList<QByteArray> swapped = lines;
    swapped.swapItemsAt(4, 6);
    Pages swappedPages = known;
    swappedPages.swapItemsAt(1, 3);
    QTest::newRow("circuit lines in another order")
        << joined(swapped) << kAnswerYes << done << swappedPages << -1;
    QList<QByteArray> shifted = lines;
    shifted[2].insert(shifted[2].indexOf(',') + 1, ' ');
    QTest::newRow("blank after the first comma")
        << joined(shifted) << kAnswerYes << done
        << with(known, 0, QStringList{""} + known[0].mid(0, 6)) << -1;
    QList<QByteArray> emptyLine7 = lines;
    emptyLine7[6].clear();
    QTest::newRow("empty line 7") << joined(emptyLine7) << kAnswerYes << done
                                  << with(known, 3, startUp()[3]) << -1;
    QList<QByteArray> error = lines;
    error[5].replace("\xDB\xAF\xB8,100", "ERROR,100");
    QTest::newRow("ERROR in the file")
        << joined(error) << kAnswerYes << (done + QStringList{test::text::kInvalidSet})
        << with(known, 2, QStringList{"ERROR"} + known[2].mid(1)) << 2;
    QTest::newRow("no such file") << QByteArray() << kAnswerYes << QStringList{kUnreadable}
                                  << startUp() << -1;
}

void TestSettingsFile::load()
{
    QFETCH(QByteArray, bytes);
    QFETCH(MessageCode, answer);
    QFETCH(QStringList, messages);
    QFETCH(Pages, expected);
    QFETCH(int, refusedWrite);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.DT"));
    if (!bytes.isNull())
        QVERIFY(writeBytes(path, bytes));
    CoreSession session;
    ScriptedPrompts &prompts = session.prompts;
    prompts.openNames << path;
    prompts.answers << answer;
    session.commands.LoadSettingsFile();
    if (refusedWrite >= 0)
        session.commands.pageButton(refusedWrite, PageAction::Write);
    QCOMPARE(prompts.texts(), QStringList{confirmation(path)} + messages);
    QCOMPARE(setValues(session.fields), expected);
    QCOMPARE(presentValues(session.fields), startUp());
}

void TestSettingsFile::misplacedLabels_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<int>>("misplaced");
    const QStringList known = knownDataLines();
    QTest::newRow("all in place") << known << QList<int>{};
    QStringList swapped = known;
    swapped[0].replace(QStringLiteral("共通設定"), QStringLiteral("回路１"));
    QTest::newRow("the common line labelled as a circuit") << swapped << QList<int>{0};
    QStringList empty = known;
    empty[0].clear();
    QTest::newRow("an empty common line") << empty << QList<int>{0};
    QStringList labelOnly = known;
    labelOnly[8] = QStringLiteral("回路８");
    QTest::newRow("a line of its label alone") << labelOnly << QList<int>{};
    QTest::newRow("fewer lines than pages") << known.mid(0, 2) << QList<int>{};
}

// check says so where a line's label does not match its place; loading goes by place.
void TestSettingsFile::misplacedLabels()
{
    QFETCH(QStringList, lines);
    QFETCH(QList<int>, misplaced);
    QCOMPARE(veltra::misplacedLabels(lines), misplaced);
}

QTEST_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
