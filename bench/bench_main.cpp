// Prints one line per figure: BENCH <name> <value> <unit>.
// Every ratio divides a measured time by the floor the line itself sets:
// every byte's wire time on the device's line, plus the engine's 5 ms pause.
#include "stallmeter.h"
#include "deviceharness.h"
#include "linesettings.h"
#include "queuedspy.h"
#include "registermap.h"
#include "modbuscodec.h"
#include "simdefaults.h"
#include "simprocess.h"

#include "deviceparameters.h"
#include "firmwareimage.h"
#include "mainwindow.h"
#include "linemonitorwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTableView>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <sys/prctl.h>

namespace {

constexpr double kByteSeconds = double(Line::kBitsPerByte) / Line::kBaudRate;
constexpr double kPauseSeconds = 0.005;

void report(const char *name, double value, const char *unit)
{
    std::printf("BENCH %s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

void report(const QByteArray &name, double value, const char *unit)
{
    report(name.constData(), value, unit);
}


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
    QueuedSpy state(window.device(), &SerialTop::connectedChanged);
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

// A USB adapter's default latency timer on Linux (FTDI: 16 ms), which holds
// every short answer back before the program sees it.
const QStringList kAdapterHold{"--answer-hold-ms", "16"};

// One acknowledged read of a single holding register, in a steady burst.
void readCycle(const QStringList &lineOptions, const char *msName, const char *ratioName)
{
    SimProcess sim(QStringList{"--line-rate"} + lineOptions);
    DeviceHarness device;
    if (!connectDevice(device, sim))
        return;
    QueuedSpy answers(device.top, &SerialTop::rcvProtocolType);
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
    report(msName, perRead * 1000, "ms");
    report(ratioName, perRead / floor, "x");
}

void readCycleRatio()
{
    readCycle({}, "read_cycle_ms", "read_cycle_ratio");
}

// Distance readings per second with the 100 ms measurement timer running.
void measureRate()
{
    SimProcess sim({"--line-rate"});
    DeviceHarness device;
    if (!connectDevice(device, sim))
        return;
    QueuedSpy distances(device.top, &SerialTop::checkDistance);
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
    QueuedSpy done(device.top, &SerialTop::RawIsRead);
    QueuedSpy points(device.top, &SerialTop::rcvRawData);
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

// One refused read: the wait ends as soon as the 5-byte refusal is in.
void exceptionCycleRatio()
{
    SimProcess sim({"--line-rate", "--missing-register", QString::number(RegisterMap::Holding::SizeLockData)});
    DeviceHarness device;
    if (!connectDevice(device, sim))
        return;
    // A refusal drops the rest of the ring, so the reads go one at a time.
    QueuedSpy refused(device.top, &SerialTop::requestFailed);
    constexpr int kReads = 100;
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= kReads; ++i) {
        device.top->getSizeLockData();
        if (!refused.wait(10000) || refused.count() != i) {
            std::fprintf(stderr, "exception_cycle: refusal missing\n");
            return;
        }
    }
    const double perRead = clock.nsecsElapsed() / 1e9 / kReads;
    const double floor = (8 + ModbusCodec::kExceptionAnswerSize) * kByteSeconds + kPauseSeconds;
    report("exception_cycle_ms", perRead * 1000, "ms");
    report("exception_cycle_ratio", perRead / floor, "x");
}

// A master this project did not write, for the engine's overhead to be
// judged against: libmodbus, the same slave, line and reads.
struct ModbusFree
{
    void operator()(modbus_t *ctx) const
    {
        modbus_close(ctx);
        modbus_free(ctx);
    }
};
using Modbus = std::unique_ptr<modbus_t, ModbusFree>;

Modbus modbusMaster(const QString &port)
{
    Modbus ctx(modbus_new_rtu(port.toLocal8Bit().constData(), Line::kBaudRate, 'N', Line::kDataBits, Line::kStopBits));
    if (!ctx)
        return ctx;
    modbus_set_slave(ctx.get(), Line::kSlaveAddress);
    modbus_set_response_timeout(ctx.get(), 1, 0);
    if (modbus_connect(ctx.get()) != 0) {
        std::fprintf(stderr, "libmodbus: %s\n", modbus_strerror(errno));
        ctx.reset();
    }
    return ctx;
}

// Seconds between the ends of back-to-back reads of one holding register
// by libmodbus, less pauseNs when it sleeps that long before each read;
// empty when a read did not end as expected (an answer, or a refusal).
QVector<double> modbusReadPeriods(modbus_t *ctx, uint16_t address, bool refused, int reads, long pauseNs = 0)
{
    QVector<double> periods;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    for (int i = 0; i < reads; ++i) {
        if (pauseNs > 0) {
            const timespec pause{0, pauseNs};
            ::clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
        }
        uint16_t value = 0;
        const int got = modbus_read_registers(ctx, address, 1, &value);
        if (refused ? (got != -1 || errno != EMBXILADD) : got != 1) {
            std::fprintf(stderr, "libmodbus read of %u: %s\n", address, modbus_strerror(errno));
            return {};
        }
        const qint64 now = clock.nsecsElapsed();
        periods << (now - last - pauseNs) / 1e9;
        last = now;
    }
    return periods;
}

// The same for the device object, as its caller sees the reads end: the
// protocol type through getProtType(), queued in one burst, or the
// lock-data size through getSizeLockData(), refused, each asked for when
// the last one's refusal came (a refusal drops the rest of the ring).
QVector<double> ourReadPeriods(DeviceHarness &device, bool refused, int reads)
{
    QVector<double> periods;
    // An event loop of its own, not waitUntil: a read's end is seen the
    // moment it is reported, not at the next of waitUntil's polls.
    QEventLoop loop;
    QTimer timeOut;
    timeOut.setSingleShot(true);
    QObject::connect(&timeOut, &QTimer::timeout, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    auto ended = [&] {
        const qint64 now = clock.nsecsElapsed();
        periods << (now - last) / 1e9;
        last = now;
        if (periods.size() >= reads)
            loop.quit();
        else if (refused)
            device.top->getSizeLockData();
    };
    const QMetaObject::Connection connection =
        refused ? QObject::connect(device.top, &SerialTop::requestFailed, &device, ended, Qt::QueuedConnection)
                : QObject::connect(device.top, &SerialTop::rcvProtocolType, &device, ended, Qt::QueuedConnection);
    if (refused) {
        device.top->getSizeLockData();
    } else {
        for (int i = 0; i < reads; ++i)
            device.top->getProtType();
    }
    timeOut.start(60000);
    loop.exec();
    QObject::disconnect(connection);
    if (periods.size() < reads) {
        std::fprintf(stderr, "%s overhead: reads did not end\n", refused ? "refusal" : "read");
        return {};
    }
    return periods;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// The engine's time per exchange beyond the line's (and beyond its own
// 5 ms pause), divided by libmodbus's beyond the line's. Each master has a
// simulator of its own with the same options, and they take turns, so the
// machine's load falls on both alike. A read's time is the median time
// between the ends of consecutive reads: the other programs on a shared
// machine hold either master back now and then by milliseconds, which a
// mean would count and a median does not.
void overheadVsLibmodbus(const QStringList &simOptions, bool refused, const char *prefix)
{
    const uint16_t address = refused ? RegisterMap::Holding::SizeLockData : RegisterMap::Holding::ProtType;
    SimProcess ourSim(simOptions);
    SimProcess theirSim(simOptions);
    DeviceHarness device;
    if (!connectDevice(device, ourSim) || !theirSim.isRunning())
        return;
    Modbus ctx = modbusMaster(theirSim.portName());
    if (!ctx)
        return;
    const int answerBytes = refused ? ModbusCodec::kExceptionAnswerSize : 5 + 2;
    const double wire = (8 + answerBytes) * kByteSeconds;
    // libmodbus also with the device's pause before each read, slept as
    // exactly as this thread can: what waking from it costs the line,
    // apart from the engine.
    const long pauseNs = long(kPauseSeconds * 1e9);
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    constexpr int kRounds = 10, kReads = 50;
    QVector<double> ours, theirs, theirsPaused;
    for (int round = 0; round < kRounds; ++round) {
        const QVector<double> their = modbusReadPeriods(ctx.get(), address, refused, kReads);
        const QVector<double> paused = modbusReadPeriods(ctx.get(), address, refused, kReads, pauseNs);
        const QVector<double> our = ourReadPeriods(device, refused, kReads);
        if (their.isEmpty() || paused.isEmpty() || our.isEmpty())
            return;
        // The first read of a round starts from rest; the rest follow on.
        theirs << their.mid(1);
        theirsPaused << paused.mid(1);
        ours << our.mid(1);
    }
    const double ourMs = (median(ours) - wire - kPauseSeconds) * 1000;
    const double theirMs = (median(theirs) - wire) * 1000;
    const double theirPausedMs = (median(theirsPaused) - wire) * 1000;
    report(QByteArray(prefix) + "_overhead_ms", ourMs, "ms");
    report(QByteArray(prefix) + "_overhead_libmodbus_ms", theirMs, "ms");
    report(QByteArray(prefix) + "_overhead_vs_libmodbus", ourMs / theirMs, "x");
    report(QByteArray(prefix) + "_overhead_libmodbus_paused_ms", theirPausedMs, "ms");
    report(QByteArray(prefix) + "_overhead_vs_libmodbus_paused", ourMs / theirPausedMs, "x");
}

void readOverheadVsLibmodbus()
{
    overheadVsLibmodbus({"--line-rate"}, false, "read");
}

void refusalOverheadVsLibmodbus()
{
    overheadVsLibmodbus({"--line-rate", "--missing-register", QString::number(RegisterMap::Holding::SizeLockData)}, true,
                        "refusal");
}

qint64 monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// From the line vanishing while measuring at 10 Hz to the window's report.
void portLossMs()
{
    SimProcess sim({"--line-rate", "--vanish-after", "40"});
    DeviceHarness device;
    if (!connectDevice(device, sim))
        return;
    qint64 lostAtNs = 0;
    QObject::connect(device.top, &SerialTop::connectedChanged, &device, [&](bool state) {
        if (!state && lostAtNs == 0)
            lostAtNs = monotonicNs();
    });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, device.top, [&] { device.top->getDistance(); });
    tick.start(100);
    const bool lost = waitUntil([&] { return lostAtNs != 0 && !sim.isRunning(); }, 60000);
    tick.stop();
    const QRegularExpressionMatch closed =
        QRegularExpression(QStringLiteral("line closed at (\\d+)")).match(QString::fromLatin1(sim.errorOutput()));
    if (!lost || !closed.hasMatch()) {
        std::fprintf(stderr, "port_loss: the loss was not reported\n");
        return;
    }
    report("port_loss_ms", (lostAtNs - closed.captured(1).toLongLong()) / 1e6, "ms");
}

// Reads whose every answer comes behind stray bytes: none may be lost.
void strayAnswerLoss()
{
    SimProcess sim({"--line-rate", "--stray", "1"});
    DeviceHarness device;
    if (!connectDevice(device, sim))
        return;
    QueuedSpy answers(device.top, &SerialTop::rcvProtocolType);
    QueuedSpy failed(device.top, &SerialTop::requestFailed);
    constexpr int kBursts = 5, kPerBurst = 40;
    for (int burst = 1; burst <= kBursts; ++burst) {
        for (int i = 0; i < kPerBurst; ++i)
            device.top->getProtType();
        // A failure drops what is left of the burst; the rest count as lost.
        waitUntil([&] { return answers.count() + failed.count() * kPerBurst >= burst * kPerBurst; }, 60000);
    }
    report("stray_answer_loss", 1.0 - double(answers.count()) / (kBursts * kPerBurst), "fraction");
}

// Reads of two registers whose answers have the same shape, alternating, one
// answer in seven late (the answers that bring the line back in step count
// too), for a spread of latenesses from just past the time-out to several
// seconds: how many reads report the other register's value, and what a
// time-out costs until the next read is answered.
void lateAnswerMisattributed()
{
    int misattributed = 0;
    for (const int lateMs : {1050, 1100, 1400, 2000, 3000, 5000}) {
        SimProcess sim({"--line-rate", "--late", "7", "--late-ms", QString::number(lateMs)});
        DeviceHarness device;
        if (!connectDevice(device, sim))
            return;
        QueuedSpy band(device.top, &SerialTop::rcvFmcwBandGHz);
        QueuedSpy lock(device.top, &SerialTop::rcv_SizeLockData);
        QueuedSpy failed(device.top, &SerialTop::requestFailed);
        constexpr int kReads = 25;
        QVector<double> normalMs;
        QVector<double> afterTimeoutMs;
        // From a time-out's report to the end of the next answered read:
        // what the time-out cost, however many reads failed meanwhile.
        QElapsedTimer sinceTimeOut;
        for (int i = 0; i < kReads; ++i) {
            const int ended = band.count() + lock.count() + failed.count();
            const int failedBefore = failed.count();
            QElapsedTimer clock;
            clock.start();
            if (i % 2 == 0)
                device.top->getFmcwBandGHz();
            else
                device.top->getSizeLockData();
            if (!waitUntil([&] { return band.count() + lock.count() + failed.count() > ended; }, 20000)) {
                std::fprintf(stderr, "late_answer: a read never ended (%d ms late)\n", lateMs);
                return;
            }
            if (failed.count() > failedBefore) {
                if (!sinceTimeOut.isValid())
                    sinceTimeOut.start();
            } else if (sinceTimeOut.isValid()) {
                afterTimeoutMs << sinceTimeOut.nsecsElapsed() / 1e6;
                sinceTimeOut.invalidate();
            } else {
                normalMs << clock.nsecsElapsed() / 1e6;
            }
        }
        for (int k = 0; k < band.count(); ++k)
            misattributed += band.at(k).at(0).toFloat() != float(SimDefaults::kFmcwBand);
        for (int k = 0; k < lock.count(); ++k)
            misattributed += lock.at(k).at(0).toInt() != SimDefaults::kSizeLockData;
        std::sort(normalMs.begin(), normalMs.end());
        std::sort(afterTimeoutMs.begin(), afterTimeoutMs.end());
        if (normalMs.isEmpty() || afterTimeoutMs.isEmpty())
            continue;
        const double drainMs = afterTimeoutMs.at(afterTimeoutMs.size() / 2) - normalMs.at(normalMs.size() / 2);
        // The first lateness keeps the figure's old name, so earlier runs compare.
        if (lateMs == 1050)
            report("late_answer_drain_ms", drainMs, "ms");
        report(QByteArray("late_answer_drain_ms_at_") + QByteArray::number(lateMs), drainMs, "ms");
    }
    report("late_answer_misattributed", misattributed, "reads");
}

// Clicks the update button and answers the window's question before it
// erases with the user's "yes".
bool startFirmwareUpdate(MainWindow &window)
{
    formWidget<QAbstractButton>(window, "pushButton_firmware_update")->click();
    QMessageBox *question = nullptr;
    if (!waitUntil([&] { return (question = window.findChild<QMessageBox *>(QStringLiteral("messageBox_confirmUpdate"))); },
                   20000)) {
        std::fprintf(stderr, "firmware update: no confirmation asked\n");
        return false;
    }
    for (QAbstractButton *button : question->buttons())
        if (question->buttonRole(button) == QMessageBox::AcceptRole)
            button->click();
    return true;
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
    QueuedSpy distances(window.device(), &SerialTop::checkDistance);
    formWidget<QAbstractButton>(window, "toolButton_start_meas")->click();
    StallMeter stall;
    QElapsedTimer clock;
    clock.start();
    waitUntil([&] { return clock.elapsed() >= 30000; }, 40000);
    formWidget<QAbstractButton>(window, "toolButton_start_meas")->click();
    report("gui_stall_ms", stall.worstMs(), "ms");
    report("window_measure_rate_hz", distances.count() / (clock.nsecsElapsed() / 1e9), "Hz");
}

// The window with the line monitor open and following its end, through
// ten seconds of measurement, a raw read-out and a firmware update.
// Returns the longest stall, or a negative value if a phase failed.
double guiStallWithMonitorOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("image.bin");
    QByteArray payload(256 * 1024 - FirmwareImage::kTrailerSize, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char((i * 7919) >> 3);
    const QByteArray image = FirmwareImage::withTrailer(payload);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return -1;
    file.close();

    SimProcess sim({"--line-rate", "--erase-ms", "0", "--raw-points", "1025"});
    MainWindow window;
    window.show();
    if (!connectWindow(window, sim)) {
        std::fprintf(stderr, "could not connect the window\n");
        return -1;
    }
    window.showLineMonitor();
    // Each phase is measured on its own, so a figure over the target says where.
    double worst = 0;
    auto *measure = formWidget<QAbstractButton>(window, "toolButton_start_meas");
    {
        StallMeter stall;
        measure->click();
        QElapsedTimer clock;
        clock.start();
        waitUntil([&] { return clock.elapsed() >= 10000; }, 20000);
        std::fprintf(stderr, "gui_stall_monitor: measurement %.1f ms\n", stall.worstMs());
        worst = qMax(worst, stall.worstMs());
    }
    {
        StallMeter stall;
        QueuedSpy rawDone(window.device(), &SerialTop::rawReadFinished);
        formWidget<QAbstractButton>(window, "pushButton_readRaw")->click();
        if (!rawDone.wait(60000) || !rawDone.at(0).at(0).toBool()) {
            std::fprintf(stderr, "raw read-out failed\n");
            return -1;
        }
        measure->click();
        std::fprintf(stderr, "gui_stall_monitor: raw read-out %.1f ms\n", stall.worstMs());
        worst = qMax(worst, stall.worstMs());
    }
    {
        StallMeter stall;
        QueuedSpy finished(window.device(), &SerialTop::firmwareUpdateFinished);
        formWidget<QLineEdit>(window, "lineEdit_file_name")->setText(path);
        if (!startFirmwareUpdate(window))
            return -1;
        if (!finished.wait(900000) || !finished.at(0).at(0).toBool()) {
            std::fprintf(stderr, "firmware update failed\n");
            return -1;
        }
        std::fprintf(stderr, "gui_stall_monitor: firmware update %.1f ms\n", stall.worstMs());
        worst = qMax(worst, stall.worstMs());
    }
    const int rows = formWidget<QTableView>(*window.lineMonitor(), "tableView_frames")->model()->rowCount();
    if (rows < 2 * image.size() / 256) {
        std::fprintf(stderr, "the monitor missed frames: %d rows\n", rows);
        return -1;
    }
    return worst;
}

// This machine's scheduler alone delays an idle 10 ms timer by tens of
// milliseconds a few times a minute, so one run's worst can be the
// machine's. The median of three runs' worst stalls is the window's: a
// stall the window causes itself shows in every run.
void guiStallWithMonitor()
{
    QVector<double> worst;
    for (int run = 0; run < 3; ++run) {
        const double stall = guiStallWithMonitorOnce();
        if (stall < 0)
            return;
        std::fprintf(stderr, "gui_stall_monitor: run %d worst %.1f ms\n", run + 1, stall);
        worst << stall;
    }
    std::sort(worst.begin(), worst.end());
    report("gui_stall_monitor_ms", worst.at(1), "ms");
}

// The largest image at line rate with an instant erase, started from the
// programming tab, with the window's stalls measured meanwhile.
void flashUpdate(const QStringList &lineOptions, const char *prefix)
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

    SimProcess sim(QStringList{"--line-rate", "--erase-ms", "0"} + lineOptions);
    MainWindow window;
    window.show();
    if (!connectWindow(window, sim)) {
        std::fprintf(stderr, "could not connect the window\n");
        return;
    }
    QueuedSpy finished(window.device(), &SerialTop::firmwareUpdateFinished);
    formWidget<QLineEdit>(window, "lineEdit_file_name")->setText(path);
    StallMeter stall;
    QElapsedTimer clock;
    clock.start();
    if (!startFirmwareUpdate(window))
        return;
    if (!finished.wait(900000) || !finished.at(0).at(0).toBool()) {
        std::fprintf(stderr, "firmware update failed\n");
        return;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const int blocks = (image.size() + 255) / 256;
    const double floor = blocks * ((10 + 256 + 6) * kByteSeconds + kPauseSeconds);
    const QByteArray name(prefix);
    report(name + "_s", seconds, "s");
    report(name + "_ratio", seconds / floor, "x");
    if (lineOptions.isEmpty())
        report("gui_stall_update_ms", stall.worstMs(), "ms");
}

void flashUpdateRatio()
{
    flashUpdate({}, "flash_update");
}

// What the adapter's hold costs: the read cycle and the firmware update
// again, each answer held 16 ms. Ratios against the same floor as above.
void adapterHold()
{
    readCycle(kAdapterHold, "read_cycle_hold16_ms", "read_cycle_hold16_ratio");
    flashUpdate(kAdapterHold, "flash_update_hold16");
}

// A whole `zetra-cli info` process, start to exit: connect, revision and the
// eleven parameters. The floor counts every exchange, the connect's too.
void cliInfoRatio()
{
    using namespace ModbusCodec;
    using namespace RegisterMap;
    SimProcess sim({"--line-rate"});
    if (!sim.isRunning())
        return;
    // The broadcast address reset gets no answer; the line needs the slaves'
    // turnaround after it, which no master can skip.
    int bytes = resetAddressRequest().size();
    const double turnaround = SerialTop::kNoAckWaitMs / 1000.0;
    int acknowledged = 0;
    auto exchange = [&](const QByteArray &request, uint8_t function, int quantity) {
        bytes += request.size() + answerSize(function, quantity);
        ++acknowledged;
    };
    const uint16_t off = 0;
    exchange(writeRequest(WriteSingleCoil, Coil::ConnectionProbe, &off, 1), WriteSingleCoil, 1);
    exchange(readRequest(ReadHoldingRegisters, Holding::Revision, Holding::RevisionLength), ReadHoldingRegisters,
             Holding::RevisionLength);
    for (const DeviceParameters::Parameter &parameter : DeviceParameters::all()) {
        const int registers = holdingBlockSize(parameter.holding);
        exchange(readRequest(ReadHoldingRegisters, parameter.holding, registers), ReadHoldingRegisters, registers);
    }
    const double floor =
        bytes * double(Line::kBitsPerByte) / Line::kBaudRate + acknowledged * kPauseSeconds + turnaround;

    constexpr int kRuns = 9;
    QVector<double> seconds;
    for (int run = 0; run < kRuns; ++run) {
        QProcess cli;
        QElapsedTimer clock;
        clock.start();
        cli.start(QString::fromUtf8(ZETRA_CLI_PATH), {"--port", sim.portName(), "info"});
        if (!cli.waitForFinished(30000) || cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
            std::fprintf(stderr, "zetra-cli info failed: %s\n", cli.readAllStandardError().constData());
            return;
        }
        seconds << clock.nsecsElapsed() / 1e9;
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds.at(kRuns / 2);
    report("cli_info_ms", median * 1000, "ms");
    report("cli_info_floor_ms", floor * 1000, "ms");
    report("cli_info_ratio", median / floor, "x");
}

} // namespace

// For figures kept in files of their own.
void reportFigure(const char *name, double value, const char *unit)
{
    report(name, value, unit);
}
void stationParallelRatio();
void guiStallStation();
void recordsSerial();
void recordsExport();
void browserFirstPage();
void syncRuns();

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
    run("gui_stall_monitor", guiStallWithMonitor);
    run("exception_cycle", exceptionCycleRatio);
    run("port_loss", portLossMs);
    run("stray_answer", strayAnswerLoss);
    run("cli_info", cliInfoRatio);
    run("late_answer", lateAnswerMisattributed);
    run("adapter_hold", adapterHold);
    run("station_parallel", stationParallelRatio);
    run("gui_stall_station", guiStallStation);
    run("read_overhead", readOverheadVsLibmodbus);
    run("refusal_overhead", refusalOverheadVsLibmodbus);
    // The records at a plant's size (records_bench.cpp); the first fills
    // the stores, minutes at a million runs, kept for the next bench.
    run("records_serial", recordsSerial);
    run("records_export", recordsExport);
    run("browser_first_page", browserFirstPage);
    run("sync", syncRuns);
    return 0;
}
