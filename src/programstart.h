#pragma once

// What each of the tool's programs does first in main, before Qt or anything else runs.

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <qt_windows.h>

namespace veltra {

// DLLs load from the program's own folder and the system's, never from the current folder:
// a .DT file double-clicked in a downloads folder makes that the current folder. Qt loads its
// plugins by full path.
inline void restrictDllSearch()
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

// Held while the program runs: the installer and the uninstaller look for it and will not
// replace or remove the program's files under it. The Global\ one is seen from other
// sessions too (another user's, or the installer's own when it runs elsewhere).
class RunningMark
{
public:
    RunningMark()
        : m_session(CreateMutexW(nullptr, FALSE, L"" VELTRA_RUNNING_MUTEX)),
          m_global(CreateMutexW(nullptr, FALSE, L"Global\\" VELTRA_RUNNING_MUTEX))
    {}
    ~RunningMark()
    {
        for (const HANDLE mutex : {m_session, m_global}) {
            if (mutex)
                CloseHandle(mutex);
        }
    }
    RunningMark(const RunningMark &) = delete;
    RunningMark &operator=(const RunningMark &) = delete;

private:
    HANDLE m_session;
    HANDLE m_global;
};

} // namespace veltra
#endif
