#pragma once

#include "runrecord.h"

#include <QString>
#include <QStringList>

// The records as ';'-separated text, the same from the window's browser and
// from zetra-cli records: a run's columns first, in this order.
namespace Station {

// "run;started;…;reason;cause", without a line break.
QString runCsvColumns();
// The run's fields in runCsvColumns()' order, times in UTC ISO 8601: the
// reason as the front end words it for its reader, the cause by its code.
QStringList runCsvFields(const RunRecord &run, const QString &reason);
// The fields quoted where they need it, joined, and a line break.
QString csvLine(const QStringList &fields);
// Writes the text whole or leaves the file as it was; false with the reason.
bool writeCsvFile(const QString &path, const QString &text, QString &error);

} // namespace Station
