#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Starts zetra-sim with the given options and learns the pty path it prints
// on its first line. The simulator is stopped when the object goes.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &options = {});

    // The seed of this test run's random faults: ZETRA_SEED when set, so a
    // failed run can be replayed, otherwise a fresh one. Taken once per run
    // and printed the first time, with how to replay it.
    static quint64 runSeed();
    // The options with --seed and the run's seed added.
    static QStringList seeded(const QStringList &options);

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
