#include "launchoptions.h"

#include "language.h"
#include "mainwindow.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

LaunchOptions parseLaunchOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("main", "Configurator for the ZETRA radar altimeter (Modbus RTU over RS-485)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QCoreApplication::translate("main", "Select serial port NAME (added to the list if the system does not list it)."),
        QStringLiteral("NAME"));
    const QCommandLineOption connectOption(
        QStringLiteral("connect"),
        QCoreApplication::translate("main", "Connect to the device once the window is up."));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        QCoreApplication::translate("main", "For documentation: save a PNG picture of the window to PATH a moment after "
                                            "start-up (and after connecting, with --connect), then quit."),
        QStringLiteral("PATH"));
    const QCommandLineOption languageOption(
        QStringLiteral("lang"),
        QCoreApplication::translate("main", "Window language LANG: ru or en (default: the one last chosen in the "
                                            "menu, else the system's)."),
        QStringLiteral("LANG"));
    parser.addOption(portOption);
    parser.addOption(connectOption);
    parser.addOption(screenshotOption);
    parser.addOption(languageOption);
    parser.process(arguments);

    LaunchOptions options;
    options.port = parser.value(portOption);
    options.connect = parser.isSet(connectOption);
    options.screenshot = parser.value(screenshotOption);
    options.language = parser.value(languageOption);
    if (parser.isSet(languageOption) && !Language::available().contains(options.language)) {
        std::fprintf(stderr, "Unknown language '%s' for --lang: choose one of %s\n", qPrintable(options.language),
                     qPrintable(Language::available().join(QStringLiteral(", "))));
        std::exit(1);
    }
    return options;
}

void applyLaunchOptions(MainWindow &window, const LaunchOptions &options)
{
    MainWindow *w = &window;
    if (!options.port.isEmpty())
        w->selectPort(options.port);
    if (options.connect)
        QTimer::singleShot(0, w, [w] { w->pressConnect(); });
    if (!options.screenshot.isEmpty()) {
        const QString path = options.screenshot;
        QTimer::singleShot(options.screenshotDelayMs, w, [w, path] {
            const bool saved = w->grab().save(path, "PNG");
            if (!saved)
                std::fprintf(stderr, "Could not write the screenshot to %s\n", qPrintable(path));
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
}
