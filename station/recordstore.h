#pragma once

#include "runrecord.h"

#include <QString>
#include <QVector>

#include <memory>

// Where the station keeps its records: an SQLite file (a path), the one
// this program knows today. Each writing call is one transaction, made as
// the run goes, so a run killed part-way leaves what it finished and never
// reads as passed. Use a store from one thread.
class RecordStore
{
public:
    // Opens or creates the store; a store written by an older version is
    // brought up to date, and runs whose station process is gone are marked
    // interrupted. Null with error set when it cannot be opened.
    static std::unique_ptr<RecordStore> open(const QString &location, QString &error);
    // The user's data folder, as the platform names it.
    static QString defaultLocation();

    virtual ~RecordStore() = default;

    // False with error() set when the store failed; the run goes on, and the
    // caller says so.
    virtual bool beginRun(const Station::RunHeader &header, qint64 &runId) = 0;
    virtual bool recordParameters(qint64 runId, bool after, const QMap<QString, double> &values) = 0;
    virtual bool recordStep(qint64 runId, const Station::StepRecord &step) = 0;
    virtual bool finishRun(qint64 runId, Station::Outcome outcome, const QString &failedStep,
                           const QString &reason, const QString &revisionAfter) = 0;

    // Newest first, each with its steps and parameters.
    virtual QVector<Station::RunRecord> runs(const Station::RecordFilter &filter) = 0;

    virtual QString error() const = 0;
};
