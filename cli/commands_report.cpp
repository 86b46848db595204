// zetra-cli report: a line's quality over the recorded runs a filter
// selects: yield, what fails most, how each limited measurement sits in its
// limits, how each port's line behaves. The store computes the numbers; this
// file only prints them, as JSON or as tables. It never touches the line.
#include "command.h"
#include "qualityreport.h"
#include "recordsfilter.h"
#include "recordstore.h"
#include "report.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>

namespace {

QJsonValue optionalJson(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

QJsonObject yieldJson(const Station::YieldCount &count, const QString &keyName)
{
    QJsonObject object{{QStringLiteral("units"), double(count.units)},
                       {QStringLiteral("first_pass"), count.units > 0 ? QJsonValue(count.firstPassShare()) : QJsonValue()},
                       {QStringLiteral("final"), count.units > 0 ? QJsonValue(count.finalShare()) : QJsonValue()}};
    if (!keyName.isEmpty())
        object.insert(keyName, count.key);
    return object;
}

QString share(double fraction)
{
    return QStringLiteral("%1 %").arg(100.0 * fraction, 0, 'f', 1);
}

QString number(double value)
{
    return QString::number(value, 'g', 6);
}

QString optionalText(const std::optional<double> &value)
{
    return value ? number(*value) : QStringLiteral("-");
}

// Columns as wide as their widest cell, two spaces apart.
QStringList table(const QVector<QStringList> &rows)
{
    QVector<int> widths;
    for (const QStringList &row : rows)
        for (int column = 0; column < row.size(); ++column) {
            if (widths.size() <= column)
                widths.append(0);
            widths[column] = std::max(widths.at(column), int(row.at(column).size()));
        }
    QStringList lines;
    for (const QStringList &row : rows) {
        QString line;
        for (int column = 0; column < row.size(); ++column)
            line += column + 1 < row.size() ? row.at(column).leftJustified(widths.at(column) + 2) : row.at(column);
        lines << line.trimmed().prepend(QStringLiteral("  "));
    }
    return lines;
}

} // namespace

// The report over what the filter selects; false with the store's error.
bool computeQualityReport(RecordStore &store, const Station::RecordFilter &filter, Station::QualityReport &report,
                          QString &error)
{
    if (store.qualityReport(filter, report))
        return true;
    error = store.error();
    return false;
}

void setQualityJson(const Station::QualityReport &quality, Report &report)
{
    report.set(QStringLiteral("runs"), double(quality.runs));
    report.set(QStringLiteral("units"), double(quality.yield.total.units));
    QJsonObject yield = yieldJson(quality.yield.total, QString());
    yield.remove(QStringLiteral("units"));
    QJsonArray byDay;
    for (const Station::YieldCount &count : quality.yield.byDay)
        byDay.append(yieldJson(count, QStringLiteral("day")));
    QJsonArray byStation;
    for (const Station::YieldCount &count : quality.yield.byStation)
        byStation.append(yieldJson(count, QStringLiteral("station")));
    yield.insert(QStringLiteral("by_day"), byDay);
    yield.insert(QStringLiteral("by_station"), byStation);
    report.set(QStringLiteral("yield"), yield);

    QJsonArray pareto;
    for (const Station::ParetoBar &bar : quality.pareto)
        pareto.append(QJsonObject{{QStringLiteral("step"), bar.step},
                                  {QStringLiteral("cause"), bar.cause.isEmpty() ? QJsonValue() : QJsonValue(bar.cause)},
                                  {QStringLiteral("count"), double(bar.count)},
                                  {QStringLiteral("share"), bar.share},
                                  {QStringLiteral("cumulative"), bar.cumulative}});
    report.set(QStringLiteral("pareto"), pareto);

    QJsonArray measurements;
    for (const Station::Capability &c : quality.measurements)
        measurements.append(QJsonObject{{QStringLiteral("step"), c.step},
                                        {QStringLiteral("name"), c.name},
                                        {QStringLiteral("n"), double(c.n)},
                                        {QStringLiteral("mean"), c.mean},
                                        {QStringLiteral("stddev"), c.n >= 2 ? QJsonValue(c.stddev) : QJsonValue()},
                                        {QStringLiteral("low"), optionalJson(c.low)},
                                        {QStringLiteral("high"), optionalJson(c.high)},
                                        {QStringLiteral("cp"), optionalJson(c.cp)},
                                        {QStringLiteral("cpk"), optionalJson(c.cpk)},
                                        {QStringLiteral("outside"), c.outside}});
    report.set(QStringLiteral("measurements"), measurements);

    // The counters' keys as zetra-cli station --json names them.
    QJsonArray line;
    for (const Station::LineHealth &health : quality.line)
        line.append(QJsonObject{{QStringLiteral("station"), health.station},
                                {QStringLiteral("port"), health.port},
                                {QStringLiteral("requests"), double(health.requests)},
                                {QStringLiteral("time_outs"), double(health.timeOuts)},
                                {QStringLiteral("bad_crc"), double(health.badCrc)},
                                {QStringLiteral("late"), double(health.late)},
                                {QStringLiteral("refused"), double(health.refused)}});
    report.set(QStringLiteral("line"), line);
}

void printQualityText(const Station::QualityReport &quality, Report &report)
{
    const Station::YieldCount &total = quality.yield.total;
    report.line(QStringLiteral("%1 runs of %2 units").arg(quality.runs).arg(total.units));
    if (total.units == 0)
        return;
    report.line(QStringLiteral("first pass yield %1, final yield %2")
                    .arg(share(total.firstPassShare()), share(total.finalShare())));
    const auto yieldRows = [](const QString &title, const QVector<Station::YieldCount> &counts) {
        QVector<QStringList> rows{{title, QStringLiteral("units"), QStringLiteral("first pass"), QStringLiteral("final")}};
        for (const Station::YieldCount &count : counts)
            rows.append({count.key, QString::number(count.units), share(count.firstPassShare()), share(count.finalShare())});
        return table(rows);
    };
    report.line(QString());
    report.line(QStringLiteral("Yield by day (UTC, of each unit's first run):"));
    for (const QString &line : yieldRows(QStringLiteral("day"), quality.yield.byDay))
        report.line(line);
    report.line(QString());
    report.line(QStringLiteral("Yield by station (of each unit's first run):"));
    for (const QString &line : yieldRows(QStringLiteral("station"), quality.yield.byStation))
        report.line(line);

    report.line(QString());
    if (quality.pareto.isEmpty()) {
        report.line(QStringLiteral("Every run passed."));
    } else {
        report.line(QStringLiteral("Runs that did not pass, by step and cause:"));
        QVector<QStringList> rows{{QStringLiteral("step"), QStringLiteral("cause"), QStringLiteral("runs"),
                                   QStringLiteral("share"), QStringLiteral("cumulative")}};
        for (const Station::ParetoBar &bar : quality.pareto)
            rows.append({bar.step.isEmpty() ? QStringLiteral("-") : bar.step,
                         bar.cause.isEmpty() ? QStringLiteral("-") : bar.cause, QString::number(bar.count),
                         share(bar.share), share(bar.cumulative)});
        for (const QString &line : table(rows))
            report.line(line);
    }

    if (!quality.measurements.isEmpty()) {
        report.line(QString());
        report.line(QStringLiteral("Measured values with limits:"));
        QVector<QStringList> rows{{QStringLiteral("step"), QStringLiteral("value"), QStringLiteral("n"),
                                   QStringLiteral("mean"), QStringLiteral("stddev"), QStringLiteral("low"),
                                   QStringLiteral("high"), QStringLiteral("Cp"), QStringLiteral("Cpk"),
                                   QStringLiteral("outside")}};
        for (const Station::Capability &c : quality.measurements)
            rows.append({c.step, c.name, QString::number(c.n), number(c.mean),
                         c.n >= 2 ? number(c.stddev) : QStringLiteral("-"), optionalText(c.low), optionalText(c.high),
                         optionalText(c.cp), optionalText(c.cpk), share(c.outside)});
        for (const QString &line : table(rows))
            report.line(line);
    }

    if (!quality.line.isEmpty()) {
        report.line(QString());
        report.line(QStringLiteral("The line at each port (per 1000 requests):"));
        QVector<QStringList> rows{{QStringLiteral("station"), QStringLiteral("port"), QStringLiteral("requests"),
                                   QStringLiteral("time-outs"), QStringLiteral("bad CRC"), QStringLiteral("late"),
                                   QStringLiteral("refused")}};
        for (const Station::LineHealth &h : quality.line)
            rows.append({h.station, h.port, QString::number(h.requests), number(h.perThousand(h.timeOuts)),
                         number(h.perThousand(h.badCrc)), number(h.perThousand(h.late)),
                         number(h.perThousand(h.refused))});
        for (const QString &line : table(rows))
            report.line(line);
    }
}

int runReport(const QCommandLineParser &parser, bool json)
{
    Report report(QStringLiteral("report"), json);
    const auto bad = [&report](const QString &error) {
        return report.finish(Exit::BadInput, QStringLiteral("report: %1").arg(error));
    };
    Station::RecordFilter filter;
    QString error;
    if (!RecordsFilter::fromCommandLine(parser, filter, error))
        return bad(error);

    const RecordsFilter::Location location = RecordsFilter::locationFrom(parser);
    report.set(QStringLiteral("records"), location.shown);
    if (!location.server && !QFileInfo::exists(location.path))
        return bad(QStringLiteral("%1: no such record file").arg(location.path));
    RecordStore::Options options;
    options.sendAtOpen = false;     // a report reads; it leaves what waits where it is
    const std::unique_ptr<RecordStore> store = RecordStore::open(location.path, options, error);
    if (!store)
        return bad(error);
    Station::QualityReport quality;
    if (!computeQualityReport(*store, filter, quality, error))
        return bad(error);
    if (!store->notice().isEmpty())
        Report::message(store->notice());
    if (json)
        setQualityJson(quality, report);
    else
        printQualityText(quality, report);
    return report.finish(Exit::Done);
}
