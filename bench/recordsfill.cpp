// zetra-records-fill: writes synthetic runs into a record store, as many as a
// plant keeps, for the records benchmarks. The store's own code makes the
// tables (one open); the rows go in through Qt SQL in bulk, row for row what
// the station writes: the same columns, times, outcome names and causes.
//
//   zetra-records-fill --runs N [--seed S] [--until DATE] [--sync-target T] LOCATION
//
// The same seed and --until give the same rows.
#include "cause.h"
#include "deviceparameters.h"
#include "recordstore.h"
#include "runrecord.h"
#include "serveraddress.h"
#include "sqlrecordstore_columns.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>

namespace {

using Station::Cause;
using Station::Outcome;

// One generator for every draw, so a seed gives one fill.
class Draw
{
public:
    explicit Draw(quint64 seed) : engine(seed) {}
    double uniform() { return double(engine() >> 11) * 0x1.0p-53; }
    int below(int n) { return int(uniform() * n); }
    bool chance(double p) { return uniform() < p; }
    // Box-Muller: the standard library's distributions differ between libraries.
    double normal(double mean, double deviation)
    {
        const double u = 1.0 - uniform();
        const double v = uniform();
        return mean + deviation * std::sqrt(-2.0 * std::log(u)) * std::cos(2 * M_PI * v);
    }
    QUuid uuid()
    {
        QByteArray bytes(16, '\0');
        for (int i = 0; i < 16; i += 8) {
            const quint64 word = engine();
            for (int j = 0; j < 8; ++j)
                bytes[i + j] = char(word >> (8 * j));
        }
        bytes[6] = char((bytes[6] & 0x0f) | 0x40);   // version 4
        bytes[8] = char((bytes[8] & 0x3f) | 0x80);   // RFC 4122 variant
        return QUuid::fromRfc4122(bytes);
    }

private:
    std::mt19937_64 engine;
};

const DeviceParameters::Parameter &parameterNamed(const char *name)
{
    return *DeviceParameters::find(QLatin1String(name));
}

QString nameOf(const DeviceParameters::Parameter &parameter)
{
    return QString::fromLatin1(parameter.name);
}

// A recipe as the records know it: name, hash, the steps' kinds and what
// they write and check.
struct FillRecipe
{
    QString name;
    QString hash;
    QStringList steps;
    QMap<QString, double> written;   // the parameters step's values, checked by verify
    double meanLow, meanHigh, stddevHigh;
    double share;                    // of all runs
};

QVector<FillRecipe> recipes()
{
    QVector<FillRecipe> list{
        {QStringLiteral("end-of-line"), QString(),
         {"parameters", "save", "selftest", "measure", "verify"},
         {{"fmcw-band", 260}, {"smooth-coef", 0.5}, {"th-coef-min", 0.75}}, 4.95, 5.05, 0.02, 0.62},
        {QStringLiteral("end-of-line-long-range"), QString(),
         {"parameters", "save", "selftest", "measure", "verify"},
         {{"fmcw-band", 240}, {"power-reduction", 0}, {"th-coef-max", 1.25}, {"tracker-smooth-coef", 0.2}},
         19.9, 20.1, 0.05, 0.25},
        {QStringLiteral("rework-check"), QString(), {"selftest", "measure", "verify"}, {}, 4.95, 5.05, 0.02, 0.10},
        // Rare: a new firmware with the end-of-line steps behind it.
        {QStringLiteral("firmware-2.4-update"), QString(),
         {"flash", "parameters", "save", "selftest", "measure", "verify"},
         {{"fmcw-band", 260}, {"smooth-coef", 0.5}, {"th-coef-min", 0.75}}, 4.95, 5.05, 0.02, 0.03},
    };
    for (FillRecipe &recipe : list) {
        // The hash of a recipe file's bytes, as the station takes it.
        const QByteArray text = "{\"name\": \"" + recipe.name.toUtf8() + "\", \"steps\": [\"" +
                                recipe.steps.join(QStringLiteral("\", \"")).toUtf8() + "\"]}\n";
        recipe.hash = QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
        for (auto it = recipe.written.begin(); it != recipe.written.end(); ++it)
            it.value() = DeviceParameters::jsonNumber(parameterNamed(it.key().toLatin1().constData()), it.value());
    }
    return list;
}

QJsonObject entry(double value)
{
    return QJsonObject{{QStringLiteral("value"), value}};
}

QJsonObject entry(double value, double low, double high)
{
    return QJsonObject{{QStringLiteral("value"), value}, {QStringLiteral("low"), low}, {QStringLiteral("high"), high}};
}

// How a run goes wrong, if it does; the step it happens in is drawn below.
enum class Fault { None, Limit, SelfTest, NotReadBack, NoAnswer, Refused, PortLost, Interrupted };

Fault drawFault(Draw &draw)
{
    const double x = draw.uniform();
    if (x < 0.90) return Fault::None;
    if (x < 0.935) return Fault::Limit;
    if (x < 0.947) return Fault::SelfTest;
    if (x < 0.96) return Fault::NotReadBack;
    if (x < 0.974) return Fault::NoAnswer;
    if (x < 0.981) return Fault::Refused;
    if (x < 0.99) return Fault::PortLost;
    return Fault::Interrupted;
}

// The station's record of run number `number`, as the station would have
// written it.
class RunMaker
{
public:
    RunMaker(quint64 seed, qint64 runs, const QDateTime &until)
        : draw(seed)
        , list(recipes())
        , runs(runs)
        , first(until.addDays(-365))
        , spacingMs(365.0 * 86400000.0 / qMax<qint64>(runs, 1))
    {
        for (int i = 1; i <= 10; ++i)
            stations << QStringLiteral("line-%1-st%2").arg((i - 1) / 5 + 1).arg(i, 2, 10, QLatin1Char('0'));
        operators = QStringList{"anna", "boris", "vera", "grigory", "dmitry", "elena", "zhanna", "ivan",
                                "kira", "leonid", "maria", "nikolai", "olga", "pavel", "raisa", "sergei"};
    }

