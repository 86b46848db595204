// A quality report's numbers, each from an SQL aggregate over the runs the
// filter selects: the store hands back counts, sums and bins, never the runs,
// so the report costs a few scans whatever the count. Runs still running
// have no outcome yet and are left out.
#include "sqlrecordstore.h"

#include "qualityreport.h"
#include "sqlrecordstore_columns.h"

#include <QHash>
#include <QSet>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>

namespace {

using namespace RecordColumns;
using Station::Outcome;

QString textOf(const QVariant &value)
{
    return value.isNull() ? QString() : value.toString();
}

std::optional<double> numberOf(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional<double>(value.toDouble());
}

// What a limited quantity is grouped by: its step's kind, its name, its limits.
struct QuantityKey
{
    QString step;
    QString name;
    std::optional<double> low;
    std::optional<double> high;
    };

QuantityKey keyFrom(const QSqlQuery &row, int first)
{
    return {textOf(row.value(first)), textOf(row.value(first + 1)), numberOf(row.value(first + 2)),
            numberOf(row.value(first + 3))};
}

// The key as one text, to look a quantity up by.
QString keyText(const QuantityKey &key)
{
    const auto limit = [](const std::optional<double> &value) {
        return value ? QString::number(*value, 'g', 17) : QStringLiteral("-");
    };
    return key.step + QChar(0x1f) + key.name + QChar(0x1f) + limit(key.low) + QChar(0x1f) + limit(key.high);
}

// The histogram's range: the limits and every value inside it; one metre
// (or whatever unit) wide around a single value.
void histogramRange(const Station::Capability &capability, double least, double most, double &from, double &to)
{
    from = capability.low ? std::min(*capability.low, least) : least;
    to = capability.high ? std::max(*capability.high, most) : most;
    if (!(to > from)) {
        from -= 0.5;
        to += 0.5;
    }
}

} // namespace

bool SqlRecordStore::qualityReport(const Station::RecordFilter &filter, Station::QualityReport &report)
{
    lastError.clear();
    report = Station::QualityReport();
    report.filter = filter;
    report.made = QDateTime::currentDateTimeUtc();

    // The runs' own columns: the filter, and no run still running.
    QString where = QStringLiteral(" AND outcome <> ?");
    QVariantList values{Station::outcomeName(Outcome::Running)};
    whereFor(filter, where, values);
    const QString selected = QStringLiteral("SELECT %2 FROM runs WHERE 1 = 1") + where;

    // One snapshot for every query, so the numbers agree with each other
    // while stations go on writing.
    QSqlQuery begin(db);
    if (!run(begin, QStringLiteral("starting the report"),
             isFile ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")))
        return false;
    const bool ok = reportYield(selected, values, report) && reportPareto(selected, values, report)
                    && reportCapability(selected, values, report) && reportLine(selected, values, report);
    QSqlQuery end(db);
    end.exec(QStringLiteral("ROLLBACK"));
    return ok;
}

// Each unit once, by serial: its runs numbered in order (started, then id),
// its first run's day, station and outcome and its latest run's outcome, then
// counted by day and station.
bool SqlRecordStore::reportYield(const QString &selected, const QVariantList &values, Station::QualityReport &report)
{
    const QString pass = Station::outcomeName(Outcome::Pass);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
                      "SELECT day, station, COUNT(*), SUM(first_pass), SUM(final_pass), SUM(runs) FROM ("
                      " SELECT serial,"
                      "  MAX(CASE WHEN n = 1 THEN SUBSTR(started, 1, 10) END) AS day,"
                      "  MAX(CASE WHEN n = 1 THEN station END) AS station,"
                      "  MAX(CASE WHEN n = 1 AND outcome = '%1' THEN 1 ELSE 0 END) AS first_pass,"
                      "  MAX(CASE WHEN n = runs AND outcome = '%1' THEN 1 ELSE 0 END) AS final_pass,"
                      "  MAX(runs) AS runs"
                      " FROM (%2) numbered GROUP BY serial) units"
                      " GROUP BY day, station")
                      .arg(pass,
                           selected.arg(QStringLiteral(
                               "serial, station, started, outcome,"
                               " ROW_NUMBER() OVER (PARTITION BY serial ORDER BY started, id) AS n,"
                               " COUNT(*) OVER (PARTITION BY serial) AS runs"))));
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!run(query, QStringLiteral("counting the units that pass")))
        return false;
    QMap<QString, Station::YieldCount> byDay;
    QMap<QString, Station::YieldCount> byStation;
    const auto add = [](Station::YieldCount &into, qint64 units, qint64 first, qint64 last) {
        into.units += units;
        into.firstPass += first;
        into.finalPass += last;
    };
    while (query.next()) {
        const QString day = textOf(query.value(0));
        const QString station = textOf(query.value(1));
        const qint64 units = query.value(2).toLongLong();
        const qint64 first = query.value(3).toLongLong();
        const qint64 last = query.value(4).toLongLong();
        add(report.yield.total, units, first, last);
        add(byDay[day], units, first, last);
        add(byStation[station], units, first, last);
        report.runs += query.value(5).toLongLong();
    }
    for (auto it = byDay.begin(); it != byDay.end(); ++it) {
        it->key = it.key();
        report.yield.byDay.append(*it);
    }
    for (auto it = byStation.begin(); it != byStation.end(); ++it) {
        it->key = it.key();
        report.yield.byStation.append(*it);
    }
    return true;
}

