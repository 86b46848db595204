#pragma once

#include "modbuscodec.h"

// The altimeter's serial line, named once for the programs, the simulator,
// the tests and the benchmarks: 115200 baud, 8 data bits, no parity, 2 stop
// bits, slave 19.
namespace Line {

constexpr int kBaudRate = 115200;
constexpr int kDataBits = 8;
constexpr int kStopBits = 2;
constexpr uint8_t kSlaveAddress = ModbusCodec::kSlaveAddress;
// Start bit, data bits and stop bits: the wire time of one byte.
constexpr int kBitsPerByte = 1 + kDataBits + kStopBits;

} // namespace Line
