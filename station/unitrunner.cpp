#include "unitrunner.h"

#include "heightstatistics.h"
#include "measurementsession.h"
#include "linesettings.h"
#include "parametertransfer.h"
#include "serialtop.h"
#include "wording.h"

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

QString limitText(const Limit &limit)
{
    return QStringLiteral("[%1, %2]").arg(limit.low).arg(limit.high);
}

// What a transfer left undone, parameter by parameter.
QString shortfall(const ParameterReport &report)
{
    QStringList parts;
    for (const ParameterReport::Failed &entry : report.failed)
        parts << QStringLiteral("%1: %2").arg(nameOf(*entry.parameter), Wording::outcome(entry.outcome));
    if (!report.notAttempted.isEmpty())
        parts << QStringLiteral("%1 not attempted").arg(report.notAttempted.size());
    if (report.revisionAsked && !report.revisionRead)
        parts << QStringLiteral("revision not read");
    return parts.join(QStringLiteral("; "));
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
    thread.start();
}

UnitRunner::~UnitRunner()
{
    thread.stop();
}

void UnitRunner::start()
{
    run.header.started = QDateTime::currentDateTimeUtc();
    connectToUnit();
}

void UnitRunner::stop()
{
    if (stopping || done)
        return;
    stopping = true;
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
    after(timeoutMs, [this] { finishStep(Outcome::Error, QStringLiteral("the device did not finish in time")); });
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
        endRun(Outcome::Error, kConnectStep,
               portOpenFailed ? QStringLiteral("cannot open %1: %2").arg(openFailure.port, openFailure.detail)
                              : QStringLiteral("the device on %1 did not answer the probe").arg(run.header.port));
    });
    after(kConnectTimeoutMs, [this] {
        identify();
        endRun(Outcome::Error, kConnectStep, QStringLiteral("no verdict on the connection in time"));
    });
    onStop = [this] {
        identify();
        endRun(Outcome::Interrupted, kConnectStep, QStringLiteral("stopped while connecting"));
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
            endRun(Outcome::Error, kConnectStep, QStringLiteral("reading the unit as found: %1").arg(shortfall(report)));
        else if (stopping)
            endRun(Outcome::Interrupted, kConnectStep, QStringLiteral("stopped before the first step"));
        else
            nextStep();
    });
    after(kReportTimeoutMs, [this] {
        identify();
        endRun(Outcome::Error, kConnectStep, QStringLiteral("reading the unit as found: no report in time"));
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
        readAfter(Outcome::Pass, QString(), QString());
        return;
    }
    const RecipeStep &step = recipe.steps.at(stepIndex);
    if (stopping) {
        endRun(Outcome::Interrupted, kindName(step.kind), QStringLiteral("stopped before this step"));
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
            finishStep(Outcome::Error, Wording::outcome(outcome));
        });
        connect(top, &SerialTop::connectedChanged, context, [this](bool state) {
            if (!state)
                finishStep(Outcome::Error, QStringLiteral("the connection to the device was lost"));
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
            finishStep(Outcome::Pass, QString(), {{QStringLiteral("bytes"), measuredValue(double(size))}});
            return;
        }
        QString why = Wording::firmwareStep(ended.failedStep);
        if (ended.failedStep == FirmwareOutcome::Step::Program)
            why += QStringLiteral(" the block at 0x%1").arg(ended.blockOffset, 8, 16, QLatin1Char('0'));
        why += QStringLiteral(": ") + (ended.request.ok() ? QStringLiteral("the device reports a failure")
                                                           : Wording::outcome(ended.request));
        if (ended.eraseBegan)
            why += QStringLiteral("; the unit holds no complete firmware until an update runs to the end");
        const Outcome outcome = ended.request.failure == RequestOutcome::Failure::Interrupted ? Outcome::Interrupted
                                : ended.deviceFault()                                          ? Outcome::Fail
                                                                                               : Outcome::Error;
        finishStep(outcome, why);
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
            finishStep(Outcome::Pass, QString(), measured);
        else if (!report.stop.ok())
            finishStep(Outcome::Error, QStringLiteral("writing stopped: %1: %2").arg(Wording::outcome(report.stop), shortfall(report)), measured);
        else
            finishStep(Outcome::Fail, QStringLiteral("not read back as written: %1").arg(shortfall(report)), measured);
    });
    guard(kReportTimeoutMs);
    writing->writeAndVerify(step.values);
}

void UnitRunner::runSave()
{
    connect(top, &SerialTop::requestFailed, stepContext,
            [this](const RequestOutcome &outcome) { finishStep(Outcome::Error, Wording::outcome(outcome)); });
    // The store command reports nothing itself; a read behind it comes back
    // only once the store was settled, and a failed store ends it first.
    ParameterTransfer *reading = transfer();
    connect(reading, &ParameterTransfer::readFinished, stepContext, [this](const ParameterReport &report) {
        if (report.stop.ok())
            finishStep(Outcome::Pass, QString());
        else
            finishStep(Outcome::Error, Wording::outcome(report.stop));
    });
    guard(kReportTimeoutMs);
    top->saveSettings();
    reading->read({&DeviceParameters::all().first()}, false);
}

