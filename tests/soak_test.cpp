// The window, headless, driven through its form for a long while against a
// simulated altimeter whose line drops, refuses, corrupts, splits and
// disturbs answers all at once, with the measurement running throughout.
//
// What must hold over the whole run:
// - the window thread never stalls for long (lateness of a 10 ms timer,
//   less the time the machine had no processor for the thread);
// - every parameter write that a later read-all showed back is what the
//   device holds at the end, and no read ever shows a value the device
//   cannot have held;
// - every answer the line spoiled costs exactly its own burst: one
//   "Нет ответа от устройства" or refusal line per spoiled request, no more,
//   no fewer, and stray bytes before an answer cost nothing;
// - memory settles: resident size at the end close to that after warm-up.
//
// ZETRA_SOAK_SECONDS sets the length (60 s by default); scripts/soak runs
// the long form. The faults are drawn at random from a fresh seed, printed
// at start; ZETRA_SEED=S replays a run. The figures go to standard output as "SOAK name value" lines.
#include "app_support.h"

#include "faultplan.h"
#include "lineframemodel.h"
#include "modbuscodec.h"
#include "serialtop.h"
#include "queuedspy.h"
#include "registermap.h"
#include "simdefaults.h"
#include "simprocess.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMap>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include <qcustomplot.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

constexpr int kDefaultSeconds = 60;
constexpr double kStallLimitMs = 50.0;
constexpr qint64 kRssGrowthLimitKb = 5 * 1024;
// The line monitor keeps its last 50 000 frames by design; while it fills,
// each frame may take this much (a raw read-out's answer is 205 bytes on
// the wire, decoded besides). Growth beyond that is a leak.
constexpr qint64 kMonitorFrameLimitBytes = 1024;
// AddressSanitizer keeps freed memory in quarantine and has an allocator of
// its own, so resident size there says nothing about the program's; the
// plain build judges it.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kJudgeResidentSize = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kJudgeResidentSize = false;
#else
constexpr bool kJudgeResidentSize = true;
#endif
#else
constexpr bool kJudgeResidentSize = true;
#endif
constexpr int kRawPoints = 300;
// Each fault at random, about one request in two hundred, its sizes and
// times drawn too; the split answers are no fault for a correct master and
// come often. The run's seed is printed, and ZETRA_SEED replays it.
const QStringList kLineFaults{"--drop", "0.005", "--corrupt", "0.005", "--exception", "0.0045",
                              "--split", "0.2", "--split-at", "1-8", "--stray", "0.0055", "--stray-bytes", "1-8",
                              "--reply-delay", "1-3"};
// Simulated distance: 10 m swinging by 2 m.
constexpr double kDistanceMin = 8.0;
constexpr double kDistanceMax = 12.0;
// Anything the device does here, fault time-outs included, ends well within this.
constexpr int kLong = 60000;

const QString kNoAnswer = QStringLiteral("Нет ответа от устройства");
const QString kRefused = QStringLiteral("Устройство отклонило запрос (");

// A command the line cost: unanswered, or refused by the device.
bool isLostBurst(const QString &line)
{
    return line == kNoAnswer || line.startsWith(kRefused);
}
const QString kRawDone = QStringLiteral("Данные считаны");
const QColor kRed(255, 0, 0, 255);

int soakSeconds()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("ZETRA_SOAK_SECONDS", &ok);
    return ok && seconds > 0 ? seconds : kDefaultSeconds;
}

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

void figure(const char *name, const QString &value)
{
    std::printf("SOAK %s %s\n", name, qPrintable(value));
    std::fflush(stdout);
}

// Runs the window thread's event loop until the condition holds. Unlike
// QTest::qWait it never sleeps the thread, so the stall meter sees only what
// the window itself does.
bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start();
    loop.exec();
    return condition();
}