    Station::RunRecord make(qint64 number, QString &uuid)
    {
        Station::RunRecord run;
        const FillRecipe &recipe = pickRecipe();
        const int station = draw.below(stations.size());
        run.header.station = stations.at(station);
        // Two shifts a station, each with its own few operators.
        run.header.operatorName = operators.at(station % 8 * 2 + draw.below(2));
        run.header.port = QStringLiteral("/dev/ttyUSB%1").arg(draw.below(8));
        run.header.recipeName = recipe.name;
        run.header.recipeHash = recipe.hash;
        // The program was updated a third of the way through the year.
        run.header.programVersion = number < runs / 3 ? QStringLiteral("0.9") : QStringLiteral("1.0");
        run.header.serial = pickSerial();
        run.header.revisionBefore = draw.chance(0.7) ? QStringLiteral("ZETRA 2.4") : QStringLiteral("ZETRA 2.3");
        // Increasing with the number, jittered within its own slot.
        run.header.started = first.addMSecs(qint64((number - 1 + draw.uniform() * 0.9) * spacingMs));
        uuid = draw.uuid().toString(QUuid::WithoutBraces);

        const Fault fault = drawFault(draw);
        QMap<QString, double> values = parametersFound();
        QDateTime now = run.header.started.addMSecs(250 + draw.below(200));
        // A unit that never answers the probe ends at the connect, before any
        // parameter was read.
        if (fault == Fault::NoAnswer && draw.chance(0.3)) {
            run.outcome = Outcome::Error;
            run.failedStep = QStringLiteral("connect");
            RequestOutcome probe;
            probe.failure = RequestOutcome::Failure::NoAnswer;
            probe.function = 5;        // write single coil
            probe.address = 0;         // the connection probe
            run.cause = Cause::fromRequest(probe);
            run.ended = run.header.started.addMSecs(1000 + draw.below(50));
            run.header.revisionBefore.clear();
            run.line = lineFor(run, fault);
            remember(run);
            return run;
        }
        run.parametersBefore = values;
        now = now.addMSecs(300 + draw.below(100));
        const int faultyStep = faultStep(recipe, fault);
        for (int index = 0; index < recipe.steps.size(); ++index) {
            Station::StepRecord step;
            step.index = index;
            step.kind = recipe.steps.at(index);
            step.started = now;
            const bool faulty = index == faultyStep;
            makeStep(recipe, step, values, faulty ? fault : Fault::None, run.header.port);
            now = now.addMSecs(stepMs(step.kind, faulty));
            step.ended = now;
            run.steps.append(step);
            if (step.outcome != Outcome::Pass) {
                run.outcome = step.outcome;
                run.failedStep = step.kind;
                run.cause = step.cause;
                break;
            }
        }
        if (run.outcome == Outcome::Running)
            run.outcome = Outcome::Pass;
        // A unit that passed or failed still answers: the station reads it
        // once more; after an error or an interruption it does not.
        if (run.outcome == Outcome::Pass || run.outcome == Outcome::Fail) {
            run.parametersAfter = values;
            run.revisionAfter = recipe.steps.first() == QLatin1String("flash") && run.failedStep != QLatin1String("flash")
                                    ? QStringLiteral("ZETRA 2.4")
                                    : run.header.revisionBefore;
            now = now.addMSecs(350 + draw.below(100));
        }
        run.ended = now;
        run.line = lineFor(run, fault);
        remember(run);
        return run;
    }

private:
    // What a unit's line did: about forty requests a step and ten a second
    // of measuring, a time-out now and then (many more where the unit went
    // silent), and one port of the eight with a worn cable that spoils CRCs.
    LineCounters lineFor(const Station::RunRecord &run, Fault fault)
    {
        LineCounters line;
        line.requests = 4 + 40 * run.steps.size() + draw.below(20);
        line.timeOuts = draw.chance(0.05) ? 1 + draw.below(2) : 0;
        if (fault == Fault::NoAnswer || fault == Fault::PortLost)
            line.timeOuts += 3 + draw.below(3);
        line.badCrc = run.header.port.endsWith(QLatin1Char('5')) && draw.chance(0.3) ? 1 + draw.below(3) : 0;
        line.late = draw.chance(0.01) ? 1 : 0;
        line.refusals = fault == Fault::Refused ? 1 : 0;
        line.stray = draw.chance(0.005) ? 1 : 0;
        line.portErrors = fault == Fault::PortLost ? 1 : 0;
        line.answers = std::max(0, line.requests - line.failures() - 1);   // the broadcast goes unanswered
        line.roundTrips = line.answers + line.refusals;
        line.roundTripSumMs = line.roundTrips * (6.0 + draw.uniform());
        line.roundTripMaxMs = line.roundTrips > 0 ? 9.0 + 5.0 * draw.uniform() : 0;
        return line;
    }

