// zetra-cli station end to end: one recipe on several simulators at once,
// each unit ending alone, and the record each leaves.
#include "clirun.h"
#include "firmwareimage.h"
#include "productionstation.h"
#include "recipewording.h"
#include "recordstore.h"
#include "unitrunner.h"
#include "simprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <csignal>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray validImage(int size)
{
    QByteArray payload(size - FirmwareImage::kTrailerSize, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 37 + (i >> 8));
    return FirmwareImage::withTrailer(payload);
}

// The unit of a --json result on that port.
QJsonObject unitOn(const QJsonObject &result, const QString &port)
{
    for (const QJsonValue &unit : result.value("units").toArray())
        if (unit.toObject().value("port").toString() == port)
            return unit.toObject();
    return QJsonObject();
}

QJsonObject stepOf(const QJsonObject &unit, const QString &kind)
{
    for (const QJsonValue &step : unit.value("steps").toArray())
        if (step.toObject().value("step").toString() == kind)
            return step.toObject();
    return QJsonObject();
}

// The simulator at its default distance and the limits it meets.
const char *const kEndOfLine = R"({"name": "end-of-line", "steps": [
    {"step": "flash", "image": "fw.bin"},
    {"step": "parameters", "values": {"fmcw-band": 260, "smooth-coef": 0.5}},
    {"step": "save"},
    {"step": "selftest"},
    {"step": "measure", "seconds": 0.5, "mean": [0, 1000], "stddev": [0, 1000], "missed": [0, 2]},
    {"step": "verify"}]})";

} // namespace

class StationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void eachUnitEndsAlone();
    void threeUnitsReadBackFromTheRecords();
    void limitMissedFailsWithTheMeasuredValue();
    void malformedRecipeSendsNothing();
    void stopSignalInterruptsEveryUnit();
    void killedRunIsRecordedInterrupted();
    void everyUnitIsRecordedStepByStep();
    void aLiveRunIsNeverTakenForAbandoned();
    void measuredValuesAreTheSimulatorsOwn();
    void qualityReportAgreesWithTheNumbersByHand();

private:
    QString recipe(const QString &name, const QByteArray &text);
    QTemporaryDir dir;
    QString threeUnitsHash;   // of the three-unit run, whose records are read back
    QMap<QString, QJsonObject> threeUnitsLines;   // each unit's line counters as the station printed them
};

void StationTest::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath("fw.bin"), validImage(4096)));
}

QString StationTest::recipe(const QString &name, const QByteArray &text)
{
    const QString path = dir.filePath(name);
    return writeFile(path, text) ? path : QString();
}