// Lateness of a 10 ms timer in the window thread: how long the thread was
// busy with something else when it should have been free. On a shared
// machine part of that lateness is time the thread was ready to run but got
// no processor: waiting in the run queue (the kernel counts it per thread in
// schedstat) or on a processor the hypervisor had taken away (steal time,
// counted per processor in /proc/stat). Taking both off leaves the window's
// own stall: its work and its waits.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(kTickMs);
        connect(&timer, &QTimer::timeout, this, &StallMeter::tick);
    }
    ~StallMeter() override
    {
        for (int fd : {schedstat, procStat})
            if (fd >= 0)
                ::close(fd);
    }
    // Must run in the thread to be measured.
    void start()
    {
        schedstat = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
        procStat = ::open("/proc/stat", O_RDONLY | O_CLOEXEC);
        msPerStatTick = 1000.0 / double(::sysconf(_SC_CLK_TCK));
        lastQueuedNs = runQueueNs();
        lastSteal = stealTicks();
        lastCpu = ::sched_getcpu();
        clock.start();
        timer.start();
    }
    void stop() { timer.stop(); }
    double longest() const { return longestMs; }
    double longestOwn() const { return longestOwnMs; }

private:
    void tick()
    {
        const double lateMs = double(clock.nsecsElapsed()) / 1e6 - kTickMs;
        clock.restart();
        const qint64 queuedNs = runQueueNs();
        const QVector<qint64> steal = stealTicks();
        const int cpu = ::sched_getcpu();
        double stolenMs = 0;
        for (int c : {lastCpu, cpu}) {
            if (c >= 0 && c < steal.size() && c < lastSteal.size())
                stolenMs += double(steal[c] - lastSteal[c]) * msPerStatTick;
            if (cpu == lastCpu)
                break;
        }
        const double ownMs = lateMs - double(queuedNs - lastQueuedNs) / 1e6 - stolenMs;
        lastQueuedNs = queuedNs;
        lastSteal = steal;
        lastCpu = cpu;
        longestMs = qMax(longestMs, lateMs);
        longestOwnMs = qMax(longestOwnMs, ownMs);
    }

    // Time this thread has waited for a processor; 0 where the kernel does not tell.
    qint64 runQueueNs() const
    {
        const QList<QByteArray> fields = readProc(schedstat).split(' ');
        return fields.size() >= 2 ? fields[1].toLongLong() : 0;
    }

    // Steal time of each processor in clock ticks; empty where not told.
    QVector<qint64> stealTicks() const
    {
        QVector<qint64> ticks;
        for (const QByteArray &line : readProc(procStat).split('\n')) {
            // "cpuN user nice system idle iowait irq softirq steal ..."
            if (!line.startsWith("cpu") || line.startsWith("cpu "))
                continue;
            const QList<QByteArray> fields = line.simplified().split(' ');
            const int cpu = fields[0].mid(3).toInt();
            if (fields.size() > 8 && cpu >= 0 && cpu < 4096) {
                if (ticks.size() <= cpu)
                    ticks.resize(cpu + 1);
                ticks[cpu] = fields[8].toLongLong();
            }
        }
        return ticks;
    }

    static QByteArray readProc(int fd)
    {
        // The processor lines come first in /proc/stat; the rest is not needed.
        char text[16384];
        const ssize_t n = fd >= 0 ? ::pread(fd, text, sizeof text, 0) : -1;
        return n > 0 ? QByteArray(text, int(n)) : QByteArray();
    }

    static constexpr int kTickMs = 10;
    QTimer timer;
    QElapsedTimer clock;
    int schedstat = -1;
    int procStat = -1;
    double msPerStatTick = 10;
    qint64 lastQueuedNs = 0;
    QVector<qint64> lastSteal;
    int lastCpu = -1;
    double longestMs = 0;
    double longestOwnMs = 0;
};

// A parameter the run writes: the widget that shows it, its set button, its
// holding register and what the simulator starts with.
struct Param
{
    const char *widgetName;
    const char *setButton;
    uint16_t reg;
    bool isFloat;
    double initial;
};

