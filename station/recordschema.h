#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The record store's tables, the one place they are written down. A file
// is at some version (the schema_version table); the migrations after it,
// run in order, bring it to the newest. A new file is built the same way,
// from version 0, so the path an old file takes is the one every file takes.
//
// The statements are plain SQL that SQLite and PostgreSQL both read; the
// only thing they word differently, an auto-numbered key, comes in as
// idColumn from the connection's setup.
namespace RecordSchema {

struct Migration
{
    int version;               // the version the file is at afterwards
    QStringList statements;
};

QVector<Migration> migrations(const QString &idColumn);

// The version this program writes; a file at a later one is not touched.
int latestVersion();

} // namespace RecordSchema
