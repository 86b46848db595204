#include "recordsearch.h"

#include "recordstore.h"

#include <QtConcurrent>

QFuture<RecordsFound> searchRecords(const QString &location, const Station::RecordFilter &filter)
{
    return QtConcurrent::run([location, filter] {
        RecordsFound found;
        // Opened, read and closed in this one thread: a database connection
        // belongs to the thread that made it.
        const std::unique_ptr<RecordStore> store = RecordStore::open(location, found.error);
        if (!store)
            return found;
        found.opened = true;
        found.runs = store->runs(filter);
        found.error = store->error();
        found.serverAway = store->serverAway();
        found.stationFile = store->stationFile();
        return found;
    });
}
