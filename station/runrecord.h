#pragma once

#include "cause.h"
#include "linecounters.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QVector>

#include <optional>

// What a production station keeps of each unit it ran: the run, its steps
// with what they measured against their limits, and the parameters before
// and after. Plain facts; a store keeps them, a front end words them.
namespace Station {

// How a run, or one of its steps, ended.
enum class Outcome { Running, Pass, Fail, Error, Interrupted };
QString outcomeName(Outcome outcome);              // "running", "pass", "fail", "error", "interrupted"
bool outcomeFromName(const QString &name, Outcome &outcome);

struct StepRecord
{
    int index = 0;              // place in the recipe, from 0
    QString kind;               // flash, parameters, save, selftest, measure, verify
    Outcome outcome = Outcome::Pass;
    QDateTime started;
    QDateTime ended;
    Cause cause;                // why it did not pass; none when it passed
    // What the step measured, each with its limits where the recipe set them:
    // {"mean": {"value": 5.0, "low": 4.95, "high": 5.05}, "missed": {"value": 0}}
    QJsonObject measured;
};

struct RunHeader
{
    QString serial;
    QString station;
    QString operatorName;
    QString port;
    QString recipeName;
    QString recipeHash;         // SHA-256 of the recipe file's bytes, hex
    QString programVersion;
    QString revisionBefore;     // the firmware revision text read first
    QDateTime started;
};

struct RunRecord
{
    qint64 id = 0;
    RunHeader header;
    QDateTime ended;
    Outcome outcome = Outcome::Running;
    QString failedStep;         // the step's kind, empty on pass
    Cause cause;                // why it did not pass; none on pass
    QString revisionAfter;
    QVector<StepRecord> steps;
    QMap<QString, double> parametersBefore;   // by the command line's parameter names
    QMap<QString, double> parametersAfter;
    // What the unit's line did over the run, as the run ended; none for a
    // run recorded before the records kept it.
    std::optional<LineCounters> line;
};

struct RecordFilter
{
    QString serial;             // empty: every unit
    QDateTime since;            // invalid: from the first
    bool byOutcome = false;
    Outcome outcome = Outcome::Pass;
    QString causeCode;          // empty: any cause; a code's name: runs with that cause
    QString station;            // each empty: any; else runs with exactly that
    QString recipeName;
    QString recipeHash;
    QString operatorName;
    QDateTime until;            // invalid: to the newest; else runs started before it
    // 0: every run; else only runs whose id is at most this: a search's
    // snapshot, so its pages stay in place while new runs arrive.
    qint64 upToId = 0;
    int offset = 0;             // runs skipped first, newest first (a page with limit)
    int limit = 0;              // 0: all
};

} // namespace Station
