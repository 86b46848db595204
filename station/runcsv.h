#pragma once

#include "runrecord.h"

#include <QByteArray>
#include <QSaveFile>
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

// A CSV file written line by line, for more lines than memory holds: the
// file appears whole at commit(), and is left as it was without it.
class CsvFile
{
public:
    // columns: the first line, as runCsvColumns() gives it.
    CsvFile(const QString &path, QString columns);
    bool open(QString &error);
    // False once the disk refused; commit() then says why.
    bool write(const QStringList &fields);
    bool commit(QString &error);
    QString path() const { return file.fileName(); }

private:
    QSaveFile file;
    QString columns;
    QByteArray pending;
};

} // namespace Station
