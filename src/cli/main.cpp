#include "cli/cli.h"
#include "programstart.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h>
#else
#include <unistd.h>
#endif

namespace {

bool isTerminal(FILE *stream)
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stream)) != 0;
#else
    return ::isatty(fileno(stream)) != 0;
#endif
}

void put(FILE *stream, const QByteArray &utf8)
{
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stream);
    std::fflush(stream);
}

#ifdef Q_OS_WIN
// The messages are Japanese and written as UTF-8, so the console shows UTF-8 while the
// program runs; then it gets back the code page it had, for whatever the user or a script
// runs in it next. Restored on return and exit() (a static's destructor) and on Ctrl+C,
// Ctrl+Break or a closed console window (the control handler).
class ConsoleOutputCodePage
{
public:
    ConsoleOutputCodePage() : m_found(GetConsoleOutputCP())
    {
        // No console at all: nothing to set, nothing to restore.
        if (m_found == 0)
            return;
        s_found = m_found;
        SetConsoleCtrlHandler(&restoreOnSignal, TRUE);
        SetConsoleOutputCP(CP_UTF8);
    }
    ~ConsoleOutputCodePage()
    {
        if (m_found != 0)
            SetConsoleOutputCP(m_found);
    }
    ConsoleOutputCodePage(const ConsoleOutputCodePage &) = delete;
    ConsoleOutputCodePage &operator=(const ConsoleOutputCodePage &) = delete;

private:
    static BOOL WINAPI restoreOnSignal(DWORD)
    {
        SetConsoleOutputCP(s_found);
        return FALSE; // and end as the signal ends a program
    }

    UINT m_found;
    static inline UINT s_found = 0;
};
#endif

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    veltra::restrictDllSearch();
    const veltra::RunningMark running;
    static const ConsoleOutputCodePage codePage;
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veltra-cli"));

    veltra::cli::Console console;
    console.out = [](const QByteArray &text) { put(stdout, text); };
    console.err = [](const QByteArray &text) { put(stderr, text); };
    console.readLine = [] {
        std::string line;
        std::getline(std::cin, line);
        return QString::fromLocal8Bit(line.c_str());
    };
    console.inputIsTerminal = isTerminal(stdin);
    console.errorIsTerminal = isTerminal(stderr);
    return veltra::cli::run(QCoreApplication::arguments().mid(1), console);
}
