// The record store over Qt SQL, on an SQLite file or a PostgreSQL server.
// Every writing call is one transaction taken for writing at once, so
// concurrent stations on one file queue behind each other (the busy
// time-out) instead of failing, and a process killed mid-call leaves the
// file as it was before the call.
#include "sqlrecordstore.h"

#include "recordschema.h"
#include "sqlrecordstore_columns.h"
#include "sqlrecordstore_transaction.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <QVariant>

#include <algorithm>

namespace {

using namespace RecordColumns;

// What a row says of its cause; a row from before causes has only its reason.
Station::Cause causeFrom(const QVariant &json, const QVariant &reason)
{
    if (!json.isNull() && !json.toString().isEmpty())
        return Station::Cause::fromJson(QJsonDocument::fromJson(json.toString().toUtf8()).object());
    const QString text = reason.toString();
    return text.isEmpty() ? Station::Cause() : Station::Cause::text(text);
}

using Station::Outcome;

// How long a writer waits for another station's transaction to end. A
// step's transaction takes milliseconds; this only has to outlast a slow
// disk under several stations.
constexpr int kBusyTimeoutMs = 30000;

// The store's own form, "2024-03-05T14:30:00.123Z", read digit by digit:
// a listing reads several times a run, and the general parser was the
// largest part of its time. Anything else goes to that parser.
QDateTime timeFrom(const QVariant &value)
{
    if (value.isNull())
        return QDateTime();
    const QString text = value.toString();
    const auto digits = [&text](int from, int count, int &number) {
        number = 0;
        for (int i = from; i < from + count; ++i) {
            const QChar c = text.at(i);
            if (!c.isDigit())
                return false;
            number = number * 10 + c.digitValue();
        }
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    if (text.size() == 24 && text.at(4) == QLatin1Char('-') && text.at(7) == QLatin1Char('-')
        && text.at(10) == QLatin1Char('T') && text.at(13) == QLatin1Char(':') && text.at(16) == QLatin1Char(':')
        && text.at(19) == QLatin1Char('.') && text.at(23) == QLatin1Char('Z') && digits(0, 4, year)
        && digits(5, 2, month) && digits(8, 2, day) && digits(11, 2, hour) && digits(14, 2, minute)
        && digits(17, 2, second) && digits(20, 3, ms)) {
        const QDate date(year, month, day);
        const QTime time(hour, minute, second, ms);
        if (date.isValid() && time.isValid())
            return QDateTime(date, time, Qt::UTC);
    }
    return QDateTime::fromString(text, Qt::ISODateWithMs).toUTC();
}

QJsonValue detailFrom(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).array().at(0);
}

QString connectionNameFor()
{
    static QAtomicInteger<int> next;
    return QStringLiteral("zetra-records-%1").arg(next.fetchAndAddRelaxed(1));
}

QVariant textOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

} // namespace

SqlRecordStore::SqlRecordStore(const QString &name, const RecordSchema::Dialect &dialect)
    : name(name)
    , dialect(dialect)
    , isFile(dialect.driver == QLatin1String("QSQLITE"))
    , ownersFolder(isFile ? name + QStringLiteral(".owners") : QString())
    , connectionName(connectionNameFor())
{
}

SqlRecordStore::~SqlRecordStore()
{
    if (db.isValid())
        db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
    // The lock goes with the store: a run it left running is taken for
    // interrupted by the next store that opens the file.
}

std::unique_ptr<SqlRecordStore> SqlRecordStore::openFile(const QString &path, QString &error)
{
    std::unique_ptr<SqlRecordStore> store(
        new SqlRecordStore(QFileInfo(path).absoluteFilePath(), RecordSchema::sqlite()));
    store->db = QSqlDatabase::addDatabase(store->dialect.driver, store->connectionName);
    if (!store->db.isValid()) {
        error = QStringLiteral("Qt's SQLite driver is not installed (%1)").arg(store->db.lastError().text());
        return nullptr;
    }
    store->db.setDatabaseName(store->name);
    store->db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!store->connect(error))
        return nullptr;
    return store;
}

