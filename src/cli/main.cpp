#include "cli/cli.h"
#include "programstart.h"

#include <QCoreApplication>

#include <cstdio>
#include <optional>
#include <string>

#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h>
#else
#include <fcntl.h>
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

// The question goes to the terminal itself, not to a stream that may be a file: a question
// written into a log would wait for ever with nobody to see it.
std::optional<QString> askOnTerminal(const QString &question)
{
#ifdef Q_OS_WIN
    const HANDLE in =
        CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const HANDLE out =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(in);
        return std::nullopt;
    }
    DWORD count = 0;
    const std::wstring text = question.toStdWString();
    WriteConsoleW(out, text.data(), DWORD(text.size()), &count, nullptr);
    std::wstring typed;
    wchar_t buffer[256];
    // A line ends at CR LF on the console; a closed console ends the answer.
    while (typed.find(L'\n') == std::wstring::npos &&
           ReadConsoleW(in, buffer, DWORD(std::size(buffer)), &count, nullptr) && count > 0)
        typed.append(buffer, count);
    CloseHandle(out);
    CloseHandle(in);
    return QString::fromStdWString(typed.substr(0, typed.find(L'\n')));
#else
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return std::nullopt;
    const QByteArray text = question.toUtf8();
    [[maybe_unused]] const ssize_t written = ::write(tty, text.constData(), size_t(text.size()));
    QByteArray typed;
    char c = 0;
    while (::read(tty, &c, 1) == 1 && c != '\n')
        typed += c;
    ::close(tty);
    return QString::fromLocal8Bit(typed);
#endif
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
    console.ask = askOnTerminal;
    console.errorIsTerminal = isTerminal(stderr);
    return veltra::cli::run(QCoreApplication::arguments().mid(1), console);
}
