#include "unitrunner.h"

#include "heightstatistics.h"
#include "modbuscodec.h"
#include "registermap.h"
#include "measurementsession.h"
#include "linesettings.h"
#include "parametertransfer.h"
#include "serialtop.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cmath>

namespace Station {

namespace {

using DeviceParameters::Parameter;
using DeviceParameters::ParameterValue;
using Kind = RecipeStep::Kind;

// A bound on the connect's probe, which fails by itself well within it.
constexpr int kConnectTimeoutMs = 20000;

// The pseudo-steps around the recipe's own, named in a run's failed step.
const QString kConnectStep = QStringLiteral("connect");
const QString kReadOutStep = QStringLiteral("read-out");

QString nameOf(const Parameter &parameter)
{
    return QString::fromLatin1(parameter.name);
}

QVector<const Parameter *> everyParameter()
{
    QVector<const Parameter *> list;
    for (const Parameter &parameter : DeviceParameters::all())
        list << &parameter;
    return list;
}

QMap<QString, double> valuesByName(const DeviceParameters::ParameterValues &values)
{
    QMap<QString, double> map;
    for (const ParameterValue &entry : values)
        map.insert(nameOf(*entry.parameter), DeviceParameters::jsonNumber(*entry.parameter, entry.value));
    return map;
}

// The revision as a cause names it, beside the parameters' own names.
const QString kRevision = QStringLiteral("revision");

// Why a transfer fell short: the request that stopped it, for the parameter
// it was for; else the first parameter it could not do; else the revision.
Cause causeOf(const ParameterReport &report)
{
    const bool revisionMissing = report.revisionAsked && !report.revisionRead;
    if (!report.stop.ok()) {
        // The stopping request is the last failed one, or the revision's.
        const QString parameter = !report.failed.isEmpty() ? nameOf(*report.failed.constLast().parameter)
                                  : revisionMissing          ? kRevision
                                                             : QString();
        return Cause::fromRequest(report.stop, parameter);
    }
    if (!report.failed.isEmpty())
        return Cause::fromRequest(report.failed.constFirst().outcome, nameOf(*report.failed.constFirst().parameter));
    if (revisionMissing)
        return Cause::fromRequest(report.revisionOutcome, kRevision);
    return Cause();
}

// The probe that tells a unit is there went unanswered.
Cause probeUnanswered()
{
    RequestOutcome probe;
    probe.failure = RequestOutcome::Failure::NoAnswer;
    probe.function = ModbusCodec::WriteSingleCoil;
    probe.address = RegisterMap::Coil::ConnectionProbe;
    return Cause::fromRequest(probe);
}

} // namespace

QJsonObject measuredValue(double value, const Limit &limit)
{
    QJsonObject object{{QStringLiteral("value"), value}};
    if (limit.set) {
        object.insert(QStringLiteral("low"), limit.low);
        object.insert(QStringLiteral("high"), limit.high);
    }
    return object;
}

UnitRunner::UnitRunner(const Recipe &recipe, const QString &port, const QString &serial, QObject *parent)
    : QObject(parent)
    , recipe(recipe)
    , top(thread.device())
{
    run.header.port = port;
    run.header.serial = serial;
    connect(top, &SerialTop::portOpenFailed, this, [this](const PortOpenFailure &failure) {
        portOpenFailed = true;
        openFailure = failure;
    });
    // The latest counters come queued to a receiver of their own, so the
    // run's end can take the last of them without anything else queued.
    lineWatch = new QObject(this);
    connect(top, &SerialTop::lineCounters, lineWatch, [this](const LineCounters &latest) { run.line = latest; });
    thread.start();
}

UnitRunner::~UnitRunner()
{
    thread.stop();
}

void UnitRunner::start()
{
    run.header.started = QDateTime::currentDateTimeUtc();
    // A unit whose port never opened sent nothing: zero counts, not none.
    run.line = LineCounters();
    connectToUnit();
}

void UnitRunner::stop(const QString &by)
{
    if (stopping || done)
        return;
    stopping = true;
    stoppedBy = by;
    if (onStop)
        onStop();
}

QObject *UnitRunner::beginStep()
{
    retireStep();
    stepContext = new QObject(this);
    return stepContext;
}

void UnitRunner::retireStep()
{
    onStop = nullptr;
    if (!stepContext)
        return;
    // Nothing of the step acts from now on; the objects themselves go once
    // the report being handled, which may come from one of them, is done.
    disconnect(top, nullptr, stepContext, nullptr);
    for (QTimer *timer : stepContext->findChildren<QTimer *>())
        timer->stop();
    for (ParameterTransfer *transfer : stepContext->findChildren<ParameterTransfer *>())
        disconnect(transfer, nullptr, nullptr, nullptr);
    // A measurement that a lost line or a time-out overtook sends no more.
    for (MeasurementSession *measurement : stepContext->findChildren<MeasurementSession *>()) {
        disconnect(measurement, nullptr, nullptr, nullptr);
        measurement->stop();
    }
    stepContext->deleteLater();
    stepContext = nullptr;
}

void UnitRunner::after(int timeoutMs, const std::function<void()> &action)
{
    auto *timer = new QTimer(stepContext);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, stepContext, action);
    timer->start(timeoutMs);
}

