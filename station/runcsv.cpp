#include "runcsv.h"

#include "csvfield.h"

#include <QSaveFile>

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

} // namespace Station
