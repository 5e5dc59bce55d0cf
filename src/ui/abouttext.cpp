#include "ui/abouttext.h"

#include "version.h"

namespace veltra {

QString aboutText()
{
    return QStringLiteral(
               "VELTRA 設定ソフト Ver." VELTRA_VERSION_SHORT "\n"
               "バージョン %1（ビルド日 %2）\n"
               "Qt %3（実行中の Qt %4）\n\n"
               "MITライセンス\n"
               "Copyright (c) 2026 VELTRA settings tool developers\n"
               "著作権表示と本許諾表示を残す限り、営利・非営利を問わず、自由に使用、変更、"
               "再配布することができます。本ソフトウエアは無保証です。")
        .arg(QStringLiteral(VELTRA_VERSION), QStringLiteral(VELTRA_BUILD_DATE),
             QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()));
}

} // namespace veltra
