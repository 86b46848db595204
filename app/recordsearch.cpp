#include "recordsearch.h"

#include "recordstore.h"
#include "runcsv.h"
#include "stationwording.h"

#include <QJsonObject>
#include <QJsonValue>

#include <QtConcurrent>

QFuture<RecordsFound> searchRecords(const QString &location, const Station::RecordFilter &filter)
{
    return QtConcurrent::run([location, filter] {
        RecordsFound found;
        // Opened, read and closed in this one thread: a database connection
        // belongs to the thread that made it.
        const std::unique_ptr<RecordStore> store = RecordStore::open(location, found.error);
        if (!store)
            return found;
        found.opened = true;
        found.runs = store->runs(filter);
        found.error = store->error();
        found.serverAway = store->serverAway();
        found.stationFile = store->stationFile();
        return found;
    });
}

QString recordsCsvColumns()
{
    return Station::runCsvColumns()
           + QStringLiteral(";step_index;step;step_outcome;step_reason;step_cause;quantity;value;low;high");
}

QVector<QStringList> recordsCsvRows(const Station::RunRecord &run)
{
    auto number = [](const QJsonValue &value) {
        return value.isDouble() ? QString::number(value.toDouble(), 'g', 10) : QString();
    };
    const QStringList head = Station::runCsvFields(run, StationWording::cause(run.cause));
    QVector<QStringList> rows;
    for (const Station::StepRecord &step : run.steps) {
        const QStringList stepFields{QString::number(step.index), step.kind, Station::outcomeName(step.outcome),
                                     StationWording::cause(step.cause), step.cause.codeName()};
        if (step.measured.isEmpty())
            rows.append(head + stepFields + QStringList{QString(), QString(), QString(), QString()});
        for (auto it = step.measured.begin(); it != step.measured.end(); ++it) {
            const QJsonObject value = it.value().toObject();
            rows.append(head + stepFields
                        + QStringList{it.key(), number(value.value(QLatin1String("value"))),
                                      number(value.value(QLatin1String("low"))),
                                      number(value.value(QLatin1String("high")))});
        }
    }
    if (rows.isEmpty())
        rows.append(head + QStringList{QString(), QString(), QString(), QString(), QString(), QString(), QString(),
                                       QString(), QString()});
    return rows;
}

QThreadPool *recordsExportPool()
{
    static QThreadPool pool;
    return &pool;
}

QFuture<RecordsExported> exportRecords(const QString &location, const Station::RecordFilter &filter,
                                       const QString &path, std::shared_ptr<RecordsExportProgress> progress)
{
    return QtConcurrent::run(recordsExportPool(), [location, filter, path, progress] {
        RecordsExported done;
        Station::CsvFile file(path, recordsCsvColumns());
        if (!file.open(done.error))
            return done;
        // Opened, read and closed in this one thread, as a search's store.
        const std::unique_ptr<RecordStore> store = RecordStore::open(location, done.error);
        if (!store)
            return done;
        Station::RecordFilter all = filter;
        all.offset = 0;
        all.limit = 0;
        if (all.upToId == 0) {
            all.upToId = store->lastRunId();
            if (all.upToId < 0) {
                done.error = store->error();
                return done;
            }
        }
        // upToId 0 now means the store holds no run: none to read.
        const qint64 total = all.upToId == 0 ? 0 : store->countRuns(all);
        if (total < 0) {
            done.error = store->error();
            return done;
        }
        progress->total = total;
        bool refused = false;
        const bool read = total == 0
                          || store->forEachRun(all, RecordStore::RunParts::Whole, [&](const Station::RunRecord &run) {
                                 if (progress->cancel)
                                     return false;
                                 for (const QStringList &row : recordsCsvRows(run))
                                     if (!file.write(row))
                                         refused = true;
                                 if (refused)
                                     return false;
                                 progress->written = ++done.runs;
                                 return true;
                             });
        if (progress->cancel) {
            done.cancelled = true;
            return done; // not committed: the file stays as it was
        }
        if (!read && !refused) {
            done.error = store->error();
            return done;
        }
        // A refused write is told by commit().
        done.written = file.commit(done.error) && !refused;
        return done;
    });
}
