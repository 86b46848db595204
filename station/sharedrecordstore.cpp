#include "sharedrecordstore.h"

#include <QSet>

namespace {

// Runs a server transaction carries: enough that the round trips are few,
// few enough that a batch is a moment's work and a lost connection costs
// little. ZETRA_SYNC_BATCH sets another (the tests make it small, so that
// a sync killed part-way is killed mid-batch).
constexpr int kBatchRuns = 200;

int batchRunsFromEnvironment()
{
    bool ok = false;
    const int runs = qEnvironmentVariableIntValue("ZETRA_SYNC_BATCH", &ok);
    return ok && runs > 0 ? runs : kBatchRuns;
}

} // namespace

SharedRecordStore::SharedRecordStore(const ServerAddress &address, std::unique_ptr<SqlRecordStore> local,
                                     const Options &options)
    : address(address)
    , options(options)
    , local(std::move(local))
    , batchRuns(batchRunsFromEnvironment())
{
    this->local->setSyncTarget(address.target);
    // What an earlier run left waiting goes now, before this one's first.
    if (options.sendAtOpen)
        sync();
    else
        countWaiting();
}

bool SharedRecordStore::beginRun(const Station::RunHeader &header, qint64 &runId)
{
    const bool ok = local->beginRun(header, runId);
    lastError = local->error();
    return ok;
}

bool SharedRecordStore::recordParameters(qint64 runId, bool after, const QMap<QString, double> &values)
{
    const bool ok = local->recordParameters(runId, after, values);
    lastError = local->error();
    return ok;
}

bool SharedRecordStore::recordStep(qint64 runId, const Station::StepRecord &step)
{
    const bool ok = local->recordStep(runId, step);
    lastError = local->error();
    return ok;
}

bool SharedRecordStore::finishRun(qint64 runId, Station::Outcome outcome, const QString &failedStep,
                                  const Station::Cause &cause, const QString &revisionAfter,
                                  const std::optional<LineCounters> &line)
{
    const bool ok = local->finishRun(runId, outcome, failedStep, cause, revisionAfter, line);
    lastError = local->error();
    // The run is safe in the file whatever the server does: a server that
    // is away is the notice's concern, not a failed record.
    if (ok && reachServer(false))
        sendWaiting();
    else if (ok)
        countWaiting();
    return ok;
}

template<typename Result>
Result SharedRecordStore::read(const std::function<Result(SqlRecordStore &)> &reading, const Result &failed)
{
    if (SqlRecordStore *reached = reachServer(false)) {
        const Result result = reading(*reached);
        if (reached->error().isEmpty()) {
            lastError.clear();
            return result;
        }
        serverLost(reached->error());
    }
    const Result result = reading(*local);
    lastError = local->error();
    return lastError.isEmpty() ? result : failed;
}

bool SharedRecordStore::forEachRun(const Station::RecordFilter &filter, RunParts parts, const RunVisitor &visit)
{
    if (SqlRecordStore *reached = reachServer(false)) {
        // Runs the reader was given cannot be taken back: a server lost
        // after the first is an error, not a reason to start over from the file.
        bool visited = false;
        const bool ok = reached->forEachRun(filter, parts, [&visit, &visited](const Station::RunRecord &run) {
            visited = true;
            return visit(run);
        });
        if (ok) {
            lastError.clear();
            return true;
        }
        const QString why = reached->error();
        serverLost(why);
        if (visited) {
            lastError = why;
            return false;
        }
    }
    const bool ok = local->forEachRun(filter, parts, visit);
    lastError = local->error();
    return ok;
}

qint64 SharedRecordStore::countRuns(const Station::RecordFilter &filter)
{
    return read<qint64>([&filter](SqlRecordStore &store) { return store.countRuns(filter); }, -1);
}

bool SharedRecordStore::qualityReport(const Station::RecordFilter &filter, Station::QualityReport &report)
{
    return read<bool>([&](SqlRecordStore &store) { return store.qualityReport(filter, report); }, false);
}

qint64 SharedRecordStore::lastRunId()
{
    return read<qint64>([](SqlRecordStore &store) { return store.lastRunId(); }, -1);
}

QString SharedRecordStore::notice() const
{
    if (!serverError.isEmpty())
        return QStringLiteral("the record server cannot be reached (%1): runs are kept in %2 and sent when it is back")
            .arg(serverError, local->where());
    if (waiting > 0)
        return QStringLiteral("%1 runs in %2 wait to be sent to %3").arg(waiting).arg(local->where(), address.display);
    return QString();
}