std::unique_ptr<SqlRecordStore> SqlRecordStore::openServer(const ServerAddress &address, int connectTimeoutSeconds,
                                                           QString &error)
{
    std::unique_ptr<SqlRecordStore> store(new SqlRecordStore(address.display, RecordSchema::postgresql()));
    store->db = QSqlDatabase::addDatabase(store->dialect.driver, store->connectionName);
    if (!store->db.isValid()) {
        error = QStringLiteral("Qt's PostgreSQL driver is not installed (%1)").arg(store->db.lastError().text());
        return nullptr;
    }
    store->db.setHostName(address.host);
    store->db.setPort(address.port);
    store->db.setUserName(address.user);
    store->db.setPassword(address.password);
    store->db.setDatabaseName(address.database);
    QStringList options{QStringLiteral("connect_timeout=%1").arg(connectTimeoutSeconds)};
    // libpq first tries to wrap the connection in GSSAPI, reading the
    // Kerberos set-up at every connect: a tenth of a unit's look-up. The
    // address may still ask for it (gssencmode=prefer); authenticating by
    // Kerberos is untouched.
    if (!address.options.contains(QLatin1String("gssencmode")))
        options << QStringLiteral("gssencmode=disable");
    if (!address.options.isEmpty())
        options << address.options;
    store->db.setConnectOptions(options.join(QLatin1Char(';')));
    if (!store->connect(error))
        return nullptr;
    return store;
}

bool SqlRecordStore::connect(QString &error)
{
    if (!db.open()) {
        error = QStringLiteral("%1: %2").arg(name, db.lastError().text().trimmed());
        return false;
    }
    for (const QString &statement : dialect.setup) {
        QSqlQuery setup(db);
        if (!setup.exec(statement)) {
            error = QStringLiteral("%1: %2").arg(name, setup.lastError().text());
            return false;
        }
    }
    if (!migrate(error))
        return false;
    if (isFile && !markAbandonedRuns()) {
        error = lastError;
        return false;
    }
    return true;
}

bool SqlRecordStore::beginRun(const Station::RunHeader &header, qint64 &runId)
{
    lastError.clear();
    if (!takeOwnership())
        return false;
    Transaction transaction(*this);
    if (!transaction.begun())
        return false;
    qint64 id = 0;
    if (!insertRunRow(header, QUuid::createUuid().toString(QUuid::WithoutBraces), textOrNull(syncTarget),
                      textOrNull(ownerName), id)
        || !transaction.commit())
        return false;
    runId = id;
    return true;
}

bool SqlRecordStore::insertRunRow(const Station::RunHeader &header, const QString &uuid, const QVariant &target,
                                  const QVariant &ownerValue, qint64 &runId)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO runs (serial, station, operator_name, port, recipe_name, recipe_hash,"
                                 " program_version, revision_before, started, outcome, owner, run_uuid, sync_target)"
                                 " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                  + dialect.returningId);
    for (const QString &text : {header.serial, header.station, header.operatorName, header.port, header.recipeName,
                                header.recipeHash, header.programVersion, header.revisionBefore})
        query.addBindValue(text.isNull() ? QString(QLatin1String("")) : text);
    const QDateTime started = header.started.isValid() ? header.started : QDateTime::currentDateTimeUtc();
    query.addBindValue(timeValue(started));
    query.addBindValue(Station::outcomeName(Outcome::Running));
    query.addBindValue(ownerValue);
    query.addBindValue(uuid);
    query.addBindValue(target);
    if (!run(query, QStringLiteral("beginning the run")))
        return false;
    if (dialect.returningId.isEmpty()) {
        runId = query.lastInsertId().toLongLong();
    } else if (query.next()) {
        runId = query.value(0).toLongLong();
    } else {
        lastError = QStringLiteral("%1: beginning the run: no key came back").arg(name);
        return false;
    }
    return true;
}

bool SqlRecordStore::recordParameters(qint64 runId, bool after, const QMap<QString, double> &values)
{
    lastError.clear();
    Transaction transaction(*this);
    return transaction.begun() && checkRunning(runId) && insertParameters(runId, after, values)
           && transaction.commit();
}