const Param kParams[] = {
    {"spinBox_FmcwBand", "pushButton_setFmcwBand", 39, false, SimDefaults::kFmcwBand},
    {"doubleSpinBox_DetThCoefMin", "pushButton_setDetThCoefMin", 71, true, SimDefaults::kDetThCoefMin},
    {"doubleSpinBox_DetThCoefMax", "pushButton_setDetThCoefMax", 73, true, SimDefaults::kDetThCoefMax},
    {"doubleSpinBox_DetSmthCoef", "pushButton_setDetSmthCoef", 75, true, SimDefaults::kDetSmthCoef},
    {"doubleSpinBox_DetMtiCoef", "pushButton_setDetMtiCoef", 77, true, SimDefaults::kDetMtiCoef},
    {"doubleSpinBox_DetThCoefDC", "pushButton_setDetThCoefDC", 79, true, SimDefaults::kDetThCoefDC},
    {"doubleSpinBox_TrsSmthCoef", "pushButton_setTrsSmthCoef", 90, true, SimDefaults::kTrsSmthCoef},
};
constexpr int kParamCount = int(sizeof kParams / sizeof kParams[0]);

// A parameter's values in whole steps of its widget's last decimal, so that
// what was typed, what the device holds and what a read shows compare exactly.
struct Scale
{
    int perUnit = 1;    // steps per 1.0
    int lowest = 0;     // the widget's range
    int highest = 0;
    int initial = 0;    // the simulator's starting value

    // Put in the widget before a read: never written, so a change means an answer arrived.
    int sentinel() const { return highest; }
    // The value of the nth write: strictly inside the range, so never the
    // sentinel, and spread over it.
    int nth(int n) const
    {
        const int span = highest - lowest - 1;
        return lowest + 1 + int((qint64(n) * 7919) % span);
    }
    // What the widget shows for a device value.
    int shown(int held) const { return qBound(lowest, held, highest); }
};

// What the run did to one parameter.
struct History
{
    int sent = 0;               // writes sent
    int step = 0;               // values drawn
    int held = 0;               // what the device holds as far as the last whole read-all showed
    int lastConfirmed = -1;     // the last write a read-all showed back, -1 while none
};

// The read-all ends with the address read, which nothing here writes.
constexpr int kAddressHeld = 19;

// A parameter's value as the simulator's holding registers have it.
int heldValue(const Param &p, const Scale &scale, const QMap<int, int> &regs)
{
    if (!p.isFloat)
        return regs.value(p.reg);
    const uint32_t bits = uint32_t(regs.value(p.reg)) << 16 | uint32_t(regs.value(p.reg + 1));
    return int(std::lround(double(ModbusCodec::floatFromBits(bits)) * scale.perUnit));
}

} // namespace


class SoakTest : public QObject
{
    Q_OBJECT

private slots:
    void faultTallyCountsEachSpoiledRequestOnce();
    void windowUnderEveryFaultAtOnce();

private:
    void click(const char *name);
    int shownValue(int param) const;
    void showValue(int param, int value);
    void learnScales();
    bool readAll(const QVector<int> &params);
    void writeRound(int round);
    void rawRound(int round);

    MainWindow *window = nullptr;
    // Every parameter read-out the device object ended, the connect's and
    // each read-all's, with what it read and what it lost.
    std::unique_ptr<QueuedSpy> readOuts;
    QTabWidget *tabs = nullptr;
    int lostBursts = 0;         // unanswered and refused commands as the window hears of them
    // Time-outs and refusals as the line monitor records them, and those of
    // them that were exchanges bringing the line back in step.
    int monitorFailures = 0;
    int monitorResyncFailures = 0;
    int broadcastsUnechoed = 0;
    int rawDone = 0;
    int redLines = 0;
    int rawOk = 0;
    int writesConfirmed = 0;
    int readAllClicks = 0;
    History history[kParamCount];
    Scale scales[kParamCount];
};

