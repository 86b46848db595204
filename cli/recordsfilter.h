#pragma once

#include "recordstore.h"
#include "runrecord.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <memory>

class QCommandLineParser;

// What records and report share: which runs (--serial, --since, --until,
// --outcome, --cause, --station, --recipe, --recipe-hash, --operator) and
// where they are read (--records).
namespace RecordsFilter {

// The options beside those the station command shares (--records,
// --serial, --station, --operator are declared with it).
QList<QCommandLineOption> options();

// The filter the command line asks for; false with a sentence when an
// option's value cannot be used, or the command is given an argument or an
// option of the line's (these commands never touch it).
bool fromCommandLine(const QCommandLineParser &parser, Station::RecordFilter &filter, QString &error);

// A day (from its local midnight) or a moment in ISO 8601.
bool parseDate(const QString &text, QDateTime &moment);

// Where the records are read: --records, or the default file.
struct Location
{
    QString path;
    bool chosen = false;        // named on the command line
    bool server = false;
    QString shown;              // without a server's password
};
Location locationFrom(const QCommandLineParser &parser);

} // namespace RecordsFilter
