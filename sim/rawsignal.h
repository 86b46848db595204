#pragma once

#include <QVector>
#include <cstdint>

// Raw telemetry shaped like the altimeter's: the beat signal of an FMCW
// radar whose frequency grows with the distance, seen as ADC samples of the
// I and Q channels, as a spectrum and as the integrator's smoothed spectrum.
namespace RawSignal {

// Values of the raw data type register, in the order of the window's list.
enum Type : uint16_t {
    AdcI = 0,
    AdcQ = 1,
    AdcIQ = 2,          // I and Q samples alternating, I first
    Spectrum = 3,
    Integrator = 4,
};
constexpr uint16_t kTypeCount = 5;

// 1025 spectrum bins are the non-negative half of a 2048-point transform.
constexpr int kFftSize = 2048;
constexpr int kBinCount = kFftSize / 2 + 1;
constexpr float kMetresPerBin = 0.1f;
constexpr float kAdcAmplitude = 1200.0f;
constexpr float kAdcNoise = 25.0f;

// Spectrum bin of the beat frequency for a target at this distance.
int beatBin(float distanceMetres);

// The first `points` values of the buffer of `type`; the same seed gives
// the same noise.
QVector<float> generate(uint16_t type, int points, float distanceMetres, uint32_t seed);

} // namespace RawSignal
