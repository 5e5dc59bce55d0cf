// Writes the seed corpora of the fuzz targets from the real codecs: the simulated relay's
// replies, the tool's own request, write and clear frames, settings files as the tool saves
// them, and a device server's Telnet side, plus a few damaged variants of each. Run once; the
// output is committed.
//
//   fuzz_seedgen <corpus folder>

#include "file/settingsfile.h"
#include "harness.h"
#include "link/frames.h"
#include "relaymodel.h"
#include "settings/decode.h"
#include "settings/encode.h"
#include "settings/items.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace veltra;
using namespace veltra::fuzz;
using namespace veltra::sim;

namespace {

void save(const QString &folder, const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(folder);
    QFile file(folder + u'/' + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
}

// Settings at the edges of every range, beside the simulator's defaults.
RelaySettings edgeSettings()
{
    RelaySettings s;
    s.common = {.frequency = 0,
                .resetBits = 3,
                .leakageReset = 1,
                .tripOnTest = 0,
                .selfDiagnosis = 0,
                .station = 255};
    s.circuits = {{
        {0, 0, 0, 0, 0},
        {5, 15, 4, 9, 11},
        {1, 1, 1, 1, 1},
        {3, 7, 2, 19, 6},
        {4, 8, 3, 10, 7},
        {2, 2, 4, 5, 0},
        {5, 0, 0, 9, 11},
        {1, 15, 4, 0, 3},
    }};
    return s;
}

// The window as after reading every page from `model`, with the set values copied over.
void readAll(const RelayModel &model, HarnessFields &fields)
{
    DecodedRecords records;
    for (int page = 0; page < kPageCount; ++page) {
        DecodeReply(page, model.replyFrame(page), records, fields);
        for (int item = 0; item < itemCount(page); ++item)
            fields.setSetValue(page, item, fields.presentValue(page, item));
    }
}

void replySeeds(const QString &folder)
{
    const RelayModel relay;
    const RelayModel edge(edgeSettings());
    for (int page = 0; page < kPageCount; ++page) {
        save(folder, QStringLiteral("reply-page%1").arg(page), relay.replyFrame(page));
        save(folder, QStringLiteral("reply-edge-page%1").arg(page), edge.replyFrame(page));
    }
    const QByteArray reply = relay.replyFrame(0);
    QByteArray lower = reply;
    lower[18] = char(QChar::toLower(char16_t(lower[18])));
    lower[19] = char(QChar::toLower(char16_t(lower[19])));
    save(folder, QStringLiteral("lowercase-checksum"), lower);
    // The relay's alternative form: the checksum right after the data fields.
    const QByteArray data = replyData(relay.settings(), 3);
    save(folder, QStringLiteral("data-only-checksum"),
         QByteArray(1, kStx) + replyHeader(3) + data + RequestChecksum(data) + kCr);
    save(folder, QStringLiteral("cut-short"), reply.first(17));
    save(folder, QStringLiteral("codes-beyond-lists"),
         sim::replyFrame(replyHeader(5), QByteArrayLiteral("0a10FF1413 0")));
    save(folder, QStringLiteral("empty"), {});
}

void frameSeeds(const QString &folder)
{
    // Two leading bytes choose the chunking: 0x0001 feeds byte by byte, 0xFC00 in large runs.
    const QByteArray byByte("\x01\x00", 2);
    const QByteArray large("\x00\xFC", 2);

    QByteArray allReads;
    for (int page = 0; page < kPageCount; ++page) {
        save(folder, QStringLiteral("read-page%1").arg(page), byByte + readRequest(page));
        allReads += readRequest(page);
    }
    save(folder, QStringLiteral("read-all"), large + allReads);

    HarnessFields fields;
    readAll(RelayModel(), fields);
    for (int page = 0; page < kPageCount; ++page)
        save(folder, QStringLiteral("write-page%1").arg(page),
             byByte + BuildWriteFrame(page, fields));
    // The edge settings hold codes beyond the lists, which go out as "E" and are refused.
    HarnessFields edge;
    readAll(RelayModel(edgeSettings()), edge);
    QByteArray allWrites;
    for (int page = 0; page < kPageCount; ++page)
        allWrites += BuildWriteFrame(page, edge);
    save(folder, QStringLiteral("write-all-edge-then-read"), large + allWrites + allReads);
    fields.setClearOption(0, true);
    fields.setClearOption(1, true);
    save(folder, QStringLiteral("clear-both"), byByte + BuildWriteFrame(kClearPage, fields));
    // "2.0(A)" is beyond the list but still written.
    fields.setSetValue(4, 3, QStringLiteral("2.0(A)"));
    save(folder, QStringLiteral("write-leakage-2A"), byByte + BuildWriteFrame(4, fields));
    // "E" for a text outside its table: the relay refuses the frame.
    fields.setSetValue(0, kStationItem, QStringLiteral("x"));
    save(folder, QStringLiteral("write-unknown-code"), byByte + BuildWriteFrame(0, fields));

    QByteArray badChecksum = readRequest(2);
    badChecksum[9] = char(QChar::toLower(char16_t(badChecksum[9])));
    badChecksum[10] = 'f';
    save(folder, QStringLiteral("read-bad-checksum"), byByte + badChecksum);
    save(folder, QStringLiteral("garbage-then-read"),
         large + QByteArray("\r\x03zz\x02", 5) + readRequest(1));
    save(folder, QStringLiteral("enq-restarts"),
         byByte +
             QByteArray("\x05"
                        "FFA",
                        4) +
             readRequest(0));
    save(folder, QStringLiteral("no-cr-overlong"),
         large + QByteArray(1, kEnq) + QByteArray(80, 'F') + QByteArray(1, kCr) + readRequest(8));
    save(folder, QStringLiteral("only-header"), byByte);
}

// What ser2net 4.3.11's RFC 2217 port sent a client of ours: its options as it accepts, its
// answers to our greeting, and its purge answer ahead of the relay's reply; to a second client,
// its options and then why it hangs up.
const QByteArray kSer2netOptions =
    QByteArray::fromHex("fffb03fffd03fffb01fffe01fffd00fffb00fffd2c");
const QByteArray kSer2netAnswers =
    QByteArray::fromHex("fffd03fffa2c6b00fff0fffa2c6a00fff0fffa2c6b00fff0fffa2c6500002580fff0"
                        "fffa2c6607fff0fffa2c6703fff0fffa2c6801fff0fffa2c6901fff0");
const QByteArray kSer2netPurged = QByteArray::fromHex("fffa2c7001fff0");

void telnetSeeds(const QString &folder)
{
    // Two leading bytes choose the chunking: the first the largest chunk less one, the second
    // how the sizes run; an odd one has our greeting go first.
    const QByteArray byByte("\x00\x00", 2);
    const QByteArray small("\x07\x01", 2);
    const QByteArray large("\xff\x02", 2);
    const QByteArray reply = RelayModel().replyFrame(0);
    const QByteArray sb("\xff\xfa\x2c", 3), se("\xff\xf0", 2);
    save(folder, QStringLiteral("ser2net-session"),
         small + kSer2netOptions + kSer2netAnswers + kSer2netPurged + reply);
    save(folder, QStringLiteral("ser2net-in-use"),
         large + kSer2netOptions + "Port already in use\r\n");
    // NOTIFY-LINESTATE with a parity error in the middle of the reply, an escaped 0xFF and a
    // CR NUL in the data.
    QByteArray spoiled = reply;
    spoiled.insert(10, sb + "\x6a\x04" + se);
    save(folder, QStringLiteral("line-state-mid-reply"),
         byByte + spoiled + QByteArray("\xff\xff\r\0", 4));
    // A subnegotiation padded with escaped 0xFF beyond its room, then one that fits.
    save(folder, QStringLiteral("escaped-ff-beyond-room"),
         large + sb + QByteArray(300, '\xff') + se + sb + "\x6a\x04" + se);
    save(folder, QStringLiteral("options-twice-after-greeting"),
         small + kSer2netOptions + kSer2netOptions);
}

QByteArray savedFile(const RelaySettings &settings)
{
    HarnessFields fields;
    readAll(RelayModel(settings), fields);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("seed.DT"));
    QFile file(path);
    if (writeSettingsFile(path, fields) != FileProblem::None || !file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot write a settings file\n");
        std::exit(1);
    }
    return file.readAll();
}

void settingsFileSeeds(const QString &folder)
{
    const QByteArray saved = savedFile(defaultSettings());
    save(folder, QStringLiteral("saved-default.DT"), saved);
    save(folder, QStringLiteral("saved-edge.DT"), savedFile(edgeSettings()));

    QByteArray lfOnly = saved;
    save(folder, QStringLiteral("lf-only.DT"), lfOnly.replace("\r\n", "\n"));
    QByteArray crOnly = saved;
    save(folder, QStringLiteral("lone-cr.DT"), crOnly.replace("\r\n", "\r"));
    save(folder, QStringLiteral("no-final-crlf.DT"), saved.chopped(2));
    QList<QByteArray> lines = saved.split('\n');
    save(folder, QStringLiteral("eleven-lines.DT"), lines.mid(0, 11).join('\n') + '\n');
    save(folder, QStringLiteral("extra-lines.DT"), saved + saved);
    QByteArray blanks = saved;
    save(folder, QStringLiteral("blank-separated.DT"), blanks.replace(',', ' '));
    QByteArray shifted = saved;
    save(folder, QStringLiteral("empty-fields.DT"), shifted.replace(",", ", ,"));
    // Lines 3 and 7 empty, a lone LF inside line 5.
    lines[2] = "\r";
    lines[6] = "\r";
    lines[4].insert(4, '\n');
    save(folder, QStringLiteral("empty-lines.DT"), lines.join('\n'));
    // Bytes that are no Shift-JIS character: a lone lead byte, 0x80, 0xA0 and 0xFD..0xFF.
    QByteArray invalid = saved;
    const qsizetype line5 = invalid.indexOf("\r\n", invalid.indexOf("\r\n", 100) + 2);
    invalid.insert(line5 - 2, QByteArray("\x81\x80\xA0\xFD\xFE\xFF\x82", 7));
    save(folder, QStringLiteral("invalid-sjis.DT"), invalid);
    QByteArray marker = saved;
    save(folder, QStringLiteral("marker-blank.DT"), marker.insert(marker.indexOf('\r'), ' '));
    save(folder, QStringLiteral("marker-only.DT"), saved.first(saved.indexOf('\n') + 1));
    save(folder, QStringLiteral("empty.DT"), {});
    save(folder, QStringLiteral("lf.DT"), "\n");
    save(folder, QStringLiteral("cr.DT"), "\r");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    replySeeds(root + QStringLiteral("/fuzz_reply"));
    frameSeeds(root + QStringLiteral("/fuzz_simframes"));
    telnetSeeds(root + QStringLiteral("/fuzz_rfc2217"));
    settingsFileSeeds(root + QStringLiteral("/fuzz_settingsfile"));
    return 0;
}