    const FillRecipe &pickRecipe()
    {
        double x = draw.uniform();
        for (const FillRecipe &recipe : list) {
            if (x < recipe.share)
                return recipe;
            x -= recipe.share;
        }
        return list.first();
    }

    // About 8% of runs are a unit tested again, most often one that did not
    // pass not long before; the rest are new units.
    QString pickSerial()
    {
        if (draw.chance(0.08)) {
            if (!notPassed.isEmpty() && draw.chance(0.8))
                return notPassed.takeAt(draw.below(notPassed.size()));
            if (nextSerial > 1)
                return serialText(qMax(1, nextSerial - 1 - draw.below(qMin(nextSerial - 1, 2000))));
        }
        return serialText(nextSerial++);
    }

    static QString serialText(int number)
    {
        return QStringLiteral("ZR-%1").arg(number, 6, 10, QLatin1Char('0'));
    }

    void remember(const Station::RunRecord &run)
    {
        if (run.outcome != Outcome::Pass) {
            notPassed.append(run.header.serial);
            if (notPassed.size() > 500)
                notPassed.removeFirst();
        }
    }

    // What a unit holds when it comes to the station: the typical values,
    // now and then one a previous station left otherwise.
    QMap<QString, double> parametersFound()
    {
        QMap<QString, double> values;
        for (const DeviceParameters::Parameter &parameter : DeviceParameters::all()) {
            double value = parameter.typical;
            if (draw.chance(0.05))
                value = parameter.kind == DeviceParameters::Kind::Float ? value * (0.8 + 0.4 * draw.uniform())
                                                                        : value + draw.below(3);
            values.insert(nameOf(parameter), DeviceParameters::jsonNumber(parameter, value));
        }
        return values;
    }

    int faultStep(const FillRecipe &recipe, Fault fault)
    {
        auto at = [&](const char *kind) { return int(recipe.steps.indexOf(QLatin1String(kind))); };
        switch (fault) {
        case Fault::None: return -1;
        case Fault::Limit: return at("measure");
        case Fault::SelfTest: return at("selftest");
        case Fault::NotReadBack: return recipe.written.isEmpty() || draw.chance(0.6) ? at("verify") : at("parameters");
        case Fault::NoAnswer:
        case Fault::Refused:
        case Fault::PortLost:
        case Fault::Interrupted: {
            // Mostly in the long measurement; else anywhere but the flash.
            if (draw.chance(0.6))
                return at("measure");
            const int index = draw.below(recipe.steps.size());
            return recipe.steps.at(index) == QLatin1String("flash") ? at("measure") : index;
        }
        }
        return -1;
    }

    qint64 stepMs(const QString &kind, bool faulty)
    {
        if (kind == QLatin1String("flash")) return 11500 + draw.below(1000);
        if (kind == QLatin1String("parameters")) return 350 + draw.below(100);
        if (kind == QLatin1String("save")) return 250 + draw.below(100);
        if (kind == QLatin1String("selftest")) return 1400 + draw.below(200);
        if (kind == QLatin1String("measure")) return faulty ? 500 + draw.below(4000) : 5000 + draw.below(120);
        return 400 + draw.below(100);   // verify
    }

