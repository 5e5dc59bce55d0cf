#include "file/sjis.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <algorithm>
#include <cerrno>
#include <iconv.h>
#endif

namespace veltra {
namespace {

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD"; // U+FFFD

#ifdef Q_OS_WIN

constexpr UINT kCodePage = 932;

std::optional<QByteArray> toCodePage(const QString &text)
{
    if (text.isEmpty())
        return QByteArray();
    const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    const int wideSize = int(text.size());
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, wideSize, nullptr,
                                         0, nullptr, &usedDefault);
    if (size <= 0 || usedDefault)
        return std::nullopt;
    QByteArray bytes(size, Qt::Uninitialized);
    if (WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, wideSize, bytes.data(), size,
                            nullptr, &usedDefault) != size ||
        usedDefault)
        return std::nullopt;
    return bytes;
}

QString fromCodePage(QByteArrayView bytes)
{
    // Character by character, so that one bad byte costs one U+FFFD and nothing more; the
    // system's own substitution for bad bytes is not U+FFFD and differs between lead bytes.
    QString text;
    text.reserve(bytes.size());
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const auto lead = static_cast<BYTE>(bytes[pos]);
        const int length = IsDBCSLeadByteEx(kCodePage, lead) && pos + 1 < bytes.size() ? 2 : 1;
        wchar_t wide[2];
        const int got = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes.data() + pos,
                                            length, wide, 2);
        if (got > 0) {
            text.append(QStringView(reinterpret_cast<const char16_t *>(wide), got));
            pos += length;
        } else {
            text.append(QChar::ReplacementCharacter);
            ++pos;
        }
    }
    return text;
}

#else

// Runs `cd` over all of `input`. An invalid or truncated sequence either ends the conversion
// (nullopt) or, with `replace`, becomes U+FFFD for its first byte, and the rest is converted.
std::optional<QByteArray> convert(const char *to, const char *from, QByteArrayView input,
                                  bool replace)
{
    iconv_t cd = iconv_open(to, from);
    // mutate: equivalent: const 1 to 2, const 1 to 0: reached only when the C library has no CP932
    // converter; none here lacks it
    if (cd == reinterpret_cast<iconv_t>(-1))
        // mutate: equivalent: delete stmt: reached only when the C library has no CP932 converter;
        // none here lacks it
        return std::nullopt; // no converter
    // A CP932 byte becomes at most three UTF-8 bytes, and so does a replacement for one byte or
    // more; UTF-8 never grows into CP932.
    // mutate: equivalent: const 3 to 4: more room than the worst case needs
    QByteArray output(input.size() * 3, Qt::Uninitialized);
    char *in = const_cast<char *>(input.data());
    size_t inLeft = size_t(input.size());
    char *out = output.data();
    const QByteArrayView replacement(kReplacementUtf8);
    std::optional<QByteArray> result;
    for (;;) {
        size_t outLeft = size_t(output.data() + output.size() - out);
        if (iconv(cd, &in, &inLeft, &out, &outLeft) != size_t(-1)) {
            output.truncate(out - output.data());
            result = output;
            break;
        }
        // mutate: equivalent: logic || to &&: an unencodable text goes on to replacements, but the
        // round trip after it refuses the text all the same
        if ((errno != EILSEQ && errno != EINVAL) || !replace)
            // mutate: equivalent: delete stmt: an unencodable text goes on to replacements, but the
            // round trip after it refuses the text all the same
            break; // an error that is not the text's
        out = std::copy(replacement.begin(), replacement.end(), out);
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    return result;
}

std::optional<QByteArray> toCodePage(const QString &text)
{
    return convert("CP932", "UTF-8", text.toUtf8(), false);
}

QString fromCodePage(QByteArrayView bytes)
{
    const std::optional<QByteArray> utf8 = convert("UTF-8", "CP932", bytes, true);
    if (!utf8)
        // mutate: equivalent: delete stmt: reached only when the C library has no CP932 converter;
        // none here lacks it
        return QString(bytes.size(), QChar::ReplacementCharacter); // no converter
    return QString::fromUtf8(*utf8);
}

#endif

} // namespace

std::optional<QByteArray> encodeShiftJis(const QString &text)
{
    std::optional<QByteArray> bytes = toCodePage(text);
    // Code page 932 maps several characters to one byte sequence (and a lone surrogate may be
    // replaced on the way): only a text that comes back unchanged is what the file will hold.
    if (!bytes || fromCodePage(*bytes) != text)
        return std::nullopt;
    return bytes;
}

QString decodeShiftJis(QByteArrayView bytes)
{
    return fromCodePage(bytes);
}

} // namespace veltra
