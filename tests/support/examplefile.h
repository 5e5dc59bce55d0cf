#pragma once

#include "file/sjis.h"
#include "settings/items.h"

#include <QFile>
#include <QStringList>

#include <optional>

namespace veltra::test {

// A settings file for the simulated relay to start from, in code page 932 with CR LF ends.
inline bool writeShiftJisFile(const QString &path, const QStringList &lines)
{
    const std::optional<QByteArray> bytes =
        encodeShiftJis(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    QFile file(path);
    return bytes && file.open(QIODevice::WriteOnly) && file.write(*bytes) == bytes->size();
}

inline QStringList exampleFileLines()
{
    QStringList lines{
        QStringLiteral("VELTRA設定ファイル"),
        QStringLiteral(
            "設定項目,周波数,動作表示復帰,絶縁接点復帰,漏電接点復帰,試験トリップ,自己診断,局番号"),
        QStringLiteral("共通設定,50Hz,自動,手動,自動,無し,有り,001"),
        QStringLiteral("回路NO.,電気方式,絶縁感度,絶縁時限,漏電感度,漏電時限"),
    };
    for (int n = 1; n <= 7; ++n)
        lines << QStringLiteral("回路%1,1φ3W,30(mA),10(秒),0.2(A),0.3(秒)").arg(fullWidthDigit(n));
    lines << QStringLiteral("回路８,ﾛｯｸ,100(mA),40(秒),ﾛｯｸ,2.0(秒)");
    return lines;
}

} // namespace veltra::test
