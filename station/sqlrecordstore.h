#pragma once

// The store over one Qt SQL connection, an SQLite file or a PostgreSQL
// server, and what the shared store needs of it beyond RecordStore: moving
// whole runs from a station's file to the server. Private to station/.
#include "recordschema.h"
#include "recordstore.h"
#include "serveraddress.h"

#include <QHash>
#include <QLockFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <functional>

class SqlRecordStore final : public RecordStore
{
public:
    static std::unique_ptr<SqlRecordStore> openFile(const QString &path, QString &error);
    static std::unique_ptr<SqlRecordStore> openServer(const ServerAddress &address, int connectTimeoutSeconds,
                                                      QString &error);
    ~SqlRecordStore() override;

    bool beginRun(const Station::RunHeader &header, qint64 &runId) override;
    bool recordParameters(qint64 runId, bool after, const QMap<QString, double> &values) override;
    bool recordStep(qint64 runId, const Station::StepRecord &step) override;
    bool finishRun(qint64 runId, Station::Outcome outcome, const QString &failedStep, const Station::Cause &cause,
                   const QString &revisionAfter, const std::optional<LineCounters> &line = std::nullopt) override;
    bool forEachRun(const Station::RecordFilter &filter, RunParts parts, const RunVisitor &visit) override;
    qint64 countRuns(const Station::RecordFilter &filter) override;
    qint64 lastRunId() override;
    bool qualityReport(const Station::RecordFilter &filter, Station::QualityReport &report) override;
    QString error() const override { return lastError; }
    bool prune(const QDateTime &before, PruneResult &result) override;

    const QString &where() const { return name; }
    // Runs begun from now on are bound for this server (its target).
    void setSyncTarget(const QString &target) { syncTarget = target; }
    // The ended runs bound for target that it does not have yet, oldest
    // first, by their ids here.
    bool runsToSend(const QString &target, QVector<qint64> &ids);
    bool readRun(qint64 id, Station::RunRecord &record, QString &uuid);
    // One transaction for them all.
    bool markSent(const QVector<qint64> &ids);
    // Which of these UUIDs name a run here, in one query (or one per 900).
    bool hasRuns(const QStringList &uuids, QSet<QString> &found);
    // Ended runs, whole, in one transaction: all of them or none. A run
    // that is here already is left as it is; inserted counts the others.
    bool insertEndedRuns(const QVector<Station::RunRecord> &records, const QStringList &uuids, int &inserted);
    // The ended runs started before that were sent to target, oldest first.
    bool runsToPrune(const QString &target, const QDateTime &before, QVector<qint64> &ids, QStringList &uuids);
    bool countRunsBefore(const QDateTime &before, int &count);
    // The runs with their steps, measurements and parameters, in one transaction.
    bool removeRuns(const QVector<qint64> &ids);
    // A file's free pages given back (VACUUM); fails soon when another
    // process holds the file busy.
    bool compact();

private:
    class Transaction;
    SqlRecordStore(const QString &name, const RecordSchema::Dialect &dialect);

    bool connect(QString &error);
    bool run(QSqlQuery &query, const QString &doing, const QString &statement = QString());
    bool checkRunning(qint64 runId);
    bool insertRunRow(const Station::RunHeader &header, const QString &uuid, const QVariant &target,
                      const QVariant &ownerValue, qint64 &runId);
    bool insertParameters(qint64 runId, bool after, const QMap<QString, double> &values);
    bool insertStep(qint64 runId, const Station::StepRecord &step);
    // Copying a batch of runs: sqlrecordstore_sync.cpp.
    bool insertRows(const QString &table, const QStringList &columns, const QVector<QVariantList> &rows,
                    const QString &doing, const QString &returning = QString(),
                    const std::function<void(const QSqlQuery &)> &took = {});
    bool updateFinished(qint64 runId, const QDateTime &ended, Station::Outcome outcome, const QString &failedStep,
                        const Station::Cause &cause, const QString &revisionAfter,
                        const std::optional<LineCounters> &line);
    // The runs a condition selects, in one query, and with Whole their
    // details in three more.
    QVector<Station::RunRecord> readRuns(const QString &where, const QVariantList &values, const QString &tail,
                                         QStringList *uuids);
    bool readRuns(const QString &where, const QVariantList &values, const QString &tail, RunParts parts,
                  QVector<Station::RunRecord> &found, QStringList *uuids);
    bool readDetails(QVector<Station::RunRecord> &records);
    // A quality report's parts: sqlrecordstore_quality.cpp. selected is the
    // filter's runs, SELECT %1 FROM runs WHERE ..., with values bound to it.
    bool reportYield(const QString &selected, const QVariantList &values, Station::QualityReport &report);
    bool reportPareto(const QString &selected, const QVariantList &values, Station::QualityReport &report);
    bool reportCapability(const QString &selected, const QVariantList &values, Station::QualityReport &report);
    bool reportTrends(const QString &selected, const QVariantList &values, const QHash<QString, int> &indexOf,
                      Station::QualityReport &report);
    bool reportLine(const QString &selected, const QVariantList &values, Station::QualityReport &report);
    // Bringing an older store up to date: sqlrecordstore_migration.cpp.
    int storedVersion(bool &ok);
    bool migrate(QString &error);
    // Runs left running by a station that is gone: sqlrecordstore_abandonedruns.cpp.
    bool markAbandonedRuns();
    bool takeOwnership();

    const QString name;                 // the file's path, or the server's address
    const RecordSchema::Dialect dialect;
    const bool isFile;
    const QString ownersFolder;         // empty for a server, whose runs no lock can vouch for
    const QString connectionName;
    QSqlDatabase db;
    int transactionDepth = 0;
    std::unique_ptr<QLockFile> owner;
    QString ownerName;
    QString syncTarget;
    QString lastError;
};