    Cause requestFault(Fault fault, const QString &port, const QString &parameter, uint16_t address)
    {
        RequestOutcome outcome;
        outcome.function = 3;   // read holding registers
        outcome.address = address;
        switch (fault) {
        case Fault::NoAnswer:
            outcome.failure = RequestOutcome::Failure::NoAnswer;
            break;
        case Fault::Refused:
            outcome.failure = RequestOutcome::Failure::Refused;
            outcome.exceptionCode = draw.chance(0.7) ? 2 : 4;
            break;
        default:
            return Cause::fromRequest(RequestOutcome::portLost(QByteArray(), port, QStringLiteral("Input/output error")));
        }
        return Cause::fromRequest(outcome, parameter);
    }

    void makeStep(const FillRecipe &recipe, Station::StepRecord &step, QMap<QString, double> &values, Fault fault,
                  const QString &port)
    {
        if (fault == Fault::Interrupted) {
            step.outcome = Outcome::Interrupted;
            step.cause = Cause::interrupted(draw.chance(0.85) ? Cause::kByOperator : Cause::kBySignal);
        } else if (fault == Fault::NoAnswer || fault == Fault::Refused || fault == Fault::PortLost) {
            step.outcome = Outcome::Error;
            const DeviceParameters::Parameter &parameter = DeviceParameters::all().at(draw.below(DeviceParameters::all().size()));
            const bool measuring = step.kind == QLatin1String("measure");
            // Only the parameters and verify steps' requests are a parameter's;
            // a measurement's read the distance.
            const bool ofParameter = step.kind == QLatin1String("parameters") || step.kind == QLatin1String("verify");
            step.cause = requestFault(fault, port, ofParameter ? nameOf(parameter) : QString(),
                                      ofParameter ? parameter.holding : uint16_t(measuring ? 0x0010 : 0x0001));
            if (measuring && fault == Fault::NoAnswer)
                step.cause.fields.insert(QStringLiteral("in_a_row"), 5);
        }
        const QString &kind = step.kind;
        if (kind == QLatin1String("flash")) {
            if (step.outcome == Outcome::Pass)
                step.measured.insert(QStringLiteral("bytes"), entry(196608));
        } else if (kind == QLatin1String("parameters")) {
            for (auto it = recipe.written.begin(); it != recipe.written.end(); ++it) {
                if (fault == Fault::NotReadBack && it == recipe.written.begin()) {
                    const double read = values.value(it.key());
                    step.measured.insert(it.key(), entry(read, it.value(), it.value()));
                    step.outcome = Outcome::Fail;
                    step.cause = Cause::fromRequest(
                        RequestOutcome::notConfirmed(parameterNamed(it.key().toLatin1().constData()).holding, it.value(),
                                                     read),
                        it.key());
                    continue;
                }
                if (step.outcome == Outcome::Pass || fault == Fault::NotReadBack) {
                    values[it.key()] = it.value();
                    step.measured.insert(it.key(), entry(it.value()));
                }
            }
        } else if (kind == QLatin1String("selftest")) {
            if (fault == Fault::SelfTest) {
                step.outcome = Outcome::Fail;
                step.cause = Cause::deviceFault(QStringLiteral("selftest"));
                step.measured.insert(QStringLiteral("healthy"), entry(0, 1, 1));
            } else if (step.outcome == Outcome::Pass) {
                step.measured.insert(QStringLiteral("healthy"), entry(1, 1, 1));
            }
        } else if (kind == QLatin1String("measure")) {
            makeMeasure(recipe, step, fault);
        } else if (kind == QLatin1String("verify")) {
            if (step.outcome != Outcome::Pass && fault != Fault::Interrupted)
                return;   // the read stopped: nothing measured
            bool differs = false;
            for (const DeviceParameters::Parameter &parameter : DeviceParameters::all()) {
                const QString name = nameOf(parameter);
                double value = values.value(name);
                if (!recipe.written.contains(name)) {
                    step.measured.insert(name, entry(value));
                    continue;
                }
                const double want = recipe.written.value(name);
                if (fault == Fault::NotReadBack && !differs) {
                    // The unit forgot what was saved: the typical value again.
                    value = DeviceParameters::jsonNumber(parameter, parameter.typical);
                    values[name] = value;
                    step.outcome = Outcome::Fail;
                    step.cause = Cause::fromRequest(RequestOutcome::notConfirmed(parameter.holding, want, value), name);
                    differs = true;
                }
                step.measured.insert(name, entry(value, want, want));
            }
        }
    }

