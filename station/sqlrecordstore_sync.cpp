// Moving whole runs from a station's file to the server, a batch of runs at
// a time: which runs wait, reading them, copying a batch in one server
// transaction with a few multi-row statements, noting the batch sent; and
// taking out of the file what the server is known to hold.
#include "sqlrecordstore.h"

#include "sqlrecordstore_columns.h"
#include "sqlrecordstore_transaction.h"

#include <QHash>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace {

using namespace RecordColumns;
using Station::Outcome;

// PostgreSQL takes at most 65535 bound values in one statement; a row count
// under that keeps every multi-row statement to one round trip, and the
// statement's text to a size the server parses at once.
constexpr int kMostBoundValues = 65535;
constexpr int kMostRowsPerStatement = 2000;
// SQLite before 3.32 takes 999.
constexpr int kMostIdsPerList = 900;

QString placeholders(int count)
{
    QString text;
    text.reserve(count * 3);
    for (int i = 0; i < count; ++i)
        text += i == 0 ? QStringLiteral("?") : QStringLiteral(", ?");
    return text;
}

QString idList(const QVector<qint64> &ids)
{
    QStringList numbers;
    numbers.reserve(ids.size());
    for (qint64 id : ids)
        numbers << QString::number(id);
    return numbers.join(QStringLiteral(", "));
}

QString textOrEmpty(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}

} // namespace

bool SqlRecordStore::runsToSend(const QString &target, QVector<qint64> &ids)
{
    lastError.clear();
    ids.clear();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id FROM runs WHERE sync_target = ? AND synced = 0 AND outcome <> ?"
                                 " ORDER BY id"));
    query.addBindValue(target);
    query.addBindValue(Station::outcomeName(Outcome::Running));
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

bool SqlRecordStore::markSent(const QVector<qint64> &ids)
{
    lastError.clear();
    Transaction transaction(*this);
    if (!transaction.begun())
        return false;
    for (int from = 0; from < ids.size(); from += kMostIdsPerList) {
        // Ids are numbers this store read itself: written in, not bound.
        QSqlQuery update(db);
        if (!run(update, QStringLiteral("noting %1 runs sent").arg(ids.size()),
                 QStringLiteral("UPDATE runs SET synced = 1 WHERE id IN (%1)").arg(idList(ids.mid(from, kMostIdsPerList)))))
            return false;
    }
    return transaction.commit();
}

bool SqlRecordStore::hasRuns(const QStringList &uuids, QSet<QString> &found)
{
    lastError.clear();
    found.clear();
    for (int from = 0; from < uuids.size(); from += kMostIdsPerList) {
        const QStringList some = uuids.mid(from, kMostIdsPerList);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT run_uuid FROM runs WHERE run_uuid IN (%1)").arg(placeholders(some.size())));
        for (const QString &uuid : some)
            query.addBindValue(uuid);
        if (!run(query, QStringLiteral("looking for %1 runs").arg(some.size())))
            return false;
        while (query.next())
            found.insert(query.value(0).toString());
    }
    return true;
}

// rows, each columns.size() values, in as few statements as the bound
// values allow; with returning, each row that comes back goes to took.
bool SqlRecordStore::insertRows(const QString &table, const QStringList &columns, const QVector<QVariantList> &rows,
                                const QString &doing, const QString &returning,
                                const std::function<void(const QSqlQuery &)> &took)
{
    const int perStatement = std::min(kMostRowsPerStatement, kMostBoundValues / int(columns.size()));
    const QString row = QLatin1Char('(') + placeholders(columns.size()) + QLatin1Char(')');
    for (int from = 0; from < rows.size(); from += perStatement) {
        const int count = std::min(perStatement, int(rows.size()) - from);
        QStringList values;
        values.reserve(count);
        for (int i = 0; i < count; ++i)
            values << row;
        QSqlQuery insert(db);
        insert.setForwardOnly(true);
        insert.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                           .arg(table, columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")))
                       + returning);
        for (int i = from; i < from + count; ++i)
            for (const QVariant &value : rows.at(i))
                insert.addBindValue(value);
        if (!run(insert, doing))
            return false;
        if (took)
            while (insert.next())
                took(insert);
    }
    return true;
}