void UnitRunner::guard(int timeoutMs)
{
    after(timeoutMs, [this] { finishStep(Outcome::Error, Cause::timedOut(QStringLiteral("device"))); });
}

ParameterTransfer *UnitRunner::transfer()
{
    return new ParameterTransfer(top, stepContext);
}

void UnitRunner::connectToUnit()
{
    QObject *context = beginStep();
    connect(top, &SerialTop::connectedChanged, context, [this](bool state) {
        if (state) {
            readBefore();
            return;
        }
        identify();
        endRun(Outcome::Error, kConnectStep, portOpenFailed ? Cause::fromPortOpen(openFailure) : probeUnanswered());
    });
    after(kConnectTimeoutMs, [this] {
        identify();
        endRun(Outcome::Error, kConnectStep, Cause::timedOut(QStringLiteral("connect")));
    });
    onStop = [this] {
        identify();
        endRun(Outcome::Interrupted, kConnectStep, Cause::interrupted(stoppedBy));
    };
    top->connectToDevice(run.header.port, Line::kBaudRate);
}

void UnitRunner::readBefore()
{
    QObject *context = beginStep();
    ParameterTransfer *reading = transfer();
    connect(reading, &ParameterTransfer::readFinished, context, [this](const ParameterReport &report) {
        run.header.revisionBefore = report.revision;
        run.parametersBefore = valuesByName(report.done);
        identify();
        // A refused parameter (an older firmware) is recorded as missing;
        // a line that fails ends the unit.
        if (!report.stop.ok() || !report.revisionRead)
            endRun(Outcome::Error, kConnectStep, causeOf(report));
        else if (stopping)
            endRun(Outcome::Interrupted, kConnectStep, Cause::interrupted(stoppedBy));
        else
            nextStep();
    });
    after(kReportTimeoutMs, [this] {
        identify();
        endRun(Outcome::Error, kConnectStep, Cause::timedOut(QStringLiteral("report")));
    });
    reading->read(everyParameter(), true);
}

void UnitRunner::identify()
{
    if (identifiedOnce)
        return;
    identifiedOnce = true;
    emit identified();
}

void UnitRunner::nextStep()
{
    ++stepIndex;
    if (stepIndex >= recipe.steps.size()) {
        readAfter(Outcome::Pass, QString(), Cause());
        return;
    }
    const RecipeStep &step = recipe.steps.at(stepIndex);
    if (stopping) {
        endRun(Outcome::Interrupted, kindName(step.kind), Cause::interrupted(stoppedBy));
        return;
    }
    QObject *context = beginStep();
    current = StepRecord();
    current.index = step.index;
    current.kind = kindName(step.kind);
    current.started = QDateTime::currentDateTimeUtc();
    // A port that goes away ends any step but the update, which says
    // itself where it stopped.
    if (step.kind != Kind::Flash) {
        connect(top, &SerialTop::connectionLost, context, [this](const RequestOutcome &outcome) {
            finishStep(Outcome::Error, Cause::fromRequest(outcome));
        });
        connect(top, &SerialTop::connectedChanged, context, [this](bool state) {
            if (!state)
                finishStep(Outcome::Error, Cause::fromRequest(RequestOutcome::portLost(QByteArray(), run.header.port, QString())));
        });
    }
    switch (step.kind) {
    case Kind::Flash: runFlash(step); break;
    case Kind::Parameters: runParameters(step); break;
    case Kind::Save: runSave(); break;
    case Kind::SelfTest: runSelfTest(); break;
    case Kind::Measure: runMeasure(step); break;
    case Kind::Verify: runVerify(step); break;
    }
}

