#pragma once

#include "runrecord.h"

#include <QFuture>
#include <QString>
#include <QVector>

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
