#include "sharedrecordstore.h"

SharedRecordStore::SharedRecordStore(const ServerAddress &address, std::unique_ptr<SqlRecordStore> local,
                                     const Options &options)
    : address(address)
    , options(options)
    , local(std::move(local))
{
    this->local->setSyncTarget(address.target);
    // What an earlier run left waiting goes now, before this one's first.
    sync();
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
                                  const Station::Cause &cause, const QString &revisionAfter)
{
    const bool ok = local->finishRun(runId, outcome, failedStep, cause, revisionAfter);
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

bool SharedRecordStore::sync()
{
    return reachServer(true) && sendWaiting() && waiting == 0;
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

bool SharedRecordStore::sendWaiting()
{
    QVector<qint64> ids;
    if (!local->runsToSend(address.target, ids)) {
        lastError = local->error();
        return false;
    }
    waiting = ids.size();
    for (qint64 id : qAsConst(ids)) {
        Station::RunRecord record;
        QString uuid;
        if (!local->readRun(id, record, uuid)) {
            lastError = local->error();
            return false;
        }
        bool already = false;
        if (!server->insertEndedRun(record, uuid, already)) {
            // Another station's process sending the same file's run at the
            // same moment makes the server refuse the second copy; the run
            // is there, which is all that was wanted.
            const QString why = server->error();
            if (!server->hasRun(uuid, already) || !already) {
                serverLost(why);
                return false;
            }
        }
        if (!local->markSent(id)) {
            // The server has it; the mark is tried again next time, and the
            // UUID keeps the server from taking it twice.
            lastError = local->error();
            return false;
        }
        if (!already)
            ++sent;
        --waiting;
    }
    return true;
}
