#include "simprocess.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>

#include <cstdio>

SimProcess::SimProcess(const QStringList &options)
{
    start(options);
}

quint64 SimProcess::runSeed()
{
    static const quint64 seed = [] {
        bool given = false;
        quint64 value = qEnvironmentVariable("ZETRA_SEED").toULongLong(&given);
        if (!given)
            value = QRandomGenerator::system()->generate64();
        // Standard output, beside the test's own report, whatever the log settings.
        std::printf("SEED %llu (%s; ZETRA_SEED=%llu replays this run's random faults)\n",
                    static_cast<unsigned long long>(value), given ? "from ZETRA_SEED" : "fresh",
                    static_cast<unsigned long long>(value));
        std::fflush(stdout);
        return value;
    }();
    return seed;
}

QStringList SimProcess::seeded(const QStringList &options)
{
    return options + QStringList{QStringLiteral("--seed"), QString::number(runSeed())};
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::start(const QStringList &options)
{
    stop();
    path.clear();
    process.start(QString::fromUtf8(ZETRA_SIM_PATH), options);
    if (!process.waitForStarted(10000))
        return false;
    QDeadlineTimer deadline(20000);
    while (!process.canReadLine() && !deadline.hasExpired() && process.state() == QProcess::Running)
        process.waitForReadyRead(200);
    if (!process.canReadLine())
        return false;
    path = QString::fromLocal8Bit(process.readLine()).trimmed();
    return !path.isEmpty();
}

int SimProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return process.exitCode();
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    stderrSoFar += process.readAllStandardError();
    return process.exitCode();
}

QByteArray SimProcess::errorOutput()
{
    stderrSoFar += process.readAllStandardError();
    return stderrSoFar;
}