bool SqlRecordStore::insertParameters(qint64 runId, bool after, const QMap<QString, double> &values)
{
    const QString phase = after ? QStringLiteral("after") : QStringLiteral("before");
    QSqlQuery clear(db);
    clear.prepare(QStringLiteral("DELETE FROM parameters WHERE run_id = ? AND phase = ?"));
    clear.addBindValue(runId);
    clear.addBindValue(phase);
    if (!run(clear, QStringLiteral("recording the parameters")))
        return false;
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO parameters (run_id, phase, name, value) VALUES (?, ?, ?, ?)"));
    for (auto it = values.begin(); it != values.end(); ++it) {
        insert.addBindValue(runId);
        insert.addBindValue(phase);
        insert.addBindValue(it.key());
        insert.addBindValue(it.value());
        if (!run(insert, QStringLiteral("recording parameter %1").arg(it.key())))
            return false;
    }
    return true;
}

bool SqlRecordStore::recordStep(qint64 runId, const Station::StepRecord &step)
{
    lastError.clear();
    Transaction transaction(*this);
    return transaction.begun() && checkRunning(runId) && insertStep(runId, step) && transaction.commit();
}

bool SqlRecordStore::insertStep(qint64 runId, const Station::StepRecord &step)
{
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO steps (run_id, step_index, kind, outcome, started, ended, reason,"
                                  " cause_code, cause) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(runId);
    insert.addBindValue(step.index);
    insert.addBindValue(step.kind);
    insert.addBindValue(Station::outcomeName(step.outcome));
    insert.addBindValue(timeValue(step.started));
    insert.addBindValue(timeValue(step.ended));
    insert.addBindValue(causeReason(step.cause));
    insert.addBindValue(causeCode(step.cause));
    insert.addBindValue(causeText(step.cause));
    if (!run(insert, QStringLiteral("recording step %1 (%2)").arg(step.index).arg(step.kind)))
        return false;
    QSqlQuery measured(db);
    measured.prepare(QStringLiteral("INSERT INTO measurements (run_id, step_index, name, value, low, high, detail)"
                                    " VALUES (?, ?, ?, ?, ?, ?, ?)"));
    for (auto it = step.measured.begin(); it != step.measured.end(); ++it) {
        measured.addBindValue(runId);
        measured.addBindValue(step.index);
        measured.addBindValue(it.key());
        if (isPlainEntry(it.value())) {
            const QJsonObject entry = it.value().toObject();
            measured.addBindValue(numberOrNull(entry.value(QLatin1String("value"))));
            measured.addBindValue(numberOrNull(entry.value(QLatin1String("low"))));
            measured.addBindValue(numberOrNull(entry.value(QLatin1String("high"))));
            measured.addBindValue(QVariant());
        } else {
            measured.addBindValue(QVariant());
            measured.addBindValue(QVariant());
            measured.addBindValue(QVariant());
            measured.addBindValue(detailText(it.value()));
        }
        if (!run(measured, QStringLiteral("recording what step %1 measured").arg(step.index)))
            return false;
    }
    return true;
}

bool SqlRecordStore::finishRun(qint64 runId, Outcome outcome, const QString &failedStep, const Station::Cause &cause,
                               const QString &revisionAfter, const std::optional<LineCounters> &line)
{
    lastError.clear();
    if (outcome == Outcome::Running) {
        lastError = QStringLiteral("run %1 cannot finish as running").arg(runId);
        return false;
    }
    Transaction transaction(*this);
    return transaction.begun()
           && updateFinished(runId, QDateTime::currentDateTimeUtc(), outcome, failedStep, cause, revisionAfter, line)
           && transaction.commit();
}

bool SqlRecordStore::updateFinished(qint64 runId, const QDateTime &ended, Outcome outcome, const QString &failedStep,
                                    const Station::Cause &cause, const QString &revisionAfter,
                                    const std::optional<LineCounters> &line)
{
    QSqlQuery update(db);
    update.prepare(QStringLiteral("UPDATE runs SET ended = ?, outcome = ?, failed_step = ?, reason = ?, cause_code = ?, cause = ?,"
                                  " revision_after = ?, %1 = ? WHERE id = ? AND outcome = ?")
                       .arg(lineColumns().join(QStringLiteral(" = ?, "))));
    update.addBindValue(timeValue(ended));
    update.addBindValue(Station::outcomeName(outcome));
    update.addBindValue(failedStep);
    update.addBindValue(causeReason(cause));
    update.addBindValue(causeCode(cause));
    update.addBindValue(causeText(cause));
    update.addBindValue(revisionAfter);
    for (const QVariant &value : lineValues(line))
        update.addBindValue(value);
    update.addBindValue(runId);
    update.addBindValue(Station::outcomeName(Outcome::Running));
    if (!run(update, QStringLiteral("finishing the run")))
        return false;
    if (update.numRowsAffected() != 1) {
        lastError = QStringLiteral("run %1 is not running in %2").arg(runId).arg(name);
        return false;
    }
    return true;
}

void RecordColumns::whereFor(const Station::RecordFilter &filter, QString &where, QVariantList &values)
{
    if (!filter.serial.isEmpty()) {
        where += QStringLiteral(" AND serial = ?");
        values << filter.serial;
    }
    if (filter.since.isValid()) {
        where += QStringLiteral(" AND started >= ?");
        values << timeValue(filter.since);
    }
    if (filter.until.isValid()) {
        where += QStringLiteral(" AND started < ?");
        values << timeValue(filter.until);
    }
    if (filter.byOutcome) {
        where += QStringLiteral(" AND outcome = ?");
        values << Station::outcomeName(filter.outcome);
    }
    if (!filter.causeCode.isEmpty()) {
        where += QStringLiteral(" AND cause_code = ?");
        values << filter.causeCode;
    }
    const std::pair<const QString &, const char *> exactly[] = {{filter.station, " AND station = ?"},
                                                                {filter.recipeName, " AND recipe_name = ?"},
                                                                {filter.recipeHash, " AND recipe_hash = ?"},
                                                                {filter.operatorName, " AND operator_name = ?"}};
    for (const auto &[value, condition] : exactly)
        if (!value.isEmpty()) {
            where += QLatin1String(condition);
            values << value;
        }
    if (filter.upToId > 0) {
        where += QStringLiteral(" AND id <= ?");
        values << filter.upToId;
    }
}

namespace {

// Runs read in one query: enough that the queries' own cost is small beside
// the rows', few enough that a page of whole runs stays a few megabytes.
// ZETRA_RECORDS_PAGE sets another size, so that tests cross many pages
// with few runs.
int pageSizeFor(RecordStore::RunParts parts)
{
    static const int chosen = qEnvironmentVariableIntValue("ZETRA_RECORDS_PAGE");
    if (chosen > 0)
        return chosen;
    return parts == RecordStore::RunParts::Whole ? 500 : 2000;
}

} // namespace

bool SqlRecordStore::forEachRun(const Station::RecordFilter &filter, RunParts parts, const RunVisitor &visit)
{
    lastError.clear();
    QString where;
    QVariantList values;
    whereFor(filter, where, values);
    const int pageSize = pageSizeFor(parts);
    qint64 left = filter.limit > 0 ? filter.limit : -1;
    // Each page starts after the last run of the one before, by the order
    // itself (newest first, the id breaking ties): no page rereads what an
    // earlier one skipped, however deep the reading goes.
    QVariant lastStarted;
    qint64 lastId = 0;
    bool first = true;
    while (left != 0) {
        const qint64 wanted = left < 0 ? pageSize : std::min<qint64>(left, pageSize);
        QString pageWhere = where;
        QVariantList pageValues = values;
        if (!first) {
            // The plain bound first, for the index on started to reach.
            pageWhere += QStringLiteral(" AND started <= ? AND (started < ? OR id < ?)");
            pageValues << lastStarted << lastStarted << lastId;
        }
        QString tail = QStringLiteral(" ORDER BY started DESC, id DESC LIMIT %1").arg(wanted);
        if (first && filter.offset > 0)
            tail += QStringLiteral(" OFFSET %1").arg(filter.offset);
        first = false;
        QVector<Station::RunRecord> page;
        if (!readRuns(pageWhere, pageValues, tail, parts, page, nullptr))
            return false;
        for (const Station::RunRecord &record : qAsConst(page))
            if (!visit(record))
                return true;
        if (page.size() < wanted)
            break;
        lastStarted = timeValue(page.constLast().header.started);
        lastId = page.constLast().id;
        if (left > 0)
            left -= page.size();
    }
    return true;
}

qint64 SqlRecordStore::countRuns(const Station::RecordFilter &filter)
{
    lastError.clear();
    QString where;
    QVariantList values;
    whereFor(filter, where, values);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM runs WHERE 1 = 1") + where);
    for (const QVariant &value : qAsConst(values))
        query.addBindValue(value);
    if (!run(query, QStringLiteral("counting the runs")))
        return -1;
    return query.next() ? query.value(0).toLongLong() : 0;
}

qint64 SqlRecordStore::lastRunId()
{
    lastError.clear();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!run(query, QStringLiteral("finding the newest run"), QStringLiteral("SELECT MAX(id) FROM runs")))
        return -1;
    return query.next() ? query.value(0).toLongLong() : 0;
}

