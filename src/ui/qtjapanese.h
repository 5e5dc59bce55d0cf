#pragma once

class QTranslator;

namespace veltra {

// Qt's own texts (the standard buttons, the file and print dialogs) in Japanese, as the
// rest of the window. The translator installed, or nullptr when Qt's Japanese translation
// is nowhere to be found: they then stay English.
QTranslator *installQtJapanese();

} // namespace veltra
