#pragma once

#include <cstdint>

// The altimeter's Modbus objects, named once for the device object and the
// simulator alike. Addresses are data addresses as they stand in a frame.
namespace RegisterMap {

namespace Coil {
constexpr uint16_t SaveSettings = 1;     // ON: store settings in non-volatile memory
constexpr uint16_t StartSelfTest = 2;    // ON: run the self-test
constexpr uint16_t ProgrammingMode = 3;  // ON: enter programming mode
constexpr uint16_t EraseFirmware = 5;    // ON: erase the current firmware
constexpr uint16_t FirmwareFlag = 6;     // ON: mark the written firmware valid
constexpr uint16_t FlashCheck = 8;       // ON: check flash access and chip identity
constexpr uint16_t ConnectionProbe = 9;  // OFF: echo proves the device answers
constexpr uint16_t ModulationFmcw = 10;  // ON: FMCW modulation
constexpr uint16_t ModulationCw = 11;    // ON: CW modulation
constexpr uint16_t On = 0xFF00;
} // namespace Coil

namespace Holding {
constexpr uint16_t AdrMb = 16;
constexpr uint16_t Revision = 18;        // 18 registers, one character each
constexpr uint16_t RevisionLength = 18;
constexpr uint16_t RawDataType = 37;
constexpr uint16_t ProtType = 38;
constexpr uint16_t FmcwBand = 39;
constexpr uint16_t FreqRed = 50;
constexpr uint16_t SizeLockData = 70;
constexpr uint16_t DetThCoefMin = 71;    // float pairs from here on
constexpr uint16_t DetThCoefMax = 73;
constexpr uint16_t DetSmthCoef = 75;
constexpr uint16_t DetMtiCoef = 77;
constexpr uint16_t DetThCoefDC = 79;
constexpr uint16_t TrsSmthCoef = 90;
constexpr uint16_t First = 16;
constexpr uint16_t Last = 90;
} // namespace Holding

namespace Input {
constexpr uint16_t Period = 0;
constexpr uint16_t Distance = 2;
constexpr uint16_t SelfTestVerdict = 4;
constexpr uint16_t FlashStatus = 6;
constexpr uint16_t RawDataCount = 92;
constexpr uint16_t RawDataFirst = 93;    // point k at 93 + 2k
constexpr uint16_t RawDataLast = 2141;   // first register of point 1024
constexpr int RawDataMaxPoints = 1025;
} // namespace Input

// What a block of registers holds. The device object, the line monitor and
// the simulator all read a register's type from here.
enum class ValueType : uint8_t {
    Unmapped,   // no block starts here
    Word,       // one register, unsigned
    Float,      // a register pair, IEEE 754, high word first
    Long,       // a register pair, unsigned 32 bits, high word first
    Text,       // one character per register, in its low byte
};

struct Block
{
    int size = 0;   // registers; 0 where nothing is mapped
    ValueType type = ValueType::Unmapped;
};

// The block that starts at a holding register.
Block holdingBlock(uint16_t adr);
// The block that starts at an input register.
Block inputBlock(uint16_t adr);

inline int holdingBlockSize(uint16_t adr) { return holdingBlock(adr).size; }
inline int inputBlockSize(uint16_t adr) { return inputBlock(adr).size; }

} // namespace RegisterMap