void StationTest::eachUnitEndsAlone()
{
    const QString path = recipe("eol.json", kEndOfLine);
    SimProcess good({"--erase-ms", "0"});
    SimProcess faulty({"--erase-ms", "0", "--selftest-fail"});
    // Answers the connect, the read-out and part of the update, then the
    // adapter is gone.
    SimProcess vanishing({"--erase-ms", "0", "--vanish-after", "25"});
    QVERIFY(good.isRunning() && faulty.isRunning() && vanishing.isRunning());
    const QString records = dir.filePath("three.sqlite");
    QElapsedTimer clock;
    clock.start();
    const CliRun run = runCli({"station", path, "--json", "--records", records, "--station", "bench-1", "--operator", "ada",
                               "--port", good.portName(), "--serial", "0417", "--port", faulty.portName(), "--serial",
                               "0418", "--port", vanishing.portName(), "--serial", "0419"});
    // An error outranks a failure in the exit code.
    QVERIFY2(run.exitCode == 2, qPrintable(run.describe()));
    const QJsonObject result = run.json();
    QCOMPARE(result.value("exit").toInt(), 2);
    QCOMPARE(result.value("ok").toBool(true), false);
    QCOMPARE(result.value("units").toArray().size(), 3);

    const QJsonObject passed = unitOn(result, good.portName());
    QCOMPARE(passed.value("serial").toString(), QStringLiteral("0417"));
    QCOMPARE(passed.value("outcome").toString(), QStringLiteral("pass"));
    QVERIFY(passed.value("failed_step").isNull());
    QCOMPARE(passed.value("steps").toArray().size(), 6);
    for (const QJsonValue &step : passed.value("steps").toArray())
        QCOMPARE(step.toObject().value("outcome").toString(), QStringLiteral("pass"));
    const QJsonObject mean = stepOf(passed, "measure").value("measured").toObject().value("mean").toObject();
    QVERIFY(mean.value("value").toDouble() > 0);
    QCOMPARE(mean.value("low").toDouble(-1), 0.0);
    QCOMPARE(mean.value("high").toDouble(), 1000.0);
    const QJsonObject band = stepOf(passed, "verify").value("measured").toObject().value("fmcw-band").toObject();
    QCOMPARE(band.value("value").toDouble(), 260.0);
    QCOMPARE(band.value("low").toDouble(), 260.0);
    QCOMPARE(passed.value("parameters_before").toObject().value("fmcw-band").toDouble(), 250.0);
    QCOMPARE(passed.value("parameters_after").toObject().value("fmcw-band").toDouble(), 260.0);
    QVERIFY(!passed.value("revision_after").toString().isEmpty());

    // The self-test's verdict fails the unit there; nothing after it runs,
    // and what it was left with is read back.
    const QJsonObject failed = unitOn(result, faulty.portName());
    QCOMPARE(failed.value("outcome").toString(), QStringLiteral("fail"));
    QCOMPARE(failed.value("failed_step").toString(), QStringLiteral("selftest"));
    QVERIFY(failed.value("reason").toString().contains("fault"));
    // The cause as facts beside the English reason, in the run and in its step.
    QCOMPARE(failed.value("cause").toObject(), (QJsonObject{{"code", "device_fault"}, {"fault", "selftest"}}));
    QCOMPARE(stepOf(failed, "selftest").value("cause").toObject().value("code").toString(), QStringLiteral("device_fault"));
    QVERIFY(stepOf(failed, "save").value("cause").isNull());
    QCOMPARE(failed.value("steps").toArray().size(), 4);
    QCOMPARE(stepOf(failed, "selftest").value("measured").toObject().value("healthy").toObject().value("value").toInt(-1), 0);
    QCOMPARE(failed.value("parameters_after").toObject().value("smooth-coef").toDouble(), 0.5);

    const QJsonObject lost = unitOn(result, vanishing.portName());
    QCOMPARE(lost.value("outcome").toString(), QStringLiteral("error"));
    QCOMPARE(lost.value("failed_step").toString(), QStringLiteral("flash"));
    QVERIFY2(!lost.value("reason").toString().isEmpty(), qPrintable(run.describe()));
    QVERIFY2(lost.value("reason").toString().contains("the adapter was unplugged or the port closed"),
             qPrintable(run.describe()));
    QCOMPARE(lost.value("cause").toObject().value("code").toString(), QStringLiteral("firmware"));
    QCOMPARE(lost.value("cause").toObject().value("request").toObject().value("code").toString(), QStringLiteral("port_lost"));
    QVERIFY(lost.value("parameters_after").toObject().isEmpty());

    // The other two went on at their own pace: all three together take about
    // as long as the slowest alone.
    QVERIFY2(clock.elapsed() < 60000, qPrintable(QString::number(clock.elapsed())));
    threeUnitsHash = result.value("recipe_hash").toString();
    for (const QJsonValue &unit : result.value("units").toArray())
        threeUnitsLines.insert(unit.toObject().value("serial").toString(), unit.toObject().value("line").toObject());
}

