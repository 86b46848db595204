#include "frameassembler.h"

#include "modbuscodec.h"

namespace {

constexpr int kNeedMore = 0;
constexpr int kNoRule = -1;

uint8_t byteAt(const QByteArray &bytes, int offset)
{
    return static_cast<uint8_t>(bytes[offset]);
}

// Request length from the function code: kNeedMore until the length field
// has arrived, kNoRule for a code without a rule.
int requestLength(const QByteArray &buffer)
{
    if (buffer.size() < 2)
        return kNeedMore;
    switch (byteAt(buffer, 1)) {
    case ModbusCodec::ReadCoils:
    case ModbusCodec::ReadHoldingRegisters:
    case ModbusCodec::ReadInputRegisters:
    case ModbusCodec::WriteSingleCoil:
    case ModbusCodec::WriteSingleRegister:
    case ModbusCodec::ResetAddress:
        return 8;
    case ModbusCodec::WriteMultipleRegisters:
        // address, function, start(2), quantity(2), byte count, values, CRC(2)
        return buffer.size() < 7 ? kNeedMore : 9 + byteAt(buffer, 6);
    case ModbusCodec::ProgramBlock: {
        // address, function, size(2), block address(4), data, CRC(2)
        if (buffer.size() < 4)
            return kNeedMore;
        const int size = static_cast<int>(ModbusCodec::bigEndian(buffer, 2, 2));
        return size > FrameAssembler::kMaxBlockData ? kNoRule : 10 + size;
    }
    default:
        return kNoRule;
    }
}

bool forDevice(const QByteArray &frame)
{
    const uint8_t address = byteAt(frame, 0);
    return address == ModbusCodec::kSlaveAddress
        || (address == ModbusCodec::kBroadcastAddress && byteAt(frame, 1) == ModbusCodec::ResetAddress);
}

void ignore(QVector<FrameAssembler::Piece> &pieces, const QByteArray &bytes)
{
    // Neighbouring dropped bytes make one piece.
    if (!pieces.isEmpty() && pieces.last().kind == FrameAssembler::Piece::Ignored)
        pieces.last().bytes += bytes;
    else
        pieces.append({FrameAssembler::Piece::Ignored, bytes});
}

} // namespace

QVector<FrameAssembler::Piece> FrameAssembler::feed(const QByteArray &bytes)
{
    buffer += bytes;
    return cut(false);
}

QVector<FrameAssembler::Piece> FrameAssembler::silence()
{
    return cut(true);
}

QVector<FrameAssembler::Piece> FrameAssembler::cut(bool quiet)
{
    QVector<Piece> pieces;
    auto dropFirst = [&] {
        ignore(pieces, buffer.left(1));
        buffer.remove(0, 1);
    };
    while (!buffer.isEmpty()) {
        const bool ours = byteAt(buffer, 0) == ModbusCodec::kSlaveAddress;
        const int length = requestLength(buffer);
        if (length == kNoRule && !ours) {
            dropFirst();
            continue;
        }
        if (length == kNoRule || length == kNeedMore || buffer.size() < length) {
            if (!quiet)
                break;
            if (ours && buffer.size() >= 4 && ModbusCodec::crcValid(buffer)) {
                pieces.append({Piece::Request, buffer});
                buffer.clear();
            } else {
                dropFirst();
            }
            continue;
        }
        const QByteArray frame = buffer.left(length);
        if (!ModbusCodec::crcValid(frame)) {
            dropFirst();
            continue;
        }
        buffer.remove(0, length);
        if (forDevice(frame))
            pieces.append({Piece::Request, frame});
        else
            ignore(pieces, frame);
    }
    return pieces;
}
