#include "simoptions.h"

#include "devicemodel.h"
#include "registermap.h"

#include <QCommandLineParser>

#include <random>

namespace {

const char *const kDescription =
    "Simulates the ZETRA altimeter as Modbus RTU slave 19 on a pseudo-terminal.\n"
    "The first line on standard output is the path of the serial port to open.\n"
    "SIGINT or SIGTERM ends the simulator with exit code 0.\n"
    "\n"
    "With --verbose every frame goes to standard error, one a line, as a tag,\n"
    "a blank and the bytes in lower-case hex separated by single blanks:\n"
    "  rx 13 03 00 26 00 01 66 b3    request for the device\n"
    "  tx 13 03 02 00 00 00 47       answer as sent (split answers on one line)\n"
    "  stray 00 ff                   stray bytes sent before an answer\n"
    "  skip 05 03 00 26 00 01 64 45  bytes ignored: other address, bad CRC, garbage\n"
    "  # request dropped             notes start with '#'\n"
    "\n"
    "A fault given as a probability, and a time or size given as MIN-MAX, is drawn\n"
    "at random from one generator. --seed replays a run: the same seed, options and\n"
    "requests give the same faults.\n"
    "\n"
    "At start standard error gets 'seed S', the seed of the faults drawn at random.\n"
    "At exit standard error gets 'firmware flag: set' or 'firmware flag: unset',\n"
    "then 'faults: dropped N refused N corrupt N stray N split N lost N late N', where\n"
    "lost counts the requests left without an answer a master can accept.";

bool readInt(const QCommandLineParser &parser, const QString &name, int min, int max, int &value, QString &error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int v = parser.value(name).toInt(&ok);
    if (!ok || v < min || v > max) {
        error = QStringLiteral("--%1 wants a whole number from %2 to %3").arg(name).arg(min).arg(max);
        return false;
    }
    value = v;
    return true;
}

// "N" or "MIN-MAX", each from min to max.
bool readRange(const QCommandLineParser &parser, const QString &name, int min, int max, DrawRange &range,
               QString &error)
{
    if (!parser.isSet(name))
        return true;
    const QStringList bounds = parser.value(name).split(QLatin1Char('-'));
    bool minOk = false;
    bool maxOk = false;
    DrawRange read;
    read.min = bounds.first().toInt(&minOk);
    read.max = bounds.last().toInt(&maxOk);
    if (bounds.size() > 2 || !minOk || !maxOk || read.min < min || read.max > max || read.min > read.max) {
        error = QStringLiteral("--%1 wants a whole number or a range MIN-MAX from %2 to %3").arg(name).arg(min).arg(max);
        return false;
    }
    range = read;
    return true;
}

// "N": every Nth event; "P" with a decimal point: each event with probability P.
bool readRate(const QCommandLineParser &parser, const QString &name, int maxEvery, FaultRate &rate, QString &error)
{
    if (!parser.isSet(name))
        return true;
    const QString text = parser.value(name);
    bool ok = false;
    if (text.contains(QLatin1Char('.'))) {
        const double chance = text.toDouble(&ok);
        if (ok && chance >= 0 && chance <= 1) {
            rate = FaultRate::withChance(chance);
            return true;
        }
    } else {
        const int every = text.toInt(&ok);
        if (ok && every >= 1 && every <= maxEvery) {
            rate = FaultRate(every);
            return true;
        }
    }
    error = QStringLiteral("--%1 wants N, every Nth (a whole number from 1 to %2), or P, each at random "
                           "with probability P (a decimal point, 0.0 to 1.0)")
                .arg(name)
                .arg(maxEvery);
    return false;
}

bool readSeed(const QCommandLineParser &parser, uint64_t &seed, QString &error)
{
    if (!parser.isSet("seed")) {
        // A fresh seed each run; it is printed, so the run can be replayed.
        std::random_device entropy;
        seed = uint64_t(entropy()) << 32 | entropy();
        return true;
    }
    bool ok = false;
    seed = parser.value("seed").toULongLong(&ok);
    if (!ok) {
        error = QStringLiteral("--seed wants a whole number from 0 to 18446744073709551615");
        return false;
    }
    return true;
}

bool readFailStep(const QString &step, ModelConfig &model, QString &error)
{
    if (step == QLatin1String("progmode")) {
        model.failProgrammingMode = true;
    } else if (step == QLatin1String("flashid")) {
        model.failFlashCheck = true;
    } else if (step == QLatin1String("erase")) {
        model.failErase = true;
    } else if (step == QLatin1String("flag")) {
        model.failFirmwareFlag = true;
    } else if (step.startsWith(QLatin1String("block:"))) {
        bool ok = false;
        model.failBlock = step.mid(6).toInt(&ok);
        if (!ok || model.failBlock < 1) {
            error = QStringLiteral("--fail-step block:N wants N >= 1");
            return false;
        }
    } else {
        error = QStringLiteral("unknown --fail-step %1").arg(step);
        return false;
    }
    return true;
}

} // namespace

