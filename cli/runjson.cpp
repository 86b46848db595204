#include "runjson.h"

#include "linetrace.h"
#include "wording.h"

#include <QJsonArray>

namespace RunJson {

namespace {

QJsonValue timeJson(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODateWithMs)) : QJsonValue();
}

QJsonValue secondsJson(const QDateTime &started, const QDateTime &ended)
{
    return started.isValid() && ended.isValid() ? QJsonValue(started.msecsTo(ended) / 1000.0) : QJsonValue();
}

QJsonObject parametersJson(const QMap<QString, double> &values)
{
    QJsonObject object;
    for (auto it = values.begin(); it != values.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

QJsonValue reasonJson(const Station::Cause &cause)
{
    return cause.isNone() ? QJsonValue() : QJsonValue(Wording::cause(cause));
}

} // namespace

QJsonValue cause(const Station::Cause &cause)
{
    return cause.isNone() ? QJsonValue() : QJsonValue(cause.toJson());
}

QJsonObject run(const Station::RunRecord &run)
{
    QJsonArray steps;
    for (const Station::StepRecord &step : run.steps)
        steps.append(QJsonObject{{QStringLiteral("index"), step.index},
                                 {QStringLiteral("step"), step.kind},
                                 {QStringLiteral("outcome"), Station::outcomeName(step.outcome)},
                                 {QStringLiteral("started"), timeJson(step.started)},
                                 {QStringLiteral("ended"), timeJson(step.ended)},
                                 {QStringLiteral("seconds"), secondsJson(step.started, step.ended)},
                                 {QStringLiteral("reason"), reasonJson(step.cause)},
                                 {QStringLiteral("cause"), cause(step.cause)},
                                 {QStringLiteral("measured"), step.measured}});
    const bool passed = run.outcome == Station::Outcome::Pass;
    QJsonObject object{{QStringLiteral("serial"), run.header.serial},
                       {QStringLiteral("station"), run.header.station},
                       {QStringLiteral("operator"), run.header.operatorName},
                       {QStringLiteral("port"), run.header.port},
                       {QStringLiteral("recipe"), run.header.recipeName},
                       {QStringLiteral("recipe_hash"), run.header.recipeHash},
                       {QStringLiteral("program_version"), run.header.programVersion},
                       {QStringLiteral("revision_before"), run.header.revisionBefore},
                       {QStringLiteral("revision_after"), run.revisionAfter},
                       {QStringLiteral("started"), timeJson(run.header.started)},
                       {QStringLiteral("ended"), timeJson(run.ended)},
                       {QStringLiteral("seconds"), secondsJson(run.header.started, run.ended)},
                       {QStringLiteral("outcome"), Station::outcomeName(run.outcome)},
                       {QStringLiteral("failed_step"), passed ? QJsonValue() : QJsonValue(run.failedStep)},
                       {QStringLiteral("reason"), reasonJson(run.cause)},
                       {QStringLiteral("cause"), cause(run.cause)},
                       {QStringLiteral("steps"), steps},
                       {QStringLiteral("parameters_before"), parametersJson(run.parametersBefore)},
                       {QStringLiteral("parameters_after"), parametersJson(run.parametersAfter)},
                       // As zetra-cli station --json gives them; null for a run from before they were kept.
                       {QStringLiteral("line"), run.line ? QJsonValue(LineTrace::countersJson(*run.line)) : QJsonValue()}};
    // A run the station has not stored yet has no number.
    if (run.id != 0)
        object.insert(QStringLiteral("id"), double(run.id));
    return object;
}

} // namespace RunJson