bool SharedRecordStore::sync(const SyncProgress &progress)
{
    return reachServer(true) && sendWaiting(progress) && waiting == 0;
}

SqlRecordStore *SharedRecordStore::reachServer(bool force)
{
    if (server)
        return server.get();
    if (!force && sinceAttempt.isValid() && sinceAttempt.elapsed() < options.retryMs)
        return nullptr;
    sinceAttempt.start();
    QString why;
    server = SqlRecordStore::openServer(address, options.connectTimeoutSeconds, why);
    if (!server) {
        serverLost(why);
        countWaiting();
        return nullptr;
    }
    serverError.clear();
    return server.get();
}

void SharedRecordStore::countWaiting()
{
    // For the notice, even while nothing can be sent.
    QVector<qint64> ids;
    if (local->runsToSend(address.target, ids))
        waiting = ids.size();
}

void SharedRecordStore::serverLost(const QString &why)
{
    // A connection that failed once is not trusted again: the next attempt
    // makes a new one, after the retry time.
    server.reset();
    // libpq words a refused connection over several lines.
    serverError = why.isEmpty() ? QStringLiteral("no reason given") : why.simplified();
    sinceAttempt.start();
}

bool SharedRecordStore::sendWaiting(const SyncProgress &progress)
{
    QVector<qint64> ids;
    if (!local->runsToSend(address.target, ids)) {
        lastError = local->error();
        return false;
    }
    waiting = ids.size();
    const int total = ids.size();
    for (int from = 0; from < total; from += batchRuns) {
        if (!sendBatch(ids.mid(from, batchRuns)))
            return false;
        if (progress)
            progress(total - waiting, total);
    }
    return true;
}

bool SharedRecordStore::sendBatch(const QVector<qint64> &ids)
{
    QVector<Station::RunRecord> records;
    QStringList uuids;
    records.reserve(ids.size());
    for (qint64 id : ids) {
        Station::RunRecord record;
        QString uuid;
        if (!local->readRun(id, record, uuid)) {
            lastError = local->error();
            return false;
        }
        records << record;
        uuids << uuid;
    }
    int inserted = 0;
    if (!server->insertEndedRuns(records, uuids, inserted)) {
        // Another station's process sending the same file's runs at the
        // same moment makes the server refuse the batch that holds a run
        // the other one sent first (the UUID's unique index); the batch is
        // tried once more, without what is there now. A server that fails
        // again, or cannot even say what it holds, is lost.
        const QString why = server->error();
        if (!server->insertEndedRuns(records, uuids, inserted)) {
            serverLost(why);
            return false;
        }
    }
    if (!local->markSent(ids)) {
        // The server has them; the mark is tried again next time, and the
        // UUIDs keep the server from taking them twice.
        lastError = local->error();
        return false;
    }
    sent += inserted;
    waiting -= ids.size();
    return true;
}

bool SharedRecordStore::prune(const QDateTime &before, PruneResult &result)
{
    result = PruneResult();
    lastError.clear();
    if (!reachServer(true)) {
        lastError = QStringLiteral("the record server cannot be reached (%1): nothing was removed").arg(serverError);
        return false;
    }
    QVector<qint64> ids;
    QStringList uuids;
    if (!local->runsToPrune(address.target, before, ids, uuids)) {
        lastError = local->error();
        return false;
    }
    // The file's own mark says the run was sent; the server is asked all
    // the same, since a run can go from it behind this station's back.
    for (int from = 0; from < ids.size(); from += batchRuns) {
        const QStringList some = uuids.mid(from, batchRuns);
        QSet<QString> held;
        if (!server->hasRuns(some, held)) {
            serverLost(server->error());
            lastError = QStringLiteral("the record server was lost (%1) after %2 runs were removed")
                            .arg(serverError)
                            .arg(result.removed);
            return false;
        }
        QVector<qint64> removable;
        for (int i = 0; i < some.size(); ++i)
            if (held.contains(some.at(i)))
                removable << ids.at(from + i);
        if (!removable.isEmpty() && !local->removeRuns(removable)) {
            lastError = local->error();
            return false;
        }
        result.removed += removable.size();
    }
    if (!local->countRunsBefore(before, result.kept)) {
        lastError = local->error();
        return false;
    }
    countWaiting();
    if (result.removed > 0 && !local->compact())
        result.spaceNotFreed = local->error();
    return true;
}