void UnitRunner::runFlash(const RecipeStep &step)
{
    const qint64 size = QFileInfo(step.image).size();
    connect(top, &SerialTop::firmwareUpdateEnded, stepContext, [this, size](const FirmwareOutcome &ended) {
        if (ended.ok()) {
            finishStep(Outcome::Pass, Cause(), {{QStringLiteral("bytes"), measuredValue(double(size))}});
            return;
        }
        Cause why = Cause::fromFirmware(ended);
        if (ended.request.failure == RequestOutcome::Failure::Interrupted) {
            // Who stopped it, and whether the unit was left without firmware.
            const QJsonObject firmware = why.fields;
            why = Cause::interrupted(stoppedBy);
            why.fields.insert(QStringLiteral("stage"), firmware.value(QLatin1String("stage")));
            why.fields.insert(QStringLiteral("complete"), firmware.value(QLatin1String("complete")));
            finishStep(Outcome::Interrupted, why);
            return;
        }
        finishStep(ended.deviceFault() ? Outcome::Fail : Outcome::Error, why);
    });
    // The device object ends an update by itself, whatever the line does.
    SerialTop *device = top;
    onStop = [device] { device->abortFirmwareUpdate(); };
    top->firmwareUpdate(step.image);
}

void UnitRunner::runParameters(const RecipeStep &step)
{
    ParameterTransfer *writing = transfer();
    connect(writing, &ParameterTransfer::writeFinished, stepContext, [this](const ParameterReport &report) {
        QJsonObject measured;
        for (const ParameterValue &entry : report.done)
            measured.insert(nameOf(*entry.parameter),
                            measuredValue(DeviceParameters::jsonNumber(*entry.parameter, entry.value)));
        for (const ParameterReport::Failed &entry : report.failed)
            if (entry.outcome.failure == RequestOutcome::Failure::NotConfirmed) {
                const Limit written{true, entry.outcome.written, entry.outcome.written};
                measured.insert(nameOf(*entry.parameter), measuredValue(entry.outcome.readBack, written));
            }
        if (report.complete())
            finishStep(Outcome::Pass, Cause(), measured);
        else
            finishStep(report.stop.ok() ? Outcome::Fail : Outcome::Error, causeOf(report), measured);
    });
    guard(kReportTimeoutMs);
    writing->writeAndVerify(step.values);
}

void UnitRunner::runSave()
{
    connect(top, &SerialTop::requestFailed, stepContext,
            [this](const RequestOutcome &outcome) { finishStep(Outcome::Error, Cause::fromRequest(outcome)); });
    // The store command reports nothing itself; a read behind it comes back
    // only once the store was settled, and a failed store ends it first.
    ParameterTransfer *reading = transfer();
    connect(reading, &ParameterTransfer::readFinished, stepContext, [this](const ParameterReport &report) {
        if (report.stop.ok())
            finishStep(Outcome::Pass, Cause());
        else
            finishStep(Outcome::Error, causeOf(report));
    });
    guard(kReportTimeoutMs);
    top->saveSettings();
    reading->read({&DeviceParameters::all().first()}, false);
}

void UnitRunner::runSelfTest()
{
    connect(top, &SerialTop::requestFailed, stepContext,
            [this](const RequestOutcome &outcome) { finishStep(Outcome::Error, Cause::fromRequest(outcome)); });
    connect(top, &SerialTop::selfTestVerdict, stepContext, [this](bool healthy) {
        const QJsonObject measured{{QStringLiteral("healthy"), measuredValue(healthy ? 1 : 0, Limit{true, 1, 1})}};
        if (healthy)
            finishStep(Outcome::Pass, Cause(), measured);
        else
            finishStep(Outcome::Fail, Cause::deviceFault(QStringLiteral("selftest")), measured);
    });
    guard(kSelfTestTimeoutMs);
    top->startDiagnostics();
}