bool SqlRecordStore::insertEndedRuns(const QVector<Station::RunRecord> &records, const QStringList &uuids,
                                     int &inserted)
{
    lastError.clear();
    inserted = 0;
    // The station's own queries, in one transaction: the server holds the
    // batch whole or not at all. It keeps no owner: no lock on this host
    // speaks for a run there, and the runs have ended anyway.
    Transaction transaction(*this);
    QSet<QString> already;
    if (!transaction.begun() || !hasRuns(uuids, already))
        return false;

    QVector<QVariantList> runRows;
    QVector<int> toInsert;
    for (int i = 0; i < records.size(); ++i) {
        if (already.contains(uuids.at(i)))
            continue;
        const Station::RunRecord &record = records.at(i);
        const Station::RunHeader &header = record.header;
        toInsert << i;
        runRows << QVariantList{textOrEmpty(header.serial), textOrEmpty(header.station),
                                textOrEmpty(header.operatorName), textOrEmpty(header.port),
                                textOrEmpty(header.recipeName), textOrEmpty(header.recipeHash),
                                textOrEmpty(header.programVersion), textOrEmpty(header.revisionBefore),
                                record.revisionAfter, timeValue(header.started), timeValue(record.ended),
                                Station::outcomeName(record.outcome), record.failedStep, causeReason(record.cause),
                                causeCode(record.cause), causeText(record.cause), uuids.at(i)}
                   + lineValues(record.line);
    }
    if (toInsert.isEmpty())
        return transaction.commit();

    QHash<QString, qint64> idOf;
    const QStringList runColumns = QStringList{QStringLiteral("serial"), QStringLiteral("station"), QStringLiteral("operator_name"),
                                 QStringLiteral("port"), QStringLiteral("recipe_name"), QStringLiteral("recipe_hash"),
                                 QStringLiteral("program_version"), QStringLiteral("revision_before"),
                                 QStringLiteral("revision_after"), QStringLiteral("started"), QStringLiteral("ended"),
                                 QStringLiteral("outcome"), QStringLiteral("failed_step"), QStringLiteral("reason"),
                                 QStringLiteral("cause_code"), QStringLiteral("cause"), QStringLiteral("run_uuid")}
                                + lineColumns();
    if (!insertRows(QStringLiteral("runs"), runColumns, runRows,
                    QStringLiteral("copying %1 runs").arg(runRows.size()), QStringLiteral(" RETURNING id, run_uuid"),
                    [&idOf](const QSqlQuery &row) { idOf.insert(row.value(1).toString(), row.value(0).toLongLong()); }))
        return false;
    if (idOf.size() != toInsert.size()) {
        lastError = QStringLiteral("%1: copying %2 runs: %3 keys came back").arg(name).arg(toInsert.size()).arg(idOf.size());
        return false;
    }

    QVector<QVariantList> stepRows;
    QVector<QVariantList> measuredRows;
    QVector<QVariantList> parameterRows;
    for (int i : qAsConst(toInsert)) {
        const Station::RunRecord &record = records.at(i);
        const qint64 id = idOf.value(uuids.at(i));
        for (const Station::StepRecord &step : record.steps) {
            stepRows << QVariantList{id, step.index, step.kind, Station::outcomeName(step.outcome),
                                     timeValue(step.started), timeValue(step.ended), causeReason(step.cause),
                                     causeCode(step.cause), causeText(step.cause)};
            for (auto it = step.measured.begin(); it != step.measured.end(); ++it) {
                if (isPlainEntry(it.value())) {
                    const QJsonObject entry = it.value().toObject();
                    measuredRows << QVariantList{id, step.index, it.key(),
                                                 numberOrNull(entry.value(QLatin1String("value"))),
                                                 numberOrNull(entry.value(QLatin1String("low"))),
                                                 numberOrNull(entry.value(QLatin1String("high"))), QVariant()};
                } else {
                    measuredRows << QVariantList{id, step.index, it.key(), QVariant(), QVariant(), QVariant(),
                                                 detailText(it.value())};
                }
            }
        }
        for (auto it = record.parametersBefore.begin(); it != record.parametersBefore.end(); ++it)
            parameterRows << QVariantList{id, QStringLiteral("before"), it.key(), it.value()};
        for (auto it = record.parametersAfter.begin(); it != record.parametersAfter.end(); ++it)
            parameterRows << QVariantList{id, QStringLiteral("after"), it.key(), it.value()};
    }
    const bool ok =
        insertRows(QStringLiteral("steps"),
                   {QStringLiteral("run_id"), QStringLiteral("step_index"), QStringLiteral("kind"),
                    QStringLiteral("outcome"), QStringLiteral("started"), QStringLiteral("ended"),
                    QStringLiteral("reason"), QStringLiteral("cause_code"), QStringLiteral("cause")},
                   stepRows, QStringLiteral("copying the steps of %1 runs").arg(toInsert.size()))
        && insertRows(QStringLiteral("measurements"),
                      {QStringLiteral("run_id"), QStringLiteral("step_index"), QStringLiteral("name"),
                       QStringLiteral("value"), QStringLiteral("low"), QStringLiteral("high"),
                       QStringLiteral("detail")},
                      measuredRows, QStringLiteral("copying what the steps of %1 runs measured").arg(toInsert.size()))
        && insertRows(QStringLiteral("parameters"),
                      {QStringLiteral("run_id"), QStringLiteral("phase"), QStringLiteral("name"),
                       QStringLiteral("value")},
                      parameterRows, QStringLiteral("copying the parameters of %1 runs").arg(toInsert.size()))
        && transaction.commit();
    if (ok)
        inserted = toInsert.size();
    return ok;
}

