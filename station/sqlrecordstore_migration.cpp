// Bringing a store written by an older version up to the current schema.
#include "sqlrecordstore.h"

#include "recordschema.h"
#include "sqlrecordstore_transaction.h"

#include <QSqlQuery>
#include <QStringList>

int SqlRecordStore::storedVersion(bool &ok)
{
    QSqlQuery exists(db);
    ok = run(exists, QStringLiteral("looking for the schema version"), dialect.versionTableExists);
    if (!ok || !exists.next())
        return 0;
    exists.finish();
    QSqlQuery query(db);
    ok = run(query, QStringLiteral("reading the schema version"),
             QStringLiteral("SELECT version FROM schema_version"))
         && query.next();
    if (!ok && lastError.isEmpty())
        lastError = QStringLiteral("%1: the schema version is missing").arg(name);
    return ok ? query.value(0).toInt() : 0;
}

bool SqlRecordStore::migrate(QString &error)
{
    const int latest = RecordSchema::latestVersion();
    bool ok = false;
    int version = storedVersion(ok);
    if (ok && version == latest)
        return true;
    // Another station may be bringing the same file up to date: look
    // again under the write lock.
    Transaction transaction(*this);
    if (transaction.begun() && !dialect.schemaLock.isEmpty()) {
        QSqlQuery lock(db);
        ok = run(lock, QStringLiteral("waiting for another station bringing the records up to date"),
                 dialect.schemaLock);
    }
    if (transaction.begun() && (ok || dialect.schemaLock.isEmpty()))
        version = storedVersion(ok);
    if (!transaction.begun() || !ok) {
        error = lastError;
        return false;
    }
    if (version > latest) {
        error = QStringLiteral("%1 was written by a later version of this program (record schema %2; "
                               "this one knows up to %3)")
                    .arg(name)
                    .arg(version)
                    .arg(latest);
        return false;
    }
    for (const RecordSchema::Migration &migration : RecordSchema::migrations(dialect.idColumn)) {
        if (migration.version <= version)
            continue;
        for (const QString &statement : migration.statements) {
            QSqlQuery query(db);
            if (!run(query, QStringLiteral("bringing the records to schema %1").arg(migration.version),
                     statement)) {
                error = lastError;
                return false;
            }
        }
        QSqlQuery stamp(db);
        stamp.prepare(QStringLiteral("UPDATE schema_version SET version = ?"));
        stamp.addBindValue(migration.version);
        if (!run(stamp, QStringLiteral("stamping schema %1").arg(migration.version))) {
            error = lastError;
            return false;
        }
    }
    if (!transaction.commit()) {
        error = lastError;
        return false;
    }
    return true;
}
