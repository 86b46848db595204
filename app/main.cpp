#include "language.h"
#include "launchoptions.h"
#include "mainwindow.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Where QSettings keeps what the window remembers between runs.
    QApplication::setOrganizationName(QStringLiteral("ZETRA"));
    QApplication::setApplicationName(QStringLiteral("zetra-configurator"));
    QApplication::setApplicationVersion(QStringLiteral(ZETRA_VERSION));
    const LaunchOptions options = parseLaunchOptions(QApplication::arguments());
    // Before the window exists: its form and menus take their texts as built.
    QString problem;
    if (!Language::apply(Language::choose(options.language), &problem))
        std::fprintf(stderr, "Some translations did not load: %s\n", qPrintable(problem));
    MainWindow window;
    window.show();
    applyLaunchOptions(window, options);
    return app.exec();
}