ParseResult parseOptions(const QStringList &arguments, SimOptions &options, QString &message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    parser.addOptions({
        {"link", "Also make PATH a symbolic link to the port; removed at exit.", "PATH"},
        {"distance", "Fixed distance in metres (default: 10 m +- 2 m over 20 s).", "M"},
        {"spread", "Each distance read is drawn around the distance from a normal spread of S metres "
                   "(standard deviation), by the --seed generator (default: 0, none).", "S"},
        {"distance-log", "Each distance answered, one a line in metres, appended to PATH as it is read.", "PATH"},
        {"revision", "Firmware revision text, at most 18 characters (default: ZSIM v1.0).", "TEXT"},
        {"selftest-fail", "The self-test reports a fault (verdict 1)."},
        {"ignore-write", "Acknowledge writes to holding register ADDR but keep its value; may be repeated.",
         "ADDR"},
        {"raw-points", "Points in the raw data buffer, 0 to 1100 (default: 1025).", "N"},
        {"erase-ms", "Flash erase time in ms; 0 = ready at once (default: 1500).", "MS"},
        {"fail-step",
         "Make a firmware update step fail; may be repeated. progmode: no answer to "
         "programming mode; flashid: flash status stays 0; erase: flash never ready "
         "after erase; block:N: no answer to the Nth block after the erase; flag: no "
         "answer to the firmware flag.", "STEP"},
        {"flash-dump", "At exit write the flash from 0 up to the highest written byte to PATH, "
                       "and 'set' or 'unset' (the firmware flag) to PATH.flag.", "PATH"},
        {"state-dump", "At exit write the holding registers to PATH as text, one 'address value' "
                       "a line, both decimal.", "PATH"},
        {"line-rate", "Bytes take their wire time at 115200 baud, 11 bits each (8N2)."},
        {"reply-delay", "Wait before each answer: MS milliseconds, or each wait drawn from MIN-MAX.",
         "MS|MIN-MAX"},
        {"answer-hold-ms", "Hand each answer over MS milliseconds after its last byte has crossed the "
                           "line, in one piece, as a USB adapter's latency timer does (16 on FTDI "
                           "adapters by default).", "MS"},
        {"drop", "Requests lost: no answer, no effect. N: every Nth (1 = all); P, a probability "
                 "with a decimal point: each at random (e.g. 0.05). The same two forms serve "
                 "--exception, --corrupt, --split, --stray and --late.", "N|P"},
        {"silent-after", "Serve the first N requests, then fall silent (a device that dies).", "N"},
        {"exception", "Requests that get exception 04 instead of being served (N or P as --drop).", "N|P"},
        {"corrupt", "Answers with a bad CRC (N or P as --drop).", "N|P"},
        {"split", "Answers that go in two chunks 5 ms apart (N or P as --drop); see --split-at.", "N|P"},
        {"split-at", "Bytes in a split answer's first chunk: B, or each drawn from MIN-MAX; at least "
                     "one byte stays in each chunk (default: half the answer).", "B|MIN-MAX"},
        {"stray", "Answers that come behind stray bytes (N or P as --drop); see --stray-bytes.", "N|P"},
        {"stray-bytes", "Stray bytes before an answer are COUNT random bytes, or a count drawn from "
                        "MIN-MAX (default: the two bytes 00 ff).", "COUNT|MIN-MAX"},
        {"late", "Answers that come late (N or P as --drop; see --late-ms), past the master's "
                 "time-out.", "N|P"},
        {"late-ms", "How long after its request a late answer comes: MS, or each drawn from MIN-MAX "
                    "(default: 1050, past the master's one-second time-out).", "MS|MIN-MAX"},
        {"seed", "Seed of the generator every drawn fault and time takes its numbers from: the "
                 "same seed, options and requests give the same faults (default: a fresh seed). "
                 "Standard error gets 'seed S' at start.", "S"},
        {"vanish-after", "Serve the first N requests, then close the line as an unplugged adapter "
                         "would: standard error gets 'line closed at NS' (CLOCK_MONOTONIC) and the "
                         "simulator exits.", "N"},
        {"missing-register", "Holding register ADDR does not exist, as on an older firmware: requests "
                             "touching it get exception 02; may be repeated.", "ADDR"},
        {"verbose", "Log every frame to standard error (format above)."},
    });

    if (!parser.parse(arguments)) {
        message = parser.errorText();
        return ParseResult::Error;
    }
    if (parser.isSet(help)) {
        message = parser.helpText();
        return ParseResult::Help;
    }
    if (!parser.positionalArguments().isEmpty()) {
        message = QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first());
        return ParseResult::Error;
    }

    ModelConfig &model = options.model;
    LineConfig &line = options.line;
    options.link = parser.value("link");
    options.flashDump = parser.value("flash-dump");
    options.stateDump = parser.value("state-dump");
    if (parser.isSet("distance")) {
        bool ok = false;
        model.distance = parser.value("distance").toFloat(&ok);
        if (!ok || model.distance < 0) {
            message = QStringLiteral("--distance wants a number of metres");
            return ParseResult::Error;
        }
        model.fixedDistance = true;
    }
    if (parser.isSet("revision")) {
        model.revision = parser.value("revision");
        if (model.revision.size() > RegisterMap::Holding::RevisionLength) {
            message = QStringLiteral("--revision takes at most %1 characters").arg(RegisterMap::Holding::RevisionLength);
            return ParseResult::Error;
        }
    }
    if (parser.isSet("spread")) {
        bool ok = false;
        model.spread = parser.value("spread").toFloat(&ok);
        if (!ok || model.spread < 0) {
            message = QStringLiteral("--spread wants a number of metres, 0 or more");
            return ParseResult::Error;
        }
    }
    options.distanceLog = parser.value("distance-log");
    model.selfTestFails = parser.isSet("selftest-fail");
    for (const QString &text : parser.values("ignore-write")) {
        bool ok = false;
        const int adr = text.toInt(&ok);
        if (!ok || adr < RegisterMap::Holding::First || adr > RegisterMap::Holding::Last) {
            message = QStringLiteral("--ignore-write wants a holding register from %1 to %2")
                          .arg(RegisterMap::Holding::First)
                          .arg(RegisterMap::Holding::Last);
            return ParseResult::Error;
        }
        model.ignoredWrites.insert(adr);
    }
    for (const QString &step : parser.values("fail-step"))
        if (!readFailStep(step, model, message))
            return ParseResult::Error;
    line.lineRate = parser.isSet("line-rate");
    line.verbose = parser.isSet("verbose");

    constexpr int kMaxEvery = 1000000;
    constexpr int kMaxMs = 600000;
    constexpr int kMaxFrameBytes = 256;     // a Modbus RTU frame's limit
    constexpr int kMaxStrayBytes = 1024;
    const bool numbersOk = readInt(parser, "raw-points", 0, DeviceModel::kMaxRawPoints, model.rawPoints, message)
        && readInt(parser, "erase-ms", 0, kMaxMs, model.eraseMs, message)
        && readRange(parser, "reply-delay", 0, kMaxMs, line.faults.replyDelayMs, message)
        && readInt(parser, "answer-hold-ms", 0, kMaxMs, line.answerHoldMs, message)
        && readRate(parser, "drop", kMaxEvery, line.faults.drop, message)
        && readInt(parser, "silent-after", 1, kMaxEvery, line.faults.silentAfter, message)
        && readRate(parser, "exception", kMaxEvery, line.faults.exception, message)
        && readRate(parser, "corrupt", kMaxEvery, line.faults.corrupt, message)
        && readRate(parser, "split", kMaxEvery, line.faults.split, message)
        && readRange(parser, "split-at", 1, kMaxFrameBytes, line.faults.splitAt, message)
        && readRate(parser, "stray", kMaxEvery, line.faults.stray, message)
        && readRange(parser, "stray-bytes", 1, kMaxStrayBytes, line.faults.strayBytes, message)
        && readRate(parser, "late", kMaxEvery, line.faults.late, message)
        && readInt(parser, "vanish-after", 1, kMaxEvery, line.faults.vanishAfter, message)
        && readRange(parser, "late-ms", 0, kMaxMs, line.faults.lateMs, message)
        && readSeed(parser, line.faults.seed, message);
    // One seed replays the line's faults and the distances alike.
    model.seed = line.faults.seed;
    for (const QString &text : parser.values("missing-register")) {
        bool ok = false;
        const int adr = text.toInt(&ok);
        if (!ok || adr < 0 || adr > 0xFFFF) {
            message = QStringLiteral("--missing-register wants a register address from 0 to 65535");
            return ParseResult::Error;
        }
        model.missingRegisters.append(adr);
    }
    return numbersOk ? ParseResult::Run : ParseResult::Error;
}