void UnitRunner::runMeasure(const RecipeStep &step)
{
    // As zetra-cli measure: a missed answer is counted and the run goes on;
    // a lost line, Measurement::kMissesInARow misses in a row or a refused request end it.
    using End = MeasurementSession::End;
    MeasurementSession::Rules rules;
    rules.ticks = step.ticks;
    rules.unansweredInARow = Measurement::kMissesInARow;
    rules.requestFailureEnds = true;
    auto *measurement = new MeasurementSession(top, rules, stepContext);
    connect(measurement, &MeasurementSession::finished, stepContext,
            [this, measurement, step](End why, const RequestOutcome &cause) {
                const HeightStatistics statistics = measurement->statistics();
                QJsonObject measured{{QStringLiteral("count"), measuredValue(statistics.count)},
                                     {QStringLiteral("missed"), measuredValue(statistics.missed, step.missed)}};
                if (statistics.count > 0) {
                    measured.insert(QStringLiteral("mean"), measuredValue(statistics.mean, step.mean));
                    measured.insert(QStringLiteral("stddev"), measuredValue(statistics.deviation, step.stddev));
                    measured.insert(QStringLiteral("min"), measuredValue(statistics.low));
                    measured.insert(QStringLiteral("max"), measuredValue(statistics.high));
                }
                switch (why) {
                case End::Elapsed:
                    break;
                case End::Stopped:
                case End::Interrupted:
                    finishStep(Outcome::Interrupted, Cause::interrupted(stoppedBy), measured);
                    return;
                case End::Unanswered: {
                    Cause unanswered = Cause::fromRequest(cause);
                    unanswered.fields.insert(QStringLiteral("in_a_row"), Measurement::kMissesInARow);
                    finishStep(Outcome::Error, unanswered, measured);
                    return;
                }
                case End::LineLost:
                case End::RequestFailed:
                case End::RecorderFailed:
                    finishStep(Outcome::Error, Cause::fromRequest(cause), measured);
                    return;
                }
                if (statistics.count == 0) {
                    finishStep(Outcome::Error, Cause::noData(QStringLiteral("distance")), measured);
                    return;
                }
                // The first limit missed is the cause; every value stays in measured.
                const struct {
                    const char *name;
                    double value;
                    const Limit &limit;
                } checks[] = {{"mean", statistics.mean, step.mean},
                              {"stddev", statistics.deviation, step.stddev},
                              {"missed", double(statistics.missed), step.missed}};
                for (const auto &check : checks)
                    if (!check.limit.holds(check.value)) {
                        finishStep(Outcome::Fail,
                                   Cause::limit(QLatin1String(check.name), check.value, check.limit.low, check.limit.high),
                                   measured);
                        return;
                    }
                finishStep(Outcome::Pass, Cause(), measured);
            });
    onStop = [measurement] { measurement->stop(End::Interrupted); };
    measurement->start();
}

void UnitRunner::runVerify(const RecipeStep &step)
{
    ParameterTransfer *reading = transfer();
    const DeviceParameters::ParameterValues expected = step.expected;
    connect(reading, &ParameterTransfer::readFinished, stepContext, [this, expected](const ParameterReport &report) {
        QJsonObject measured;
        Cause differs;
        Cause unread;
        for (const Parameter &parameter : DeviceParameters::all()) {
            const ParameterValue *read = report.value(parameter);
            const auto wanted = std::find_if(expected.begin(), expected.end(),
                                             [&](const ParameterValue &entry) { return entry.parameter == &parameter; });
            const bool compared = wanted != expected.end();
            if (!read) {
                if (compared && unread.isNone())
                    for (const ParameterReport::Failed &failed : report.failed)
                        if (failed.parameter == &parameter)
                            unread = Cause::fromRequest(failed.outcome, nameOf(parameter));
                continue;
            }
            const double value = DeviceParameters::jsonNumber(parameter, read->value);
            Limit limit;
            if (compared) {
                const double want = DeviceParameters::jsonNumber(parameter, wanted->value);
                limit = Limit{true, want, want};
                if (read->value != wanted->value && differs.isNone())
                    differs = Cause::fromRequest(RequestOutcome::notConfirmed(parameter.holding, want, value),
                                                 nameOf(parameter));
            }
            measured.insert(nameOf(parameter), measuredValue(value, limit));
        }
        if (!report.stop.ok())
            finishStep(Outcome::Error, causeOf(report), measured);
        else if (!unread.isNone())
            finishStep(Outcome::Error, unread, measured);
        else if (!differs.isNone())
            finishStep(Outcome::Fail, differs, measured);
        else
            finishStep(Outcome::Pass, Cause(), measured);
    });
    guard(kReportTimeoutMs);
    reading->read(everyParameter(), false);
}

