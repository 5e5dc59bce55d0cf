#pragma once

#include <QString>

// The operations' reports, each written once: the window shows them, the command line prints
// them and tells its outcome by them.
namespace veltra::messages {

QString invalidSetValues();
QString invalidPresentValues();
QString allRead();
QString pageRead(int page);
QString written();
QString verified();
QString notTaken(); // follows the list of items the relay did not take
QString clearSent(bool operationValues);
QString saveRefused();
QString saveFailed();
QString notSettingsFile();
QString unreadable();
QString loaded();

} // namespace veltra::messages
