#pragma once

#include "qualityreport.h"
#include "runrecord.h"

#include <QString>
#include <QVector>

#include <functional>
#include <memory>

// Where the station keeps its records: an SQLite file (a path), or a
// PostgreSQL server shared by several stations (postgresql://user@host/db).
// Each writing call is one transaction, made as the run goes, so a run
// killed part-way leaves what it finished and never reads as passed. Use a
// store from one thread.
//
// With a server, every run is written first to the station's own file and
// sent whole, in one transaction, as it ends; while the server cannot be
// reached the runs wait in the file, and go at the next run's end once it is
// back, at the next open, or on sync(), in batches of runs, each batch one
// server transaction. Each run has a UUID the server holds once, so none is
// sent twice.
class RecordStore
{
public:
    struct Options
    {
        // With a server: the station's own file (empty: defaultLocation()).
        QString localFile;
        // With a server: after it could not be reached, how long the store
        // writes to the file alone before trying it again, so that a server
        // that is away costs a run's end a connection time-out only now and then.
        int retryMs = 30000;
        int connectTimeoutSeconds = 5;
        // With a server: send what waits as the store opens. Off for a caller
        // that sends it itself (with progress) or must leave the file as it is.
        bool sendAtOpen = true;
    };

    // Runs sent (or found on the server already) so far, of those that waited.
    using SyncProgress = std::function<void(int done, int total)>;

    // What prune() did: runs taken out of the station's file, runs started
    // before the date that stay there (the server does not hold them), and
    // why the file's space was not given back (empty when it was).
    struct PruneResult
    {
        int removed = 0;
        int kept = 0;
        QString spaceNotFreed;
    };

    // Opens or creates the store; a store written by an older version is
    // brought up to date, and runs whose station process is gone are marked
    // interrupted. Null with error set when it cannot be opened; a server
    // that cannot be reached is no error (see notice()).
    static std::unique_ptr<RecordStore> open(const QString &location, QString &error);
    static std::unique_ptr<RecordStore> open(const QString &location, const Options &options, QString &error);
    // Whether the location names a server rather than a file.
    static bool isServer(const QString &location);
    // The user's data folder, as the platform names it.
    static QString defaultLocation();

    virtual ~RecordStore() = default;

    // False with error() set when the store failed; the run goes on, and the
    // caller says so.
    virtual bool beginRun(const Station::RunHeader &header, qint64 &runId) = 0;
    virtual bool recordParameters(qint64 runId, bool after, const QMap<QString, double> &values) = 0;
    virtual bool recordStep(qint64 runId, const Station::StepRecord &step) = 0;
    // line: the unit's line counters at the run's end, kept with it.
    virtual bool finishRun(qint64 runId, Station::Outcome outcome, const QString &failedStep,
                           const Station::Cause &cause, const QString &revisionAfter,
                           const std::optional<LineCounters> &line = std::nullopt) = 0;

    // What a reading takes of each run: its own row alone (a listing, a
    // page of a table), or with its steps and parameters too.
    enum class RunParts { Summary, Whole };
    // Returns false to stop the reading there.
    using RunVisitor = std::function<bool(const Station::RunRecord &)>;

    // The runs the filter selects, newest first, read and handed to visit a
    // page at a time, so memory stays flat whatever their count. False with
    // error() set when the store failed part-way: the runs visited stand.
    virtual bool forEachRun(const Station::RecordFilter &filter, RunParts parts, const RunVisitor &visit) = 0;
    // How many runs the filter selects, its offset and limit aside; -1 with
    // error() set.
    virtual qint64 countRuns(const Station::RecordFilter &filter) = 0;
    // The newest run's id (0: none yet; -1 with error() set): a filter's
    // upToId, to hold a search steady while stations add runs.
    virtual qint64 lastRunId() = 0;

    // The numbers of a quality report over the runs the filter selects
    // (its offset and limit aside; runs still running left out), each from
    // an aggregate the store computes, whatever the runs' count. False with
    // error() set.
    virtual bool qualityReport(const Station::RecordFilter &filter, Station::QualityReport &report) = 0;

    // Newest first, each whole; for what is known to be few (a unit's
    // history, a page), since it holds them all. Empty with error() set on failure.
    QVector<Station::RunRecord> runs(const Station::RecordFilter &filter);

    virtual QString error() const = 0;

    // Empty while the records go where they were asked to; otherwise, in a
    // sentence for the operator, where they go instead and why.
    virtual QString notice() const { return QString(); }
    // With a server: why it was out of reach at the last try (empty while it
    // is reached), and the station's file that keeps the runs meanwhile.
    virtual QString serverAway() const { return QString(); }
    virtual QString stationFile() const { return QString(); }
    // Sends what waits in the station's file for the server, trying the
    // server now whatever the retry time. True when nothing is left waiting;
    // a file has never anything to send.
    bool sync() { return sync(SyncProgress()); }
    // progress is told after each batch.
    virtual bool sync(const SyncProgress &) { return true; }
    // With a server: takes out of the station's file the ended runs started
    // before that date which the server holds, confirmed there by UUID, and
    // gives the space back. A run the server lacks stays, and nothing on the
    // server is touched. False with error() set when it stopped (a server
    // out of reach: serverAway()); what it removed by then is counted. A
    // file alone refuses: nothing vouches that a run is kept elsewhere.
    virtual bool prune(const QDateTime &, PruneResult &) { return false; }
    // Runs sent from the station's file since the store was opened.
    virtual int runsSent() const { return 0; }
    // Ended runs in the station's file that the server does not have yet.
    virtual int runsWaiting() const { return 0; }
};
