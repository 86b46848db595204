#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The record store's tables, the one place they are written down. A file
// is at some version (the schema_version table); the migrations after it,
// run in order, bring it to the newest. A new file is built the same way,
// from version 0, so the path an old file takes is the one every file takes.
//
// The statements are plain SQL that SQLite and PostgreSQL both read; what
// the two word differently is in Dialect, the one place that knows.
namespace RecordSchema {

// What one database engine words its own way; every query the store makes
// is otherwise the same on both.
struct Dialect
{
    QString driver;            // the Qt SQL driver
    QString idColumn;          // an auto-numbered 64-bit key
    QString beginWrite;        // a transaction that will write
    // Taken at the start of the transaction that brings the schema up to
    // date, so two stations opening one empty database build it once;
    // empty where beginWrite already keeps writers apart.
    QString schemaLock;
    // Appended to an INSERT to have it return its key; empty: the driver's
    // lastInsertId tells it.
    QString returningId;
    QStringList setup;         // run once on each new connection
    // One row when the schema's version table is there, none when not:
    // cheaper than listing every table, and the open of a store is in every
    // look-up of a unit's history.
    QString versionTableExists;
};

Dialect sqlite();
Dialect postgresql();

struct Migration
{
    int version;               // the version the file is at afterwards
    QStringList statements;
};

QVector<Migration> migrations(const QString &idColumn);

// The version this program writes; a file at a later one is not touched.
int latestVersion();

} // namespace RecordSchema
