// The record store's interface kept in memory, for a build without the
// store on disk: a run is recorded for the process's lifetime only.
#include "recordstore.h"

#include <QDir>
#include <QStandardPaths>

namespace Station {

QString outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Running: return QStringLiteral("running");
    case Outcome::Pass: return QStringLiteral("pass");
    case Outcome::Fail: return QStringLiteral("fail");
    case Outcome::Error: return QStringLiteral("error");
    case Outcome::Interrupted: return QStringLiteral("interrupted");
    }
    return QString();
}

bool outcomeFromName(const QString &name, Outcome &outcome)
{
    for (Outcome candidate : {Outcome::Running, Outcome::Pass, Outcome::Fail, Outcome::Error, Outcome::Interrupted})
        if (outcomeName(candidate) == name) {
            outcome = candidate;
            return true;
        }
    return false;
}

} // namespace Station

namespace {

class MemoryStore : public RecordStore
{
public:
    bool beginRun(const Station::RunHeader &header, qint64 &runId) override
    {
        Station::RunRecord run;
        run.id = runId = list.size() + 1;
        run.header = header;
        list.append(run);
        return true;
    }
    bool recordParameters(qint64 runId, bool after, const QMap<QString, double> &values) override
    {
        (after ? at(runId).parametersAfter : at(runId).parametersBefore) = values;
        return true;
    }
    bool recordStep(qint64 runId, const Station::StepRecord &step) override
    {
        at(runId).steps.append(step);
        return true;
    }
    bool finishRun(qint64 runId, Station::Outcome outcome, const QString &failedStep, const QString &reason,
                   const QString &revisionAfter) override
    {
        Station::RunRecord &run = at(runId);
        run.outcome = outcome;
        run.failedStep = failedStep;
        run.reason = reason;
        run.revisionAfter = revisionAfter;
        run.ended = QDateTime::currentDateTimeUtc();
        return true;
    }
    QVector<Station::RunRecord> runs(const Station::RecordFilter &filter) override
    {
        QVector<Station::RunRecord> found;
        for (auto it = list.crbegin(); it != list.crend(); ++it) {
            if ((!filter.serial.isEmpty() && it->header.serial != filter.serial)
                || (filter.since.isValid() && it->header.started < filter.since)
                || (filter.byOutcome && it->outcome != filter.outcome))
                continue;
            found.append(*it);
            if (filter.limit > 0 && found.size() == filter.limit)
                break;
        }
        return found;
    }
    QString error() const override { return QString(); }

private:
    Station::RunRecord &at(qint64 runId) { return list[int(runId - 1)]; }
    QVector<Station::RunRecord> list;
};

} // namespace

std::unique_ptr<RecordStore> RecordStore::open(const QString &, QString &)
{
    return std::make_unique<MemoryStore>();
}

QString RecordStore::defaultLocation()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).filePath(QStringLiteral("records.sqlite"));
}
