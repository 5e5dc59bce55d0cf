#include "settings/fingerprint.h"

#include "settings/encode.h"
#include "settings/items.h"
#include "settings/writable.h"

#include <QCryptographicHash>

namespace veltra {

std::optional<QByteArray> fingerprintText(const ValueAt &value)
{
    QByteArray text;
    for (int page = 0; page < kPageCount; ++page) {
        text += QByteArray::number(page) + ':';
        for (int item = 0; item < itemCount(page); ++item) {
            const QString shown = value(page, item);
            if (writeProblem(page, item, shown))
                return std::nullopt; // the station number too: such a file cannot be written
            if (page == kCommonPage && item == kStationItem)
                continue;
            const int code = writeCode(pageKind(page), item, shown).value();
            text += QByteArray::number(code, 16).rightJustified(2, '0').toUpper();
        }
        text += '\n';
    }
    return text;
}

std::optional<QString> fingerprint(const ValueAt &value)
{
    const std::optional<QByteArray> text = fingerprintText(value);
    if (!text)
        return std::nullopt;
    const QByteArray digest = QCryptographicHash::hash(*text, QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(8).toUpper());
}

QString shownFingerprint(const std::optional<QString> &fingerprint)
{
    return fingerprint.value_or(QStringLiteral("—"));
}

} // namespace veltra