    void makeMeasure(const FillRecipe &recipe, Station::StepRecord &step, Fault fault)
    {
        const double middle = (recipe.meanLow + recipe.meanHigh) / 2;
        const double halfWidth = (recipe.meanHigh - recipe.meanLow) / 2;
        double mean = draw.normal(middle, halfWidth / 4);
        double deviation = std::abs(draw.normal(recipe.stddevHigh / 2, recipe.stddevHigh / 8));
        mean = qBound(recipe.meanLow + 1e-4, mean, recipe.meanHigh - 1e-4);
        deviation = qMin(deviation, recipe.stddevHigh * 0.98);
        const bool stopped = step.outcome != Outcome::Pass;
        int count = stopped ? 5 + draw.below(40) : 49 + draw.below(3);
        const int missed = draw.chance(0.1) ? 1 + draw.below(2) : 0;
        Cause limit;
        if (fault == Fault::Limit) {
            if (draw.chance(0.7)) {
                mean = draw.chance(0.5) ? recipe.meanHigh + std::abs(draw.normal(0, halfWidth / 2)) + 1e-3
                                        : recipe.meanLow - std::abs(draw.normal(0, halfWidth / 2)) - 1e-3;
                limit = Cause::limit(QStringLiteral("mean"), mean, recipe.meanLow, recipe.meanHigh);
            } else {
                deviation = recipe.stddevHigh * (1.05 + draw.uniform());
                limit = Cause::limit(QStringLiteral("stddev"), deviation, 0, recipe.stddevHigh);
            }
            step.outcome = Outcome::Fail;
            step.cause = limit;
        }
        step.measured.insert(QStringLiteral("count"), entry(count));
        step.measured.insert(QStringLiteral("missed"), entry(missed));
        step.measured.insert(QStringLiteral("mean"), entry(mean, recipe.meanLow, recipe.meanHigh));
        step.measured.insert(QStringLiteral("stddev"), entry(deviation, 0, recipe.stddevHigh));
        step.measured.insert(QStringLiteral("min"), entry(mean - deviation * (1.5 + draw.uniform())));
        step.measured.insert(QStringLiteral("max"), entry(mean + deviation * (1.5 + draw.uniform())));
    }

    Draw draw;
    QVector<FillRecipe> list;
    qint64 runs;
    QDateTime first;
    double spacingMs;
    QStringList stations;
    QStringList operators;
    QStringList notPassed;
    int nextSerial = 1;
};

// The encodings the store's own queries use (sqlrecordstore.cpp).
QVariant timeValue(const QDateTime &time)
{
    return time.isValid() ? QVariant(time.toUTC().toString(Qt::ISODateWithMs)) : QVariant();
}

// NOT NULL text: the store writes an unknown value as empty, never as NULL.
QVariant textValue(const QString &text)
{
    return text.isNull() ? QVariant(QLatin1String("")) : QVariant(text);
}

QVariant textOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QVariant causeCode(const Cause &cause)
{
    return cause.isNone() ? QVariant() : QVariant(cause.codeName());
}

QVariant causeText(const Cause &cause)
{
    return cause.isNone() ? QVariant()
                          : QVariant(QString::fromUtf8(QJsonDocument(cause.toJson()).toJson(QJsonDocument::Compact)));
}

// Where the rows go: one engine's way of writing many at once.
class Writer
{
public:
    virtual ~Writer() = default;
    virtual bool begin() = 0;
    virtual bool add(qint64 id, const Station::RunRecord &run, const QString &uuid) = 0;
    virtual bool commit() = 0;
    virtual bool finish(qint64 lastId) = 0;
    QString error;

protected:
    bool fail(const QSqlQuery &query, const char *doing)
    {
        error = QStringLiteral("%1: %2").arg(QLatin1String(doing), query.lastError().text());
        return false;
    }
};

QVariant syncTargetValue;   // the --sync-target, NULL without

// SQLite: the store's own statements, each prepared once and run per row.
class SqliteWriter : public Writer
{
public:
    explicit SqliteWriter(QSqlDatabase db)
        : db(db), runs(db), steps(db), measurements(db), parameters(db)
    {
    }

    bool prepare()
    {
        QSqlQuery setup(db);
        // The fill alone skips waiting for the disk; the store sets its own
        // pragmas again when it opens the file.
        for (const char *pragma : {"PRAGMA synchronous=OFF", "PRAGMA cache_size=-262144", "PRAGMA foreign_keys=OFF"})
            if (!setup.exec(QLatin1String(pragma)))
                return fail(setup, pragma);
        return (runs.prepare(QStringLiteral(
                    "INSERT INTO runs (id, serial, station, operator_name, port, recipe_name, recipe_hash,"
                    " program_version, revision_before, revision_after, started, ended, outcome, failed_step, reason,"
                    " owner, run_uuid, sync_target, synced, cause_code, cause, ")
                    + RecordColumns::lineColumns().join(QStringLiteral(", "))
                    + QStringLiteral(") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, NULL, NULL, ?, ?, 0, ?, ?")
                    + QStringLiteral(", ?").repeated(RecordColumns::lineColumns().size()) + QStringLiteral(")"))
                || fail(runs, "preparing runs"))
               && (steps.prepare(QStringLiteral("INSERT INTO steps (run_id, step_index, kind, outcome, started, ended,"
                                                " reason, cause_code, cause) VALUES (?, ?, ?, ?, ?, ?, NULL, ?, ?)"))
                   || fail(steps, "preparing steps"))
               && (measurements.prepare(QStringLiteral("INSERT INTO measurements (run_id, step_index, name, value,"
                                                       " low, high, detail) VALUES (?, ?, ?, ?, ?, ?, NULL)"))
                   || fail(measurements, "preparing measurements"))
               && (parameters.prepare(QStringLiteral(
                       "INSERT INTO parameters (run_id, phase, name, value) VALUES (?, ?, ?, ?)"))
                   || fail(parameters, "preparing parameters"));
    }

