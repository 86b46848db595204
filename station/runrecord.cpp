#include "runrecord.h"

namespace Station {

namespace {

struct OutcomeName
{
    Outcome outcome;
    const char *name;
};

// The words a record keeps: stored in the outcome columns and printed by the
// front ends, so they never change once written.
constexpr OutcomeName kOutcomeNames[] = {
    {Outcome::Running, "running"},
    {Outcome::Pass, "pass"},
    {Outcome::Fail, "fail"},
    {Outcome::Error, "error"},
    {Outcome::Interrupted, "interrupted"},
};

} // namespace

QString outcomeName(Outcome outcome)
{
    for (const OutcomeName &entry : kOutcomeNames)
        if (entry.outcome == outcome)
            return QString::fromLatin1(entry.name);
    return QString();
}

bool outcomeFromName(const QString &name, Outcome &outcome)
{
    for (const OutcomeName &entry : kOutcomeNames)
        if (name == QLatin1String(entry.name)) {
            outcome = entry.outcome;
            return true;
        }
    return false;
}

} // namespace Station
