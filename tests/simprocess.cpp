#include "simprocess.h"

#include <QDeadlineTimer>

SimProcess::SimProcess(const QStringList &options)
{
    start(options);
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
