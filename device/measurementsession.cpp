#include "measurementsession.h"

#include "modbuscodec.h"
#include "registermap.h"
#include "serialtop.h"

#include <QtGlobal>

#include <cmath>

int Measurement::ticksFor(double seconds)
{
    return qMax(1, int(std::lround(seconds * 1000 / kPeriodMs)));
}

MeasurementSession::MeasurementSession(SerialTop *device, QObject *parent)
    : MeasurementSession(device, Rules(), parent)
{
}

MeasurementSession::MeasurementSession(SerialTop *device, const Rules &rules, QObject *parent)
    : QObject(parent)
    , top(device)
    , runRules(rules)
{
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(Measurement::kPeriodMs);
    connect(&ticker, &QTimer::timeout, this, &MeasurementSession::tick);
    drain.setSingleShot(true);
    drain.setInterval(kDrainMs);
    connect(&drain, &QTimer::timeout, this, [this] { finish(End::Elapsed); });

    // The device object lives in another thread: every report is queued.
    connect(device, &SerialTop::checkDistance, this, &MeasurementSession::takeDistance);
    // The period read follows its distance read in the ring.
    connect(device, &SerialTop::checkPeriodMeas, this, &MeasurementSession::takePeriod);
    connect(device, &SerialTop::requestFailed, this, &MeasurementSession::takeFailure);
    connect(device, &SerialTop::connectionLost, this, &MeasurementSession::takeLineLoss);
    connect(device, &SerialTop::connectedChanged, this, [this](bool connected) {
        if (!connected)
            takeLineLoss(RequestOutcome::failed(RequestOutcome::Failure::PortClosed));
    });
}

MeasurementSession::~MeasurementSession()
{
    // A row still waiting for its period is written.
    recorder.stop();
}

void MeasurementSession::start()
{
    if (running)
        return;
    running = true;
    draining = false;
    ended = false;
    lastEnd = End::Stopped;
    lastCause = RequestOutcome();
    sent = 0;
    periods = 0;
    missedThisRun = 0;
    missesInARow = 0;
    tick();
    if (running && !draining)
        ticker.start();
}

void MeasurementSession::stop(End why)
{
    finish(why);
}

void MeasurementSession::tick()
{
    top->getDistance();
    ++sent;
    if (runRules.ticks > 0 && sent >= runRules.ticks) {
        ticker.stop();
        draining = true;
        drain.start();
    }
}

void MeasurementSession::takeDistance(float metres)
{
    missesInARow = 0;
    if (readingLimit > 0 && kept.size() >= readingLimit)
        kept.clear();
    kept << double(metres);
    emit reading(double(metres));
    if (!recorder.addDistance(double(metres)))
        recordFailed();
}

void MeasurementSession::takePeriod(float period)
{
    // An answered period read breaks a run of unanswered requests as a
    // distance does: the device is there.
    missesInARow = 0;
    ++periods;
    if (!recorder.addPeriod(double(period)))
        recordFailed();
    checkDrained();
}

void MeasurementSession::takeFailure(const RequestOutcome &outcome)
{
    using Failure = RequestOutcome::Failure;
    if (outcome.failure == Failure::PortLost || outcome.failure == Failure::PortClosed) {
        takeLineLoss(outcome);
        return;
    }
    // Another request's failure (a parameter the window reads) is not ours.
    if (!isOwnRequest(outcome))
        return;
    if (outcome.failure == Failure::NoAnswer || outcome.failure == Failure::Refused) {
        ++missedCount;
        ++missedThisRun;
        ++missesInARow;
        if (running && runRules.unansweredInARow > 0 && missesInARow >= runRules.unansweredInARow)
            finish(End::Unanswered, outcome);
        else
            checkDrained();
        return;
    }
    if (running && runRules.requestFailureEnds)
        finish(End::RequestFailed, outcome);
}

void MeasurementSession::takeLineLoss(const RequestOutcome &outcome)
{
    finish(End::LineLost, outcome);
}

// Each tick the device object took ends in a period or a miss; once as many
// have come as ticks went out, nothing more is owed.
void MeasurementSession::checkDrained()
{
    if (draining && periods + missedThisRun >= sent)
        finish(End::Elapsed);
}

void MeasurementSession::recordFailed()
{
    emit recordingFailed();
    if (running && runRules.recorderFailureEnds)
        finish(End::RecorderFailed);
}

void MeasurementSession::finish(End why, const RequestOutcome &cause)
{
    if (!running)
        return;
    running = false;
    draining = false;
    ticker.stop();
    drain.stop();
    ended = true;
    lastEnd = why;
    lastCause = cause;
    // A front end that words the recording's end does so here; whatever it
    // left open closes after.
    emit finished(why, cause);
    recorder.stop();
}

bool MeasurementSession::isOwnRequest(const RequestOutcome &outcome)
{
    return outcome.function == ModbusCodec::ReadInputRegisters
           && (outcome.address == RegisterMap::Input::Distance || outcome.address == RegisterMap::Input::Period);
}

HeightStatistics MeasurementSession::statistics() const
{
    HeightStatistics statistics = HeightStatistics::of(kept);
    statistics.missed = missedCount;
    return statistics;
}

void MeasurementSession::clearReadings()
{
    kept.clear();
    missedCount = 0;
}

bool MeasurementSession::startRecording(const QString &path)
{
    return recorder.start(path);
}

bool MeasurementSession::stopRecording()
{
    return recorder.stop();
}
