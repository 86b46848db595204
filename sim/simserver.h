#pragma once

#include "faultplan.h"
#include "frameassembler.h"
#include "linesettings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
#include <deque>

class DeviceModel;

struct LineConfig
{
    bool lineRate = false;      // bytes take their wire time at 115200 baud
    // A USB serial adapter's latency timer: each answer reaches the client
    // this long after its last byte has crossed the wire, in one piece.
    int answerHoldMs = 0;
    LineFaults faults;          // the reply delay among them: drawn like a fault's time
    bool verbose = false;       // every frame to stderr as hex
};

// The line side of the simulator: reads requests from the pseudo-terminal
// master, hands complete frames to the device model, and sends the answers
// back with the timing and the faults the line is configured for.
class SimServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int64_t kByteNs = int64_t(1000000000) * Line::kBitsPerByte / Line::kBaudRate;
    // Longer than any gap inside one request written to a pseudo-terminal,
    // shorter than the pause between two requests of a client.
    static constexpr int kSilenceMs = 20;

    SimServer(int masterFd, DeviceModel &model, const LineConfig &config, QObject *parent = nullptr);
    ~SimServer() override;

    const FaultPlan::Tally &faultTally() const { return faults.tally(); }

signals:
    // The line is gone, as when an adapter is unplugged: stop using the port.
    void lineVanished();

private slots:
    void receive();
    void lineQuiet();
    void pump();

private:
    struct Segment
    {
        QByteArray bytes;
        int64_t earliestNs;     // not before this time
        int64_t gapNs;          // silence after the previous segment
    };

    void take(const QVector<FrameAssembler::Piece> &pieces, int64_t readyNs);
    void serve(const QByteArray &request, int64_t readyNs);
    void send(const QByteArray &bytes, int64_t earliestNs, int64_t gapNs = 0);
    void writeOut(const QByteArray &bytes);
    void log(const char *tag, const QByteArray &bytes) const;
    void note(const char *text) const;
    int64_t nowNs() const { return clock.nsecsElapsed(); }

    int fd;
    DeviceModel &model;
    LineConfig config;
    FrameAssembler assembler;
    FaultPlan faults;
    QSocketNotifier readNotifier;
    QTimer silenceTimer;
    // Output pacing needs finer steps than a millisecond timer: a byte takes
    // 95 us, and rounding every wake-up up to a whole millisecond would make
    // the simulated device slower than the line allows.
    int wakeFd = -1;
    QSocketNotifier *wakeNotifier = nullptr;
    void wakeAfter(int64_t ns);
    QElapsedTimer clock;

    int64_t rxWireEndNs = 0;    // when the last received byte has crossed the wire
    std::deque<Segment> out;
    int64_t segmentStartNs = -1;    // start of the front segment once it is on the line
    int segmentWritten = 0;
    int64_t lineFreeNs = 0;         // end of the last byte sent
};
