#pragma once

#include <QVector>

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
