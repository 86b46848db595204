// zetra-cli records: what the production station recorded, read from its
// store, a file or a server; --sync sends a server what waits for it in the
// station's own file, --prune takes out of that file what the server holds.
// It never touches the line, so it runs without a port.
#include "command.h"
#include "runcsv.h"
#include "recordstore.h"
#include "report.h"
#include "recordsfilter.h"
#include "runjson.h"
#include "wording.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QtConcurrent>

namespace {

using Station::Outcome;

// For the person at the terminal: their own clock, to the second.
QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("-");
}

QString number(double value)
{
    return QString::number(value, 'g', 9);
}

QString why(const Station::RunRecord &run)
{
    QString reason = Wording::cause(run.cause);
    if (run.failedStep.isEmpty())
        return reason;
    return reason.isEmpty() ? run.failedStep : QStringLiteral("%1: %2").arg(run.failedStep, reason);
}

// "mean 4.99 [4.95, 5.05]", "missed 0", or the entry as JSON when it is not
// a number with limits.
QString measuredText(const QString &name, const QJsonValue &entry)
{
    const QJsonObject object = entry.toObject();
    if (entry.isObject() && object.value(QLatin1String("value")).isDouble()) {
        QString text = name + QLatin1Char(' ') + number(object.value(QLatin1String("value")).toDouble());
        const QJsonValue low = object.value(QLatin1String("low"));
        const QJsonValue high = object.value(QLatin1String("high"));
        if (low.isDouble() && high.isDouble())
            text += QStringLiteral(" [%1, %2]").arg(number(low.toDouble()), number(high.toDouble()));
        else if (low.isDouble())
            text += QStringLiteral(" [>= %1]").arg(number(low.toDouble()));
        else if (high.isDouble())
            text += QStringLiteral(" [<= %1]").arg(number(high.toDouble()));
        return text;
    }
    const QByteArray json = QJsonDocument(QJsonArray{entry}).toJson(QJsonDocument::Compact);
    return name + QLatin1Char(' ') + QString::fromUtf8(json.mid(1, json.size() - 2));
}

QVector<int> widthsOf(const QVector<QStringList> &rows)
{
    QVector<int> widths;
    for (const QStringList &row : rows)
        for (int column = 0; column < row.size(); ++column) {
            if (widths.size() <= column)
                widths.append(0);
            widths[column] = std::max(widths.at(column), int(row.at(column).size()));
        }
    return widths;
}

// Each cell padded to its column's width and two spaces, the last as it is.
QString rowText(const QStringList &row, const QVector<int> &widths)
{
    QString line;
    for (int column = 0; column < row.size(); ++column)
        line += column + 1 < row.size() ? row.at(column).leftJustified(widths.value(column) + 2) : row.at(column);
    while (line.endsWith(QLatin1Char(' ')))
        line.chop(1);
    return line;
}

// Columns as wide as their widest cell, two spaces apart.
QStringList table(const QVector<QStringList> &rows)
{
    const QVector<int> widths = widthsOf(rows);
    QStringList lines;
    for (const QStringList &row : rows)
        lines << rowText(row, widths);
    return lines;
}

// A table too long to hold, printed as it comes: its columns as wide as the
// widest cell of its first rows (all of them, for a short one); a later
// cell wider than its column only pushes its own line along.
class TableStream
{
public:
    explicit TableStream(Report &report)
        : report(report)
    {
    }
    void add(const QStringList &row)
    {
        if (!widths.isEmpty()) {
            report.line(rowText(row, widths));
            return;
        }
        rows.append(row);
        if (rows.size() == kSampled)
            flush();
    }
    void flush()
    {
        if (rows.isEmpty())
            return;
        widths = widthsOf(rows);
        for (const QStringList &row : qAsConst(rows))
            report.line(rowText(row, widths));
        rows.clear();
    }

private:
    static constexpr int kSampled = 1000;
    Report &report;
    QVector<QStringList> rows;
    QVector<int> widths;
};

QStringList listingHead()
{
    return {QStringLiteral("run"),    QStringLiteral("started"), QStringLiteral("serial"),
            QStringLiteral("outcome"), QStringLiteral("recipe"), QStringLiteral("station"),
            QStringLiteral("operator"), QStringLiteral("port"),  QStringLiteral("why")};
}

QStringList listingRow(const Station::RunRecord &run)
{
    return {QString::number(run.id), timeText(run.header.started), run.header.serial,
            Station::outcomeName(run.outcome), run.header.recipeName, run.header.station,
            run.header.operatorName, run.header.port, why(run)};
}

