#pragma once

#include "linecounters.h"
#include "framedecoder.h"

#include <QString>

// The command line's English words for the frames and counters of the
// line monitor (--trace and its files).
namespace LineWording {

// "read holding 38 ×1", "answer: 38 = 2",
// "refused: function 03, register 70, code 02 illegal data address".
QString describe(const LineFrame &frame);
// "illegal data address" and the like; empty for an unknown code.
QString exceptionName(uint8_t code);
// English name of a coil, empty when the map has none.
QString coilName(uint16_t coil);
// "line: 14 requests, 13 answers, 1 time-out, ...; round-trip mean 1.4 ms, max 2.1 ms"
QString describeCounters(const LineCounters &counters);

} // namespace LineWording