void StationTest::threeUnitsReadBackFromTheRecords()
{
    QVERIFY2(!threeUnitsHash.isEmpty(), "the three-unit run before this one failed");
    QString error;
    const std::unique_ptr<RecordStore> store = RecordStore::open(dir.filePath("three.sqlite"), error);
    QVERIFY2(store, qPrintable(error));
    const QVector<Station::RunRecord> runs = store->runs(Station::RecordFilter());
    QCOMPARE(runs.size(), 3);
    QMap<QString, Station::RunRecord> bySerial;
    for (const Station::RunRecord &unit : runs)
        bySerial.insert(unit.header.serial, unit);
    QCOMPARE(bySerial.value("0417").outcome, Station::Outcome::Pass);
    QCOMPARE(bySerial.value("0417").steps.size(), 6);
    QCOMPARE(bySerial.value("0417").header.station, QStringLiteral("bench-1"));
    QCOMPARE(bySerial.value("0417").header.operatorName, QStringLiteral("ada"));
    QCOMPARE(bySerial.value("0417").header.recipeName, QStringLiteral("end-of-line"));
    QCOMPARE(bySerial.value("0417").header.recipeHash, threeUnitsHash);
    QCOMPARE(bySerial.value("0417").parametersAfter.value("fmcw-band"), 260.0);
    QCOMPARE(bySerial.value("0418").outcome, Station::Outcome::Fail);
    QCOMPARE(bySerial.value("0418").failedStep, QStringLiteral("selftest"));
    QCOMPARE(bySerial.value("0419").outcome, Station::Outcome::Error);
    QCOMPARE(bySerial.value("0419").failedStep, QStringLiteral("flash"));

    // Each run keeps its line's counters as they stood at its end: the same
    // the station printed, whatever way the unit ended, in the listing's JSON too.
    const CliRun listed = runCli({"--json", "records", "--records", dir.filePath("three.sqlite")});
    QVERIFY2(listed.exitCode == 0, qPrintable(listed.describe()));
    const QJsonArray listedRuns = listed.json().value("runs").toArray();
    QCOMPARE(listedRuns.size(), 3);
    for (const QJsonValue &value : listedRuns) {
        const QJsonObject run = value.toObject();
        const QJsonObject printed = threeUnitsLines.value(run.value("serial").toString());
        QVERIFY2(printed.value("requests").toInt() > 0, qPrintable(run.value("serial").toString()));
        QCOMPARE(run.value("line").toObject(), printed);
    }
    // The vanished adapter's time-outs are among them.
    QVERIFY(bySerial.value("0419").line && bySerial.value("0419").line->timeOuts + bySerial.value("0419").line->portErrors > 0);
}

void StationTest::limitMissedFailsWithTheMeasuredValue()
{
    // Plain output: one line per unit, then the summary; a missed limit is a
    // failure (exit 3), not an error.
    const QString path = recipe("limits.json", R"({"name": "reference target", "steps": [
        {"step": "measure", "seconds": 0.3, "mean": [4.95, 5.05], "stddev": [0, 0.02]}]})");
    SimProcess near({"--distance", "5"});
    SimProcess far({"--distance", "7.5"});
    const CliRun run = runCli({"station", path, "--records", dir.filePath("limits.sqlite"), "--port", near.portName(),
                               "--serial", "A1", "--port", far.portName(), "--serial", "A2"});
    QVERIFY2(run.exitCode == 3, qPrintable(run.describe()));
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    const QString nearLine = lines.filter(near.portName()).value(0);
    const QString farLine = lines.filter(far.portName()).value(0);
    QVERIFY2(nearLine.contains("\tA1\tpass\t"), qPrintable(run.out));
    QVERIFY2(farLine.contains("\tA2\tfail\t") && farLine.contains("measure: mean 7.5 outside [4.95, 5.05]"),
             qPrintable(run.out));
    QCOMPARE(lines.last(), QStringLiteral("2 units: 1 pass, 1 fail, 0 error, 0 interrupted"));
}

