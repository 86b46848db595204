#pragma once

#include "runrecord.h"

#include <QDateTime>
#include <QString>
#include <QVector>

#include <optional>

// What the records say of a line's quality over the runs a filter selects:
// how many units pass the first time and in the end, what fails most, how
// each limited measurement sits inside its limits, and how the line itself
// behaves at each place. Plain numbers; the front ends word and draw them.
namespace Station {

// Units counted once each, by their serial: the first run the filter
// selects decides first pass, the latest decides the final outcome.
struct YieldCount
{
    QString key;            // a day (yyyy-MM-dd, UTC, of the unit's first run) or a station; empty for the whole
    qint64 units = 0;
    qint64 firstPass = 0;   // units whose first run passed
    qint64 finalPass = 0;   // units whose latest run passed
    double firstPassShare() const { return units > 0 ? double(firstPass) / double(units) : 0; }
    double finalShare() const { return units > 0 ? double(finalPass) / double(units) : 0; }
};

struct Yield
{
    YieldCount total;
    QVector<YieldCount> byDay;      // oldest first
    QVector<YieldCount> byStation;  // by name
};

// Runs that did not pass, by the step they stopped at and their cause's
// code; largest first.
struct ParetoBar
{
    QString step;           // the failed step's kind
    QString cause;          // the cause's code
    qint64 count = 0;
    double share = 0;       // of every run that did not pass, 0 to 1
    double cumulative = 0;  // this bar's share and every larger one's
};

struct TrendPoint
{
    qint64 runId = 0;
    QDateTime started;
    double value = 0;
};

// One limited quantity of a step kind (e.g. measure's mean) with the same
// limits, over every run's value in the filter.
struct Capability
{
    QString step;           // the step's kind
    QString name;           // the quantity
    std::optional<double> low;
    std::optional<double> high;
    qint64 n = 0;
    double mean = 0;
    double stddev = 0;      // sample, n - 1; 0 when n < 2
    std::optional<double> cp;   // (high - low) / 6σ: both limits, σ > 0, n >= 2
    std::optional<double> cpk;  // min(high - mean, mean - low) / 3σ over the limits there are
    double outside = 0;     // share of values outside the limits, 0 to 1
    QVector<TrendPoint> trend;  // the newest values, oldest first (at most QualityReport::kTrendPoints)
    QVector<double> histogram;  // values in kHistogramBins equal bins from histogramLow to histogramHigh
    double histogramLow = 0;
    double histogramHigh = 0;
};

// Per station and port: what its line did over the runs.
struct LineHealth
{
    QString station;
    QString port;
    qint64 requests = 0;
    qint64 timeOuts = 0;
    qint64 badCrc = 0;
    qint64 late = 0;
    qint64 refused = 0;
    // Per 1 000 requests; 0 without requests.
    double perThousand(qint64 count) const { return requests > 0 ? 1000.0 * double(count) / double(requests) : 0; }
};

struct QualityReport
{
    static constexpr int kTrendPoints = 500;
    static constexpr int kHistogramBins = 30;

    RecordFilter filter;
    QDateTime made;         // UTC
    qint64 runs = 0;
    Yield yield;
    QVector<ParetoBar> pareto;
    QVector<Capability> measurements;   // by step, then name
    QVector<LineHealth> line;           // by station, then port
};

} // namespace Station
