#pragma once

#include <QString>

namespace veltra {

// バージョン情報: the program's version and build date, the Qt it was built with and the one
// it runs on, and its licence.
QString aboutText();

} // namespace veltra
