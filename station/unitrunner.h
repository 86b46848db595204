#pragma once

#include "devicethread.h"
#include "parameterreport.h"
#include "portopenfailure.h"
#include "recipe.h"
#include "runrecord.h"

#include <QObject>

#include <functional>

class ParameterTransfer;
class SerialTop;

namespace Station {

// Runs a recipe on one unit: its own device thread and port, driven from
// the caller's thread without blocking it, so one thread can run many
// units side by side. Each step ends pass, fail (a limit missed, or the
// device's own verdict), error (the line failed) or interrupted; the first
// that does not pass ends the unit. After the steps, or a failed one, the
// revision and parameters are read again for the record.
class UnitRunner : public QObject
{
    Q_OBJECT
public:
    UnitRunner(const Recipe &recipe, const QString &port, const QString &serial, QObject *parent = nullptr);
    ~UnitRunner() override;

    // The device object, for a trace of its line; gone once finished.
    SerialTop *device() const { return top; }
    // Serial, port, revision before and start in header; the rest as the run goes.
    const RunRecord &record() const { return run; }
    bool isFinished() const { return done; }

    void start();
    // A stop signal: the unit sends nothing after the operation under way
    // (a firmware update stops before its next block, a measurement at once)
    // and ends interrupted.
    // by: who stopped it, as the interrupted cause records (Cause::kByOperator, kBySignal).
    void stop(const QString &by = Cause::kByOperator);

    // Bounds a wait for a report that the device object's own time-outs
    // should always bring.
    static constexpr int kReportTimeoutMs = 60000;
    static constexpr int kSelfTestTimeoutMs = 20000;

signals:
    // Connected, and the revision and parameters read as found (as far as
    // they could be): the run's header is complete. Comes once, also for a
    // unit that could not be reached.
    void identified();
    void stepFinished(const Station::StepRecord &step);
    // The outcome is set and the port closed; any frames of the line were
    // handed out before this.
    void finished();

private:
    void connectToUnit();
    void readBefore();
    void nextStep();
    void runFlash(const RecipeStep &step);
    void runParameters(const RecipeStep &step);
    void runSave();
    void runSelfTest();
    void runMeasure(const RecipeStep &step);
    void runVerify(const RecipeStep &step);
    void readAfter(Outcome outcome, const QString &failedStep, const Cause &cause);

    // The current step's connections and timers live in stepContext and go
    // with it, so a late report of one step never reaches the next.
    QObject *beginStep();
    void retireStep();
    void after(int timeoutMs, const std::function<void()> &action);
    void guard(int timeoutMs);
    void finishStep(Outcome outcome, const Cause &cause, const QJsonObject &measured = QJsonObject());
    ParameterTransfer *transfer();
    void endRun(Outcome outcome, const QString &failedStep, const Cause &cause);
    void identify();

    Recipe recipe;
    DeviceThread thread;
    SerialTop *top;
    RunRecord run;
    QObject *lineWatch = nullptr;   // receives the line's counters into run.line
    QObject *stepContext = nullptr;
    StepRecord current;
    int stepIndex = -1;
    bool stopping = false;
    QString stoppedBy = Cause::kByOperator;   // who, once stopping
    bool identifiedOnce = false;
    bool done = false;
    bool portOpenFailed = false;
    PortOpenFailure openFailure;
    std::function<void()> onStop;   // what stopping the step under way takes
};

// A value with the limits it was checked against, as a step records it.
QJsonObject measuredValue(double value, const Limit &limit = Limit());

} // namespace Station
