#pragma once

#include <QString>

// The messages the operator reads, written out here independently of the product's own
// tables, byte for byte.
namespace veltra::test::text {

inline const QString kNoReply =
    QStringLiteral("通信回線が繋がりません。COMポート番号か、ケーブルの接続を確認してください｡ ");
inline const QString kDataError = QStringLiteral("通信データエラーです。再実行してください。");
inline const QString kPortUnusable = QStringLiteral("指定のCOMポートは使用できません。");
inline const QString kAllRead = QStringLiteral("設定値の読み込みが終了しました。");
inline const QString kWritten = QStringLiteral("設定値の書き込みが終了しました。");
inline const QString kInvalidSet =
    QStringLiteral("設定値が読み込まれていないか、正常値ではありません。再設定してください。");
inline const QString kInvalidPresent =
    QStringLiteral("現在値が読み込まれていないか、正常値ではありません。再読み込みしてください。");
inline const QString kNotVerified =
    QStringLiteral("設定値は送信しましたが、読み戻せなかったため照合できませんでした。");
inline const QString kSaveRefused = QStringLiteral(
    "VELTRAの現在値が読み込まれていないか、正常値ではありません。保存を中止します。");
inline const QString kUnreadable = QStringLiteral("設定ファイルを読み込めませんでした。");
inline const QString kMisplacedLabels =
    QStringLiteral("設定ファイルの行のラベルが位置と合いません。書き込みを中止しました。");
inline const QString kWriteStopped = QStringLiteral("書き込みを中断しました。");
inline const QString kWriteAllConfirm =
    QStringLiteral("VELTRAの共通設定とすべての回路の設定を一度に書き換えます。よろしいですか？");

} // namespace veltra::test::text
