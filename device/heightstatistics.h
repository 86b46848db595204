#pragma once

#include <QVector>

// The measurement as the window and the command line take it: a distance
// request every period, and the statistics of the readings.
namespace Measurement {
constexpr int kPeriodMs = 100;
} // namespace Measurement

// Count, mean, sample standard deviation, minimum and maximum of readings.
struct HeightStatistics
{
    int count = 0;
    double mean = 0;
    double deviation = 0;   // 0 for a single reading
    double low = 0;
    double high = 0;

    static HeightStatistics of(const QVector<double> &readings);
};
