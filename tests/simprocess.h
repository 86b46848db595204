#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Starts zetra-sim with the given options and learns the pty path it prints
// on its first line. The simulator is stopped when the object goes.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &options = {});
    ~SimProcess();

    bool start(const QStringList &options);
    bool isRunning() const { return process.state() == QProcess::Running; }
    QString portName() const { return path; }
    // Stops the simulator with SIGTERM and waits for it; returns its exit code.
    int stop();
    // What the simulator wrote to standard error so far (its --verbose log).
    QByteArray errorOutput();

private:
    QProcess process;
    QString path;
    QByteArray stderrSoFar;
};