// One unit's whole history: each run with its steps, what they measured
// against their limits, and the parameters it came with and left with.
QStringList history(const QVector<Station::RunRecord> &runs)
{
    QStringList lines;
    for (const Station::RunRecord &run : runs) {
        if (!lines.isEmpty())
            lines << QString();
        QString title = QStringLiteral("run %1  %2  %3 to %4")
                            .arg(run.id)
                            .arg(Station::outcomeName(run.outcome), timeText(run.header.started), timeText(run.ended));
        if (!why(run).isEmpty())
            title += QStringLiteral("  (%1)").arg(why(run));
        lines << title;
        lines << QStringLiteral("  unit %1 at station %2, operator %3, port %4")
                     .arg(run.header.serial, run.header.station, run.header.operatorName, run.header.port);
        lines << QStringLiteral("  recipe %1 (sha256 %2), program %3")
                     .arg(run.header.recipeName, run.header.recipeHash, run.header.programVersion);
        lines << QStringLiteral("  revision %1 -> %2")
                     .arg(run.header.revisionBefore,
                          run.revisionAfter.isEmpty() ? QStringLiteral("-") : run.revisionAfter);
        QVector<QStringList> steps;
        for (const Station::StepRecord &step : run.steps) {
            QStringList measured;
            for (auto it = step.measured.begin(); it != step.measured.end(); ++it)
                measured << measuredText(it.key(), it.value());
            QString detail = measured.join(QStringLiteral(", "));
            const QString reason = Wording::cause(step.cause);
            if (!reason.isEmpty())
                detail += (detail.isEmpty() ? QString() : QStringLiteral("; ")) + reason;
            const QString seconds = step.started.isValid() && step.ended.isValid()
                                        ? QStringLiteral("%1 s").arg(step.started.msecsTo(step.ended) / 1000.0, 0, 'f', 1)
                                        : QStringLiteral("-");
            steps.append({QStringLiteral("    %1").arg(step.index), step.kind, Station::outcomeName(step.outcome),
                          seconds, detail});
        }
        if (!steps.isEmpty()) {
            lines << QStringLiteral("  steps:");
            lines << table(steps);
        }
        QStringList names = run.parametersBefore.keys() + run.parametersAfter.keys();
        names.removeDuplicates();
        names.sort();
        if (!names.isEmpty()) {
            lines << QStringLiteral("  parameters (before -> after):");
            QVector<QStringList> rows;
            for (const QString &name : names) {
                const auto value = [&name](const QMap<QString, double> &values) {
                    return values.contains(name) ? number(values.value(name)) : QStringLiteral("-");
                };
                const bool changed = value(run.parametersBefore) != value(run.parametersAfter);
                rows.append({QStringLiteral("    ") + name, value(run.parametersBefore), QStringLiteral("->"),
                             value(run.parametersAfter), changed ? QStringLiteral("*") : QString()});
            }
            lines << table(rows);
        }
    }
    return lines;
}

} // namespace

namespace {

// One line a run, as the listing: for a spreadsheet of a batch; the file
// appears whole once the last run is in, or not at all.
bool writeCsvLine(Station::CsvFile *csv, const Station::RunRecord &run)
{
    return !csv || csv->write(Station::runCsvFields(run, Wording::cause(run.cause)));
}

// Runs as JSON, each page written out while the next is read: a run's JSON
// costs about as much as reading it, and a second core does it meanwhile.
class JsonPages
{
public:
    explicit JsonPages(Report &report)
        : report(report)
    {
    }
    ~JsonPages() { finish(); }
    void add(const Station::RunRecord &run)
    {
        page.append(run);
        if (page.size() == kPageSize)
            handOver();
    }
    // Writes what is left; the items are in the report when it returns.
    void finish()
    {
        handOver();
        writeFormatted();
    }

private:
    void handOver()
    {
        writeFormatted();
        if (page.isEmpty())
            return;
        formatting = QtConcurrent::run([runs = std::move(page)] {
            QVector<QByteArray> texts;
            texts.reserve(runs.size());
            for (const Station::RunRecord &run : runs)
                texts.append(QJsonDocument(RunJson::run(run)).toJson(QJsonDocument::Compact));
            return texts;
        });
        pending = true;
        page = QVector<Station::RunRecord>();
    }
    void writeFormatted()
    {
        if (!pending)
            return;
        pending = false;
        for (const QByteArray &text : formatting.result())
            report.itemText(text);
    }

