#include "rawsignal.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace RawSignal {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Powers in ADC units squared; the spectrum is reported in decibels.
constexpr double kNoiseFloorPower = 1.0e2;
constexpr double kPeakPower = 1.0e8;
constexpr double kSpectrumPeakWidth = 1.5;     // bins
constexpr double kIntegratorPeakWidth = 2.5;   // smoothing widens the peak
constexpr int kIntegratedFrames = 16;

void adcSamples(QVector<float> &out, int count, int bin, bool quadrature, std::mt19937 &rng)
{
    std::normal_distribution<float> noise(0.0f, kAdcNoise);
    const double step = 2.0 * kPi * bin / kFftSize;
    for (int i = 0; i < count; ++i) {
        const double phase = step * i;
        const double clean = quadrature ? std::sin(phase) : std::cos(phase);
        out.append(static_cast<float>(kAdcAmplitude * clean) + noise(rng));
    }
}

// The windowed transform's main lobe; its side lobes sink into the noise.
double peakPower(int j, int bin, double width)
{
    const double x = (j - bin) / width;
    return kPeakPower * std::exp(-0.5 * x * x);
}

void spectrum(QVector<float> &out, int count, int bin, std::mt19937 &rng)
{
    // A single frame's noise power scatters exponentially around the floor.
    std::exponential_distribution<double> noise(1.0 / kNoiseFloorPower);
    for (int j = 0; j < count; ++j)
        out.append(static_cast<float>(10.0 * std::log10(noise(rng) + peakPower(j, bin, kSpectrumPeakWidth))));
}

void integrator(QVector<float> &out, int count, int bin, std::mt19937 &rng)
{
    // Accumulating frames averages the noise down to a smooth floor.
    std::gamma_distribution<double> noise(kIntegratedFrames, kNoiseFloorPower / kIntegratedFrames);
    for (int j = 0; j < count; ++j)
        out.append(static_cast<float>(10.0 * std::log10(noise(rng) + peakPower(j, bin, kIntegratorPeakWidth))));
}

} // namespace

int beatBin(float distanceMetres)
{
    const int bin = static_cast<int>(std::lround(distanceMetres / kMetresPerBin));
    return std::clamp(bin, 0, kBinCount - 1);
}

QVector<float> generate(uint16_t type, int points, float distanceMetres, uint32_t seed)
{
    std::mt19937 rng(seed);
    const int bin = beatBin(distanceMetres);
    QVector<float> out;
    out.reserve(points);
    switch (type) {
    case AdcI:
        adcSamples(out, points, bin, false, rng);
        break;
    case AdcQ:
        adcSamples(out, points, bin, true, rng);
        break;
    case AdcIQ: {
        const int pairs = (points + 1) / 2;
        QVector<float> i, q;
        adcSamples(i, pairs, bin, false, rng);
        adcSamples(q, pairs, bin, true, rng);
        for (int k = 0; k < points; ++k)
            out.append(k % 2 == 0 ? i[k / 2] : q[k / 2]);
        break;
    }
    case Spectrum:
        spectrum(out, points, bin, rng);
        break;
    case Integrator:
        integrator(out, points, bin, rng);
        break;
    default:
        out.fill(0.0f, points);
        break;
    }
    return out;
}

} // namespace RawSignal
