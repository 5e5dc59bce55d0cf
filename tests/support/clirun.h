#pragma once

// veltra-cli as a script or an engineer runs it: the real program as another process. Tests
// that use it define VELTRA_CLI (the CLI label in tests/CMakeLists.txt).

#include <QEventLoop>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

#include <unistd.h>

namespace veltra::test {

struct CliResult
{
    int code = -1; // -1: it did not end in time, or crashed
    QString out;
    QString err;
};

// Started and left running, for a test that acts on it while it works. A session of its own
// has no controlling terminal: nobody to answer a question, wherever the suite itself runs.
inline std::unique_ptr<QProcess> startCli(const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setChildProcessModifier([] { ::setsid(); });
    process->start(QStringLiteral(VELTRA_CLI), arguments);
    process->closeWriteChannel();
    return process->waitForStarted() ? std::move(process) : nullptr;
}

// Waits with events running, so that a server of the test's own answers meanwhile; a process
// still running after `timeoutMs` is killed.
inline CliResult finished(QProcess &process, int timeoutMs = 60000)
{
    if (process.state() != QProcess::NotRunning) {
        QEventLoop loop;
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    CliResult result;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

inline CliResult runCli(const QStringList &arguments, int timeoutMs = 60000)
{
    const std::unique_ptr<QProcess> process = startCli(arguments);
    return process ? finished(*process, timeoutMs) : CliResult{};
}

// The same on a terminal (util-linux script gives it one), with `typed` as the keyboard; what
// the terminal showed, questions and all, comes as `out`.
inline CliResult onTerminal(const QStringList &arguments, const QByteArray &typed)
{
    QStringList quoted;
    for (const QString &argument : QStringList{QStringLiteral(VELTRA_CLI)} + arguments)
        quoted << u'\'' + argument + u'\'';
    QProcess process;
    process.start(QStringLiteral("script"),
                  {QStringLiteral("-qec"), quoted.join(u' '), QStringLiteral("/dev/null")});
    process.write(typed);
    CliResult result;
    if (!process.waitForFinished(60000))
        return result;
    result.code = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    return result;
}

} // namespace veltra::test
