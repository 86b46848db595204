#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <cstdint>

// One value a frame carries: a register (or coil) word, or a register pair
// that the register map declares a float or a 32-bit number.
struct LineValue
{
    enum class Type : quint8 { Word, Float, Long };
    uint16_t address = 0;   // first register of the value
    quint8 width = 1;       // registers it covers
    Type type = Type::Word;
    double value = 0;
};

// One frame or byte run seen on the line, or a line event without bytes
// (a time-out, a lost port), with what it means in the device's terms.
// The facts are derived once, here; each front end words them itself.
struct LineFrame
{
    enum class Direction : quint8 { Tx, Rx, None };
    enum class Kind : quint8 {
        Request,    // to the slave; an answer is awaited
        Broadcast,  // the address reset: nobody answers
        Answer,     // accepted as the answer to the request in flight
        Refusal,    // an exception answer to the request in flight
        Stray,      // bytes that belong to no answer, dropped
        BadCrc,     // an answer of the right shape whose CRC is wrong, dropped
        Late,       // a whole answer that came with no request awaiting it, dropped
        TimeOut,    // the request in flight got no answer in time
        PortError,  // the port went away; text holds the port's own words
    };

    double timeMs = 0;      // monotonic, LineMonitor::clockMs()
    Direction direction = Direction::None;
    Kind kind = Kind::Stray;
    QByteArray bytes;

    // Facts, from the frame itself or, for an answer, from its request.
    uint8_t function = 0;       // 0: none known
    uint8_t address = 0;        // slave address of the frame
    uint16_t first = 0;         // first register or coil
    uint16_t count = 0;         // registers or coils
    // Written (request) or read (answer): the first kValuesWorded of
    // valueCount, all a frame's words show; a raw read-out's hundred values
    // would cost the monitor's store a kilobyte a frame.
    QVector<LineValue> values;
    int valueCount = 0;
    QString text;               // a text register's contents, or the port's error text
    uint32_t blockAddress = 0;  // firmware block
    int blockSize = 0;
    uint8_t exceptionCode = 0;  // refusal
    double roundTripMs = -1;    // answer or refusal: from the end of its request; -1 none

    // Whether the frame belongs to the measurement's polling (distance and
    // period reads and their answers), which a monitor may hide.
    bool isPolling() const;
};

// What the line did since the port was connected.
struct LineCounters
{
    int requests = 0;      // every frame sent, the broadcast included
    int answers = 0;
    int timeOuts = 0;
    int badCrc = 0;
    int refusals = 0;
    int stray = 0;         // runs of stray bytes dropped
    int late = 0;
    int portErrors = 0;
    double startedMs = 0;  // when counting began, on LineMonitor::clockMs()
    int roundTrips = 0;    // answers and refusals timed
    double roundTripSumMs = 0;
    double roundTripMaxMs = 0;

    double roundTripMeanMs() const { return roundTrips > 0 ? roundTripSumMs / roundTrips : 0; }
    // Requests that did not end with an answer: every failure kind.
    int failures() const { return timeOuts + badCrc + refusals + stray + late + portErrors; }
};

Q_DECLARE_METATYPE(LineFrame)
Q_DECLARE_METATYPE(LineCounters)
Q_DECLARE_METATYPE(QVector<LineFrame>)

namespace LineDecoder {

// A frame the master sends.
LineFrame request(const QByteArray &bytes);
// A frame accepted against its request: an answer or an exception answer.
LineFrame answer(const QByteArray &bytes, const QByteArray &request);

// English words for the command line and files, e.g. "read holding 38 ×1",
// "answer: 38 = 2", "refused: function 03, register 70, code 02 illegal data address".
QString describe(const LineFrame &frame);
QString describeValue(const LineValue &value);
// The values a frame carries, in numbers only: "71–72 = 0.5", a text
// register as "18–35 = \"ZSIM v1.0\"", and past kValuesWorded values "…".
QString describeValues(const LineFrame &frame);
constexpr int kValuesWorded = 4;
// "illegal data address" and the like; empty for an unknown code.
QString exceptionName(uint8_t code);
// English name of a coil, empty when the map has none.
QString coilName(uint16_t coil);
// "line: 14 requests, 13 answers, 1 time-out, ...; round-trip mean 1.4 ms, max 2.1 ms"
QString describeCounters(const LineCounters &counters);

QString hex(const QByteArray &bytes);
// "0F": one byte as the monitor and both front ends write it.
QString hexByte(uint8_t byte);

} // namespace LineDecoder

// The device object's recorder of the line: the request engine tells it
// what it sent and what it took or dropped; it decodes, counts, and hands
// the frames on in batches, so that neither the line nor a window pays per
// frame. Lives in the device thread.
class LineMonitor : public QObject
{
    Q_OBJECT
public:
    explicit LineMonitor(QObject *parent = nullptr);

    // Monotonic milliseconds, the clock of every frame's time.
    static double clockMs();

    // A new connection: counters from zero; baud gives the wire time that
    // separates a request's hand-over from its end on the line.
    void start(int baudRate);
    // The connection ended: everything recorded goes out now.
    void stop();

    void sent(const QByteArray &request);
    // An answer or refusal stands at buffer[at, at + size) of what arrived;
    // what lies around it is stray.
    void taken(const QByteArray &buffer, int at, int size, const QByteArray &request);
    // Bytes dropped while a request was (or had been) awaited: a bad CRC when
    // they hold an answer of the request's shape, else stray.
    void dropped(const QByteArray &bytes, const QByteArray &request);
    // Bytes that arrived while nothing was awaited: the device's echo of the
    // broadcast just sent, a late answer when they hold a whole frame from
    // the slave, else stray.
    void unclaimed(const QByteArray &bytes);
    void timedOut(const QByteArray &request);
    void portError(const QString &text);

    // Hands out whatever is recorded and the counters at once.
    void flush();

    const LineCounters &counters() const { return totals; }

    static constexpr int kBatchMs = 50;

signals:
    void framesRecorded(QVector<LineFrame> frames);
    void countersChanged(LineCounters counters);

private:
    void record(LineFrame frame);

    LineCounters totals;
    QVector<LineFrame> batch;
    QTimer batchTimer;
    double msPerByte = 0;
    double requestEndMs = 0;  // when the request in flight left the wire
    QByteArray lastBroadcast; // the broadcast in flight, whose echo is its answer
    QByteArray heldBytes;     // come since the broadcast, not yet its whole echo
    bool countersDirty = false;
};
