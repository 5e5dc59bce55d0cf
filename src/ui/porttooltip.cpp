#include "ui/porttooltip.h"

#include "link/portdetails.h"
#include "operations/messages.h"

#include <QStringList>

namespace veltra {

QString portFieldToolTip(const QString &fieldText, const QList<PresentPort> &ports)
{
    QStringList lines{QStringLiteral("パソコンのRS-232のポートを選択します。")};
    const std::optional<QString> device = systemPortName(fieldText);
    const std::optional<NetworkAddress> address = device ? networkAddress(*device) : std::nullopt;
    if (address && address->kind == NetworkAddress::Kind::Raw)
        lines << QStringLiteral("%1 → %2 のポート %3 に TCP で接続します。")
                     .arg(fieldText, address->host)
                     .arg(address->port);
    else if (address)
        lines << QStringLiteral("%1 → %2 のポート %3 に Telnet (RFC 2217) で接続し、")
                     .arg(fieldText, address->host)
                     .arg(address->port)
              << QStringLiteral("　9600bps・7ビット・偶数パリティ・ストップビット1に設定します。");
    else
        lines << (device ? QStringLiteral("%1 → %2").arg(fieldText, *device)
                         : QStringLiteral("\"%1\" で開けるポートはありません。").arg(fieldText));
    lines << QString() << QStringLiteral("このパソコンのシリアルポート:");
    if (ports.isEmpty())
        lines << QStringLiteral("　見つかりません");
    for (const PresentPort &port : ports) {
        // Three identical adapters differ only by their serial numbers.
        QStringList words{port.name};
        if (!port.description.isEmpty())
            words << port.description;
        if (!port.manufacturer.isEmpty() && port.manufacturer != port.description)
            words << port.manufacturer;
        if (!port.usbId.isEmpty())
            words << QStringLiteral("USB %1").arg(port.usbId);
        if (!port.serialNumber.isEmpty())
            words << QStringLiteral("シリアル番号 %1").arg(port.serialNumber);
        lines << u'　' + words.join(u'　');
        if (const std::optional<LineNotice> slow =
                port.latencyTimerMs ? latencyTimerNotice({}, *port.latencyTimerMs) : std::nullopt)
            for (const QString &sentence :
                 messages::lineNotice(*slow).split(u'。', Qt::SkipEmptyParts))
                lines << QStringLiteral("　　%1。").arg(sentence); // a tooltip does not wrap
    }
#ifndef Q_OS_WIN
    // The usual reason a port that is there will not open.
    lines << QString()
          << QStringLiteral("開けないときは、ユーザーが dialout グループに入っているか確かめて"
                            "ください（ヘルプの[追加機能]「ポートが開けないとき」）。");
#endif
    return lines.join(u'\n');
}

} // namespace veltra
