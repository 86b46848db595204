// Prints one line per figure: BENCH <name> <value> <unit>.
// Every ratio divides a measured time by the floor the line itself sets:
// bytes at 11 bits each and 115200 baud, plus the engine's 5 ms pause.
#include "deviceharness.h"
#include "modbuscodec.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTextStream>

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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    readCycleRatio();
    return 0;
}
