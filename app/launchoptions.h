#pragma once

#include <QString>
#include <QStringList>

class MainWindow;

// What the command line asks of the window beyond its normal start.
struct LaunchOptions
{
    QString port;         // port to select, added to the list if not listed
    bool connect = false; // press the connect button once the window is up
    QString screenshot;   // write a picture of the window here, then quit
    QString language;     // "ru" or "en"; empty: remembered or the system's
    int screenshotDelayMs = 2000;
};

// Parses the command line; --help and --version print and exit. A malformed
// command line prints the error and exits with status 1.
LaunchOptions parseLaunchOptions(const QStringList &arguments);

// Schedules what the options ask for, to run once the event loop is up.
void applyLaunchOptions(MainWindow &window, const LaunchOptions &options);
