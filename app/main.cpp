#include "launchoptions.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Where QSettings keeps what the window remembers between runs.
    QApplication::setOrganizationName(QStringLiteral("ZETRA"));
    QApplication::setApplicationName(QStringLiteral("zetra-configurator"));
    QApplication::setApplicationVersion(QStringLiteral(ZETRA_VERSION));
    const LaunchOptions options = parseLaunchOptions(QApplication::arguments());
    MainWindow window;
    window.show();
    applyLaunchOptions(window, options);
    return app.exec();
}
