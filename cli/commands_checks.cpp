// Check commands: selftest, measure, raw.
#include "command.h"

#include "devicesession.h"
#include "deviceparameters.h"
#include "heightrecorder.h"
#include "heightstatistics.h"
#include "report.h"
#include "serialtop.h"
#include "wording.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QSaveFile>
#include <QTimer>

#include <cmath>

using DeviceParameters::shortestText;
using Outcome = DeviceSession::Outcome;

namespace {

constexpr int kSelfTestTimeoutMs = 20000;
constexpr double kMaxMeasureSeconds = 86400;
// After the last tick, the answers still queued: a skipped tick never
// answers, so the wait ends by time rather than by count.
constexpr int kMeasureDrainMs = 2500;
// A device that leaves this many requests in a row unanswered has stopped
// answering; fewer are a noisy line, counted and measured through.
constexpr int kMeasureMissesInARow = 3;
constexpr int kRawTimeoutMs = 120000;
constexpr int kRawTypeCount = 5;            // as on the telemetry tab
constexpr int kRawTypeInterleavedIq = 2;    // samples alternate I, Q

bool writeCsv(const QString &path, const QStringList &lines, QString &error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        file.write(lines.join(QLatin1Char('\n')).toUtf8());
        file.write("\n");
        if (file.commit())
            return true;
    }
    error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

class SelfTestCommand : public Command
{
public:
    bool prepare(const Invocation &invocation, QString &error) override { return noArguments(invocation, error); }

    int run(DeviceSession &session, Report &report) override
    {
        SerialTop *top = session.device();
        QObject context;
        int verdict = -1;
        QObject::connect(top, &SerialTop::selfTestVerdict, &context, [&](bool healthy) { verdict = healthy ? 1 : 0; });
        top->startDiagnostics();
        const Outcome outcome = session.waitFor([&] { return verdict >= 0; }, kSelfTestTimeoutMs);
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("selftest"));
        report.line(verdict ? QStringLiteral("healthy") : QStringLiteral("faulty"));
        report.set(QStringLiteral("healthy"), verdict == 1);
        return verdict ? report.finish(Exit::Done)
                       : report.finish(Exit::Verdict, QStringLiteral("the device reports a fault"));
    }
};

class MeasureCommand : public Command
{
public:
    bool prepare(const Invocation &invocation, QString &error) override
    {
        if (!noArguments(invocation, error))
            return false;
        bool ok = false;
        const double value = QLocale::c().toDouble(invocation.seconds, &ok);
        if (!ok || !(value > 0) || value > kMaxMeasureSeconds) {
            error = QStringLiteral("measure needs --seconds N, N above 0 and at most %1").arg(kMaxMeasureSeconds);
            return false;
        }
        ticks = qMax(1, int(std::lround(value * 1000 / Measurement::kPeriodMs)));
        csv = invocation.csv;
        return csv.isEmpty() || checkOutputFile(csv, error);
    }

    // A missed answer is counted and the run goes on; a lost line or a stop
    // signal ends it. Whatever ended it, every reading taken is in the file
    // and in the statistics.
    int run(DeviceSession &session, Report &report) override
    {
        SerialTop *top = session.device();
        QObject context;
        HeightRecorder recorder;
        if (!csv.isEmpty() && !recorder.start(csv))
            return report.finish(Exit::BadInput, QStringLiteral("cannot write %1: %2").arg(csv, recorder.errorString()));
        QVector<double> readings;
        int periods = 0;
        int missed = 0;
        bool recorderFailed = false;
        RequestOutcome lostLine;
        int missesInARow = 0;
        QObject::connect(top, &SerialTop::checkDistance, &context, [&](float distance) {
            missesInARow = 0;
            readings << double(distance);
            recorderFailed = !recorder.addDistance(double(distance)) || recorderFailed;
        });
        // The period read follows its distance read in the ring.
        QObject::connect(top, &SerialTop::checkPeriodMeas, &context, [&](float period) {
            ++periods;
            recorderFailed = !recorder.addPeriod(double(period)) || recorderFailed;
        });
        QObject::connect(top, &SerialTop::requestFailed, &context, [&](const RequestOutcome &outcome) {
            const bool miss =
                outcome.failure == RequestOutcome::Failure::NoAnswer || outcome.failure == RequestOutcome::Failure::Refused;
            if (miss)
                ++missed;
            if ((!miss || ++missesInARow >= kMeasureMissesInARow) && lostLine.ok())
                lostLine = outcome;
        });
        QObject::connect(top, &SerialTop::connectionLost, &context, [&](const RequestOutcome &outcome) { lostLine = outcome; });
        QObject::connect(top, &SerialTop::connectedChanged, &context, [&](bool connected) {
            if (!connected && lostLine.ok())
                lostLine = RequestOutcome::failed(RequestOutcome::Failure::PortClosed);
        });

        int sent = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, &context, [&] {
            top->getDistance();
            if (++sent == ticks)
                tick.stop();
        });
        top->getDistance();
        if (++sent < ticks)
            tick.start(Measurement::kPeriodMs);
        const auto ended = [&] { return !lostLine.ok(); };
        Outcome outcome = session.waitFor([&] { return sent == ticks || ended(); }, 0, true, false);
        tick.stop();
        // The answers still queued after the last tick; a skipped tick never
        // answers, so this wait ends by time rather than by count.
        if (outcome == Outcome::Done && !ended()) {
            outcome = session.waitFor([&] { return periods + missed >= sent || ended(); }, kMeasureDrainMs, true, false);
            if (outcome == Outcome::TimedOut)
                outcome = Outcome::Done;
        }
        const bool whole = recorder.stop() && !recorderFailed;

