#include "ui/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("veltra-settings"));
    QApplication::setApplicationVersion(QStringLiteral("2.1"));
    // Ties the window to its desktop entry (icon and name) where the desktop asks.
    QGuiApplication::setDesktopFileName(QStringLiteral("veltra-settings"));
    // The main window decides when the program ends, whatever other windows are open.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Initial text of the COM port field."),
                                        QStringLiteral("NAME"));
    parser.addOption(portOption);
    parser.process(app);

    veltra::MainWindow window(nullptr, parser.value(portOption));
    QObject::connect(&window, &veltra::MainWindow::exitRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    return app.exec();
}
