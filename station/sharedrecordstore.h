#pragma once

#include "serveraddress.h"
#include "sqlrecordstore.h"

#include <QElapsedTimer>

// Records shared by several stations on a server, with nothing lost while it
// is away. A run is written as it goes to the station's own file, bound for
// the server (its sync_target there); as it ends, every ended run the
// server lacks is copied to it, a batch of runs in one server transaction,
// and then the batch is marked sent in the file. The server holds each run's UUID once, so a
// run copied by two processes at once, or copied again after its mark was
// lost, is there once. Private to station/.
class SharedRecordStore final : public RecordStore
{
public:
    SharedRecordStore(const ServerAddress &address, std::unique_ptr<SqlRecordStore> local, const Options &options);

    bool beginRun(const Station::RunHeader &header, qint64 &runId) override;
    bool recordParameters(qint64 runId, bool after, const QMap<QString, double> &values) override;
    bool recordStep(qint64 runId, const Station::StepRecord &step) override;
    bool finishRun(qint64 runId, Station::Outcome outcome, const QString &failedStep, const Station::Cause &cause,
                   const QString &revisionAfter, const std::optional<LineCounters> &line = std::nullopt) override;
    // The server's runs, every station's; the station's own while it is away.
    bool forEachRun(const Station::RecordFilter &filter, RunParts parts, const RunVisitor &visit) override;
    qint64 countRuns(const Station::RecordFilter &filter) override;
    qint64 lastRunId() override;
    bool qualityReport(const Station::RecordFilter &filter, Station::QualityReport &report) override;
    QString error() const override { return lastError; }

    QString notice() const override;
    QString serverAway() const override { return serverError; }
    QString stationFile() const override { return local->where(); }
    using RecordStore::sync;
    bool sync(const SyncProgress &progress) override;
    bool prune(const QDateTime &before, PruneResult &result) override;
    int runsSent() const override { return sent; }
    int runsWaiting() const override { return waiting; }

private:
    // The server's connection, made now if there is none and the retry time
    // has passed (or force); null while it cannot be reached.
    SqlRecordStore *reachServer(bool force);
    void serverLost(const QString &why);
    // What reading calls on the server while it answers, else on the file.
    template<typename Result>
    Result read(const std::function<Result(SqlRecordStore &)> &reading, const Result &failed);
    void countWaiting();
    // Copies what waits, a batch at a time; false if the server failed part-way.
    bool sendWaiting(const SyncProgress &progress = SyncProgress());
    bool sendBatch(const QVector<qint64> &ids);

    const ServerAddress address;
    const Options options;
    std::unique_ptr<SqlRecordStore> local;
    std::unique_ptr<SqlRecordStore> server;
    QElapsedTimer sinceAttempt;
    QString serverError;          // why the server was last out of reach; empty once reached
    QString lastError;
    int sent = 0;
    int waiting = 0;
    const int batchRuns;          // runs a server transaction carries
};
