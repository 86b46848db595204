#pragma once

#include <QString>

// Record stores filled with a plant's year of runs (zetra-records-fill), one
// of each engine, for the records benchmarks. Filling a million runs takes
// minutes, so each is kept in the bench's data folder ($ZETRA_BENCH_DATA,
// default build/bench-data), under its run count, seed and fill format, and
// used again while it is there: an SQLite file, and for PostgreSQL the
// cluster's data folder, on which a server is started for the bench.
struct FilledRecords
{
    QString engine;      // "sqlite" or "postgres"
    QString location;    // as --records takes it; empty when the store could not be had
    qint64 runs = 0;
};

// The runs each filled store holds: 1 000 000, or $ZETRA_BENCH_RUNS for a
// quick try.
qint64 benchRecordRuns();

// The names filledRecords() takes, in the order the figures print them.
inline const char *const kRecordEngines[] = {"sqlite", "postgres"};

// The filled store of that engine, filled first if the data folder has none;
// the PostgreSQL server stays up until the bench ends. Says on stderr why a
// store could not be had.
FilledRecords filledRecords(const QString &engine);
