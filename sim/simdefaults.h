#pragma once

#include <cstdint>

// What the simulated altimeter holds when it starts, named once for the
// simulator, the tests and the benchmarks.
namespace SimDefaults {

constexpr float kDistance = 10.0f;      // metres, the centre of the drift
constexpr float kPeriod = 0.1f;         // seconds
constexpr const char *kRevision = "ZSIM v1.0";

constexpr uint16_t kProtType = 0;
constexpr uint16_t kFmcwBand = 250;   // inside the window's field, 100..2000
constexpr uint16_t kFreqRed = 0;
constexpr uint16_t kSizeLockData = 10;
constexpr float kDetThCoefMin = 0.5f;
constexpr float kDetThCoefMax = 1.5f;
constexpr float kDetSmthCoef = 0.25f;
constexpr float kDetMtiCoef = 0.9f;
constexpr float kDetThCoefDC = 2.0f;
constexpr float kTrsSmthCoef = 0.3f;

} // namespace SimDefaults