// Runs that did not pass by the step they stopped at and their cause.
bool SqlRecordStore::reportPareto(const QString &selected, const QVariantList &values, Station::QualityReport &report)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT failed_step, cause_code, COUNT(*) FROM (%1) failed"
                                 " GROUP BY failed_step, cause_code")
                      .arg(selected.arg(QStringLiteral("failed_step, cause_code"))
                           + QStringLiteral(" AND outcome IN (?, ?, ?)")));
    for (const QVariant &value : values)
        query.addBindValue(value);
    for (Outcome outcome : {Outcome::Fail, Outcome::Error, Outcome::Interrupted})
        query.addBindValue(Station::outcomeName(outcome));
    if (!run(query, QStringLiteral("counting the runs that did not pass")))
        return false;
    qint64 total = 0;
    while (query.next()) {
        Station::ParetoBar bar;
        bar.step = textOf(query.value(0));
        bar.cause = textOf(query.value(1));
        bar.count = query.value(2).toLongLong();
        total += bar.count;
        report.pareto.append(bar);
    }
    std::sort(report.pareto.begin(), report.pareto.end(), [](const Station::ParetoBar &a, const Station::ParetoBar &b) {
        if (a.count != b.count)
            return a.count > b.count;
        return a.step != b.step ? a.step < b.step : a.cause < b.cause;
    });
    qint64 sofar = 0;
    for (Station::ParetoBar &bar : report.pareto) {
        sofar += bar.count;
        bar.share = double(bar.count) / double(total);
        bar.cumulative = double(sofar) / double(total);
    }
    return true;
}