void StationTest::malformedRecipeSendsNothing()
{
    SimProcess sim({"--verbose"});
    QVERIFY(sim.isRunning());
    const QStringList unit{"--records", dir.filePath("none.sqlite"), "--port", sim.portName(), "--serial", "X1"};
    const QString unknown = recipe("unknown.json", R"({"name": "x", "steps": [{"step": "save"},
        {"step": "parameters", "values": {"fmcw-band": 260, "smoothing": 0.5}}]})");
    CliRun run = runCli(QStringList{"station", unknown, "--json"} + unit);
    QVERIFY2(run.exitCode == 1, qPrintable(run.describe()));
    QCOMPARE(run.json().value("exit").toInt(), 1);
    QVERIFY2(run.json().value("error").toString().contains("steps[1] (parameters): \"values\": unknown parameter \"smoothing\""),
             qPrintable(run.describe()));

    const QString missing = recipe("missing.json", R"({"name": "x", "steps": [{"step": "flash", "image": "gone.bin"}]})");
    run = runCli(QStringList{"station", missing} + unit);
    QVERIFY2(run.exitCode == 1 && run.err.contains("steps[0] (flash)") && run.err.contains("gone.bin"),
             qPrintable(run.describe()));
    // Usage: a port without its serial.
    run = runCli({"station", missing, "--port", sim.portName()});
    QVERIFY2(run.exitCode == 1 && run.err.contains("--serial"), qPrintable(run.describe()));
    // One port, or one serial number once trimmed, for two units: refused
    // before the recipe is even read.
    run = runCli({"station", missing, "--port", sim.portName(), "--serial", "X1", "--port", sim.portName(), "--serial", "X2"});
    QVERIFY2(run.exitCode == 1 && run.err.contains(QStringLiteral("station: port %1 given twice").arg(sim.portName())),
             qPrintable(run.describe()));
    run = runCli({"station", missing, "--port", sim.portName(), "--serial", "X1", "--port", "/dev/zetra-none", "--serial", " X1 "});
    QVERIFY2(run.exitCode == 1 && run.err.contains("station: serial X1 given twice"), qPrintable(run.describe()));

    sim.stop();
    QVERIFY2(!sim.errorOutput().contains("rx "), sim.errorOutput().constData());
}

void StationTest::stopSignalInterruptsEveryUnit()
{
    const QString path = recipe("long.json", R"({"name": "long", "steps": [
        {"step": "measure", "seconds": 60, "mean": [0, 1000], "stddev": [0, 1000]}, {"step": "save"}]})");
    SimProcess first;
    SimProcess second;
    QProcess cli;
    cli.start(QString::fromUtf8(ZETRA_CLI_PATH), {"station", path, "--json", "--trace", "--records",
                                                  dir.filePath("stop.sqlite"), "--port", first.portName(), "--serial",
                                                  "S1", "--port", second.portName(), "--serial", "S2"});
    QVERIFY(cli.waitForStarted());
    // Both units are measuring once distance reads pass on both ports.
    QByteArray trace;
    QElapsedTimer clock;
    clock.start();
    auto measuring = [&](const QString &port) {
        int reads = 0;
        for (const QByteArray &line : trace.split('\n'))
            reads += line.startsWith(port.toUtf8() + '\t') && line.contains("\trx\t");
        return reads > 30;
    };
    while (!(measuring(first.portName()) && measuring(second.portName())) && clock.elapsed() < 30000) {
        cli.waitForReadyRead(200);
        trace += cli.readAllStandardError();
    }
    QVERIFY2(measuring(first.portName()) && measuring(second.portName()), trace.right(2000).constData());
    ::kill(pid_t(cli.processId()), SIGINT);
    const CliRun run = finishCli(cli);
    QVERIFY2(run.exitCode == 130, qPrintable(run.describe()));
    QVERIFY2(clock.elapsed() < 40000, "the measurement ran on after the stop");
    for (const QString &port : {first.portName(), second.portName()}) {
        const QJsonObject unit = unitOn(run.json(), port);
        QCOMPARE(unit.value("outcome").toString(), QStringLiteral("interrupted"));
        QCOMPARE(unit.value("failed_step").toString(), QStringLiteral("measure"));
        // What was measured until then is kept; the save never ran.
        QVERIFY(stepOf(unit, "measure").value("measured").toObject().value("count").toObject().value("value").toInt() > 0);
        QVERIFY(stepOf(unit, "save").isEmpty());
    }
}

