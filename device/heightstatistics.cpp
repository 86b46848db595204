#include "heightstatistics.h"

#include <algorithm>
#include <cmath>

HeightStatistics HeightStatistics::of(const QVector<double> &readings)
{
    HeightStatistics statistics;
    statistics.count = readings.size();
    if (readings.isEmpty())
        return statistics;
    double sum = 0;
    for (double value : readings)
        sum += value;
    statistics.mean = sum / readings.size();
    double squares = 0;
    for (double value : readings)
        squares += (value - statistics.mean) * (value - statistics.mean);
    statistics.deviation = readings.size() > 1 ? std::sqrt(squares / (readings.size() - 1)) : 0.0;
    const auto [low, high] = std::minmax_element(readings.cbegin(), readings.cend());
    statistics.low = *low;
    statistics.high = *high;
    return statistics;
}