// Every measured value with a limit, of the selected runs, grouped by its
// step's kind, its name and its limits. Sums are taken around the limits'
// middle (or the one limit), so that the squares of values far from zero
// with a small spread keep their digits; the histogram's bins over the
// limits and the data in the same statement; the newest values by reading
// the newest runs a batch at a time until each quantity has its trend.
bool SqlRecordStore::reportCapability(const QString &selected, const QVariantList &values,
                                      Station::QualityReport &report)
{
    using Report = Station::QualityReport;
    const QString limited = QStringLiteral(
        "SELECT s.kind, m.name, m.low, m.high, m.value, m.value - COALESCE((m.low + m.high) / 2, m.low, m.high) AS d"
        " FROM measurements m"
        " JOIN steps s ON s.run_id = m.run_id AND s.step_index = m.step_index"
        " JOIN (%1) r ON r.id = m.run_id"
        " WHERE m.value IS NOT NULL AND (m.low IS NOT NULL OR m.high IS NOT NULL)")
                                .arg(selected.arg(QStringLiteral("id")));
    const QString sameLimit = isFile ? QStringLiteral("v.%1 IS g.%1") : QStringLiteral("v.%1 IS NOT DISTINCT FROM g.%1");
    // The range's ends as histogramRange() takes them, in SQL.
    const QString from = QStringLiteral("CASE WHEN low IS NOT NULL AND low < MIN(value) THEN low ELSE MIN(value) END");
    const QString to = QStringLiteral("CASE WHEN high IS NOT NULL AND high > MAX(value) THEN high ELSE MAX(value) END");
    const QString bin = (isFile ? QStringLiteral("CAST(%1 AS INTEGER)") : QStringLiteral("FLOOR(%1)"))
                            .arg(QStringLiteral("(v.value - g.lo) / g.width"));
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
                      "WITH v AS (%1),"
                      " g AS (SELECT kind, name, low, high, COUNT(*) AS n, SUM(d) AS sd, SUM(d * d) AS sdd,"
                      "  MIN(value) AS least, MAX(value) AS most,"
                      "  SUM(CASE WHEN value < low OR value > high THEN 1 ELSE 0 END) AS outside,"
                      "  CASE WHEN %3 > %2 THEN %2 ELSE %2 - 0.5 END AS lo,"
                      "  CASE WHEN %3 > %2 THEN (%3 - %2) / %4 ELSE 1.0 / %4 END AS width"
                      "  FROM v GROUP BY kind, name, low, high)"
                      " SELECT g.kind, g.name, g.low, g.high, g.n, g.sd, g.sdd, g.least, g.most, g.outside, %5, COUNT(*)"
                      " FROM v JOIN g ON v.kind = g.kind AND v.name = g.name AND %6 AND %7"
                      " GROUP BY g.kind, g.name, g.low, g.high, g.n, g.sd, g.sdd, g.least, g.most, g.outside, %5")
                      .arg(limited, from, to, QString::number(Report::kHistogramBins), bin, sameLimit.arg("low"),
                           sameLimit.arg("high")));
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!run(query, QStringLiteral("summing the measured values")))
        return false;
    QHash<QString, int> indexOf;
    while (query.next()) {
        const QuantityKey key = keyFrom(query, 0);
        int index = indexOf.value(keyText(key), -1);
        if (index < 0) {
            index = report.measurements.size();
            indexOf.insert(keyText(key), index);
            Station::Capability capability;
            capability.step = key.step;
            capability.name = key.name;
            capability.low = key.low;
            capability.high = key.high;
            capability.n = query.value(4).toLongLong();
            const double n = double(capability.n);
            const double sum = query.value(5).toDouble();
            const double squares = query.value(6).toDouble();
            const double shift = capability.low && capability.high ? (*capability.low + *capability.high) / 2
                                                                   : capability.low.value_or(capability.high.value_or(0));
            capability.mean = shift + sum / n;
            if (capability.n >= 2)
                capability.stddev = std::sqrt(std::max(0.0, (squares - sum * sum / n) / (n - 1)));
            const double sigma = capability.stddev;
            if (capability.n >= 2 && sigma > 0) {
                if (capability.low && capability.high)
                    capability.cp = (*capability.high - *capability.low) / (6 * sigma);
                std::optional<double> cpk;
                if (capability.high)
                    cpk = (*capability.high - capability.mean) / (3 * sigma);
                if (capability.low) {
                    const double below = (capability.mean - *capability.low) / (3 * sigma);
                    cpk = cpk ? std::min(*cpk, below) : below;
                }
                capability.cpk = cpk;
            }
            capability.outside = double(query.value(9).toLongLong()) / n;
            histogramRange(capability, query.value(7).toDouble(), query.value(8).toDouble(), capability.histogramLow,
                           capability.histogramHigh);
            capability.histogram = QVector<double>(Report::kHistogramBins, 0.0);
            report.measurements.append(capability);
        }
        // The top of the range falls in the last bin.
        const int slot = std::clamp(query.value(10).toInt(), 0, Report::kHistogramBins - 1);
        report.measurements[index].histogram[slot] += query.value(11).toDouble();
    }
    query.finish();
    if (!reportTrends(selected, values, indexOf, report))
        return false;
    std::sort(report.measurements.begin(), report.measurements.end(),
              [](const Station::Capability &a, const Station::Capability &b) {
                  if (a.step != b.step)
                      return a.step < b.step;
                  if (a.name != b.name)
                      return a.name < b.name;
                  if (a.low != b.low)
                      return a.low < b.low;
                  return a.high < b.high;
              });
    return true;
}