void StationTest::killedRunIsRecordedInterrupted()
{
    const QString path = recipe("killed.json", R"({"name": "killed", "steps": [
        {"step": "parameters", "values": {"fmcw-band": 261}}, {"step": "save"},
        {"step": "measure", "seconds": 60, "mean": [0, 1000], "stddev": [0, 1000]}]})");
    const QString records = dir.filePath("killed.sqlite");
    SimProcess sim;
    QProcess cli;
    cli.start(QString::fromUtf8(ZETRA_CLI_PATH),
              {"station", path, "--trace", "--records", records, "--port", sim.portName(), "--serial", "K1"});
    QVERIFY(cli.waitForStarted());
    QByteArray trace;
    QElapsedTimer clock;
    clock.start();
    // Well into the measurement: the two steps before it are recorded.
    while (trace.count("\trx\t") < 60 && clock.elapsed() < 30000) {
        cli.waitForReadyRead(200);
        trace += cli.readAllStandardError();
    }
    QVERIFY2(trace.count("\trx\t") >= 60, trace.constData());
    ::kill(pid_t(cli.processId()), SIGKILL);
    QVERIFY(cli.waitForFinished(10000));

    QString error;
    const std::unique_ptr<RecordStore> store = RecordStore::open(records, error);
    QVERIFY2(store, qPrintable(error));
    const QVector<Station::RunRecord> runs = store->runs(Station::RecordFilter());
    QCOMPARE(runs.size(), 1);
    const Station::RunRecord &run = runs.first();
    QCOMPARE(run.header.serial, QStringLiteral("K1"));
    QCOMPARE(run.outcome, Station::Outcome::Interrupted);
    QCOMPARE(run.steps.size(), 2);
    QCOMPARE(run.steps.at(0).kind, QStringLiteral("parameters"));
    QCOMPARE(run.steps.at(1).kind, QStringLiteral("save"));
    QCOMPARE(run.parametersBefore.value("fmcw-band"), 250.0);
    QVERIFY(run.parametersAfter.isEmpty());
}

// Two stations on one record file. The first is in a step that lasts
// long (its flash waits for the erase): its lock file is made to look
// minutes old, as a whole firmware image makes it, and the second station
// starts, runs a unit and ends meanwhile. Opening the file must not take the
// live run for one a dead station left; it ends as it should.
void StationTest::aLiveRunIsNeverTakenForAbandoned()
{
    const QString records = dir.filePath("two-stations.sqlite");
    const QString longRecipe = recipe("long.json", R"({"name": "long", "steps": [
        {"step": "flash", "image": "fw.bin"}, {"step": "selftest"}]})");
    const QString quickRecipe = recipe("quick.json", R"({"name": "quick", "steps": [{"step": "selftest"}]})");
    SimProcess slowErase({"--erase-ms", "15000"});
    SimProcess quickUnit({"--erase-ms", "0"});
    QProcess longStation;
    longStation.start(QString::fromUtf8(ZETRA_CLI_PATH),
                      {"station", longRecipe, "--records", records, "--port", slowErase.portName(), "--serial", "LONG"});
    QVERIFY(longStation.waitForStarted());
    const auto runOf = [&records](const QString &serial) {
        const CliRun listed = runCli({"--json", "records", "--records", records, "--serial", serial});
        const QJsonArray runs = listed.json().value("runs").toArray();
        return runs.isEmpty() ? QJsonObject() : runs.first().toObject();
    };
    // In its flash: the run and its lock are there.
    QTRY_VERIFY_WITH_TIMEOUT(runOf("LONG").value("outcome").toString() == "running", 30000);
    const QDir owners(records + ".owners");
    const QStringList locks = owners.entryList(QDir::Files);
    QVERIFY2(!locks.isEmpty(), qPrintable(owners.path()));
    const QDateTime minutesAgo = QDateTime::currentDateTimeUtc().addSecs(-600);
    for (const QString &lock : locks) {
        QFile file(owners.filePath(lock));
        QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Append));
        QVERIFY(file.setFileTime(minutesAgo, QFileDevice::FileModificationTime));
    }

    const CliRun quick = runCli({"--json", "station", quickRecipe, "--records", records, "--port", quickUnit.portName(),
                                 "--serial", "QUICK"});
    QVERIFY2(quick.exitCode == 0, qPrintable(quick.describe()));
    QCOMPARE(runOf("QUICK").value("outcome").toString(), QStringLiteral("pass"));
    QCOMPARE(longStation.state(), QProcess::Running);
    QCOMPARE(runOf("LONG").value("outcome").toString(), QStringLiteral("running"));

    QVERIFY(longStation.waitForFinished(90000));
    QVERIFY2(longStation.exitCode() == 0, longStation.readAllStandardError().constData());
    const QJsonObject ended = runOf("LONG");
    QCOMPARE(ended.value("outcome").toString(), QStringLiteral("pass"));
    QCOMPARE(ended.value("steps").toArray().size(), 2);
}