    bool begin() override
    {
        QSqlQuery query(db);
        return query.exec(QStringLiteral("BEGIN")) || fail(query, "BEGIN");
    }

    bool commit() override
    {
        QSqlQuery query(db);
        return query.exec(QStringLiteral("COMMIT")) || fail(query, "COMMIT");
    }

    bool finish(qint64) override { return true; }

    bool add(qint64 id, const Station::RunRecord &run, const QString &uuid) override
    {
        int i = 0;
        auto bind = [&](QSqlQuery &query, const QVariant &value) { query.bindValue(i++, value); };
        const Station::RunHeader &h = run.header;
        for (const QVariant &value :
             {QVariant(id), textValue(h.serial), textValue(h.station), textValue(h.operatorName), textValue(h.port),
              textValue(h.recipeName), textValue(h.recipeHash), textValue(h.programVersion), textValue(h.revisionBefore),
              textOrNull(run.revisionAfter), timeValue(h.started), timeValue(run.ended),
              QVariant(Station::outcomeName(run.outcome)), textOrNull(run.failedStep), QVariant(uuid),
              syncTargetValue, causeCode(run.cause), causeText(run.cause)})
            bind(runs, value);
        for (const QVariant &value : RecordColumns::lineValues(run.line))
            bind(runs, value);
        if (!runs.exec())
            return fail(runs, "inserting a run");
        for (const Station::StepRecord &step : run.steps) {
            i = 0;
            for (const QVariant &value : {QVariant(id), QVariant(step.index), QVariant(step.kind),
                                          QVariant(Station::outcomeName(step.outcome)), timeValue(step.started),
                                          timeValue(step.ended), causeCode(step.cause), causeText(step.cause)})
                bind(steps, value);
            if (!steps.exec())
                return fail(steps, "inserting a step");
            for (auto it = step.measured.begin(); it != step.measured.end(); ++it) {
                const QJsonObject object = it.value().toObject();
                i = 0;
                bind(measurements, id);
                bind(measurements, step.index);
                bind(measurements, it.key());
                for (const char *column : {"value", "low", "high"}) {
                    const QJsonValue number = object.value(QLatin1String(column));
                    bind(measurements, number.isDouble() ? QVariant(number.toDouble()) : QVariant());
                }
                if (!measurements.exec())
                    return fail(measurements, "inserting a measurement");
            }
        }
        return addParameters(id, QStringLiteral("before"), run.parametersBefore)
               && addParameters(id, QStringLiteral("after"), run.parametersAfter);
    }

private:
    bool addParameters(qint64 id, const QString &phase, const QMap<QString, double> &values)
    {
        for (auto it = values.begin(); it != values.end(); ++it) {
            parameters.bindValue(0, id);
            parameters.bindValue(1, phase);
            parameters.bindValue(2, it.key());
            parameters.bindValue(3, it.value());
            if (!parameters.exec())
                return fail(parameters, "inserting parameters");
        }
        return true;
    }

    QSqlDatabase db;
    QSqlQuery runs, steps, measurements, parameters;
};

// PostgreSQL: rows gathered into INSERT … VALUES statements of up to a
// thousand rows each, one round trip per statement.
class PostgresWriter : public Writer
{
public:
    explicit PostgresWriter(QSqlDatabase db) : db(db) {}

    bool begin() override { return exec(QStringLiteral("BEGIN")); }

    bool commit() override { return flush() && exec(QStringLiteral("COMMIT")); }

    bool finish(qint64 lastId) override
    {
        // The key's sequence goes on after the fill's own keys.
        return exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('runs', 'id'), %1)").arg(qMax<qint64>(lastId, 1)))
               && exec(QStringLiteral("ANALYZE"));
    }

