// Prints one line per figure: BENCH <name> <value> <unit>.
// Every ratio divides a measured time by the floor the line itself sets:
// bytes at 11 bits each and 115200 baud, plus the engine's 5 ms pause.
#include "deviceharness.h"
#include "modbuscodec.h"
#include "simprocess.h"

#include "firmwareimage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr double kByteSeconds = 11.0 / 115200.0;
constexpr double kPauseSeconds = 0.005;

void report(const char *name, double value, const char *unit)
{
    std::printf("BENCH %s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

bool connectDevice(DeviceHarness &device, SimProcess &sim)
{
    if (!sim.isRunning() || !device.connectTo(sim.portName())) {
        std::fprintf(stderr, "could not connect to the simulator\n");
        return false;
    }
    return true;
}

// One acknowledged read of a single holding register, in a steady burst.
void readCycleRatio()
{
    SimProcess sim({"--line-rate"});
    DeviceHarness device;
    if (!connectDevice(device, sim))
        return;
    QSignalSpy answers(device.top, &SerialTop::rcvProtocolType);
    constexpr int kBursts = 5, kPerBurst = 100;
    QElapsedTimer clock;
    clock.start();
    for (int burst = 1; burst <= kBursts; ++burst) {
        for (int i = 0; i < kPerBurst; ++i)
            device.top->getProtType();
        if (!waitUntil([&] { return answers.count() >= burst * kPerBurst; }, 60000)) {
            std::fprintf(stderr, "read_cycle: answers missing\n");
            return;
        }
    }
    const double perRead = clock.nsecsElapsed() / 1e9 / (kBursts * kPerBurst);
    const double floor = (8 + 7) * kByteSeconds + kPauseSeconds;
    report("read_cycle_ms", perRead * 1000, "ms");
    report("read_cycle_ratio", perRead / floor, "x");
}

// Distance readings per second with the 100 ms measurement timer running.
void measureRate()
{
    SimProcess sim({"--line-rate"});
    DeviceHarness device;
    if (!connectDevice(device, sim))
        return;
    QSignalSpy distances(device.top, &SerialTop::checkDistance);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, device.top, [&] { device.top->getDistance(); });
    tick.start(100);
    QElapsedTimer clock;
    clock.start();
    waitUntil([&] { return clock.elapsed() >= 10000; }, 20000);
    tick.stop();
    report("measure_rate_hz", distances.count() / (clock.nsecsElapsed() / 1e9), "Hz");
}

// A full raw buffer: type select, size read, then 50-point blocks.
void rawReadoutRatio()
{
    constexpr int kPoints = 1025;
    SimProcess sim({"--line-rate", "--raw-points", QString::number(kPoints)});
    DeviceHarness device;
    if (!connectDevice(device, sim))
        return;
    QSignalSpy done(device.top, &SerialTop::RawIsRead);
    QSignalSpy points(device.top, &SerialTop::rcvRawData);
    QElapsedTimer clock;
    clock.start();
    device.top->getDataRaw(2);
    if (!done.wait(60000) || points.count() != kPoints) {
        std::fprintf(stderr, "raw read-out incomplete\n");
        return;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    int bytes = (8 + 8) + (8 + 7);
    int requests = 2;
    for (int left = kPoints; left > 0; left -= 50, ++requests)
        bytes += 8 + 4 * qMin(left, 50) + 5;
    const double floor = bytes * kByteSeconds + requests * kPauseSeconds;
    report("raw_readout_s", seconds, "s");
    report("raw_readout_ratio", seconds / floor, "x");
}

// The largest image at line rate with an instant erase.
void flashUpdateRatio()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("image.bin");
    QByteArray payload(int(FirmwareImage::kMaxSize / 4 * 4) - FirmwareImage::kTrailerSize, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char((i * 7919) >> 3);
    const QByteArray image = FirmwareImage::withTrailer(payload);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return;
    file.close();

    SimProcess sim({"--line-rate", "--erase-ms", "0"});
    DeviceHarness device;
    if (!connectDevice(device, sim))
        return;
    QSignalSpy finished(device.top, &SerialTop::firmwareUpdateFinished);
    QElapsedTimer clock;
    clock.start();
    device.top->firmwareUpdate(path);
    if (!finished.wait(900000) || !finished.at(0).at(0).toBool()) {
        std::fprintf(stderr, "firmware update failed\n");
        return;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const int blocks = (image.size() + 255) / 256;
    const double floor = blocks * ((10 + 256 + 6) * kByteSeconds + kPauseSeconds);
    report("flash_update_s", seconds, "s");
    report("flash_update_ratio", seconds / floor, "x");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Names on the command line pick figures; none runs them all.
    QStringList wanted = app.arguments().mid(1);
    auto run = [&](const char *name, void (*figure)()) {
        if (wanted.isEmpty() || wanted.contains(QLatin1String(name)))
            figure();
    };
    run("read_cycle", readCycleRatio);
    run("measure_rate", measureRate);
    run("raw_readout", rawReadoutRatio);
    run("flash_update", flashUpdateRatio);
    return 0;
}
