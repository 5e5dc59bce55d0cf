#include "ui/porttooltip.h"

#include <QStringList>

namespace veltra {

QString portFieldToolTip(const QString &fieldText, const QList<PresentPort> &ports)
{
    QStringList lines{QStringLiteral("パソコンのRS-232のポートを選択します。")};
    const std::optional<QString> device = systemPortName(fieldText);
    lines << (device ? QStringLiteral("%1 → %2").arg(fieldText, *device)
                     : QStringLiteral("\"%1\" で開けるポートはありません。").arg(fieldText));
    lines << QString() << QStringLiteral("このパソコンのシリアルポート:");
    if (ports.isEmpty())
        lines << QStringLiteral("　見つかりません");
    for (const PresentPort &port : ports)
        lines << (port.description.isEmpty()
                      ? QStringLiteral("　%1").arg(port.name)
                      : QStringLiteral("　%1　%2").arg(port.name, port.description));
#ifndef Q_OS_WIN
    // The usual reason a port that is there will not open.
    lines << QString()
          << QStringLiteral("開けないときは、ユーザーが dialout グループに入っているか確かめて"
                            "ください（ヘルプの[追加機能]「ポートが開けないとき」）。");
#endif
    return lines.join(u'\n');
}

} // namespace veltra