    bool add(qint64 id, const Station::RunRecord &run, const QString &uuid) override
    {
        const Station::RunHeader &h = run.header;
        QString row = QLatin1Char('(') + QString::number(id);
        for (const QVariant &value :
             {textValue(h.serial), textValue(h.station), textValue(h.operatorName), textValue(h.port),
              textValue(h.recipeName), textValue(h.recipeHash), textValue(h.programVersion), textValue(h.revisionBefore),
              textOrNull(run.revisionAfter), timeValue(h.started), timeValue(run.ended),
              QVariant(Station::outcomeName(run.outcome)), textOrNull(run.failedStep), QVariant(uuid), syncTargetValue,
              causeCode(run.cause), causeText(run.cause)})
            row += QLatin1Char(',') + literal(value);
        for (const QVariant &value : RecordColumns::lineValues(run.line))
            row += QLatin1Char(',') + (value.isNull() ? QStringLiteral("NULL") : value.toString());
        runRows << row + QLatin1Char(')');
        const QString runId = QString::number(id);
        for (const Station::StepRecord &step : run.steps) {
            const QString index = QString::number(step.index);
            row = QLatin1Char('(') + runId + QLatin1Char(',') + index;
            for (const QVariant &value : {QVariant(step.kind), QVariant(Station::outcomeName(step.outcome)),
                                          timeValue(step.started), timeValue(step.ended), causeCode(step.cause),
                                          causeText(step.cause)})
                row += QLatin1Char(',') + literal(value);
            stepRows << row + QLatin1Char(')');
            for (auto it = step.measured.begin(); it != step.measured.end(); ++it) {
                const QJsonObject object = it.value().toObject();
                row = QLatin1Char('(') + runId + QLatin1Char(',') + index + QLatin1Char(',') + literal(it.key());
                for (const char *column : {"value", "low", "high"}) {
                    const QJsonValue number = object.value(QLatin1String(column));
                    row += QLatin1Char(',') + (number.isDouble() ? doubleLiteral(number.toDouble()) : QStringLiteral("NULL"));
                }
                measurementRows << row + QLatin1Char(')');
            }
        }
        addParameters(runId, QStringLiteral("'before'"), run.parametersBefore);
        addParameters(runId, QStringLiteral("'after'"), run.parametersAfter);
        // Every 200 runs: a few statements of about a thousand rows each.
        return runRows.size() < 200 || flush();
    }

private:
    void addParameters(const QString &runId, const QString &phase, const QMap<QString, double> &values)
    {
        for (auto it = values.begin(); it != values.end(); ++it)
            parameterRows << QLatin1Char('(') + runId + QLatin1Char(',') + phase + QLatin1Char(',') + literal(it.key())
                                 + QLatin1Char(',') + doubleLiteral(it.value()) + QLatin1Char(')');
    }

    static QString doubleLiteral(double value)
    {
        return QString::number(value, 'g', QLocale::FloatingPointShortest);
    }

    static QString literal(const QVariant &value)
    {
        if (value.isNull())
            return QStringLiteral("NULL");
        QString text = value.toString();
        text.replace(QLatin1Char('\''), QLatin1String("''"));
        return QLatin1Char('\'') + text + QLatin1Char('\'');
    }

    // Parents first: each table's rows refer to the one before.
    bool flush()
    {
        return insert(QStringLiteral("runs (id, serial, station, operator_name, port, recipe_name, recipe_hash,"
                                     " program_version, revision_before, revision_after, started, ended, outcome,"
                                     " failed_step, run_uuid, sync_target, cause_code, cause, ")
                          + RecordColumns::lineColumns().join(QStringLiteral(", ")) + QStringLiteral(")"),
                      runRows)
               && insert(QStringLiteral("steps (run_id, step_index, kind, outcome, started, ended, cause_code, cause)"),
                         stepRows)
               && insert(QStringLiteral("measurements (run_id, step_index, name, value, low, high)"), measurementRows)
               && insert(QStringLiteral("parameters (run_id, phase, name, value)"), parameterRows);
    }

    bool insert(const QString &table, QStringList &rows)
    {
        constexpr int kRowsPerStatement = 1000;
        for (int from = 0; from < rows.size(); from += kRowsPerStatement) {
            const QString statement = QStringLiteral("INSERT INTO ") + table + QStringLiteral(" VALUES ")
                                      + rows.mid(from, kRowsPerStatement).join(QLatin1Char(','));
            if (!exec(statement))
                return false;
        }
        rows.clear();
        return true;
    }

    bool exec(const QString &statement)
    {
        QSqlQuery query(db);
        if (!query.exec(statement))
            return fail(query, statement.left(60).toLatin1().constData());
        return true;
    }

    QSqlDatabase db;
    QStringList runRows, stepRows, measurementRows, parameterRows;
};

