#include "framedecoder.h"

#include "linesettings.h"
#include "modbuscodec.h"

using namespace RegisterMap;
using ModbusCodec::bigEndian;

namespace {

constexpr int kReadDataOffset = 3;     // address, function, byte count
constexpr int kWriteDataOffset = 7;    // address, function, first, count, byte count
constexpr int kSingleDataOffset = 4;   // address, function, register
constexpr int kCrcSize = 2;
constexpr int kMinFrameSize = 4;
constexpr int kMinRequestSize = 8;     // address, function, first, count or value, CRC
constexpr int kMinBlockRequestSize = 10;
// The longest frame Modbus RTU allows; no answer is longer.
constexpr int kMaxFrameSize = 256;

// A revision text is padded to its registers with NULs, blanks or erased
// flash (0xFF); the padding is no part of it.
bool isPadding(QChar c)
{
    return c == QChar(0xFF) || !c.isPrint() || c.isSpace();
}

// Registers first..first+count-1 as the register map types them, from the
// big-endian words at data[offset...]; stops where the bytes end.
void decodeRegisters(LineFrame &frame, bool holding, const QByteArray &data, int offset, int count,
                     QVector<RegisterValue> *taken)
{
    const int available = (data.size() - kCrcSize - offset) / 2;
    const int n = qMin(count, qMax(available, 0));
    int k = 0;
    while (k < n) {
        const auto adr = static_cast<uint16_t>(frame.first + k);
        const Block block = holding ? holdingBlock(adr) : inputBlock(adr);
        if (block.type == ValueType::Text) {
            // A read that covers only part of the text yields only that part.
            const int length = qMin(block.size, n - k);
            QString text(length, Qt::Uninitialized);
            for (int i = 0; i < length; ++i)
                text[i] = QChar(static_cast<uint8_t>(data[offset + 2 * (k + i) + 1]));
            while (!text.isEmpty() && isPadding(text.back()))
                text.chop(1);
            frame.text = text;
            if (taken)
                taken->append({adr, ValueType::Text, 0});
            k += length;
            continue;
        }
        LineValue value;
        value.address = adr;
        // A block the read cuts short is no value of the map's: a word each.
        const bool whole = block.type != ValueType::Unmapped && k + block.size <= n;
        value.width = whole ? static_cast<quint8>(block.size) : 1;
        value.type = whole ? block.type : ValueType::Unmapped;
        const uint32_t bits = bigEndian(data, offset + 2 * k, 2 * value.width);
        value.value = value.type == ValueType::Float ? double(ModbusCodec::floatFromBits(bits)) : double(bits);
        if (whole && taken)
            taken->append({adr, value.type, bits});
        frame.values.append(value);
        ++frame.valueCount;
        k += value.width;
    }
}

bool isKnownFunction(uint8_t function)
{
    switch (function & ~ModbusCodec::kExceptionFlag) {
    case ModbusCodec::ReadCoils:
    case ModbusCodec::ReadHoldingRegisters:
    case ModbusCodec::ReadInputRegisters:
    case ModbusCodec::WriteSingleCoil:
    case ModbusCodec::WriteSingleRegister:
    case ModbusCodec::WriteMultipleRegisters:
    case ModbusCodec::ProgramBlock:
        return true;
    default:
        return false;
    }
}

// Whether bytes hold a whole frame with a good CRC from the slave: an
// answer that came when nothing awaited it.
bool holdsSlaveFrame(const QByteArray &bytes)
{
    for (int at = 0; at + kMinFrameSize <= bytes.size(); ++at) {
        if (static_cast<uint8_t>(bytes[at]) != Line::kSlaveAddress || !isKnownFunction(bytes[at + 1]))
            continue;
        // No further than a frame can be: a second of noise full of likely
        // starts must cost the device thread linear time, and a run that
        // long would somewhere come to a zero CRC by chance.
        const int span = qMin(bytes.size() - at, kMaxFrameSize);
        if (ModbusCodec::validFrameLength(bytes.constData() + at, span, kMinFrameSize) > 0)
            return true;
    }
    return false;
}

// Whether bytes hold an answer of the request's shape (address, function,
// length) whose CRC is wrong.
bool holdsCorruptAnswer(const QByteArray &bytes, const QByteArray &request)
{
    if (request.size() < kMinFrameSize)
        return false;
    const auto function = static_cast<uint8_t>(request[1]);
    const bool read = function == ModbusCodec::ReadCoils || function == ModbusCodec::ReadHoldingRegisters
                      || function == ModbusCodec::ReadInputRegisters;
    const int quantity = read && request.size() >= 6 ? int(bigEndian(request, 4, 2)) : 1;
    const int size = ModbusCodec::answerSize(function, quantity);
    for (int at = 0; at + ModbusCodec::kExceptionAnswerSize <= bytes.size(); ++at) {
        if (bytes[at] != request[0])
            continue;
        const auto answerFunction = static_cast<uint8_t>(bytes[at + 1]);
        const int length = answerFunction == function                                   ? size
                           : answerFunction == (function | ModbusCodec::kExceptionFlag) ? ModbusCodec::kExceptionAnswerSize
                                                                                        : 0;
        if (length > 0 && at + length <= bytes.size()
            && ModbusCodec::crc16(bytes.constData() + at, length) != 0)
            return true;
    }
    return false;
}

} // namespace

