#pragma once

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <sys/resource.h>
#endif

namespace veltra::test {

// CPU time this process has used, user and system, in ms.
inline double processCpuMs()
{
#ifdef Q_OS_WIN
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ms = [](FILETIME t) {
        return double((quint64(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](timeval t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
#endif
}

} // namespace veltra::test
