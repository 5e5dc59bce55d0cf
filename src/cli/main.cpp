#include "cli/cli.h"
#include "file/filenames.h"
#include "programstart.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace {

// What the first stop says at once, before the frame on the line completes; and what the second
// says before the program ends at once.
constexpr char kFirstStop[] =
    "\nveltra-cli: 送信中のフレームを終えてから止めます。もう一度で直ちに終了します。 (stopping "
    "after the frame on the line; stop again to end at once)\n";
constexpr char kSecondStop[] =
    "\nveltra-cli: 二度目の中断のため、直ちに終了します。 (second stop: ending now; a frame on "
    "the line may be cut short)\n";

std::atomic<int> g_stops{0};

#ifndef Q_OS_WIN
// The first stop is carried to the event loop through a pipe (a signal handler may do no more);
// the second ends the program at once.
int g_stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const int saved = errno;
    if (g_stops.fetch_add(1) > 0) {
        [[maybe_unused]] const ssize_t said =
            ::write(STDERR_FILENO, kSecondStop, sizeof kSecondStop - 1);
        ::_exit(veltra::cli::kStopped);
    }
    [[maybe_unused]] const ssize_t said = ::write(STDERR_FILENO, kFirstStop, sizeof kFirstStop - 1);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_stopPipe[1], &byte, 1);
    errno = saved;
}

void catchStops(veltra::cli::StopRequests &stops)
{
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, &stops);
    QObject::connect(notifier, &QSocketNotifier::activated, &stops, [&stops] {
        char bytes[16];
        while (::read(g_stopPipe[0], bytes, sizeof bytes) > 0) {
        }
        stops.request();
    });
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // the serial line and the files go on as if nothing came
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
#endif

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
    // Ctrl+C at the question is an answer too: no.
    pollfd waits[2] = {{tty, POLLIN, 0}, {g_stopPipe[0], POLLIN, 0}};
    while (g_stops.load() == 0) {
        if (::poll(waits, g_stopPipe[0] >= 0 ? 2 : 1, -1) < 0 && errno != EINTR)
            break;
        if (g_stops.load() != 0 || !(waits[0].revents & (POLLIN | POLLHUP)))
            continue;
        if (::read(tty, &c, 1) != 1 || c == '\n')
            break;
        typed += c;
    }
    ::close(tty);
    if (g_stops.load() != 0)
        return QString();
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

public:
    static void restore()
    {
        if (s_found != 0)
            SetConsoleOutputCP(s_found);
    }

private:
    UINT m_found;
    static inline UINT s_found = 0;
};

veltra::cli::StopRequests *g_stopRequests = nullptr;
std::atomic<bool> g_finished{false};

// Runs on a thread of its own, which the system starts for the event.
BOOL WINAPI onConsoleStop(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (g_stops.fetch_add(1) > 0 && event != CTRL_CLOSE_EVENT) {
        std::fwrite(kSecondStop, 1, sizeof kSecondStop - 1, stderr);
        std::fflush(stderr);
        ConsoleOutputCodePage::restore();
        ExitProcess(veltra::cli::kStopped);
    }
    if (event != CTRL_CLOSE_EVENT) {
        std::fwrite(kFirstStop, 1, sizeof kFirstStop - 1, stderr);
        std::fflush(stderr);
    }
    QMetaObject::invokeMethod(g_stopRequests, &veltra::cli::StopRequests::request,
                              Qt::QueuedConnection);
    // A closed console ends the process once this returns: the frame on the line and the
    // report get the few seconds the system gives.
    if (event == CTRL_CLOSE_EVENT)
        for (int waited = 0; waited < 4500 && !g_finished.load(); waited += 10)
            Sleep(10);
    return TRUE;
}

void catchStops(veltra::cli::StopRequests &stops)
{
    g_stopRequests = &stops;
    SetConsoleCtrlHandler(&onConsoleStop, TRUE);
}
#endif

QtMessageHandler g_handler = nullptr;

// Gui's start-up remarks on what only a desktop session has (XDG_RUNTIME_DIR under su or a
// service): nothing a record needs, and it would stand before the command's own words. What
// names a category of its own, and every error, still goes out.
void quietStart(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg || qstrcmp(context.category, "default") != 0)
        g_handler(type, context, text);
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    veltra::restrictDllSearch();
    const veltra::RunningMark running;
    static const ConsoleOutputCodePage codePage;
#endif
    // The command's words are ASCII in every code page: enough to tell before any application
    // exists whether it needs Gui's fonts.
    QStringList words;
    for (int i = 1; i < std::min(argc, 3); ++i)
        words << QString::fromLocal8Bit(argv[i]);
    std::unique_ptr<QCoreApplication> app;
    if (veltra::cli::paints(words)) {
#ifndef Q_OS_WIN
        // It shows nothing: no display needed, over ssh or in a service too.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
        g_handler = qInstallMessageHandler(quietStart);
        app = std::make_unique<QGuiApplication>(argc, argv);
        qInstallMessageHandler(g_handler);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("veltra-cli"));

    veltra::cli::StopRequests stops;
    catchStops(stops);
    veltra::cli::Console console;
    console.out = [](const QByteArray &text) { put(stdout, text); };
    console.err = [](const QByteArray &text) { put(stderr, text); };
    console.ask = askOnTerminal;
    console.errorIsTerminal = isTerminal(stderr);
    console.stops = &stops;
#ifdef Q_OS_WIN
    const QStringList arguments = QCoreApplication::arguments().mid(1);
#else
    // Names as the bytes given: Qt's own decoding turns every byte that is no UTF-8 into one
    // character, so that two such names would name one file.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << veltra::decodeFileName(argv[i]);
#endif
    const int code = veltra::cli::run(arguments, console);
#ifdef Q_OS_WIN
    g_finished = true;
#endif
    return code;
}