QVector<Station::RunRecord> SqlRecordStore::readRuns(const QString &where, const QVariantList &values,
                                                     const QString &tail, QStringList *uuids)
{
    QVector<Station::RunRecord> found;
    if (!readRuns(where, values, tail, RunParts::Whole, found, uuids))
        return {};
    return found;
}

bool SqlRecordStore::readRuns(const QString &where, const QVariantList &values, const QString &tail, RunParts parts,
                              QVector<Station::RunRecord> &found, QStringList *uuids)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
                      "SELECT id, serial, station, operator_name, port, recipe_name, recipe_hash, program_version,"
                      " revision_before, revision_after, started, ended, outcome, failed_step, reason, run_uuid, cause, ")
                  + lineColumns().join(QStringLiteral(", ")) + QStringLiteral(" FROM runs WHERE 1 = 1")
                  + where + tail);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!run(query, QStringLiteral("reading the runs")))
        return false;
    while (query.next()) {
        Station::RunRecord record;
        record.id = query.value(0).toLongLong();
        record.header.serial = query.value(1).toString();
        record.header.station = query.value(2).toString();
        record.header.operatorName = query.value(3).toString();
        record.header.port = query.value(4).toString();
        record.header.recipeName = query.value(5).toString();
        record.header.recipeHash = query.value(6).toString();
        record.header.programVersion = query.value(7).toString();
        record.header.revisionBefore = query.value(8).toString();
        record.revisionAfter = query.value(9).toString();
        record.header.started = timeFrom(query.value(10));
        record.ended = timeFrom(query.value(11));
        if (!Station::outcomeFromName(query.value(12).toString(), record.outcome)) {
            lastError = QStringLiteral("run %1 has an unknown outcome '%2'").arg(record.id).arg(query.value(12).toString());
            return false;
        }
        record.failedStep = query.value(13).toString();
        record.cause = causeFrom(query.value(16), query.value(14));
        record.line = lineFrom(query, 17);
        if (uuids)
            uuids->append(query.value(15).toString());
        found.append(record);
    }
    return parts == RunParts::Summary || readDetails(found);
}

