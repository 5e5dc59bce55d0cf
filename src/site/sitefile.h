#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace veltra {

// The column names a site file's header is read by, in any order.
namespace sitecolumn {
inline constexpr char16_t kTag[] = u"名称";
inline constexpr char16_t kPlace[] = u"場所"; // the only optional one
inline constexpr char16_t kPort[] = u"ポート";
inline constexpr char16_t kStation[] = u"局番号";
inline constexpr char16_t kDesign[] = u"設定ファイル";
} // namespace sitecolumn

// One relay of a plant, as its row says it must be.
struct SiteRelay
{
    int line = 0;       // where its row starts in the file, from 1
    QString tag;        // unique in the file
    QString place;      // may be empty
    QString port;       // as written: what the port field would take
    int station = 0;    // 0..255
    QString design;     // the design .DT as written, relative to the site file
    QString designPath; // the same, resolved beside the site file
    // False when the design file is missing or does not pass the checks a write makes: the
    // site file then has a problem saying so, and the relay is listed only to show it.
    bool designValid = true;
};

// What is wrong with a site file, where: nothing is sent to any relay while there is one.
struct SiteProblem
{
    enum class Kind {
        Unreadable,    // the file could not be read (a folder, a FIFO, missing)
        Unterminated,  // a quoted field that never closes
        NoHeader,      // nothing in the file
        MissingColumn, // a required column is not in the header
        TooManyFields, // a row longer than the header
        EmptyTag,
        DuplicateTag,  // `detail`: the line of its first use
        BadStation,    // not 000..255
        BadPort,       // names no port
        DesignMissing, // no design file named, or none where it is named
        DesignInvalid, // not a settings file, labels out of place, or values not writable
    };
    int line = 0;   // 0 for the file as a whole
    QString column; // the header's name of the column; empty for a whole row or file
    Kind kind = Kind::Unreadable;
    QString detail; // what the row says there, or what a problem names
};

struct SiteFile
{
    QString path;
    QList<SiteRelay> relays; // every row without a problem, and those whose only one is the design

    QList<SiteProblem> problems;
};

// The problem in a few words, as `line<TAB>column<TAB>problem` ends.
QString siteProblemText(const SiteProblem &problem);

// UTF-8 (with or without a byte order mark) when the bytes are valid UTF-8, else Shift-JIS.
QString decodeSiteText(const QByteArray &bytes);

// Records of a comma-separated text: quoted fields may hold commas, line ends and doubled
// quotes. Each record with the line it starts on; blank lines are no records. Nothing when a
// quote never closes, and `unterminatedLine` says where it opened.
struct CsvRecord
{
    int line = 0;
    QStringList fields;
};
std::optional<QList<CsvRecord>> parseCsv(const QString &text, int *unterminatedLine = nullptr);

class MemoryFields;
// The design file's values as set values of `fields`; false when it is no settings file.
bool loadDesign(const QString &path, MemoryFields &fields);

// The settings fingerprint of a relay's design; nothing when its design is not valid.
std::optional<QString> designFingerprint(const SiteRelay &relay);

// Reads a site file and every design file it names. The site file is never written.
SiteFile readSiteFile(const QString &path);

} // namespace veltra
