#pragma once

#include <QVector>

// The measurement as the window and the command line take it: a distance
// request every period, and the statistics of the readings.
namespace Measurement {
constexpr int kPeriodMs = 100;
} // namespace Measurement

// Count, mean, sample standard deviation, minimum and maximum of readings,
// and how many requests for one went unanswered or were refused.
struct HeightStatistics
{
    int count = 0;
    double mean = 0;
    double deviation = 0;   // 0 for a single reading
    double low = 0;
    double high = 0;
    int missed = 0;         // set by whoever asked: of() sees only the readings

    static HeightStatistics of(const QVector<double> &readings);
};