bool LineFrame::isPolling() const
{
    return (kind == Kind::Request || kind == Kind::Answer) && function == ModbusCodec::ReadInputRegisters
           && count == 2 && (first == Input::Distance || first == Input::Period);
}

namespace FrameDecoder {

bool isBroadcast(const QByteArray &request)
{
    return request.size() >= 2 && static_cast<uint8_t>(request[0]) == ModbusCodec::kBroadcastAddress
           && static_cast<uint8_t>(request[1]) == ModbusCodec::ResetAddress;
}

LineFrame request(const QByteArray &bytes)
{
    LineFrame frame;
    frame.direction = LineFrame::Direction::Tx;
    frame.kind = LineFrame::Kind::Request;
    frame.bytes = bytes;
    if (bytes.size() < kMinFrameSize)
        return frame;
    frame.address = static_cast<uint8_t>(bytes[0]);
    frame.function = static_cast<uint8_t>(bytes[1]);
    if (isBroadcast(bytes)) {
        frame.kind = LineFrame::Kind::Broadcast;
        return frame;
    }
    const bool whole = bytes.size() >= kMinRequestSize;
    switch (frame.function) {
    case ModbusCodec::ReadCoils:
    case ModbusCodec::ReadHoldingRegisters:
    case ModbusCodec::ReadInputRegisters:
        if (whole) {
            frame.first = static_cast<uint16_t>(bigEndian(bytes, 2, 2));
            frame.count = static_cast<uint16_t>(bigEndian(bytes, 4, 2));
        }
        break;
    case ModbusCodec::WriteSingleCoil:
        if (whole) {
            frame.first = static_cast<uint16_t>(bigEndian(bytes, 2, 2));
            frame.count = 1;
            LineValue value;
            value.address = frame.first;
            value.value = bigEndian(bytes, 4, 2) == Coil::On ? 1 : 0;
            frame.values.append(value);
            frame.valueCount = 1;
        }
        break;
    case ModbusCodec::WriteSingleRegister:
        if (whole) {
            frame.first = static_cast<uint16_t>(bigEndian(bytes, 2, 2));
            frame.count = 1;
            decodeRegisters(frame, true, bytes, kSingleDataOffset, 1, nullptr);
        }
        break;
    case ModbusCodec::WriteMultipleRegisters:
        if (whole) {
            frame.first = static_cast<uint16_t>(bigEndian(bytes, 2, 2));
            frame.count = static_cast<uint16_t>(bigEndian(bytes, 4, 2));
            decodeRegisters(frame, true, bytes, kWriteDataOffset, frame.count, nullptr);
        }
        break;
    case ModbusCodec::ProgramBlock:
        if (bytes.size() >= kMinBlockRequestSize) {
            frame.blockSize = static_cast<int>(bigEndian(bytes, 2, 2));
            frame.blockAddress = bigEndian(bytes, 4, 4);
        }
        break;
    default:
        break;
    }
    return frame;
}

LineFrame answer(const QByteArray &bytes, const QByteArray &requestBytes, QVector<RegisterValue> *taken)
{
    LineFrame frame = request(requestBytes);
    frame.direction = LineFrame::Direction::Rx;
    frame.bytes = bytes;
    frame.values.clear();
    frame.valueCount = 0;
    frame.text.clear();
    frame.kind = LineFrame::Kind::Answer;
    if (bytes.size() < kMinFrameSize)
        return frame;
    frame.address = static_cast<uint8_t>(bytes[0]);
    if (static_cast<uint8_t>(bytes[1]) & ModbusCodec::kExceptionFlag) {
        frame.kind = LineFrame::Kind::Refusal;
        frame.exceptionCode = static_cast<uint8_t>(bytes[2]);
        return frame;
    }
    switch (frame.function) {
    case ModbusCodec::ReadHoldingRegisters:
    case ModbusCodec::ReadInputRegisters:
        decodeRegisters(frame, frame.function == ModbusCodec::ReadHoldingRegisters, bytes, kReadDataOffset,
                        frame.count, taken);
        break;
    case ModbusCodec::WriteSingleCoil:
    case ModbusCodec::WriteSingleRegister: {
        // The echo says what the device took.
        const LineFrame echo = request(bytes);
        frame.first = echo.first;
        frame.values = echo.values;
        frame.valueCount = echo.valueCount;
        break;
    }
    default:
        break;
    }
    return frame;
}

LineFrame dropped(const QByteArray &bytes, const QByteArray &requestBytes)
{
    LineFrame frame;
    frame.direction = LineFrame::Direction::Rx;
    frame.bytes = bytes;
    if (holdsSlaveFrame(bytes))
        frame.kind = LineFrame::Kind::Late;
    else if (holdsCorruptAnswer(bytes, requestBytes))
        frame.kind = LineFrame::Kind::BadCrc;
    else
        frame.kind = LineFrame::Kind::Stray;
    return frame;
}

LineFrame timeOut(const QByteArray &requestBytes)
{
    LineFrame frame = request(requestBytes);
    frame.direction = LineFrame::Direction::None;
    frame.kind = LineFrame::Kind::TimeOut;
    frame.bytes.clear();
    frame.values.clear();
    frame.valueCount = 0;
    return frame;
}

LineFrame portError(const QString &text)
{
    LineFrame frame;
    frame.kind = LineFrame::Kind::PortError;
    frame.text = text;
    return frame;
}

} // namespace FrameDecoder
