#include "cli/cli.h"

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

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    // The messages are Japanese and written as UTF-8; the console must show them as such.
    SetConsoleOutputCP(CP_UTF8);
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