void StationTest::everyUnitIsRecordedStepByStep()
{
    // The station's own core against whatever store is built in: a unit
    // that cannot be reached is recorded too, as an error at the connect.
    Station::Recipe recipe;
    QString error;
    QVERIFY2(Wording::parseRecipe(R"({"name": "inline", "steps": [
        {"step": "parameters", "values": {"th-coef-min": 0.75}}, {"step": "verify"}]})",
                                  dir.path(), recipe, error),
             qPrintable(error));
    const std::unique_ptr<RecordStore> store = RecordStore::open(dir.filePath("core.sqlite"), error);
    QVERIFY2(store, qPrintable(error));
    SimProcess sim;
    Station::ProductionStation station(recipe, {"bench-2", "bo", "test"}, store.get());
    station.addUnit(sim.portName(), "C1");
    station.addUnit(dir.filePath("no-such-port"), "C2");
    QSignalSpy finished(&station, &Station::ProductionStation::allFinished);
    QSignalSpy problems(&station, &Station::ProductionStation::recordFailed);
    station.start();
    QVERIFY(finished.wait(60000));
    QVERIFY(problems.isEmpty());
    QVERIFY(station.isFinished());

    QMap<QString, Station::RunRecord> bySerial;
    for (const Station::RunRecord &run : store->runs(Station::RecordFilter()))
        bySerial.insert(run.header.serial, run);
    QCOMPARE(bySerial.size(), 2);
    const Station::RunRecord passed = bySerial.value("C1");
    QCOMPARE(passed.outcome, Station::Outcome::Pass);
    QCOMPARE(passed.header.station, QStringLiteral("bench-2"));
    QCOMPARE(passed.header.recipeHash, recipe.hash);
    QVERIFY(!passed.header.revisionBefore.isEmpty());
    QCOMPARE(passed.steps.size(), 2);
    const QJsonObject verified = passed.steps.at(1).measured.value("th-coef-min").toObject();
    QCOMPARE(verified.value("value").toDouble(), 0.75);
    QCOMPARE(verified.value("high").toDouble(), 0.75);
    QCOMPARE(passed.parametersBefore.value("th-coef-min"), 0.5);
    QCOMPARE(passed.parametersAfter.value("th-coef-min"), 0.75);
    const Station::RunRecord unreachable = bySerial.value("C2");
    QCOMPARE(unreachable.outcome, Station::Outcome::Error);
    QCOMPARE(unreachable.failedStep, QStringLiteral("connect"));
    QVERIFY(unreachable.steps.isEmpty());
    QCOMPARE(unreachable.cause.code, Station::Cause::Code::PortOpen);
    QCOMPARE(unreachable.cause.text("reason"), QStringLiteral("missing"));
    QVERIFY(unreachable.cause.text("port").contains("no-such-port"));
}


namespace {

// The distances a simulator logged, as the station reads them: floats.
QVector<double> loggedDistances(const QString &path)
{
    QFile file(path);
    QVector<double> values;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return values;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            values.append(double(float(line.toDouble())));
    return values;
}

double meanOf(const QVector<double> &values)
{
    double sum = 0;
    for (double value : values)
        sum += value;
    return sum / values.size();
}

// Sample standard deviation, two passes.
double stddevOf(const QVector<double> &values)
{
    const double mean = meanOf(values);
    double squares = 0;
    for (double value : values)
        squares += (value - mean) * (value - mean);
    return std::sqrt(squares / (values.size() - 1));
}

bool near(double a, double b, double tolerance = 1e-9)
{
    return std::abs(a - b) <= tolerance * std::max(1.0, std::abs(b));
}

} // namespace

