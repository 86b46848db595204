// zetra-cli: the altimeter's settings, checks and firmware from a script.
// Parses the command line, checks the command's input, then runs it over
// the same device object the window uses.
#include "command.h"
#include "deviceparameters.h"
#include "devicesession.h"
#include "linetrace.h"
#include "report.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const char *const kDescription =
    "Configures, checks and flashes the ZETRA radar altimeter from scripts,\n"
    "over the same Modbus RTU line as the configurator window.\n"
    "\n"
    "Commands:\n"
    "%1"
    "  station RECIPE --port P --serial S [--port P --serial S ...] [--records DB]\n"
    "          [--station NAME] [--operator NAME]\n"
    "                        the recipe on every unit at once, each port in its own\n"
    "                        thread; one line per unit as it ends (pass, fail, error,\n"
    "                        interrupted), then a summary; every run is recorded\n"
    "\n"
    "Parameters (names for get and set, keys of the backup file):\n"
    "  %2\n"
    "Unsigned ones take a whole number 0..65535; the coefficients take a float.\n"
    "\n"
    "Values go to stdout, messages and flash progress to stderr. With --json the\n"
    "result is one JSON object on stdout, with \"ok\", \"exit\" and \"error\".\n"
    "CSV files have a header line, ';' between fields and '.' as decimal point:\n"
    "measure writes time_s;distance_m;period, raw index;value (index;i;q for the\n"
    "interleaved type 2). Raw types: 0 ADC I, 1 ADC Q, 2 ADC I/Q, 3 spectrum,\n"
    "4 integrator.\n"
    "\n"
    "With --trace every frame on the line goes to stderr as it passes, one a\n"
    "line: milliseconds since the start, tx or rx (-- for a time-out or a lost\n"
    "port), the bytes in hex and their meaning, an answer's round-trip in\n"
    "brackets; at the end one 'line:' summary of the counters. --trace-file\n"
    "PATH writes the same to a file. --json results carry the counters as\n"
    "\"line\".\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  usage or bad input (unknown name, value the register cannot hold,\n"
    "     unreadable or malformed file, image that fails its check): nothing sent\n"
    "  2  communication failure: port cannot be opened, no answer, refusal,\n"
    "     lost port\n"
    "  3  the device says faulty (selftest), a value did not read back as\n"
    "     written, or a firmware update step failed on the device\n"
    "  station: 1 for a bad recipe or usage (nothing sent); else 2 when any unit\n"
    "     ended in error, else 3 when any failed, else 0\n"
    "  128+N  stopped by signal N (Ctrl-C: 130, SIGTERM: 143). During flash\n"
    "         the update stops before its next block and is reported as\n"
    "         interrupted.";

QString commandList()
{
    QString text;
    for (const CommandInfo &info : commands())
        text += QStringLiteral("  %1\n").arg(QString::fromLatin1(info.synopsis));
    return text;
}

QString parameterList()
{
    QStringList names;
    for (const DeviceParameters::Parameter &parameter : DeviceParameters::all())
        names << QString::fromLatin1(parameter.name);
    return names.join(QStringLiteral(", "));
}

int badInput(const QString &command, bool json, const QString &error)
{
    Report report(command, json);
    return report.finish(Exit::BadInput, error);
}

int usageError(const QString &command, bool json, const QString &error)
{
    return badInput(command, json, error + QStringLiteral(" (zetra-cli --help shows the usage)"));
}

} // namespace

