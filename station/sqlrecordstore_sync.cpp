// Moving whole runs from a station's file to the server: which runs wait,
// reading one, copying it in one server transaction, noting it sent.
#include "sqlrecordstore.h"

#include "sqlrecordstore_transaction.h"

#include <QSqlQuery>
#include <QVariant>

bool SqlRecordStore::runsToSend(const QString &target, QVector<qint64> &ids)
{
    lastError.clear();
    ids.clear();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id FROM runs WHERE sync_target = ? AND synced = 0 AND outcome <> ?"
                                 " ORDER BY id"));
    query.addBindValue(target);
    query.addBindValue(Station::outcomeName(Station::Outcome::Running));
    if (!run(query, QStringLiteral("looking for runs to send")))
        return false;
    while (query.next())
        ids.append(query.value(0).toLongLong());
    return true;
}

bool SqlRecordStore::readRun(qint64 id, Station::RunRecord &record, QString &uuid)
{
    lastError.clear();
    QStringList uuids;
    const QVector<Station::RunRecord> found = readRuns(QStringLiteral(" AND id = ?"), {id}, QString(), &uuids);
    if (found.size() != 1) {
        if (lastError.isEmpty())
            lastError = QStringLiteral("%1: no run %2").arg(name).arg(id);
        return false;
    }
    record = found.first();
    uuid = uuids.first();
    if (uuid.isEmpty()) {
        lastError = QStringLiteral("%1: run %2 has no UUID").arg(name).arg(id);
        return false;
    }
    return true;
}

bool SqlRecordStore::markSent(qint64 id)
{
    lastError.clear();
    Transaction transaction(*this);
    if (!transaction.begun())
        return false;
    QSqlQuery update(db);
    update.prepare(QStringLiteral("UPDATE runs SET synced = 1 WHERE id = ?"));
    update.addBindValue(id);
    return run(update, QStringLiteral("noting run %1 sent").arg(id)) && transaction.commit();
}

bool SqlRecordStore::hasRun(const QString &uuid, bool &found)
{
    lastError.clear();
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM runs WHERE run_uuid = ?"));
    query.addBindValue(uuid);
    if (!run(query, QStringLiteral("looking for run %1").arg(uuid)))
        return false;
    found = query.next() && query.value(0).toLongLong() > 0;
    return true;
}

bool SqlRecordStore::insertEndedRun(const Station::RunRecord &record, const QString &uuid, bool &found)
{
    lastError.clear();
    found = false;
    Transaction transaction(*this);
    if (!transaction.begun() || !hasRun(uuid, found))
        return false;
    if (found)
        return true;
    // The station's own queries, in one transaction: the server holds the
    // run whole or not at all. It keeps no owner: no lock on this host
    // speaks for a run there, and the run has ended anyway.
    qint64 id = 0;
    if (!insertRunRow(record.header, uuid, QVariant(), QVariant(), id)
        || (!record.parametersBefore.isEmpty() && !insertParameters(id, false, record.parametersBefore)))
        return false;
    for (const Station::StepRecord &step : record.steps)
        if (!insertStep(id, step))
            return false;
    if ((!record.parametersAfter.isEmpty() && !insertParameters(id, true, record.parametersAfter))
        || !updateFinished(id, record.ended, record.outcome, record.failedStep, record.cause, record.revisionAfter))
        return false;
    return transaction.commit();
}