// The soak judges the engine by the simulator's count of spoiled requests;
// that count must take each request once, however many faults hit it.
void SoakTest::faultTallyCountsEachSpoiledRequestOnce()
{
    LineFaults faults;
    faults.drop = 4;
    faults.exception = 2;
    faults.corrupt = 2;
    faults.stray = 3;
    faults.split = 3;
    FaultPlan plan(faults);
    const QByteArray answer = QByteArray::fromHex("13030200000047");
    // Requests 1..12: 4, 8 and 12 dropped; 2, 6 and 10 refused. Answers 1..9
    // go to requests 1 2 3 5 6 7 9 10 11.
    for (int request = 1; request <= 12; ++request)
        if (plan.nextRequest() != FaultPlan::RequestFate::Drop)
            plan.nextAnswer(answer);
    const FaultPlan::Tally &t = plan.tally();
    QCOMPARE(t.dropped, 3L);
    QCOMPARE(t.refused, 3L);
    QCOMPARE(t.corrupt, 4L);  // answers 2 4 6 8: requests 2 5 7 10
    QCOMPARE(t.stray, 3L);    // answers 3 6 9: requests 3 7 11
    QCOMPARE(t.split, 3L);
    // Besides the dropped and refused ones, requests 5 and 7 lost their
    // answer to a bad CRC; 2 and 10 were refused already, and stray bytes in
    // front of an answer (requests 3 7 11) cost nothing.
    QCOMPARE(t.lost, 3L + 3L + 2L);
}

void SoakTest::click(const char *name)
{
    auto *button = widget<QAbstractButton>(*window, name);
    // The user turns to the button's tab first.
    for (QWidget *page = button; page; page = page->parentWidget())
        if (tabs->indexOf(page) >= 0) {
            tabs->setCurrentWidget(page);
            break;
        }
    QTest::mouseClick(button, Qt::LeftButton);
}

int SoakTest::shownValue(int i) const
{
    const Param &p = kParams[i];
    if (p.isFloat)
        return int(std::lround(widget<QDoubleSpinBox>(*window, p.widgetName)->value() * scales[i].perUnit));
    return widget<QSpinBox>(*window, p.widgetName)->value();
}

void SoakTest::showValue(int i, int value)
{
    const Param &p = kParams[i];
    if (p.isFloat)
        widget<QDoubleSpinBox>(*window, p.widgetName)->setValue(double(value) / scales[i].perUnit);
    else
        widget<QSpinBox>(*window, p.widgetName)->setValue(value);
}

void SoakTest::learnScales()
{
    for (int i = 0; i < kParamCount; ++i) {
        const Param &p = kParams[i];
        Scale &s = scales[i];
        if (p.isFloat) {
            const auto *box = widget<QDoubleSpinBox>(*window, p.widgetName);
            s.perUnit = int(std::lround(std::pow(10.0, box->decimals())));
            s.lowest = int(std::lround(box->minimum() * s.perUnit));
            s.highest = int(std::lround(box->maximum() * s.perUnit));
        } else {
            const auto *box = widget<QSpinBox>(*window, p.widgetName);
            s.lowest = box->minimum();
            s.highest = box->maximum();
        }
        s.initial = int(std::lround(p.initial * s.perUnit));
    }
}

// Reads all, as a user would, until one read-all comes through whole, and
// checks that it answered every parameter. A read-out that lost a request
// (a refused one it goes on past, or one the line lost, which ends it) is
// clicked again. Every read-all clicked here has ended when this returns,
// so none is left to answer a later round with values from before that
// round's write.
bool SoakTest::readAll(const QVector<int> &params)
{
    auto *address = widget<QSpinBox>(*window, "spinBox_mbAdr");
    const int addressSentinel = address->maximum();
    for (int attempt = 0; attempt < 20; ++attempt) {
        // Values no read can give: a change means an answer arrived.
        for (int i : params)
            showValue(i, scales[i].sentinel());
        address->setValue(addressSentinel);
        const int ended = readOuts->count();
        click("pushButton_getAllSettings");
        ++readAllClicks;
        if (!waitFor([&] { return readOuts->count() > ended; }, kLong))
            return false;
        if (!readOuts->last().at(1).value<ParameterReport>().complete())
            continue;
        if (address->value() != kAddressHeld) {
            qWarning("the address shows %d", address->value());
            return false;
        }
        for (int i : params)
            if (shownValue(i) == scales[i].sentinel()) {
                qWarning("a whole read-all left %s unanswered", kParams[i].widgetName);
                return false;
            }
        return true;
    }
    return false;
}

