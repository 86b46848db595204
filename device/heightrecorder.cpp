#include "heightrecorder.h"

#include "deviceparameters.h"

const char *const HeightRecorder::kHeader = "time_s;distance_m;period";

namespace {

constexpr int kTimeDecimals = 3;

} // namespace

bool HeightRecorder::start(const QString &path)
{
    stop();
    file.setFileName(path);
    rows = 0;
    error.clear();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = file.errorString();
        return false;
    }
    active = true;
    clock.start();
    if (file.write(QByteArray(kHeader) + '\n') < 0 || !file.flush())
        return fail();
    return true;
}

bool HeightRecorder::addDistance(double metres)
{
    if (!file.isOpen())
        return true;
    // A reading whose period never came is kept without it.
    if (pending && !writeRow(QString()))
        return false;
    pending = true;
    pendingSeconds = double(clock.elapsed()) / 1000.0;
    pendingMetres = metres;
    return true;
}

bool HeightRecorder::addPeriod(double period)
{
    if (!file.isOpen() || !pending)
        return true;
    return writeRow(DeviceParameters::shortestText(float(period)));
}

bool HeightRecorder::stop()
{
    if (!active)
        return true;
    active = false;
    if (file.isOpen()) {
        if (pending)
            writeRow(QString());
        file.close();
    }
    return error.isEmpty();
}

bool HeightRecorder::writeRow(const QString &period)
{
    pending = false;
    const QString row = QString::number(pendingSeconds, 'f', kTimeDecimals) + QLatin1Char(';')
                        + DeviceParameters::shortestText(float(pendingMetres)) + QLatin1Char(';') + period + QLatin1Char('\n');
    // Flushed row by row: a crash or a pulled plug loses at most one reading.
    if (file.write(row.toUtf8()) < 0 || !file.flush())
        return fail();
    ++rows;
    return true;
}

// The file closes at the first failed write, so nothing stays open.
bool HeightRecorder::fail()
{
    error = file.errorString();
    file.close();
    pending = false;
    return false;
}