const QVector<CommandInfo> &commands()
{
    static const QVector<CommandInfo> table = {
        {"info", "info                  revision and every parameter, \"name = value\" a line; with one\n"
                 "                        unreadable, the rest are printed and it is named", {}, makeInfo},
        {"get", "get NAME...           each parameter's value, one a line, bare", {}, makeGet},
        {"set", "set NAME=VALUE...     write each, then read it back, the Modbus address last; on a\n"
                "                        failure names what was confirmed, what failed, what was not tried",
         {}, makeSet},
        {"save", "save                  store the settings in non-volatile memory", {}, makeSave},
        {"backup", "backup [--partial] FILE\n"
                   "                        the revision and every parameter to a JSON file; with one\n"
                   "                        unreadable no file is written, unless --partial (marked so)",
         {QStringLiteral("partial")}, makeBackup},
        {"restore", "restore FILE          write every parameter in the file, then verify by reading back", {},
         makeRestore},
        {"selftest", "selftest              run the self-test and print the verdict (healthy or faulty)", {},
         makeSelfTest},
        {"measure", "measure --seconds N [--csv FILE]\n"
                    "                        distance at 10 Hz; prints count, mean, stddev, min, max (m)",
         {QStringLiteral("seconds"), QStringLiteral("csv")}, makeMeasure},
        {"raw", "raw --type T --csv FILE\n"
                "                        one raw read-out of type T (0 to 4) to CSV",
         {QStringLiteral("type"), QStringLiteral("csv")}, makeRaw},
        {"flash", "flash IMAGE           check the image, then write it; a progress bar on a terminal,\n"
                  "                        whole percentages one a line otherwise",
         {}, makeFlash},
        // Run by runRecords() before any port is opened.
        {"records", "records [--records DB] [--serial S] [--since DATE] [--until DATE] [--outcome O]\n"
                    "        [--cause CODE] [--station NAME] [--recipe NAME] [--recipe-hash HASH]\n"
                    "        [--operator NAME] [--csv FILE]\n"
                    "                        the station's runs, newest first; for one serial its whole\n"
                    "                        history: steps, measured values and limits, parameters\n"
                    "records --records postgresql://user@host/database --sync\n"
                    "                        send the server the runs kept here while it was away, in\n"
                    "                        batches, with progress on stderr\n"
                    "records --records postgresql://user@host/database --prune --before DATE\n"
                    "                        remove from this station's file the runs started before\n"
                    "                        DATE that the server holds (asked by their UUIDs); the\n"
                    "                        others stay, nothing on the server is touched",
         {QStringLiteral("records"), QStringLiteral("serial"), QStringLiteral("since"), QStringLiteral("until"),
          QStringLiteral("outcome"), QStringLiteral("cause"), QStringLiteral("station"), QStringLiteral("recipe"),
          QStringLiteral("recipe-hash"), QStringLiteral("operator"), QStringLiteral("csv"), QStringLiteral("sync"),
          QStringLiteral("prune"), QStringLiteral("before")},
         nullptr},
        // Run by runReport(), as records.
        {"report", "report [--records DB] [--since DATE] [--until DATE] [--station NAME] [--recipe NAME]\n"
                   "       [--recipe-hash HASH] [--operator NAME] [--outcome O] [--cause CODE]\n"
                   "                        the line's quality over those runs: first pass and final\n"
                   "                        yield by day and station, the runs that did not pass by\n"
                   "                        step and cause, Cp and Cpk of each limited measurement,\n"
                   "                        each port's line",
         {QStringLiteral("records"), QStringLiteral("since"), QStringLiteral("until"), QStringLiteral("outcome"),
          QStringLiteral("cause"), QStringLiteral("station"), QStringLiteral("recipe"), QStringLiteral("recipe-hash"),
          QStringLiteral("operator")},
         nullptr},
    };
    return table;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    LineTrace trace(LineMonitor::clockMs());
    QCoreApplication::setApplicationName(QStringLiteral("zetra-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZETRA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription).arg(commandList(), parameterList()));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Serial port of the device, e.g. /dev/ttyUSB0."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print the result as one JSON object."));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("measure: how long to measure."),
                                     QStringLiteral("N"));
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("measure, raw, records: CSV file to write."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption type(QStringLiteral("type"), QStringLiteral("raw: raw data type, 0 to 4."),
                                  QStringLiteral("T"));
    const QCommandLineOption partial(QStringLiteral("partial"),
                                     QStringLiteral("backup: save what could be read, marked as partial."));
    const QCommandLineOption traceOption(QStringLiteral("trace"),
                                         QStringLiteral("Every frame on the line to stderr, and a summary."));
    const QCommandLineOption traceFile(QStringLiteral("trace-file"),
                                       QStringLiteral("The same trace to a file."), QStringLiteral("PATH"));
    const QCommandLineOption stationName(QStringLiteral("station"),
                                         QStringLiteral("station: this station's name, for the records; records, "
                                                        "report: runs of that station."),
                                         QStringLiteral("NAME"));
    const QCommandLineOption operatorName(QStringLiteral("operator"),
                                          QStringLiteral("station: the operator's name, for the records; records, "
                                                         "report: runs of that operator."),
                                          QStringLiteral("NAME"));
    parser.addOptions({port, json, seconds, csv, type, partial, traceOption, traceFile, stationName, operatorName});
    // --records and --serial serve both station and records.
    const QList<QCommandLineOption> records = recordsOptions();
    parser.addOptions(records);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands above."),
                                 QStringLiteral("COMMAND [ARGS]"));

    const bool parsed = parser.parse(QCoreApplication::arguments());
    const bool jsonMode = parsed && parser.isSet(json);
    if (!parsed)
        return usageError(QString(), jsonMode, parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        return Exit::Done;
    }
    if (parser.isSet(version)) {
        std::printf("zetra-cli %s\n", ZETRA_VERSION);
        return Exit::Done;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usageError(QString(), jsonMode, QStringLiteral("no COMMAND given"));
    const QString &name = positional.first();
    const CommandInfo *info = nullptr;
    for (const CommandInfo &candidate : commands())
        if (name == QLatin1String(candidate.name))
            info = &candidate;
    const bool isStation = name == QLatin1String("station");
    if (!info && !isStation)
        return usageError(name, jsonMode, QStringLiteral("unknown command '%1'").arg(name));
    for (const QCommandLineOption &option : {stationName, operatorName})
        if (parser.isSet(option) && !isStation && !info->options.contains(option.names().first()))
            return usageError(name, jsonMode, QStringLiteral("%1 takes no --%2").arg(name, option.names().first()));
    if (isStation) {
        for (const QString &option : {QStringLiteral("seconds"), QStringLiteral("csv"), QStringLiteral("type"),
                                      QStringLiteral("partial"), QStringLiteral("since"), QStringLiteral("outcome"),
                                      QStringLiteral("cause"), QStringLiteral("sync"), QStringLiteral("prune"),
                                      QStringLiteral("before"), QStringLiteral("until"), QStringLiteral("recipe"),
                                      QStringLiteral("recipe-hash")})
            if (parser.isSet(option))
                return usageError(name, jsonMode, QStringLiteral("station takes no --%1").arg(option));
        StationInvocation invocation;
        invocation.arguments = positional.mid(1);
        invocation.ports = parser.values(port);
        invocation.serials = parser.values(QStringLiteral("serial"));
        invocation.records = parser.value(QStringLiteral("records"));
        invocation.station = parser.value(stationName);
        invocation.operatorName = parser.value(operatorName);
        invocation.json = jsonMode;
        invocation.trace = parser.isSet(traceOption);
        invocation.traceFile = parser.value(traceFile);
        return runStation(invocation, trace);
    }
    for (const QCommandLineOption &option : QList<QCommandLineOption>{seconds, csv, type, partial} + records)
        if (parser.isSet(option) && !info->options.contains(option.names().first()))
            return usageError(name, jsonMode,
                              QStringLiteral("%1 takes no --%2").arg(name, option.names().first()));
    if (!info->make)   // records, report: a file to read, no port to open
        return name == QLatin1String("report") ? runReport(parser, jsonMode) : runRecords(parser, jsonMode);
    if (parser.value(port).isEmpty())
        return usageError(name, jsonMode, QStringLiteral("--port PORT is required"));

    Invocation invocation;
    invocation.port = parser.value(port);
    invocation.arguments = positional.mid(1);
    invocation.seconds = parser.value(seconds);
    invocation.csv = parser.value(csv);
    invocation.type = parser.value(type);
    invocation.partial = parser.isSet(partial);
    const std::unique_ptr<Command> command = info->make();
    QString error;
    if (!command->prepare(invocation, error))
        return badInput(name, jsonMode, QStringLiteral("%1: %2").arg(name, error));

    if (parser.isSet(traceFile) && !checkOutputFile(parser.value(traceFile), error))
        return badInput(name, jsonMode, QStringLiteral("--trace-file: %1").arg(error));
    if (parser.isSet(traceFile) && !trace.toFile(parser.value(traceFile), error))
        return badInput(name, jsonMode, error);
    if (parser.isSet(traceOption))
        trace.toStandardError();

    Report report(name, jsonMode);
    DeviceSession session;
    trace.follow(session);
    report.setFinishing([&trace, &session](Report &finished) {
        QString traceError;
        finished.set(QStringLiteral("line"), trace.finish(session, traceError));
        if (!traceError.isEmpty())
            Report::message(traceError);
    });
    const DeviceSession::Outcome opened = session.open(invocation.port);
    if (opened != DeviceSession::Outcome::Done)
        return session.fail(opened, report, QStringLiteral("connect"));
    return command->run(session, report);
}
