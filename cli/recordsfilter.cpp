#include "recordsfilter.h"

#include <QCommandLineParser>
#include <QUrl>

namespace RecordsFilter {

QList<QCommandLineOption> options()
{
    return {QCommandLineOption(QStringLiteral("since"),
                               QStringLiteral("records, report: runs started from this day or moment (ISO 8601)."),
                               QStringLiteral("DATE")),
            QCommandLineOption(QStringLiteral("until"),
                               QStringLiteral("records, report: runs started before this day or moment (ISO 8601)."),
                               QStringLiteral("DATE")),
            QCommandLineOption(QStringLiteral("outcome"),
                               QStringLiteral("records, report: runs that ended so: pass, fail, error, interrupted or running."),
                               QStringLiteral("O")),
            QCommandLineOption(QStringLiteral("cause"),
                               QStringLiteral("records, report: runs that did not pass for this cause (its code, as in "
                                              "--json: limit, no_answer, refused, port_lost, ...)."),
                               QStringLiteral("CODE")),
            QCommandLineOption(QStringLiteral("recipe"),
                               QStringLiteral("records, report: runs of the recipe of this name."), QStringLiteral("NAME")),
            QCommandLineOption(QStringLiteral("recipe-hash"),
                               QStringLiteral("records, report: runs of the recipe file with this SHA-256 (hex)."),
                               QStringLiteral("HASH"))};
}

bool parseDate(const QString &text, QDateTime &moment)
{
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid() && text.size() == 10) {
        moment = QDateTime(day, QTime(0, 0));
        return true;
    }
    moment = QDateTime::fromString(text, Qt::ISODateWithMs);
    return moment.isValid();
}

bool fromCommandLine(const QCommandLineParser &parser, Station::RecordFilter &filter, QString &error)
{
    if (parser.positionalArguments().size() > 1) {
        error = QStringLiteral("takes no arguments");
        return false;
    }
    for (const char *line : {"port", "trace", "trace-file"})
        if (parser.isSet(QLatin1String(line))) {
            error = QStringLiteral("reads the records, not the line: no --%1").arg(QLatin1String(line));
            return false;
        }
    if (parser.isSet(QStringLiteral("serial"))) {
        filter.serial = parser.value(QStringLiteral("serial"));
        if (filter.serial.isEmpty()) {
            error = QStringLiteral("--serial takes a serial number");
            return false;
        }
    }
    for (const auto &[name, into] : {std::pair<const char *, QDateTime *>{"since", &filter.since},
                                     std::pair<const char *, QDateTime *>{"until", &filter.until}})
        if (parser.isSet(QLatin1String(name)) && !parseDate(parser.value(QLatin1String(name)), *into)) {
            error = QStringLiteral("--%1 '%2' is not a date (2024-03-05) or moment (2024-03-05T14:30:00)")
                        .arg(QLatin1String(name), parser.value(QLatin1String(name)));
            return false;
        }
    if (parser.isSet(QStringLiteral("outcome"))) {
        filter.byOutcome = true;
        if (!Station::outcomeFromName(parser.value(QStringLiteral("outcome")), filter.outcome)) {
            error = QStringLiteral("--outcome '%1' is none of pass, fail, error, interrupted, running")
                        .arg(parser.value(QStringLiteral("outcome")));
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("cause"))) {
        filter.causeCode = parser.value(QStringLiteral("cause"));
        Station::Cause::Code code;
        if (!Station::Cause::codeFromName(filter.causeCode, code)) {
            error = QStringLiteral("--cause '%1' is none of %2")
                        .arg(filter.causeCode, Station::Cause::codeNames().join(QStringLiteral(", ")));
            return false;
        }
    }
    for (const auto &[name, into] : {std::pair<const char *, QString *>{"station", &filter.station},
                                     std::pair<const char *, QString *>{"recipe", &filter.recipeName},
                                     std::pair<const char *, QString *>{"recipe-hash", &filter.recipeHash},
                                     std::pair<const char *, QString *>{"operator", &filter.operatorName}})
        if (parser.isSet(QLatin1String(name))) {
            *into = parser.value(QLatin1String(name));
            if (into->isEmpty()) {
                error = QStringLiteral("--%1 takes a value").arg(QLatin1String(name));
                return false;
            }
        }
    return true;
}

Location locationFrom(const QCommandLineParser &parser)
{
    Location location;
    location.chosen = parser.isSet(QStringLiteral("records"));
    location.path = location.chosen ? parser.value(QStringLiteral("records")) : RecordStore::defaultLocation();
    location.server = RecordStore::isServer(location.path);
    location.shown = location.server ? QUrl(location.path).toDisplayString(QUrl::RemovePassword) : location.path;
    return location;
}

} // namespace RecordsFilter
