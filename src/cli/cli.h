#pragma once

#include "operations/messages.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

class QJsonObject;

namespace veltra {
class SerialPort;
struct PresentPort;
} // namespace veltra

namespace veltra::cli {

// The exit statuses, where every outcome's meaning is (operations/messages.h).
using enum veltra::ExitCode;

// A stop asked for from outside (Ctrl+C, SIGTERM, SIGHUP; Ctrl+C or a closed console on
// Windows): the command running ends after the frame on the line, and no later one starts.
class StopRequests final : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    void request()
    {
        if (std::exchange(m_requested, true))
            return;
        emit requested();
    }
    bool isRequested() const { return m_requested; }

signals:
    void requested();

private:
    bool m_requested = false;
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
    // Stops from outside; none when null.
    StopRequests *stops = nullptr;
};

// One port as `ports` lists it: name<TAB>description<TAB>manufacturer<TAB>VID:PID<TAB>serial
// number, with empty fields at the end left off, so that a script reading the first two
// fields reads them as before the others came.
QString portLine(const PresentPort &port);
// The same port as `ports --json` lists it.
QJsonObject portJson(const PresentPort &port);

// Runs one command line (without the program's name); returns the exit code.
int run(const QStringList &arguments, const Console &console);
// Whether the command it names paints pages: only such a one needs a QGuiApplication, and with
// it a platform; every other runs on a QCoreApplication, with no display at all.
bool paints(const QStringList &arguments);

} // namespace veltra::cli