void UnitRunner::runSelfTest()
{
    connect(top, &SerialTop::requestFailed, stepContext,
            [this](const RequestOutcome &outcome) { finishStep(Outcome::Error, Wording::outcome(outcome)); });
    connect(top, &SerialTop::selfTestVerdict, stepContext, [this](bool healthy) {
        const QJsonObject measured{{QStringLiteral("healthy"), measuredValue(healthy ? 1 : 0, Limit{true, 1, 1})}};
        if (healthy)
            finishStep(Outcome::Pass, QString(), measured);
        else
            finishStep(Outcome::Fail, QStringLiteral("the device reports a fault"), measured);
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
                    finishStep(Outcome::Interrupted, QStringLiteral("stopped during the measurement"), measured);
                    return;
                case End::Unanswered:
                    finishStep(Outcome::Error,
                               QStringLiteral("%1 (%2 requests in a row)").arg(Wording::outcome(cause)).arg(Measurement::kMissesInARow),
                               measured);
                    return;
                case End::LineLost:
                case End::RequestFailed:
                case End::RecorderFailed:
                    finishStep(Outcome::Error, Wording::outcome(cause), measured);
                    return;
                }
                if (statistics.count == 0) {
                    finishStep(Outcome::Error, QStringLiteral("no distance came back"), measured);
                    return;
                }
                QStringList missedLimits;
                const auto check = [&](const char *name, double value, const Limit &limit) {
                    if (!limit.holds(value))
                        missedLimits << QStringLiteral("%1 %2 outside %3").arg(QLatin1String(name)).arg(value).arg(limitText(limit));
                };
                check("mean", statistics.mean, step.mean);
                check("stddev", statistics.deviation, step.stddev);
                check("missed", statistics.missed, step.missed);
                if (missedLimits.isEmpty())
                    finishStep(Outcome::Pass, QString(), measured);
                else
                    finishStep(Outcome::Fail, missedLimits.join(QStringLiteral("; ")), measured);
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
        QStringList differ;
        QStringList unread;
        for (const Parameter &parameter : DeviceParameters::all()) {
            const ParameterValue *read = report.value(parameter);
            const auto wanted = std::find_if(expected.begin(), expected.end(),
                                             [&](const ParameterValue &entry) { return entry.parameter == &parameter; });
            const bool compared = wanted != expected.end();
            if (!read) {
                if (compared)
                    unread << nameOf(parameter);
                continue;
            }
            const double value = DeviceParameters::jsonNumber(parameter, read->value);
            Limit limit;
            if (compared) {
                const double want = DeviceParameters::jsonNumber(parameter, wanted->value);
                limit = Limit{true, want, want};
                if (read->value != wanted->value)
                    differ << QStringLiteral("%1: expected %2, read %3")
                                  .arg(nameOf(parameter), DeviceParameters::formatValue(parameter, wanted->value),
                                       DeviceParameters::formatValue(parameter, read->value));
            }
            measured.insert(nameOf(parameter), measuredValue(value, limit));
        }
        if (!report.stop.ok() || !unread.isEmpty())
            finishStep(Outcome::Error,
                       QStringLiteral("reading back: %1").arg(report.stop.ok() ? shortfall(report) : Wording::outcome(report.stop)),
                       measured);
        else if (!differ.isEmpty())
            finishStep(Outcome::Fail, differ.join(QStringLiteral("; ")), measured);
        else
            finishStep(Outcome::Pass, QString(), measured);
    });
    guard(kReportTimeoutMs);
    reading->read(everyParameter(), false);
}

void UnitRunner::finishStep(Outcome outcome, const QString &reason, const QJsonObject &measured)
{
    if (!stepContext || current.kind.isEmpty())
        return;
    current.outcome = outcome;
    current.reason = reason;
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
        readAfter(Outcome::Fail, finishedStep.kind, reason);
        break;
    case Outcome::Running:
    case Outcome::Error:
    case Outcome::Interrupted:
        endRun(outcome, finishedStep.kind, reason);
        break;
    }
}

void UnitRunner::readAfter(Outcome outcome, const QString &failedStep, const QString &reason)
{
    if (stopping) {
        endRun(outcome == Outcome::Pass ? Outcome::Interrupted : outcome, outcome == Outcome::Pass ? kReadOutStep : failedStep,
               outcome == Outcome::Pass ? QStringLiteral("stopped before the unit was read back") : reason);
        return;
    }
    QObject *context = beginStep();
    ParameterTransfer *reading = transfer();
    connect(reading, &ParameterTransfer::readFinished, context,
            [this, outcome, failedStep, reason](const ParameterReport &report) {
                run.revisionAfter = report.revision;
                run.parametersAfter = valuesByName(report.done);
                if (outcome == Outcome::Pass && (!report.stop.ok() || !report.revisionRead))
                    endRun(Outcome::Error, kReadOutStep, QStringLiteral("reading the unit back: %1").arg(shortfall(report)));
                else
                    endRun(outcome, failedStep, reason);
            });
    after(kReportTimeoutMs, [this, outcome, failedStep, reason] {
        endRun(outcome == Outcome::Pass ? Outcome::Error : outcome, outcome == Outcome::Pass ? kReadOutStep : failedStep,
               outcome == Outcome::Pass ? QStringLiteral("reading the unit back: no report in time") : reason);
    });
    reading->read(everyParameter(), true);
}

void UnitRunner::endRun(Outcome outcome, const QString &failedStep, const QString &reason)
{
    if (done)
        return;
    done = true;
    retireStep();
    run.outcome = outcome;
    run.failedStep = outcome == Outcome::Pass ? QString() : failedStep;
    run.reason = outcome == Outcome::Pass ? QString() : reason;
    run.ended = QDateTime::currentDateTimeUtc();
    // Everything the line monitor holds is handed out, queued ahead of the
    // finish, then the port is closed and the thread ends.
    if (thread.isRunning()) {
        SerialTop *device = top;
        QMetaObject::invokeMethod(top, [device] { device->flushLineMonitor(); }, Qt::BlockingQueuedConnection);
    }
    disconnect(top, nullptr, this, nullptr);
    thread.stop();
    top = nullptr;
    QMetaObject::invokeMethod(this, &UnitRunner::finished, Qt::QueuedConnection);
}

} // namespace Station