    static constexpr int kPageSize = 200;
    Report &report;
    QVector<Station::RunRecord> page;
    QFuture<QVector<QByteArray>> formatting;
    bool pending = false;
};

// One unit's history: its runs are few, and read whole.
int listUnit(Report &report, RecordStore &store, const Station::RecordFilter &filter, Station::CsvFile *csv)
{
    const QVector<Station::RunRecord> runs = store.runs(filter);
    if (!store.error().isEmpty())
        return report.finish(Exit::BadInput, QStringLiteral("records: %1").arg(store.error()));
    QJsonArray array;
    for (const Station::RunRecord &run : runs) {
        array.append(RunJson::run(run));
        writeCsvLine(csv, run);
    }
    QString error;
    if (csv && !csv->commit(error))
        return report.finish(Exit::BadInput, QStringLiteral("records: cannot write %1: %2").arg(csv->path(), error));
    report.set(QStringLiteral("runs"), array);
    for (const QString &line : history(runs))
        report.line(line);
    return report.finish(Exit::Done);
}

// The runs the filter selects, written as they are read: a listing, the
// JSON's runs and the CSV's lines, whatever their count, in flat memory.
int listRuns(Report &report, RecordStore &store, const Station::RecordFilter &filter, const QString &csvPath)
{
    std::unique_ptr<Station::CsvFile> csv;
    QString error;
    if (!csvPath.isEmpty()) {
        csv = std::make_unique<Station::CsvFile>(csvPath, Station::runCsvColumns());
        if (!csv->open(error))
            return report.finish(Exit::BadInput, QStringLiteral("records: cannot write %1: %2").arg(csvPath, error));
    }
    if (!filter.serial.isEmpty())
        return listUnit(report, store, filter, csv.get());

    const bool json = report.json();
    report.beginList(QStringLiteral("runs"));
    TableStream table(report);
    JsonPages pages(report);
    bool any = false;
    const bool read = store.forEachRun(
        filter, json ? RecordStore::RunParts::Whole : RecordStore::RunParts::Summary,
        [&](const Station::RunRecord &run) {
            if (json) {
                pages.add(run);
            } else {
                if (!any)
                    table.add(listingHead());
                table.add(listingRow(run));
            }
            any = true;
            return writeCsvLine(csv.get(), run);
        });
    table.flush();
    pages.finish();
    if (!read)
        return report.finish(Exit::BadInput, QStringLiteral("records: %1").arg(store.error()));
    if (csv && !csv->commit(error))
        return report.finish(Exit::BadInput, QStringLiteral("records: cannot write %1: %2").arg(csvPath, error));
    if (!store.notice().isEmpty())
        Report::message(store.notice());
    return report.finish(Exit::Done);
}

// No record file yet: an empty listing, and an empty CSV if one was asked for.
int listNothing(Report &report, const QString &csvPath)
{
    QString error;
    Station::CsvFile csv(csvPath, Station::runCsvColumns());
    if (!csvPath.isEmpty() && !(csv.open(error) && csv.commit(error)))
        return report.finish(Exit::BadInput, QStringLiteral("records: cannot write %1: %2").arg(csvPath, error));
    report.set(QStringLiteral("runs"), QJsonArray());
    return report.finish(Exit::Done);
}

} // namespace

QList<QCommandLineOption> recordsOptions()
{
    return QList<QCommandLineOption>{QCommandLineOption(QStringLiteral("records"),
                               // Not the path itself: the manual page is made from this text.
                               QStringLiteral("The station's record file (default: ZETRA/records.sqlite in the "
                                              "user's data folder, ~/.local/share on Linux), or a server shared "
                                              "by several stations: postgresql://user@host/database."),
                               QStringLiteral("DB")),
            QCommandLineOption(QStringLiteral("serial"), QStringLiteral("records: one unit's whole history."),
                               QStringLiteral("S")),
            QCommandLineOption(QStringLiteral("sync"),
                               QStringLiteral("records: send the server given by --records the runs kept in this "
                                              "station's file while it was away, in batches of 200 runs "
                                              "(ZETRA_SYNC_BATCH sets another size); 'sent N of M runs' on "
                                              "stderr after each.")),
            QCommandLineOption(QStringLiteral("prune"),
                               QStringLiteral("records: remove from this station's file the ended runs started "
                                              "before --before that the server given by --records holds, checked "
                                              "there by their UUIDs, then give the space back. Runs the server "
                                              "lacks (unsent, kept only in the file, gone from it) stay; nothing "
                                              "on the server is touched.")),
            QCommandLineOption(QStringLiteral("before"),
                               QStringLiteral("records --prune: runs started before this day or moment (ISO "
                                              "8601, as --since)."),
                               QStringLiteral("DATE"))}
           + RecordsFilter::options();
}