// Runs a prepared query, or the given statement; on failure the error
// names what was being done and the database's own words.
bool SqlRecordStore::run(QSqlQuery &query, const QString &doing, const QString &statement)
{
    const bool ok = statement.isEmpty() ? query.exec() : query.exec(statement);
    if (!ok)
        lastError = QStringLiteral("%1: %2: %3").arg(name, doing, query.lastError().text().trimmed());
    return ok;
}

// Steps and parameters go to a run that is still running, never to one
// that has ended or that another station has taken for interrupted.
bool SqlRecordStore::checkRunning(qint64 runId)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT outcome FROM runs WHERE id = ?"));
    query.addBindValue(runId);
    if (!run(query, QStringLiteral("finding run %1").arg(runId)))
        return false;
    if (!query.next()) {
        lastError = QStringLiteral("%1: no run %2").arg(name).arg(runId);
        return false;
    }
    const QString outcome = query.value(0).toString();
    query.finish();
    if (outcome != Station::outcomeName(Outcome::Running)) {
        lastError = QStringLiteral("%1: run %2 has ended (%3)").arg(name).arg(runId).arg(outcome);
        return false;
    }
    return true;
}

// The steps, values and parameters of a page of runs: three queries
// whatever the page's size.
bool SqlRecordStore::readDetails(QVector<Station::RunRecord> &records)
{
    if (records.isEmpty())
        return true;
    QHash<qint64, int> byId;
    QStringList ids;
    for (int i = 0; i < records.size(); ++i) {
        byId.insert(records.at(i).id, i);
        ids << QString::number(records.at(i).id);
    }
    // Ids are the store's own integers: written into the text, not bound,
    // since a page has more of them than a driver takes values.
    const QString inPage = QStringLiteral(" WHERE run_id IN (%1)").arg(ids.join(QLatin1Char(',')));
    const QString which = records.size() == 1 ? QStringLiteral("run %1").arg(records.first().id)
                                              : QStringLiteral("%1 runs").arg(records.size());

    QSqlQuery steps(db);
    steps.setForwardOnly(true);
    if (!run(steps, QStringLiteral("reading the steps of %1").arg(which),
             QStringLiteral("SELECT run_id, step_index, kind, outcome, started, ended, reason, cause FROM steps")
                 + inPage + QStringLiteral(" ORDER BY run_id, step_index")))
        return false;
    while (steps.next()) {
        Station::RunRecord &record = records[byId.value(steps.value(0).toLongLong())];
        Station::StepRecord step;
        step.index = steps.value(1).toInt();
        step.kind = steps.value(2).toString();
        if (!Station::outcomeFromName(steps.value(3).toString(), step.outcome)) {
            lastError = QStringLiteral("step %1 of run %2 has an unknown outcome '%3'")
                            .arg(step.index)
                            .arg(record.id)
                            .arg(steps.value(3).toString());
            return false;
        }
        step.started = timeFrom(steps.value(4));
        step.ended = timeFrom(steps.value(5));
        step.cause = causeFrom(steps.value(7), steps.value(6));
        record.steps.append(step);
    }

    QSqlQuery measured(db);
    measured.setForwardOnly(true);
    if (!run(measured, QStringLiteral("reading the measurements of %1").arg(which),
             QStringLiteral("SELECT run_id, step_index, name, value, low, high, detail FROM measurements") + inPage))
        return false;
    const QString names[] = {QStringLiteral("value"), QStringLiteral("low"), QStringLiteral("high")};
    while (measured.next()) {
        Station::RunRecord &record = records[byId.value(measured.value(0).toLongLong())];
        const int index = measured.value(1).toInt();
        QJsonValue entry;
        if (!measured.value(6).isNull()) {
            entry = detailFrom(measured.value(6).toString());
        } else {
            QJsonObject object;
            for (int column = 3; column <= 5; ++column)
                if (!measured.value(column).isNull())
                    object.insert(names[column - 3], measured.value(column).toDouble());
            entry = object;
        }
        for (Station::StepRecord &step : record.steps)
            if (step.index == index)
                step.measured.insert(measured.value(2).toString(), entry);
    }

    QSqlQuery parameters(db);
    parameters.setForwardOnly(true);
    if (!run(parameters, QStringLiteral("reading the parameters of %1").arg(which),
             QStringLiteral("SELECT run_id, phase, name, value FROM parameters") + inPage))
        return false;
    while (parameters.next()) {
        Station::RunRecord &record = records[byId.value(parameters.value(0).toLongLong())];
        QMap<QString, double> &into = parameters.value(1).toString() == QLatin1String("after")
                                          ? record.parametersAfter
                                          : record.parametersBefore;
        into.insert(parameters.value(2).toString(), parameters.value(3).toDouble());
    }
    return true;
}
