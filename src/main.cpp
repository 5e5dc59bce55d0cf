#include "file/filenames.h"
#include "programstart.h"
#include "ui/mainwindow.h"
#include "ui/qtjapanese.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    veltra::restrictDllSearch();
    const veltra::RunningMark running;
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("veltra-settings"));
    QApplication::setApplicationVersion(QStringLiteral(VELTRA_VERSION));
    if (!veltra::installQtJapanese())
        qWarning("Qt's Japanese translation (qtbase_ja.qm) was not found: its dialogs show "
                 "English");
    // Ties the window to its desktop entry (icon and name) where the desktop asks.
    QGuiApplication::setDesktopFileName(QStringLiteral("veltra-settings"));
    // The main window decides when the program ends, whatever other windows are open.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Initial text of the COM port field."),
                                        QStringLiteral("NAME"));
    parser.addOption(portOption);
    const QCommandLineOption siteOption(QStringLiteral("site"),
                                        QStringLiteral("A site file (CSV) to open in the site "
                                                       "window."),
                                        QStringLiteral("FILE.csv"));
    parser.addOption(siteOption);
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A settings file (.DT) to load as the values to "
                                                "write, after a confirmation."),
                                 QStringLiteral("[file]"));
#ifdef Q_OS_WIN
    parser.process(app);
#else
    // A file named on the command line is the bytes given: Qt's own decoding turns every byte
    // that is no UTF-8 into one character, which would name another file.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << veltra::decodeFileName(argv[i]);
    parser.process(arguments);
#endif

    veltra::MainWindow window(nullptr, parser.value(portOption));
    QObject::connect(&window, &veltra::MainWindow::exitRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    // A file opened from the desktop loads as through 既存設定値取得, once the window is up.
    if (const QStringList files = parser.positionalArguments(); !files.isEmpty())
        window.openSettingsFileLater(files.constFirst());
    if (parser.isSet(siteOption))
        QTimer::singleShot(0, &window, [&] { window.openSiteFile(parser.value(siteOption)); });
    return app.exec();
}