namespace {

// Sends what waits; exits 0 only when the server has every run.
int syncRecords(Report &report, RecordStore &store)
{
    const bool done = store.sync([](int sent, int total) {
        Report::message(QStringLiteral("sent %1 of %2 runs").arg(sent).arg(total));
    });
    report.set(QStringLiteral("sent"), store.runsSent());
    report.set(QStringLiteral("waiting"), store.runsWaiting());
    report.line(QStringLiteral("%1 runs sent, %2 waiting").arg(store.runsSent()).arg(store.runsWaiting()));
    if (done)
        return report.finish(Exit::Done);
    const QString why = store.notice().isEmpty() ? store.error() : store.notice();
    return report.finish(Exit::Communication, QStringLiteral("records: %1").arg(why));
}

// Removes from the station's file what the server holds; exit 2 when the
// server could not be asked (what was removed before it went stays removed).
int pruneRecords(Report &report, RecordStore &store, const QDateTime &before)
{
    RecordStore::PruneResult result;
    const bool done = store.prune(before, result);
    report.set(QStringLiteral("removed"), result.removed);
    report.set(QStringLiteral("kept"), result.kept);
    report.line(QStringLiteral("%1 runs removed from %2").arg(result.removed).arg(store.stationFile()));
    if (result.kept > 0)
        report.line(QStringLiteral("%1 runs started before %2 kept: the server does not hold them (unsent, kept "
                                   "only in this file, or gone from the server)")
                        .arg(result.kept)
                        .arg(before.toString(Qt::ISODate)));
    if (!result.spaceNotFreed.isEmpty())
        Report::message(QStringLiteral("the runs are removed, but the file's space was not given back (another "
                                       "process holds it busy?): %1")
                            .arg(result.spaceNotFreed));
    if (done)
        return report.finish(Exit::Done);
    const bool serverAway = !store.serverAway().isEmpty();
    return report.finish(serverAway ? Exit::Communication : Exit::BadInput,
                         QStringLiteral("records: %1").arg(store.error()));
}

} // namespace

int runRecords(const QCommandLineParser &parser, bool json)
{
    Report report(QStringLiteral("records"), json);
    const auto bad = [&report](const QString &error) {
        return report.finish(Exit::BadInput, QStringLiteral("records: %1").arg(error));
    };
    Station::RecordFilter filter;
    QString error;
    if (!RecordsFilter::fromCommandLine(parser, filter, error))
        return bad(error);
    const QString csv = parser.value(QStringLiteral("csv"));
    if (!csv.isEmpty() && !checkOutputFile(csv, error))
        return bad(QStringLiteral("--csv: %1").arg(error));

    const RecordsFilter::Location location = RecordsFilter::locationFrom(parser);
    const QString &path = location.path;
    const bool chosen = location.chosen;
    const bool server = location.server;
    const bool syncing = parser.isSet(QStringLiteral("sync"));
    const bool pruning = parser.isSet(QStringLiteral("prune"));
    if (syncing && pruning)
        return bad(QStringLiteral("--sync and --prune are run one at a time"));
    if (syncing && !server)
        return bad(QStringLiteral("--sync sends a server what waits for it: name it, "
                                  "--records postgresql://user@host/database"));
    // A file alone cannot vouch that a run is kept anywhere else.
    if (pruning && !server)
        return bad(QStringLiteral("--prune removes from the station's file only the runs a record server holds: "
                                  "name it, --records postgresql://user@host/database"));
    QDateTime before;
    if (pruning && !parser.isSet(QStringLiteral("before")))
        return bad(QStringLiteral("--prune needs --before DATE: the runs started before it may go"));
    if (parser.isSet(QStringLiteral("before")) && !pruning)
        return bad(QStringLiteral("--before goes with --prune"));
    if (pruning && !RecordsFilter::parseDate(parser.value(QStringLiteral("before")), before))
        return bad(QStringLiteral("--before '%1' is not a date (2024-03-05) or moment (2024-03-05T14:30:00)")
                       .arg(parser.value(QStringLiteral("before"))));
    if (syncing || pruning)
        for (const char *filtering : {"serial", "since", "until", "outcome", "cause", "station", "recipe",
                                      "recipe-hash", "operator", "csv"})
            if (parser.isSet(QLatin1String(filtering)))
                return bad(QStringLiteral("--%1 reads no runs: no --%2")
                               .arg(QLatin1String(syncing ? "sync" : "prune"), QLatin1String(filtering)));
    report.set(QStringLiteral("records"), location.shown);
    std::unique_ptr<RecordStore> store;
    if (server || QFileInfo::exists(path)) {
        // With a server the station's own file is opened too: what waits in
        // it goes now, or with --sync's progress; --prune leaves it alone.
        RecordStore::Options options;
        options.sendAtOpen = !syncing && !pruning;
        store = RecordStore::open(path, options, error);
        if (!store)
            return bad(error);
        if (syncing)
            return syncRecords(report, *store);
        if (pruning)
            return pruneRecords(report, *store, before);
    } else if (chosen) {
        // A file named on the command line that is not there is a mistake;
        // none at the default place is a station that has not run yet.
        return bad(QStringLiteral("%1: no such record file").arg(path));
    } else {
        Report::message(QStringLiteral("no runs recorded yet (%1 does not exist)").arg(path));
    }
    return store ? listRuns(report, *store, filter, csv) : listNothing(report, csv);
}
