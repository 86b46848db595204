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
    };
}

int latestVersion()
{
    return migrations(QString()).constLast().version;
}

} // namespace RecordSchema
