// Prints one line per figure: BENCH <name> <value> <unit>.
// Every ratio divides a measured time by the floor the line itself sets:
// bytes at 11 bits each and 115200 baud, plus the engine's 5 ms pause.
#include "deviceharness.h"
#include "modbuscodec.h"
#include "simprocess.h"

#include "firmwareimage.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
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

// Lateness of a 10 ms timer in the window thread: how long the window
// could not react while the device worked.
class StallMeter
{
public:
    StallMeter()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (last >= 0)
                worstNs = qMax(worstNs, now - last - kIntervalMs * 1000000);
            last = now;
        });
        clock.start();
        timer.start(kIntervalMs);
    }
    double worstMs() const { return worstNs / 1e6; }

private:
    static constexpr int kIntervalMs = 10;
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = -1;
    qint64 worstNs = 0;
};

template<typename T>
T *formWidget(QWidget &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

// The real window, connected to the simulator through its own panel.
bool connectWindow(MainWindow &window, SimProcess &sim)
{
    auto *combo = formWidget<QComboBox>(window, "comboBox_list_port_rs485");
    auto *connectButton = formWidget<QAbstractButton>(window, "pushButton_connect_to_rs485");
    if (!sim.isRunning() || !combo || !connectButton)
        return false;
    QSignalSpy state(window.device(), &SerialTop::connectedChanged);
    combo->setEditText(sim.portName());
    connectButton->click();
    return state.wait(20000) && state.last().at(0).toBool();
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

// Thirty seconds of measurement through the window's start button.
void guiStallWhileMeasuring()
{
    SimProcess sim({"--line-rate"});
    MainWindow window;
    window.show();
    if (!connectWindow(window, sim)) {
        std::fprintf(stderr, "could not connect the window\n");
        return;
    }
    QSignalSpy distances(window.device(), &SerialTop::checkDistance);
    formWidget<QAbstractButton>(window, "toolButton_start_meas")->click();
    StallMeter stall;
    QElapsedTimer clock;
    clock.start();
    waitUntil([&] { return clock.elapsed() >= 30000; }, 40000);
    formWidget<QAbstractButton>(window, "toolButton_start_meas")->click();
    report("gui_stall_ms", stall.worstMs(), "ms");
    report("window_measure_rate_hz", distances.count() / (clock.nsecsElapsed() / 1e9), "Hz");
}

// The largest image at line rate with an instant erase, started from the
// programming tab, with the window's stalls measured meanwhile.
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
    MainWindow window;
    window.show();
    if (!connectWindow(window, sim)) {
        std::fprintf(stderr, "could not connect the window\n");
        return;
    }
    QSignalSpy finished(window.device(), &SerialTop::firmwareUpdateFinished);
    formWidget<QLineEdit>(window, "lineEdit_file_name")->setText(path);
    StallMeter stall;
    QElapsedTimer clock;
    clock.start();
    formWidget<QAbstractButton>(window, "pushButton_firmware_update")->click();
    if (!finished.wait(900000) || !finished.at(0).at(0).toBool()) {
        std::fprintf(stderr, "firmware update failed\n");
        return;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const int blocks = (image.size() + 255) / 256;
    const double floor = blocks * ((10 + 256 + 6) * kByteSeconds + kPauseSeconds);
    report("flash_update_s", seconds, "s");
    report("flash_update_ratio", seconds / floor, "x");
    report("gui_stall_update_ms", stall.worstMs(), "ms");
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Never the settings of the user running it, nor shaped by them.
    QStandardPaths::setTestModeEnabled(true);
    // The window reads info.txt from the working directory: show every tab.
    QTemporaryDir workDir;
    QDir::setCurrent(workDir.path());
    QFile info(QStringLiteral("info.txt"));
    if (info.open(QIODevice::WriteOnly))
        info.write("bench|Elevated");
    info.close();
    // Names on the command line pick figures; none runs them all.
    QStringList wanted = app.arguments().mid(1);
    auto run = [&](const char *name, void (*figure)()) {
        if (wanted.isEmpty() || wanted.contains(QLatin1String(name)))
            figure();
    };
    run("read_cycle", readCycleRatio);
    run("measure_rate", measureRate);
    run("raw_readout", rawReadoutRatio);
    run("gui_stall", guiStallWhileMeasuring);
    run("flash_update", flashUpdateRatio);
    return 0;
}