// The newest values of each quantity: the newest runs a batch at a time,
// each batch after the last by (started, id), until every quantity has its
// points or the runs end.
bool SqlRecordStore::reportTrends(const QString &selected, const QVariantList &values,
                                  const QHash<QString, int> &indexOf, Station::QualityReport &report)
{
    using Report = Station::QualityReport;
    constexpr int kRunsPerBatch = 5000;
    int wanting = 0;
    for (const Station::Capability &capability : qAsConst(report.measurements))
        if (capability.n > 0)
            ++wanting;
    QVariant lastStarted;
    qint64 lastId = 0;
    bool first = true;
    while (wanting > 0) {
        QString runs = selected.arg(QStringLiteral("id, started"));
        QVariantList bound = values;
        if (!first) {
            runs += QStringLiteral(" AND started <= ? AND (started < ? OR id < ?)");
            bound << lastStarted << lastStarted << lastId;
        }
        first = false;
        runs += QStringLiteral(" ORDER BY started DESC, id DESC LIMIT %1").arg(kRunsPerBatch);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT r.id, r.started, s.kind, m.name, m.low, m.high, m.value FROM (%1) r"
                                     " LEFT JOIN measurements m ON m.run_id = r.id AND m.value IS NOT NULL"
                                     "  AND (m.low IS NOT NULL OR m.high IS NOT NULL)"
                                     " LEFT JOIN steps s ON s.run_id = m.run_id AND s.step_index = m.step_index"
                                     " ORDER BY r.started DESC, r.id DESC")
                          .arg(runs));
        for (const QVariant &value : qAsConst(bound))
            query.addBindValue(value);
        if (!run(query, QStringLiteral("reading the newest measured values")))
            return false;
        QSet<qint64> seen;
        while (query.next()) {
            const qint64 id = query.value(0).toLongLong();
            seen.insert(id);
            lastId = id;
            lastStarted = query.value(1);
            if (query.value(6).isNull())
                continue;
            const int index = indexOf.value(keyText(keyFrom(query, 2)), -1);
            if (index < 0)
                continue;
            Station::Capability &capability = report.measurements[index];
            if (capability.trend.size() >= Report::kTrendPoints)
                continue;
            Station::TrendPoint point;
            point.runId = id;
            point.started = QDateTime::fromString(query.value(1).toString(), Qt::ISODateWithMs).toUTC();
            point.value = query.value(6).toDouble();
            capability.trend.append(point);
            if (capability.trend.size() == Report::kTrendPoints || capability.trend.size() == capability.n)
                --wanting;
        }
        if (seen.size() < kRunsPerBatch)
            break;
    }
    for (Station::Capability &capability : report.measurements)
        std::reverse(capability.trend.begin(), capability.trend.end());
    return true;
}

// Each station's ports: what their lines did, summed over the runs that kept it.
bool SqlRecordStore::reportLine(const QString &selected, const QVariantList &values, Station::QualityReport &report)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT station, port, SUM(line_requests), SUM(line_time_outs), SUM(line_bad_crc),"
                                 " SUM(line_late), SUM(line_refused) FROM (%1) lines"
                                 " GROUP BY station, port ORDER BY station, port")
                      .arg(selected.arg(QStringLiteral("station, port, line_requests, line_time_outs, line_bad_crc,"
                                                       " line_late, line_refused"))
                           + QStringLiteral(" AND line_requests IS NOT NULL")));
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!run(query, QStringLiteral("summing the line counters")))
        return false;
    while (query.next()) {
        Station::LineHealth health;
        health.station = textOf(query.value(0));
        health.port = textOf(query.value(1));
        health.requests = query.value(2).toLongLong();
        health.timeOuts = query.value(3).toLongLong();
        health.badCrc = query.value(4).toLongLong();
        health.late = query.value(5).toLongLong();
        health.refused = query.value(6).toLongLong();
        report.line.append(health);
    }
    return true;
}
