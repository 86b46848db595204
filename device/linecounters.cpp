#include "linecounters.h"

#include <QtGlobal>

void LineCounters::count(const LineFrame &frame)
{
    using Kind = LineFrame::Kind;
    switch (frame.kind) {
    case Kind::Request:
    case Kind::Broadcast: ++requests; break;
    case Kind::Answer: ++answers; break;
    case Kind::Refusal: ++refusals; break;
    case Kind::Stray: ++stray; break;
    case Kind::BadCrc: ++badCrc; break;
    case Kind::Late: ++late; break;
    case Kind::TimeOut: ++timeOuts; break;
    case Kind::PortError: ++portErrors; break;
    }
    if (frame.roundTripMs >= 0) {
        ++roundTrips;
        roundTripSumMs += frame.roundTripMs;
        roundTripMaxMs = qMax(roundTripMaxMs, frame.roundTripMs);
    }
}