        const HeightStatistics statistics = HeightStatistics::of(readings);
        const auto number = [](double value) { return QString::number(value, 'f', 6); };
        report.set(QStringLiteral("count"), statistics.count);
        report.set(QStringLiteral("missed"), missed);
        if (statistics.count > 0) {
            report.line(QStringLiteral("count = %1").arg(statistics.count));
            report.line(QStringLiteral("missed = %1").arg(missed));
            report.line(QStringLiteral("mean = %1").arg(number(statistics.mean)));
            report.line(QStringLiteral("stddev = %1").arg(number(statistics.deviation)));
            report.line(QStringLiteral("min = %1").arg(number(statistics.low)));
            report.line(QStringLiteral("max = %1").arg(number(statistics.high)));
            report.set(QStringLiteral("mean"), statistics.mean);
            report.set(QStringLiteral("stddev"), statistics.deviation);
            report.set(QStringLiteral("min"), statistics.low);
            report.set(QStringLiteral("max"), statistics.high);
        }
        if (!csv.isEmpty())
            report.set(QStringLiteral("csv"), csv);
        const QString kept = csv.isEmpty() ? QString()
                                           : QStringLiteral("; %1 readings in %2").arg(recorder.rowCount()).arg(csv);
        if (!whole)
            return report.finish(Exit::BadInput, QStringLiteral("measure: writing %1 failed: %2 (%3 rows written)")
                                                     .arg(csv, recorder.errorString())
                                                     .arg(recorder.rowCount()));
        if (outcome == Outcome::Interrupted)
            return session.fail(outcome, report, QStringLiteral("measure") + kept);
        if (ended())
            return report.finish(Exit::Communication,
                                 QStringLiteral("measure: %1%2%3")
                                     .arg(Wording::outcome(lostLine),
                                          missesInARow >= kMeasureMissesInARow
                                              ? QStringLiteral(" (%1 requests in a row)").arg(missesInARow)
                                              : QString(),
                                          kept));
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("measure"));
        if (statistics.count == 0)
            return report.finish(Exit::Communication, QStringLiteral("measure: no distance came back"));
        return report.finish(Exit::Done);
    }

private:
    int ticks = 0;
    QString csv;
};

class RawCommand : public Command
{
public:
    bool prepare(const Invocation &invocation, QString &error) override
    {
        if (!noArguments(invocation, error))
            return false;
        bool ok = false;
        type = invocation.type.toInt(&ok);
        if (!ok || type < 0 || type >= kRawTypeCount) {
            error = QStringLiteral("raw needs --type T, T from 0 to %1").arg(kRawTypeCount - 1);
            return false;
        }
        csv = invocation.csv;
        if (csv.isEmpty()) {
            error = QStringLiteral("raw needs --csv FILE");
            return false;
        }
        return checkOutputFile(csv, error);
    }

    int run(DeviceSession &session, Report &report) override
    {
        SerialTop *top = session.device();
        QObject context;
        QVector<float> samples;
        int finished = -1;
        QObject::connect(top, &SerialTop::rcvRawData, &context, [&](float, float value) { samples << value; });
        QObject::connect(top, &SerialTop::rawReadFinished, &context, [&](bool success) { finished = success; });
        top->getDataRaw(type);
        const Outcome outcome = session.waitFor([&] { return finished >= 0; }, kRawTimeoutMs);
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("raw"));
        if (!finished)
            return report.finish(Exit::Communication, QStringLiteral("raw: the read-out failed"));

        QStringList lines;
        if (type == kRawTypeInterleavedIq) {
            lines << QStringLiteral("index;i;q");
            for (int k = 0; k < samples.size(); k += 2)
                lines << QStringLiteral("%1;%2;%3").arg(k / 2).arg(shortestText(samples.at(k)),
                                                                 k + 1 < samples.size() ? shortestText(samples.at(k + 1))
                                                                                        : QString());
        } else {
            lines << QStringLiteral("index;value");
            for (int k = 0; k < samples.size(); ++k)
                lines << QStringLiteral("%1;%2").arg(k).arg(shortestText(samples.at(k)));
        }
        QString error;
        if (!writeCsv(csv, lines, error))
            return report.finish(Exit::BadInput, error);
        report.line(QStringLiteral("points = %1").arg(samples.size()));
        report.set(QStringLiteral("type"), type);
        report.set(QStringLiteral("points"), samples.size());
        report.set(QStringLiteral("csv"), csv);
        return report.finish(Exit::Done);
    }

private:
    int type = 0;
    QString csv;
};

} // namespace

std::unique_ptr<Command> makeSelfTest() { return std::make_unique<SelfTestCommand>(); }
std::unique_ptr<Command> makeMeasure() { return std::make_unique<MeasureCommand>(); }
std::unique_ptr<Command> makeRaw() { return std::make_unique<RawCommand>(); }
