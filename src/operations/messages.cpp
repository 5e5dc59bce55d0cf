#include "operations/messages.h"

#include "settings/items.h"

namespace veltra::messages {

QString invalidSetValues()
{
    return QStringLiteral(
        "設定値が読み込まれていないか、正常値ではありません。再設定してください。");
}

QString invalidPresentValues()
{
    return QStringLiteral(
        "現在値が読み込まれていないか、正常値ではありません。再読み込みしてください。");
}

QString allRead()
{
    return QStringLiteral("設定値の読み込みが終了しました。");
}

QString pageRead(int page)
{
    if (page == kCommonPage)
        return QStringLiteral("共通設定値の読み込みが終了しました。");
    return QStringLiteral("回路%1設定値の読み込みが終了しました。").arg(fullWidthDigit(page));
}

QString written()
{
    return QStringLiteral("設定値の書き込みが終了しました。");
}

QString verified()
{
    return QStringLiteral("設定値の書き込みと照合が終了しました。");
}

QString notTaken()
{
    return QStringLiteral("設定値が反映されていない項目があります。");
}

QString clearSent(bool operationValues)
{
    return operationValues ? QStringLiteral("動作値のクリアを送信しました。")
                           : QStringLiteral("最大値のクリアを送信しました。");
}

QString saveRefused()
{
    return QStringLiteral(
        "VELTRAの現在値が読み込まれていないか、正常値ではありません。保存を中止します。");
}

QString saveFailed()
{
    return QStringLiteral("設定値を保存できませんでした。");
}

QString notSettingsFile()
{
    return QStringLiteral("VELTRA設定ファイルではありません。読み込みを終了します。");
}

QString unreadable()
{
    return QStringLiteral("設定ファイルを読み込めませんでした。");
}

QString loaded()
{
    return QStringLiteral("設定値が読み込まれました。");
}

} // namespace veltra::messages
