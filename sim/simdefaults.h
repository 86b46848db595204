#pragma once

#include "deviceparameters.h"
#include "registermap.h"

#include <cstdint>

// What the simulated altimeter holds when it starts, named once for the
// simulator, the tests and the benchmarks.
namespace SimDefaults {

constexpr float kDistance = 10.0f;      // metres, the centre of the drift
constexpr float kPeriod = 0.1f;         // seconds
constexpr const char *kRevision = "ZSIM v1.0";

// The parameters start at their typical values, named here for the tests.
using DeviceParameters::typicalValue;
namespace Holding = RegisterMap::Holding;
constexpr uint16_t kProtType = uint16_t(typicalValue(Holding::ProtType));
constexpr uint16_t kFmcwBand = uint16_t(typicalValue(Holding::FmcwBand));
constexpr uint16_t kFreqRed = uint16_t(typicalValue(Holding::FreqRed));
constexpr uint16_t kSizeLockData = uint16_t(typicalValue(Holding::SizeLockData));
constexpr float kDetThCoefMin = float(typicalValue(Holding::DetThCoefMin));
constexpr float kDetThCoefMax = float(typicalValue(Holding::DetThCoefMax));
constexpr float kDetSmthCoef = float(typicalValue(Holding::DetSmthCoef));
constexpr float kDetMtiCoef = float(typicalValue(Holding::DetMtiCoef));
constexpr float kDetThCoefDC = float(typicalValue(Holding::DetThCoefDC));
constexpr float kTrsSmthCoef = float(typicalValue(Holding::TrsSmthCoef));

} // namespace SimDefaults
