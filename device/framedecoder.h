#pragma once

#include "registermap.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>

#include <array>
#include <cstdint>

// One value a frame carries: a register (or coil) word, or a block that the
// register map types as a float or a 32-bit number. A register the map does
// not know, or a pair the frame cuts in half, is a word of its own.
struct LineValue
{
    using Type = RegisterMap::ValueType;
    uint16_t address = 0;   // first register of the value
    quint8 width = 1;       // registers it covers
    Type type = Type::Word;
    double value = 0;
};

// The first few values of a frame, held inside the frame itself: a frame
// is made for every exchange, and a list on the heap would cost each one an
// allocation in the device thread.
class LineValues
{
public:
    static constexpr int kCapacity = 4;

    int size() const { return count; }
    bool isEmpty() const { return count == 0; }
    const LineValue &at(int i) const { return items[static_cast<size_t>(i)]; }
    const LineValue &first() const { return items[0]; }
    const LineValue *begin() const { return items.data(); }
    const LineValue *end() const { return items.data() + count; }
    // Past the capacity a value is not kept; LineFrame::valueCount still counts it.
    void append(const LineValue &value)
    {
        if (count < kCapacity)
            items[static_cast<size_t>(count++)] = value;
    }
    void clear() { count = 0; }

private:
    std::array<LineValue, kCapacity> items{};
    int count = 0;
};

// One block of registers decoded whole from an answer, as the register map
// types it: what the device object takes from the answer to its read.
struct RegisterValue
{
    uint16_t address = 0;
    RegisterMap::ValueType type = RegisterMap::ValueType::Word;
    uint32_t bits = 0;   // a Text block's characters are in LineFrame::text
};

// One frame or byte run seen on the line, or a line event without bytes
// (a time-out, a lost port), with what the request engine decided about it
// and what it means in the device's terms. The facts are derived once, by
// FrameDecoder; each front end words them itself.
struct LineFrame
{
    enum class Direction : quint8 { Tx, Rx, None };
    enum class Kind : quint8 {
        Request,    // to the slave; an answer is awaited
        Broadcast,  // the address reset: nobody answers
        Answer,     // taken as the answer to the request in flight
        Refusal,    // an exception answer to the request in flight
        Stray,      // bytes that belong to no answer, dropped
        BadCrc,     // an answer of the right shape whose CRC is wrong, dropped
        Late,       // a whole answer that came with no request awaiting it, dropped
        TimeOut,    // the request in flight got no answer in time
        PortError,  // the port went away; text holds the port's own words
    };
    // Values kept of a frame: all its words show, and a raw read-out's
    // hundred values would cost the monitor's store a kilobyte a frame.
    static constexpr int kValuesKept = LineValues::kCapacity;

    double timeMs = 0;      // monotonic, LineMonitor::clockMs(); set when recorded
    Direction direction = Direction::None;
    Kind kind = Kind::Stray;
    QByteArray bytes;

    // Facts, from the frame itself or, for an answer, from its request.
    uint8_t function = 0;       // 0: none known
    uint8_t address = 0;        // slave address of the frame
    uint16_t first = 0;         // first register or coil
    uint16_t count = 0;         // registers or coils
    // Written (request) or read (answer): the first kValuesKept of valueCount.
    LineValues values;
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

Q_DECLARE_METATYPE(LineFrame)
Q_DECLARE_METATYPE(QVector<LineFrame>)

// Bytes into facts, for the request engine and the line monitor alike:
// function, registers typed by the register map, values, exception, block.
// Pure functions; the CRC is the codec's.
namespace FrameDecoder {

// A frame the master sends.
LineFrame request(const QByteArray &bytes);
// A frame taken against its request: an answer or an exception answer.
// With taken, every whole block the register map knows is also appended
// there, in order, for the device object to act on.
LineFrame answer(const QByteArray &bytes, const QByteArray &request, QVector<RegisterValue> *taken = nullptr);
// Bytes the engine drops, for what they hold: late when a whole frame from
// the slave is among them, a bad CRC when an answer of the request's shape
// (address, function, length) is there with a wrong CRC, else stray.
LineFrame dropped(const QByteArray &bytes, const QByteArray &request);
// The request got no answer in time.
LineFrame timeOut(const QByteArray &request);
LineFrame portError(const QString &text);

// The address reset, which nobody answers but the device echoes.
bool isBroadcast(const QByteArray &request);

} // namespace FrameDecoder
