#pragma once

#include "runrecord.h"

#include <QFuture>
#include <QThreadPool>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <memory>

// What a search of the records found.
struct RecordsFound
{
    bool opened = false;              // false: the store could not be opened, error says why
    QVector<Station::RunRecord> runs; // newest first
    QString error;
    QString serverAway;  // why the server could not be reached; empty when it was
    QString stationFile; // whose runs are shown instead
};

// Searches the records away from the window thread: a store on a server
// that is away holds its reader for the connection time-out, and the window
// must not hold with it. The store is opened for the one search, so each
// sees what the stations wrote since.
QFuture<RecordsFound> searchRecords(const QString &location, const Station::RecordFilter &filter);

// How far an export has gone, shared between the window and the thread that
// writes it; the window sets cancel to stop it.
struct RecordsExportProgress
{
    std::atomic<qint64> total{-1}; // runs to write; -1 until counted
    std::atomic<qint64> written{0};
    std::atomic<bool> cancel{false};
};

// How an export ended.
struct RecordsExported
{
    bool written = false;   // the file holds every run
    bool cancelled = false; // stopped on cancel: the file is as it was
    qint64 runs = 0;
    QString error;
};

// The CSV columns of the browser's export: the run's, then each step's and
// the value it measured.
QString recordsCsvColumns();
// A run's lines in that export: one per value a step measured (a step that
// measured nothing, and a run without steps, still get theirs), the run
// repeated on each, so a spreadsheet can filter on any column.
QVector<QStringList> recordsCsvRows(const Station::RunRecord &run);

// Writes every run the filter selects (whole, newest first, read a page at
// a time) to the file at path, away from the window thread; with a filter
// without upToId, the runs there as it begins. The file appears whole when
// done, and is left as it was on a failure or on cancel.
// The threads exports run on: their own, so that an export never waits
// behind the window's other work on the shared pool (which Qt 6 also paints
// with), nor holds it up.
QThreadPool *recordsExportPool();
QFuture<RecordsExported> exportRecords(const QString &location, const Station::RecordFilter &filter,
                                       const QString &path, std::shared_ptr<RecordsExportProgress> progress);
