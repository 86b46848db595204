#include "runcsv.h"

#include "csvfield.h"

#include <QSaveFile>

#include <utility>

namespace Station {

namespace {

QString isoTime(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

} // namespace

QString runCsvColumns()
{
    return QStringLiteral("run;started;ended;serial;station;operator;port;recipe;recipe_hash;program_version;"
                          "revision_before;revision_after;outcome;failed_step;reason;cause");
}

QStringList runCsvFields(const RunRecord &run, const QString &reason)
{
    return {QString::number(run.id), isoTime(run.header.started), isoTime(run.ended), run.header.serial,
            run.header.station, run.header.operatorName, run.header.port, run.header.recipeName,
            run.header.recipeHash, run.header.programVersion, run.header.revisionBefore, run.revisionAfter,
            outcomeName(run.outcome), run.failedStep, reason, run.cause.codeName()};
}

QString csvLine(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &field : fields)
        quoted << csvField(field);
    return quoted.join(QLatin1Char(';')) + QLatin1Char('\n');
}

bool writeCsvFile(const QString &path, const QString &text, QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        error = file.errorString();
        return false;
    }
    file.write(text.toUtf8());
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

CsvFile::CsvFile(const QString &path, QString columns)
    : file(path)
    , columns(std::move(columns))
{
}

bool CsvFile::open(QString &error)
{
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        error = file.errorString();
        return false;
    }
    pending = (columns + QLatin1Char('\n')).toUtf8();
    return true;
}

bool CsvFile::write(const QStringList &fields)
{
    pending += csvLine(fields).toUtf8();
    // Handed to the file in pieces of a fair size: one write a line would
    // cost more than the line itself.
    constexpr int kChunk = 1 << 16;
    if (pending.size() < kChunk)
        return true;
    const bool ok = file.write(pending) == pending.size();
    pending.clear();
    return ok;
}

bool CsvFile::commit(QString &error)
{
    if (!pending.isEmpty() && file.write(pending) != pending.size()) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    pending.clear();
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace Station
