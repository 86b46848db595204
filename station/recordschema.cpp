#include "recordschema.h"

namespace RecordSchema {

QVector<Migration> migrations(const QString &idColumn)
{
    return {
        // Version 1: runs, their steps with what each measured, the
        // parameters before and after. Times are UTC ISO 8601 text with
        // milliseconds, so they sort as text and read the same everywhere.
        {1,
         {QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"),
          QStringLiteral("INSERT INTO schema_version (version) VALUES (0)"),
          QStringLiteral("CREATE TABLE runs ("
                         " id %1,"
                         " serial TEXT NOT NULL,"
                         " station TEXT NOT NULL,"
                         " operator_name TEXT NOT NULL,"
                         " port TEXT NOT NULL,"
                         " recipe_name TEXT NOT NULL,"
                         " recipe_hash TEXT NOT NULL,"
                         " program_version TEXT NOT NULL,"
                         " revision_before TEXT NOT NULL,"
                         " revision_after TEXT,"
                         " started TEXT NOT NULL,"
                         " ended TEXT,"
                         " outcome TEXT NOT NULL,"
                         " failed_step TEXT,"
                         " reason TEXT)")
              .arg(idColumn),
          QStringLiteral("CREATE TABLE steps ("
                         " run_id BIGINT NOT NULL REFERENCES runs (id),"
                         " step_index INTEGER NOT NULL,"
                         " kind TEXT NOT NULL,"
                         " outcome TEXT NOT NULL,"
                         " started TEXT,"
                         " ended TEXT,"
                         " reason TEXT,"
                         " PRIMARY KEY (run_id, step_index))"),
          QStringLiteral("CREATE TABLE measurements ("
                         " run_id BIGINT NOT NULL,"
                         " step_index INTEGER NOT NULL,"
                         " name TEXT NOT NULL,"
                         " value DOUBLE PRECISION,"
                         " low DOUBLE PRECISION,"
                         " high DOUBLE PRECISION,"
                         " PRIMARY KEY (run_id, step_index, name),"
                         " FOREIGN KEY (run_id, step_index) REFERENCES steps (run_id, step_index))"),
          QStringLiteral("CREATE TABLE parameters ("
                         " run_id BIGINT NOT NULL REFERENCES runs (id),"
                         " phase TEXT NOT NULL,"
                         " name TEXT NOT NULL,"
                         " value DOUBLE PRECISION NOT NULL,"
                         " PRIMARY KEY (run_id, phase, name))")}},
        // Version 2: which station process owns a run (the name of its lock
        // file), so a run left running by a dead process can be told from a
        // live one; measured entries that are not a plain number with limits
        // kept whole as JSON; the look-ups by unit and by date indexed.
        {2,
         {QStringLiteral("ALTER TABLE runs ADD COLUMN owner TEXT"),
          QStringLiteral("ALTER TABLE measurements ADD COLUMN detail TEXT"),
          QStringLiteral("CREATE INDEX runs_by_serial ON runs (serial, started)"),
          QStringLiteral("CREATE INDEX runs_by_started ON runs (started)"),
          QStringLiteral("CREATE INDEX runs_by_outcome ON runs (outcome)")}},
        // Version 3: records shared through a server. Each run has a UUID,
        // the same wherever it is copied, unique so that a server never holds
        // a run twice; a station's own file notes which server a run is bound
        // for (sync_target, NULL for a run that stays in the file) and
        // whether that server has it.
        {3,
         {QStringLiteral("ALTER TABLE runs ADD COLUMN run_uuid TEXT"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN sync_target TEXT"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN synced INTEGER NOT NULL DEFAULT 0"),
          QStringLiteral("CREATE UNIQUE INDEX runs_by_uuid ON runs (run_uuid)"),
          QStringLiteral("CREATE INDEX runs_to_send ON runs (sync_target, synced)")}},
        // Version 4: why a run or a step did not pass, as facts: the cause's
        // code, to count and filter by, and the cause whole as JSON. The
        // reason column keeps what older versions wrote, read as a cause
        // of code "text"; new runs leave it empty.
        {4,
         {QStringLiteral("ALTER TABLE runs ADD COLUMN cause_code TEXT"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN cause TEXT"),
          QStringLiteral("ALTER TABLE steps ADD COLUMN cause_code TEXT"),
          QStringLiteral("ALTER TABLE steps ADD COLUMN cause TEXT"),
          QStringLiteral("UPDATE runs SET cause_code = 'text' WHERE reason IS NOT NULL AND reason <> ''"),
          QStringLiteral("UPDATE steps SET cause_code = 'text' WHERE reason IS NOT NULL AND reason <> ''"),
          QStringLiteral("CREATE INDEX runs_by_cause ON runs (cause_code)")}},
        // Version 5: runs by outcome and by cause in the order listings
        // read them, newest first, so each page of a long listing starts
        // where the last one ended instead of sorting every match again.
        {5,
         {QStringLiteral("DROP INDEX runs_by_outcome"),
          QStringLiteral("CREATE INDEX runs_by_outcome ON runs (outcome, started)"),
          QStringLiteral("DROP INDEX runs_by_cause"),
          QStringLiteral("CREATE INDEX runs_by_cause ON runs (cause_code, started)")}},
        // Version 6: what each unit's line did over its run (NULL for older
        // runs), and what a quality report reads: each unit's runs in order
        // with their outcome and station, the runs that did not pass by
        // step and cause, and the measured values that have limits, apart
        // from the many that have none.
        {6,
         {QStringLiteral("ALTER TABLE runs ADD COLUMN line_requests INTEGER"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN line_answers INTEGER"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN line_time_outs INTEGER"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN line_bad_crc INTEGER"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN line_refused INTEGER"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN line_stray INTEGER"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN line_late INTEGER"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN line_port_errors INTEGER"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN line_round_trips INTEGER"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN line_round_trip_sum_ms DOUBLE PRECISION"),
          QStringLiteral("ALTER TABLE runs ADD COLUMN line_round_trip_max_ms DOUBLE PRECISION")}},
    };
}

Dialect sqlite()
{
    Dialect dialect;
    dialect.driver = QStringLiteral("QSQLITE");
    dialect.idColumn = QStringLiteral("INTEGER PRIMARY KEY");
    // Taken for writing at once: a deferred transaction that read first
    // could not wait for another writer and would fail instead.
    dialect.beginWrite = QStringLiteral("BEGIN IMMEDIATE");
    // Write-ahead log: readers and several writing stations share the
    // file, and a commit is whole or absent after a crash.
    dialect.versionTableExists =
        QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'");
    dialect.setup = QStringList{QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("PRAGMA foreign_keys=ON"), QStringLiteral("PRAGMA cache_size=-16384")};
    return dialect;
}

Dialect postgresql()
{
    Dialect dialect;
    dialect.driver = QStringLiteral("QPSQL");
    dialect.idColumn = QStringLiteral("BIGSERIAL PRIMARY KEY");
    dialect.beginWrite = QStringLiteral("BEGIN");
    // Any fixed number: every station takes the same one.
    dialect.schemaLock = QStringLiteral("SELECT pg_advisory_xact_lock(2025051701)");
    // The driver's lastInsertId is the row's OID, which these tables lack.
    dialect.returningId = QStringLiteral(" RETURNING id");
    // Notices (an index that exists, and so on) are not the operator's concern.
    dialect.setup = QStringList{QStringLiteral("SET client_min_messages TO WARNING")};
    // In the schema the connection searches, as the tables are made. Read
    // from the catalog as a table, with the statement's own snapshot: a name
    // looked up as to_regclass does may still miss a table another station
    // committed while this one waited for the schema lock.
    dialect.versionTableExists = QStringLiteral("SELECT 1 FROM pg_catalog.pg_tables WHERE tablename = 'schema_version'"
                                                " AND schemaname = ANY (current_schemas(false))");
    return dialect;
}

int latestVersion()
{
    return migrations(QString()).constLast().version;
}

} // namespace RecordSchema