void SoakTest::writeRound(int round)
{
    const int index = round % kParamCount;
    const Param &p = kParams[index];
    const Scale &scale = scales[index];
    History &h = history[index];
    int value = scale.nth(++h.step);
    if (value == h.held) // a write must change something to be seen
        value = scale.nth(++h.step);
    showValue(index, value);
    QCOMPARE(shownValue(index), value);
    click(p.setButton);
    ++h.sent;

    QVERIFY2(readAll({index}), "a read-all never came through whole");
    // The read-all was clicked after the write, so it shows the device after
    // the write: the new value if the write got through, the old one if the
    // line lost it. Anything else is a wrong value shown as read.
    const int seen = shownValue(index);
    if (seen == value) {
        h.held = value;
        h.lastConfirmed = value;
        ++writesConfirmed;
        return;
    }
    QVERIFY2(seen == scale.shown(h.held),
             qPrintable(QStringLiteral("%1 shows %2 after %3 was sent; the device held %4")
                            .arg(p.widgetName)
                            .arg(seen)
                            .arg(value)
                            .arg(h.held)));
}

void SoakTest::rawRound(int round)
{
    // Every type in turn, the interleaved I/Q one included.
    const int type = (round / 4) % 5;
    widget<QComboBox>(*window, "comboBox_typeRawData")->setCurrentIndex(type);
    const int doneBefore = rawDone;
    const int redBefore = redLines;
    click("pushButton_readRaw");
    QVERIFY2(waitFor([&] { return rawDone > doneBefore || redLines > redBefore; }, kLong),
             "a raw read-out neither finished nor failed");
    QCOMPARE(rawDone + redLines, doneBefore + redBefore + 1);
    if (rawDone == doneBefore)
        return; // failed visibly; the red line says so
    ++rawOk;
    // A finished read-out shows every point once.
    auto *plot = widget<QCustomPlot>(*window, "widget_plotRaw");
    if (type == 2) {
        QCOMPARE(plot->graph(0)->dataCount(), kRawPoints / 2);
        QCOMPARE(plot->graph(1)->dataCount(), kRawPoints - kRawPoints / 2);
    } else {
        QCOMPARE(plot->graph(0)->dataCount(), kRawPoints);
    }
}