int fail(const QString &message)
{
    std::fprintf(stderr, "zetra-records-fill: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes synthetic runs into an empty record store."));
    parser.addHelpOption();
    parser.addOptions({{QStringLiteral("runs"), QStringLiteral("How many runs."), QStringLiteral("N")},
                       {QStringLiteral("seed"), QStringLiteral("The generator's seed (default 1)."), QStringLiteral("S"),
                        QStringLiteral("1")},
                       {QStringLiteral("until"),
                        QStringLiteral("The runs span the year before this UTC day (default: today)."),
                        QStringLiteral("DATE")},
                       {QStringLiteral("sync-target"),
                        QStringLiteral("Mark the runs bound for this server and not yet sent (its address, or the "
                                       "target as a station's file notes it)."),
                        QStringLiteral("TARGET")}});
    parser.addPositionalArgument(QStringLiteral("LOCATION"), QStringLiteral("A record file, or postgresql://user@host/db."));
    parser.process(app);
    bool ok = false;
    const qint64 runs = parser.value(QStringLiteral("runs")).toLongLong(&ok);
    if (!ok || runs < 1 || parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("usage: zetra-records-fill --runs N [--seed S] LOCATION"));
    const quint64 seed = parser.value(QStringLiteral("seed")).toULongLong(&ok);
    if (!ok)
        return fail(QStringLiteral("--seed takes a whole number"));
    QDate untilDay = QDateTime::currentDateTimeUtc().date();
    if (parser.isSet(QStringLiteral("until"))) {
        untilDay = QDate::fromString(parser.value(QStringLiteral("until")), Qt::ISODate);
        if (!untilDay.isValid())
            return fail(QStringLiteral("--until takes a day, 2025-01-31"));
    }
    const QString location = parser.positionalArguments().first();
    if (parser.isSet(QStringLiteral("sync-target"))) {
        QString target = parser.value(QStringLiteral("sync-target"));
        if (RecordStore::isServer(target)) {
            ServerAddress address;
            QString error;
            if (!parseServerAddress(target, address, error))
                return fail(error);
            target = address.target;
        }
        syncTargetValue = target;
    } else {
        syncTargetValue = QVariant();
    }

    // The store builds the tables, or brings them up to date, as a station would.
    const bool server = RecordStore::isServer(location);
    QTemporaryDir scratch;
    {
        RecordStore::Options options;
        options.localFile = scratch.filePath(QStringLiteral("station.sqlite"));
        QString error;
        const std::unique_ptr<RecordStore> store = RecordStore::open(location, options, error);
        if (!store)
            return fail(error);
        if (!store->serverAway().isEmpty())
            return fail(store->serverAway());
    }

    QSqlDatabase db;
    if (server) {
        ServerAddress address;
        QString error;
        if (!parseServerAddress(location, address, error))
            return fail(error);
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("fill"));
        db.setHostName(address.host);
        db.setPort(address.port);
        db.setUserName(address.user);
        db.setPassword(address.password);
        db.setDatabaseName(address.database);
        if (!address.options.isEmpty())
            db.setConnectOptions(address.options);
    } else {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(QFileInfo(location).absoluteFilePath());
    }
    if (!db.open())
        return fail(QStringLiteral("%1: %2").arg(location, db.lastError().text()));
    {
        QSqlQuery count(db);
        if (!count.exec(QStringLiteral("SELECT COUNT(*) FROM runs")) || !count.next())
            return fail(count.lastError().text());
        if (count.value(0).toLongLong() != 0)
            return fail(QStringLiteral("%1 already holds runs: the fill writes into an empty store").arg(location));
    }
    std::unique_ptr<Writer> writer;
    if (server) {
        writer = std::make_unique<PostgresWriter>(db);
    } else {
        auto sqlite = std::make_unique<SqliteWriter>(db);
        if (!sqlite->prepare())
            return fail(sqlite->error);
        writer = std::move(sqlite);
    }

    RunMaker maker(seed, runs, QDateTime(untilDay, QTime(0, 0), Qt::UTC));
    QElapsedTimer clock;
    clock.start();
    qint64 lastReport = 0;
    constexpr qint64 kRunsPerTransaction = 10000;
    if (!writer->begin())
        return fail(writer->error);
    for (qint64 id = 1; id <= runs; ++id) {
        QString uuid;
        const Station::RunRecord run = maker.make(id, uuid);
        if (!writer->add(id, run, uuid))
            return fail(writer->error);
        if (id % kRunsPerTransaction == 0 || id == runs) {
            if (!writer->commit() || (id < runs && !writer->begin()))
                return fail(writer->error);
            if (clock.elapsed() - lastReport >= 5000 || id == runs) {
                lastReport = clock.elapsed();
                std::fprintf(stderr, "%lld of %lld runs, %.0f s\n", id, runs, clock.elapsed() / 1000.0);
            }
        }
    }
    if (!writer->finish(runs))
        return fail(writer->error);
    db.close();
    std::fprintf(stderr, "filled %lld runs in %.1f s\n", runs, clock.elapsed() / 1000.0);
    return 0;
}