void StationTest::measuredValuesAreTheSimulatorsOwn()
{
    const QString path = recipe("spread.json", R"({"name": "spread", "steps": [
        {"step": "measure", "seconds": 1.0, "mean": [4.5, 5.5], "stddev": [0, 1], "missed": [0, 2]}]})");
    const QString log = dir.filePath("distances.log");
    SimProcess sim({"--distance", "5", "--spread", "0.05", "--distance-log", log});
    QVERIFY(sim.isRunning());
    const QString records = dir.filePath("spread.sqlite");
    const CliRun run = runCli({"station", path, "--records", records, "--port", sim.portName(), "--serial", "SP1"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
    const QVector<double> given = loggedDistances(log);
    QVERIFY2(given.size() >= 5, qPrintable(QString::number(given.size())));

    // What the record holds, read back through the listing.
    const CliRun listed = runCli({"--json", "records", "--records", records, "--serial", "SP1"});
    QVERIFY2(listed.exitCode == 0, qPrintable(listed.describe()));
    const QJsonObject measured =
        stepOf(listed.json().value("runs").toArray().at(0).toObject(), "measure").value("measured").toObject();
    const auto value = [&measured](const char *name) { return measured.value(name).toObject().value("value").toDouble(-1); };
    QCOMPARE(int(value("count")), given.size());
    QCOMPARE(int(value("missed")), 0);
    const double mean = meanOf(given);
    const double stddev = stddevOf(given);
    // A spread drawn at all, so that a deviation recorded as the mean or as
    // zero cannot pass.
    QVERIFY(stddev > 0.005);
    QVERIFY2(near(value("mean"), mean), qPrintable(QStringLiteral("%1 vs %2").arg(value("mean")).arg(mean)));
    QVERIFY2(near(value("stddev"), stddev), qPrintable(QStringLiteral("%1 vs %2").arg(value("stddev")).arg(stddev)));
    QCOMPARE(value("min"), *std::min_element(given.begin(), given.end()));
    QCOMPARE(value("max"), *std::max_element(given.begin(), given.end()));
}

void StationTest::qualityReportAgreesWithTheNumbersByHand()
{
    const double low = 4.9, high = 5.1;
    const QString path = recipe("quality.json", R"({"name": "quality", "steps": [
        {"step": "selftest"},
        {"step": "measure", "seconds": 0.3, "mean": [4.9, 5.1], "stddev": [0, 0.5]}]})");
    const QString records = dir.filePath("quality.sqlite");
    // Three pass, one misses the mean's limit, one's self-test is faulty,
    // one misses it and passes when retested at another station.
    const QStringList serials{"Q1", "Q2", "Q3", "QM", "QS", "QR"};
    const QVector<double> distances{5.0, 5.02, 4.97, 5.3, 5.0, 5.4};
    std::vector<std::unique_ptr<SimProcess>> sims;
    QStringList arguments{"station", path, "--json", "--records", records, "--station", "bench-1"};
    for (int i = 0; i < serials.size(); ++i) {
        QStringList options{"--distance", QString::number(distances.at(i))};
        if (serials.at(i) == "QS")
            options << "--selftest-fail";
        sims.push_back(std::make_unique<SimProcess>(options));
        QVERIFY(sims.back()->isRunning());
        arguments << "--port" << sims.back()->portName() << "--serial" << serials.at(i);
    }
    const CliRun first = runCli(arguments);
    QVERIFY2(first.exitCode == 3, qPrintable(first.describe()));
    SimProcess retest({"--distance", "5.05"});
    const CliRun second = runCli({"station", path, "--records", records, "--station", "bench-2", "--port",
                                  retest.portName(), "--serial", "QR"});
    QVERIFY2(second.exitCode == 0, qPrintable(second.describe()));

    const CliRun reported = runCli({"--json", "report", "--records", records});
    QVERIFY2(reported.exitCode == 0, qPrintable(reported.describe()));
    const QJsonObject report = reported.json();
    QCOMPARE(report.value("runs").toInt(), 7);
    QCOMPARE(report.value("units").toInt(), 6);
    const QJsonObject yield = report.value("yield").toObject();
    QVERIFY(near(yield.value("first_pass").toDouble(), 3.0 / 6));
    QVERIFY(near(yield.value("final").toDouble(), 4.0 / 6));
    // Each unit counted at its first run's station.
    const QJsonArray byStation = yield.value("by_station").toArray();
    QCOMPARE(byStation.size(), 1);
    QCOMPARE(byStation.at(0).toObject().value("station").toString(), QStringLiteral("bench-1"));
    QCOMPARE(byStation.at(0).toObject().value("units").toInt(), 6);
    QCOMPARE(yield.value("by_day").toArray().size(), 1);
    QCOMPARE(yield.value("by_day").toArray().at(0).toObject().value("day").toString(),
             QDateTime::currentDateTimeUtc().date().toString(Qt::ISODate));

    const QJsonArray pareto = report.value("pareto").toArray();
    QCOMPARE(pareto.size(), 2);
    QCOMPARE(pareto.at(0).toObject().value("step").toString(), QStringLiteral("measure"));
    QCOMPARE(pareto.at(0).toObject().value("cause").toString(), QStringLiteral("limit"));
    QCOMPARE(pareto.at(0).toObject().value("count").toInt(), 2);
    QVERIFY(near(pareto.at(0).toObject().value("share").toDouble(), 2.0 / 3));
    QCOMPARE(pareto.at(1).toObject().value("step").toString(), QStringLiteral("selftest"));
    QCOMPARE(pareto.at(1).toObject().value("cause").toString(), QStringLiteral("device_fault"));
    QCOMPARE(pareto.at(1).toObject().value("count").toInt(), 1);

    // The mean of every run that measured: the five units at their
    // distances and the retest, as floats; σ, Cp and Cpk by hand.
    QVector<double> means;
    for (int i = 0; i < serials.size(); ++i)
        if (serials.at(i) != "QS")
            means << double(float(distances.at(i)));
    means << double(float(5.05));
    const double mean = meanOf(means);
    const double sigma = stddevOf(means);
    QJsonObject meanRow;
    QJsonObject stddevRow;
    for (const QJsonValue &row : report.value("measurements").toArray()) {
        if (row.toObject().value("step") == "measure" && row.toObject().value("name") == "mean")
            meanRow = row.toObject();
        if (row.toObject().value("step") == "measure" && row.toObject().value("name") == "stddev")
            stddevRow = row.toObject();
    }
    QCOMPARE(meanRow.value("n").toInt(), 6);
    QVERIFY2(near(meanRow.value("mean").toDouble(), mean), qPrintable(QJsonDocument(meanRow).toJson()));
    QVERIFY2(near(meanRow.value("stddev").toDouble(), sigma), qPrintable(QJsonDocument(meanRow).toJson()));
    QVERIFY(near(meanRow.value("cp").toDouble(), (high - low) / (6 * sigma)));
    QVERIFY(near(meanRow.value("cpk").toDouble(), std::min(high - mean, mean - low) / (3 * sigma)));
    QVERIFY(near(meanRow.value("outside").toDouble(), 2.0 / 6));
    // Every run's deviation is 0 at a fixed distance: no σ, no Cp.
    QCOMPARE(stddevRow.value("n").toInt(), 6);
    QVERIFY(stddevRow.value("cp").isNull() && stddevRow.value("cpk").isNull());

    // Each port's line summed from the runs; the retest's station alone
    // with a filter, where that unit's first run is its pass.
    const CliRun listed = runCli({"--json", "records", "--records", records});
    qint64 requests = 0;
    for (const QJsonValue &run : listed.json().value("runs").toArray())
        requests += run.toObject().value("line").toObject().value("requests").toInt();
    qint64 reportedRequests = 0;
    for (const QJsonValue &line : report.value("line").toArray())
        reportedRequests += line.toObject().value("requests").toInt();
    QCOMPARE(report.value("line").toArray().size(), 7);
    QVERIFY(requests > 0);
    QCOMPARE(reportedRequests, requests);
    const CliRun atSecond = runCli({"--json", "report", "--records", records, "--station", "bench-2"});
    QVERIFY2(atSecond.exitCode == 0, qPrintable(atSecond.describe()));
    QCOMPARE(atSecond.json().value("units").toInt(), 1);
    QVERIFY(near(atSecond.json().value("yield").toObject().value("first_pass").toDouble(), 1.0));
    QCOMPARE(atSecond.json().value("pareto").toArray().size(), 0);
}
QTEST_GUILESS_MAIN(StationTest)
#include "station_test.moc"