void SoakTest::windowUnderEveryFaultAtOnce()
{
    const int seconds = soakSeconds();
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    const QString stateDump = dir.filePath("state.txt");
    SimProcess sim(SimProcess::seeded(kLineFaults + QStringList{"--line-rate", "--raw-points",
                                                                QString::number(kRawPoints), "--state-dump",
                                                                stateDump}));
    QVERIFY(sim.isRunning());

    MainWindow w;
    window = &w;
    tabs = widget<QTabWidget>(w, "tabWidget");
    learnScales();
    for (int i = 0; i < kParamCount; ++i)
        history[i].held = scales[i].initial;
    w.show();
    SerialTop *top = w.device();
    connect(top, &SerialTop::appendLog, this, [this](const QString &line) {
        if (isLostBurst(line))
            ++lostBursts;
        else if (line == kRawDone)
            ++rawDone;
    });
    connect(top, &SerialTop::lineFrames, this, [this](const QVector<LineFrame> &batch) {
        for (const LineFrame &frame : batch) {
            // Nobody waits for the address reset's echo, so a lost reset
            // shows only as a reset without its echo.
            if (frame.kind == LineFrame::Kind::Broadcast)
                ++broadcastsUnechoed;
            else if (frame.kind == LineFrame::Kind::Answer && frame.function == ModbusCodec::ResetAddress)
                --broadcastsUnechoed;
            if (frame.kind != LineFrame::Kind::TimeOut && frame.kind != LineFrame::Kind::Refusal)
                continue;
            ++monitorFailures;
            const bool probe = frame.function == ModbusCodec::WriteSingleCoil
                               && frame.first == RegisterMap::Coil::ConnectionProbe;
            const bool partialRevision = frame.function == ModbusCodec::ReadHoldingRegisters
                                         && frame.first == RegisterMap::Holding::Revision
                                         && frame.count < RegisterMap::Holding::RevisionLength;
            monitorResyncFailures += probe || partialRevision;
        }
    });
    connect(top, &SerialTop::appendLogUpdater, this, [this](const QString &, bool, const QColor &color) {
        if (color == kRed)
            ++redLines;
    });
    int distances = 0;
    double distanceLow = kDistanceMax;
    double distanceHigh = kDistanceMin;
    // Goes before the counters it writes, taking any report still queued with it.
    QObject listener;
    connect(top, &SerialTop::checkDistance, &listener, [&](float d) {
        ++distances;
        distanceLow = qMin(distanceLow, double(d));
        distanceHigh = qMax(distanceHigh, double(d));
    });

    w.selectPort(sim.portName());
    QueuedSpy connection(top, &SerialTop::connectedChanged);
    readOuts = std::make_unique<QueuedSpy>(top, &SerialTop::parametersRead);
    click("pushButton_connect_to_rs485");
    QVERIFY(connection.wait(kLong));
    QVERIFY(connection.first().first().toBool());
    // Connecting reads every field; once that read-out has ended, whole or
    // not, no answer of it is left to land in a round's fields.
    QVERIFY(waitFor([&] { return !readOuts->isEmpty(); }, kLong));
    click("toolButton_start_meas");
    QVERIFY(widget<QAbstractButton>(w, "toolButton_start_meas")->isChecked());

    StallMeter stalls;
    stalls.start();
    QElapsedTimer clock;
    clock.start();
    const qint64 settleMs = qMin<qint64>(60000, seconds * 1000 / 3);
    qint64 rssAfterSettling = -1;
    int framesAfterSettling = 0;
    int round = 0;
    while (clock.elapsed() < qint64(seconds) * 1000) {
        // Three writes, each read back, then a raw read-out.
        if (round % 4 == 3)
            rawRound(round);
        else
            writeRound(round - round / 4);
        if (QTest::currentTestFailed())
            return;
        if (rssAfterSettling < 0 && clock.elapsed() >= settleMs) {
            rssAfterSettling = residentKb();
            framesAfterSettling = w.lineFrameStore()->rowCount();
        }
        ++round;
    }
    stalls.stop();

    // Measurement off, then one clean read of everything written: the
    // window's last word on each parameter.
    click("toolButton_start_meas");
    QVERIFY(!widget<QAbstractButton>(w, "toolButton_start_meas")->isChecked());
    QVector<int> all;
    for (int i = 0; i < kParamCount; ++i)
        all << i;
    QVERIFY2(readAll(all), "the closing read-all never came through");
    const qint64 rssAtEnd = residentKb();
    const qint64 framesKept = w.lineFrameStore()->rowCount() - framesAfterSettling;
    const QString log = mainLog(w);

    QCOMPARE(sim.stop(), 0);
    const QByteArray simErrors = sim.errorOutput();
    const QRegularExpressionMatch tally =
        QRegularExpression(QStringLiteral("faults: dropped (\\d+) refused (\\d+) corrupt (\\d+) stray (\\d+) "
                                          "split (\\d+) lost (\\d+)"))
            .match(QString::fromLatin1(simErrors));
    QVERIFY2(tally.hasMatch(), simErrors.constData());
    const int spoiled = tally.captured(6).toInt();
    QMap<int, int> registers;
    QFile state(stateDump);
    QVERIFY(state.open(QIODevice::ReadOnly));
    for (const QByteArray &line : state.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2)
            registers[fields[0].toInt()] = fields[1].toInt();
    }

    // The main log as the user sees it tells the same number of lost bursts.
    const int loggedLost =
        log.count(QRegularExpression(QStringLiteral("^\\S+: (%1|%2.*)$")
                                         .arg(kNoAnswer, QRegularExpression::escape(kRefused)),
                                     QRegularExpression::MultilineOption));

    figure("monitor_failures", QStringLiteral("%1, %2 of them bringing the line in step; %3 resets unechoed")
                                   .arg(monitorFailures)
                                   .arg(monitorResyncFailures)
                                   .arg(broadcastsUnechoed));

    int writes = 0;
    for (const History &h : history)
        writes += h.sent;
    figure("seconds", QString::number(seconds));
    figure("seed", QString::number(SimProcess::runSeed()));
    figure("rounds", QString::number(round));
    figure("longest_stall_ms", QString::number(stalls.longestOwn(), 'f', 1));
    figure("longest_lateness_ms", QStringLiteral("%1 (time without a processor included)")
                                      .arg(QString::number(stalls.longest(), 'f', 1)));
    figure("lost_bursts", QStringLiteral("%1 faults %2").arg(loggedLost).arg(spoiled));
    figure("line_faults", QStringLiteral("dropped %1 refused %2 corrupt %3 stray %4 split %5")
                              .arg(tally.captured(1), tally.captured(2), tally.captured(3), tally.captured(4),
                                   tally.captured(5)));
    figure("writes_sent", QString::number(writes));
    figure("writes_confirmed", QString::number(writesConfirmed));
    figure("read_alls", QString::number(readAllClicks));
    figure("raw_readouts_ok", QStringLiteral("%1 of %2").arg(rawOk).arg(round / 4));
    figure("distances", QString::number(distances));
    figure("rss_kb", QStringLiteral("%1 after %2 s, %3 at end").arg(rssAfterSettling).arg(settleMs / 1000).arg(rssAtEnd));
    figure("rss_growth_kb", QString::number(rssAtEnd - rssAfterSettling));

    // The run did what it claims: faults came, and work got through them.
    QVERIFY(spoiled > 0);
    QVERIFY(writesConfirmed > 0);
    QVERIFY(rawOk > 0);
    QVERIFY(distances > 0);

    QVERIFY2(stalls.longestOwn() <= kStallLimitMs, qPrintable(QString::number(stalls.longestOwn())));

    QCOMPARE(loggedLost, lostBursts);
    // The line monitor shows every spoiled request as a time-out or a
    // refusal, the exchanges that bring the line back in step after a
    // time-out included; none goes unnoticed, which would mean a spoiled
    // answer was taken as good, and nothing else fails.
    QTRY_COMPARE_WITH_TIMEOUT(monitorFailures + broadcastsUnechoed, spoiled, 5000);
    // The user hears of each lost burst once; a spoiled exchange that only
    // brought the line back in step costs no burst, nor does a lost reset,
    // so a few may be silent.
    QVERIFY2(loggedLost <= spoiled && loggedLost >= spoiled - monitorResyncFailures - broadcastsUnechoed,
             qPrintable(QStringLiteral("%1 bursts logged, %2 requests spoiled, %3 of them bringing the line in step, "
                                       "%4 resets")
                            .arg(loggedLost).arg(spoiled).arg(monitorResyncFailures).arg(broadcastsUnechoed)));

    QVERIFY2(distanceLow >= kDistanceMin - 0.001 && distanceHigh <= kDistanceMax + 0.001,
             qPrintable(QStringLiteral("distance shown from %1 to %2").arg(distanceLow).arg(distanceHigh)));

    // Every write a read-all showed back is what the device holds, unless a
    // later one went through; in short the device holds what the last whole
    // read-all of each round showed. And the closing read shows just that.
    for (int i = 0; i < kParamCount; ++i) {
        const Param &p = kParams[i];
        const Scale &scale = scales[i];
        const History &h = history[i];
        const int held = heldValue(p, scale, registers);
        QVERIFY2(held == h.held,
                 qPrintable(QStringLiteral("%1: the device holds %2, the window last read %3 (last write shown back %4)")
                                .arg(p.widgetName)
                                .arg(held)
                                .arg(h.held)
                                .arg(h.lastConfirmed)));
        QCOMPARE(shownValue(i), scale.shown(held));
    }

    QVERIFY(rssAfterSettling > 0 && rssAtEnd > 0);
    if (kJudgeResidentSize)
        QVERIFY2(rssAtEnd - rssAfterSettling
                     <= kRssGrowthLimitKb + framesKept * kMonitorFrameLimitBytes / 1024,
                 qPrintable(QStringLiteral("%1 kB, %2 more frames kept").arg(rssAtEnd - rssAfterSettling).arg(framesKept)));
}

int main(int argc, char *argv[])
{
    // QTest ends a test function after five minutes unless told otherwise;
    // the soak runs as long as it is asked to, with room for its closing.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((qint64(soakSeconds()) + 300) * 1000));
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    SoakTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "soak_test.moc"
