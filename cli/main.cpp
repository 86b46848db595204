// zetra-cli: the altimeter's settings, checks and firmware from a script.
// Parses the command line, checks the command's input, then runs it over
// the same device object the window uses.
#include "command.h"
#include "deviceparameters.h"
#include "devicesession.h"
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
    "Exit codes:\n"
    "  0  done\n"
    "  1  usage or bad input (unknown name, value the register cannot hold,\n"
    "     unreadable or malformed file, image that fails its check): nothing sent\n"
    "  2  communication failure: port cannot be opened, no answer, refusal,\n"
    "     lost port\n"
    "  3  the device says faulty (selftest), a value did not read back as\n"
    "     written, or a firmware update step failed on the device\n"
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
        {"info", "info                  revision and all eleven parameters, \"name = value\" a line", {}, makeInfo},
        {"get", "get NAME...           each parameter's value, one a line, bare", {}, makeGet},
        {"set", "set NAME=VALUE...     write each, then read it back; fails if one does not read back", {}, makeSet},
        {"save", "save                  store the settings in non-volatile memory", {}, makeSave},
        {"backup", "backup FILE           the revision and all eleven parameters to a JSON file", {}, makeBackup},
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
    };
    return table;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
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
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("measure, raw: CSV file to write."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption type(QStringLiteral("type"), QStringLiteral("raw: raw data type, 0 to 4."),
                                  QStringLiteral("T"));
    parser.addOptions({port, json, seconds, csv, type});
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
    if (!info)
        return usageError(name, jsonMode, QStringLiteral("unknown command '%1'").arg(name));
    for (const QCommandLineOption &option : {seconds, csv, type})
        if (parser.isSet(option) && !info->options.contains(option.names().first()))
            return usageError(name, jsonMode,
                              QStringLiteral("%1 takes no --%2").arg(name, option.names().first()));
    if (parser.value(port).isEmpty())
        return usageError(name, jsonMode, QStringLiteral("--port PORT is required"));

    Invocation invocation;
    invocation.port = parser.value(port);
    invocation.arguments = positional.mid(1);
    invocation.seconds = parser.value(seconds);
    invocation.csv = parser.value(csv);
    invocation.type = parser.value(type);
    const std::unique_ptr<Command> command = info->make();
    QString error;
    if (!command->prepare(invocation, error))
        return badInput(name, jsonMode, QStringLiteral("%1: %2").arg(name, error));

    Report report(name, jsonMode);
    DeviceSession session;
    const DeviceSession::Outcome opened = session.open(invocation.port);
    if (opened != DeviceSession::Outcome::Done)
        return session.fail(opened, report, QStringLiteral("connect"));
    return command->run(session, report);
}