void UnitRunner::finishStep(Outcome outcome, const Cause &cause, const QJsonObject &measured)
{
    if (!stepContext || current.kind.isEmpty())
        return;
    current.outcome = outcome;
    current.cause = cause;
    current.measured = measured;
    current.ended = QDateTime::currentDateTimeUtc();
    const StepRecord finishedStep = current;
    current = StepRecord();
    retireStep();
    run.steps.append(finishedStep);
    emit stepFinished(finishedStep);
    switch (outcome) {
    case Outcome::Pass:
        nextStep();
        break;
    case Outcome::Fail:
        // The unit still answers: what it leaves with goes in the record.
        readAfter(Outcome::Fail, finishedStep.kind, cause);
        break;
    case Outcome::Running:
    case Outcome::Error:
    case Outcome::Interrupted:
        endRun(outcome, finishedStep.kind, cause);
        break;
    }
}

void UnitRunner::readAfter(Outcome outcome, const QString &failedStep, const Cause &cause)
{
    if (stopping) {
        endRun(outcome == Outcome::Pass ? Outcome::Interrupted : outcome, outcome == Outcome::Pass ? kReadOutStep : failedStep,
               outcome == Outcome::Pass ? Cause::interrupted(stoppedBy) : cause);
        return;
    }
    QObject *context = beginStep();
    ParameterTransfer *reading = transfer();
    connect(reading, &ParameterTransfer::readFinished, context,
            [this, outcome, failedStep, cause](const ParameterReport &report) {
                run.revisionAfter = report.revision;
                run.parametersAfter = valuesByName(report.done);
                if (outcome == Outcome::Pass && (!report.stop.ok() || !report.revisionRead))
                    endRun(Outcome::Error, kReadOutStep, causeOf(report));
                else
                    endRun(outcome, failedStep, cause);
            });
    after(kReportTimeoutMs, [this, outcome, failedStep, cause] {
        endRun(outcome == Outcome::Pass ? Outcome::Error : outcome, outcome == Outcome::Pass ? kReadOutStep : failedStep,
               outcome == Outcome::Pass ? Cause::timedOut(QStringLiteral("report")) : cause);
    });
    reading->read(everyParameter(), true);
}

void UnitRunner::endRun(Outcome outcome, const QString &failedStep, const Cause &cause)
{
    if (done)
        return;
    done = true;
    retireStep();
    run.outcome = outcome;
    run.failedStep = outcome == Outcome::Pass ? QString() : failedStep;
    run.cause = outcome == Outcome::Pass ? Cause() : cause;
    run.ended = QDateTime::currentDateTimeUtc();
    // Everything the line monitor holds is handed out, queued ahead of the
    // finish, then the port is closed and the thread ends.
    if (thread.isRunning()) {
        SerialTop *device = top;
        QMetaObject::invokeMethod(top, [device] { device->flushLineMonitor(); }, Qt::BlockingQueuedConnection);
        // The counters just handed out are the run's.
        QCoreApplication::sendPostedEvents(lineWatch, QEvent::MetaCall);
    }
    disconnect(top, nullptr, this, nullptr);
    disconnect(top, nullptr, lineWatch, nullptr);
    thread.stop();
    top = nullptr;
    QMetaObject::invokeMethod(this, &UnitRunner::finished, Qt::QueuedConnection);
}

} // namespace Station