bool SqlRecordStore::prune(const QDateTime &, PruneResult &result)
{
    result = PruneResult();
    lastError = QStringLiteral("%1 is a record file of its own: runs are taken out of a station's file only"
                               " when a record server holds them")
                    .arg(name);
    return false;
}

bool SqlRecordStore::runsToPrune(const QString &target, const QDateTime &before, QVector<qint64> &ids,
                                 QStringList &uuids)
{
    lastError.clear();
    ids.clear();
    uuids.clear();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id, run_uuid FROM runs WHERE sync_target = ? AND synced = 1"
                                 " AND outcome <> ? AND started < ? AND run_uuid IS NOT NULL ORDER BY id"));
    query.addBindValue(target);
    query.addBindValue(Station::outcomeName(Outcome::Running));
    query.addBindValue(timeValue(before));
    if (!run(query, QStringLiteral("looking for runs the server holds")))
        return false;
    while (query.next()) {
        ids << query.value(0).toLongLong();
        uuids << query.value(1).toString();
    }
    return true;
}

bool SqlRecordStore::countRunsBefore(const QDateTime &before, int &count)
{
    lastError.clear();
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM runs WHERE started < ?"));
    query.addBindValue(timeValue(before));
    if (!run(query, QStringLiteral("counting the runs left")) || !query.next())
        return false;
    count = query.value(0).toInt();
    return true;
}

bool SqlRecordStore::removeRuns(const QVector<qint64> &ids)
{
    lastError.clear();
    Transaction transaction(*this);
    if (!transaction.begun())
        return false;
    // Measurements first: they name their step, as steps and parameters
    // name their run.
    for (int from = 0; from < ids.size(); from += kMostIdsPerList) {
        const QString some = idList(ids.mid(from, kMostIdsPerList));
        for (const char *table : {"measurements", "steps", "parameters"}) {
            QSqlQuery remove(db);
            if (!run(remove, QStringLiteral("removing runs from %1").arg(QLatin1String(table)),
                     QStringLiteral("DELETE FROM %1 WHERE run_id IN (%2)").arg(QLatin1String(table), some)))
                return false;
        }
        QSqlQuery remove(db);
        if (!run(remove, QStringLiteral("removing runs"), QStringLiteral("DELETE FROM runs WHERE id IN (%1)").arg(some)))
            return false;
    }
    return transaction.commit();
}

bool SqlRecordStore::compact()
{
    lastError.clear();
    // A station writing meanwhile makes VACUUM wait: a short wait, not the
    // writers' long one, since the file is whole either way and the space
    // can be given back another time.
    QSqlQuery wait(db);
    if (!run(wait, QStringLiteral("reading the busy time-out"), QStringLiteral("PRAGMA busy_timeout")) || !wait.next())
        return false;
    const int writersWait = wait.value(0).toInt();
    wait.finish();
    QSqlQuery query(db);
    const bool ok = run(query, QStringLiteral("setting a short wait"), QStringLiteral("PRAGMA busy_timeout = 2000"))
                    && run(query, QStringLiteral("giving the space back"), QStringLiteral("VACUUM"));
    QSqlQuery restore(db);
    restore.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(writersWait));
    return ok;
}
