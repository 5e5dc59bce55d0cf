#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace veltra {
class SerialPort;
}

namespace veltra::cli {

enum ExitCode : int {
    kSuccess = 0,
    kDifferences = 1,
    kUsage = 2,
    kNoReply = 3,
    kDataError = 4,
    kPortUnusable = 5,
    kInvalid = 6,
    kFileError = 7,
    kDeclined = 8,
    kNotVerified = 9,
};

// Where the command line reads and writes; the program passes its own streams, the soak
// benchmark collects the output.
struct Console
{
    std::function<void(const QByteArray &utf8)> out; // results
    std::function<void(const QByteArray &utf8)> err; // errors, questions, progress
    // Asks on the controlling terminal (the console on Windows), where a person sees the
    // question whatever the streams are redirected to, and returns the line typed; nothing
    // when there is no terminal to ask on.
    std::function<std::optional<QString>(const QString &question)> ask;
    bool errorIsTerminal = false; // progress is shown only there
    // The serial line of each session; the platform's own when empty.
    std::function<SerialPort *()> serialPort;
};

// Runs one command line (without the program's name); returns the exit code.
int run(const QStringList &arguments, const Console &console);

} // namespace veltra::cli
