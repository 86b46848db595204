#include "modbuscodec.h"

#include <array>
#include <cstring>

namespace ModbusCodec {

namespace {

// Table of the reflected polynomial 0xA001, built once at compile time.
constexpr std::array<uint16_t, 256> makeCrcTable()
{
    std::array<uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = makeCrcTable();

void appendWord(QByteArray &frame, uint16_t value)
{
    frame.append(static_cast<char>(value >> 8));
    frame.append(static_cast<char>(value & 0xFF));
}

QByteArray header(uint8_t address, uint8_t func)
{
    QByteArray frame;
    frame.append(static_cast<char>(address));
    frame.append(static_cast<char>(func));
    return frame;
}

} // namespace

uint16_t crc16(const char *data, int size)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < size; ++i)
        crc = kCrcTable[(crc ^ static_cast<uint8_t>(data[i])) & 0xFF] ^ (crc >> 8);
    return crc;
}

void appendCrc(QByteArray &frame)
{
    const uint16_t crc = crc16(frame);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
}

bool crcValid(const QByteArray &frame)
{
    return crc16(frame) == 0;
}

int validFrameLength(const char *data, int size, int minSize)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < size; ++i) {
        crc = kCrcTable[(crc ^ static_cast<uint8_t>(data[i])) & 0xFF] ^ (crc >> 8);
        if (crc == 0 && i + 1 >= minSize)
            return i + 1;
    }
    return 0;
}

QByteArray readRequest(uint8_t func, uint16_t adr, uint16_t quantity)
{
    QByteArray frame = header(kSlaveAddress, func);
    appendWord(frame, adr);
    appendWord(frame, quantity);
    appendCrc(frame);
    return frame;
}

QByteArray writeRequest(uint8_t func, uint16_t adr, const uint16_t *values, uint16_t quantity)
{
    QByteArray frame = header(kSlaveAddress, func);
    appendWord(frame, adr);
    switch (func) {
    case WriteSingleCoil:
        appendWord(frame, values[0] != 0 ? 0xFF00 : 0x0000);
        break;
    case WriteSingleRegister:
        appendWord(frame, values[0]);
        break;
    case WriteMultipleRegisters:
        appendWord(frame, quantity);
        frame.append(static_cast<char>((2 * quantity) & 0xFF));
        for (int i = 0; i < quantity; ++i)
            appendWord(frame, values[i]);
        break;
    default:
        break;
    }
    appendCrc(frame);
    return frame;
}

QByteArray programBlockRequest(uint32_t addr, int size, const uint8_t *buffer)
{
    QByteArray frame = header(kSlaveAddress, ProgramBlock);
    appendWord(frame, static_cast<uint16_t>(size & 0xFFFF));
    appendWord(frame, static_cast<uint16_t>(addr >> 16));
    appendWord(frame, static_cast<uint16_t>(addr & 0xFFFF));
    if (size > 0)
        frame.append(reinterpret_cast<const char *>(buffer), size);
    appendCrc(frame);
    return frame;
}

QByteArray exceptionAnswer(uint8_t func, uint8_t code)
{
    QByteArray frame = header(kSlaveAddress, func | kExceptionFlag);
    frame.append(static_cast<char>(code));
    appendCrc(frame);
    return frame;
}

QByteArray resetAddressRequest()
{
    QByteArray frame = header(kBroadcastAddress, ResetAddress);
    for (uint8_t byte : kResetAddressCode)
        frame.append(static_cast<char>(byte));
    appendCrc(frame);
    return frame;
}

AddressKind addressKind(uint8_t func)
{
    switch (func) {
    case ReadHoldingRegisters:
    case ReadInputRegisters:
    case WriteSingleRegister:
    case WriteMultipleRegisters:
        return AddressKind::Register;
    case ReadCoils:
    case WriteSingleCoil:
        return AddressKind::Coil;
    case ProgramBlock:
        return AddressKind::Block;
    default:
        return AddressKind::None;
    }
}

int answerSize(int func, int quantity)
{
    switch (func) {
    case ReadCoils:
        return (quantity + 7) / 8 + 5;
    case ReadHoldingRegisters:
    case ReadInputRegisters:
        return 2 * quantity + 5;
    case WriteSingleCoil:
    case WriteSingleRegister:
    case WriteMultipleRegisters:
        return 8;
    case ProgramBlock:
        return 6;
    default:
        return 0;
    }
}

namespace {

// The fields of a frame of this function that tie an answer to its request,
// starting at the function byte; nothing beyond it for a function without them.
QByteArray signatureAt(const QByteArray &frame, bool isRequest)
{
    if (frame.size() < 2)
        return QByteArray();
    const auto func = static_cast<uint8_t>(frame[1]);
    QByteArray signature(1, frame[1]);
    switch (func) {
    case ReadCoils:
    case ReadHoldingRegisters:
    case ReadInputRegisters:
        if (!isRequest) {
            if (frame.size() > 2)
                signature.append(frame[2]);
        } else if (frame.size() >= 6) {
            const int quantity = static_cast<int>(bigEndian(frame, 4, 2));
            const int bytes = func == ReadCoils ? (quantity + 7) / 8 : 2 * quantity;
            signature.append(static_cast<char>(bytes & 0xFF));
        }
        break;
    case WriteSingleCoil:
    case WriteSingleRegister:
    case WriteMultipleRegisters:
        signature.append(frame.mid(2, 4));
        break;
    default:
        break;
    }
    return signature;
}

} // namespace

QByteArray requestSignature(const QByteArray &request)
{
    return signatureAt(request, true);
}

bool answerFits(const QByteArray &answer, const QByteArray &request)
{
    return signatureAt(answer, false) == signatureAt(request, true);
}

uint32_t bigEndian(const QByteArray &frame, int offset, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | static_cast<uint8_t>(frame[offset + i]);
    return value;
}

uint32_t bitsFromFloat(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float floatFromBits(uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint16_t floatHigh(float value) { return static_cast<uint16_t>(bitsFromFloat(value) >> 16); }
uint16_t floatLow(float value) { return static_cast<uint16_t>(bitsFromFloat(value) & 0xFFFF); }

} // namespace ModbusCodec
