#pragma once

#include "framedecoder.h"

#include <QMetaType>

// What the line did since the port was connected.
struct LineCounters
{
    int requests = 0;      // every frame sent, the broadcast included
    int answers = 0;
    int timeOuts = 0;
    int badCrc = 0;
    int refusals = 0;
    int stray = 0;         // runs of stray bytes dropped
    int late = 0;
    int portErrors = 0;
    double startedMs = 0;  // when counting began, on LineMonitor::clockMs()
    int roundTrips = 0;    // answers and refusals timed
    double roundTripSumMs = 0;
    double roundTripMaxMs = 0;

    // Counts a frame by what the request engine decided it was.
    void count(const LineFrame &frame);

    double roundTripMeanMs() const { return roundTrips > 0 ? roundTripSumMs / roundTrips : 0; }
    // Requests that did not end with an answer: every failure kind.
    int failures() const { return timeOuts + badCrc + refusals + stray + late + portErrors; }
};

Q_DECLARE_METATYPE(LineCounters)
