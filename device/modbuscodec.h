#pragma once

#include <QByteArray>
#include <cstdint>

// Modbus RTU frame building and checking as pure functions over bytes, so
// that the device object, the simulator and the tests share one codec.
namespace ModbusCodec {

constexpr uint8_t kSlaveAddress = 0x13;
constexpr uint8_t kBroadcastAddress = 0xFF;

enum Function : uint8_t {
    ReadCoils = 0x01,
    ReadHoldingRegisters = 0x03,
    ReadInputRegisters = 0x04,
    WriteSingleCoil = 0x05,
    WriteSingleRegister = 0x06,
    WriteMultipleRegisters = 0x10,
    ProgramBlock = 0x42,
    ResetAddress = 0x43,
};

constexpr uint8_t kExceptionFlag = 0x80;

// Codes a slave gives in an exception answer.
enum ExceptionCode : uint8_t {
    IllegalFunction = 0x01,
    IllegalDataAddress = 0x02,
    IllegalDataValue = 0x03,
    DeviceFailure = 0x04,
    DeviceBusy = 0x06,
};

// Address, function with the exception flag, code, CRC.
constexpr int kExceptionAnswerSize = 5;

// Firmware-defined code carried by the address-reset frame after FF 43.
constexpr uint8_t kResetAddressCode[4] = {0xA5, 0x5A, 0x13, 0x00};

uint16_t crc16(const char *data, int size);
inline uint16_t crc16(const QByteArray &data) { return crc16(data.constData(), data.size()); }

// Appends the CRC of the whole array, low byte first.
void appendCrc(QByteArray &frame);

// True when the CRC over the whole frame (its own two CRC bytes included) is 0.
bool crcValid(const QByteArray &frame);

// The length of the shortest frame at the start of data[0, size) whose CRC
// checks and which is at least minSize bytes long; 0 when there is none.
// One pass, however many lengths it tries.
int validFrameLength(const char *data, int size, int minSize);

QByteArray readRequest(uint8_t func, uint16_t adr, uint16_t quantity);
QByteArray writeRequest(uint8_t func, uint16_t adr, const uint16_t *values, uint16_t quantity);
QByteArray programBlockRequest(uint32_t addr, int size, const uint8_t *buffer);
QByteArray resetAddressRequest();
QByteArray exceptionAnswer(uint8_t func, uint8_t code);

// What the address field of a request with this function names; a refusal
// is worded with it.
enum class AddressKind { None, Register, Coil, Block };
AddressKind addressKind(uint8_t func);

// Expected answer length in bytes; 0 for a function code without a rule.
int answerSize(int func, int quantity);

// What an answer carries of its request: a read's byte count, a single
// write's echo of address and value, a multiple write's address and count;
// other functions only themselves. Two requests with equal signatures get
// answers that cannot be told apart, so only their order can.
QByteArray requestSignature(const QByteArray &request);
// Whether a whole answer (not an exception; CRC already checked) carries
// the signature of this request.
bool answerFits(const QByteArray &answer, const QByteArray &request);

// Big-endian assembly of the register bytes at frame[offset..offset+count).
// The caller guarantees the range lies inside the frame.
uint32_t bigEndian(const QByteArray &frame, int offset, int count);

uint16_t floatHigh(float value);
uint16_t floatLow(float value);
float floatFromBits(uint32_t bits);
uint32_t bitsFromFloat(float value);

} // namespace ModbusCodec
