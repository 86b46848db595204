// Check commands: selftest, measure, raw.
#include "command.h"

#include "devicesession.h"
#include "deviceparameters.h"
#include "measurementsession.h"
#include "report.h"
#include "serialtop.h"
#include "wording.h"

#include <QLocale>
#include <QSaveFile>

using DeviceParameters::shortestText;
using Outcome = DeviceSession::Outcome;

namespace {

constexpr int kSelfTestTimeoutMs = 20000;
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
        if (!ok || !(value > 0) || value > Measurement::kMaxCommandLineSeconds) {
            error = QStringLiteral("measure needs --seconds N, N above 0 and at most %1").arg(Measurement::kMaxCommandLineSeconds);
            return false;
        }
        ticks = Measurement::ticksFor(value);
        csv = invocation.csv;
        return csv.isEmpty() || checkOutputFile(csv, error);
    }

    // A missed answer is counted and the run goes on; a lost line, a stop
    // signal, a failed row or Measurement::kMissesInARow misses in a row end it.
    // Whatever ended it, every reading taken is in the file and in the
    // statistics.
    int run(DeviceSession &session, Report &report) override
    {
        using End = MeasurementSession::End;
        MeasurementSession::Rules rules;
        rules.ticks = ticks;
        rules.unansweredInARow = Measurement::kMissesInARow;
        rules.requestFailureEnds = true;
        // The file is what was asked for: no use measuring on without it.
        rules.recorderFailureEnds = true;
        MeasurementSession measurement(session.device(), rules);
        const HeightRecorder &recorder = measurement.recording();
        if (!csv.isEmpty() && !measurement.startRecording(csv))
            return report.finish(Exit::BadInput, QStringLiteral("cannot write %1: %2").arg(csv, recorder.errorString()));
        measurement.start();
        // The session's own rules judge failed requests; the wait ends with it.
        const Outcome outcome = session.waitFor([&] { return measurement.hasEnded(); }, 0, true, false);
        if (outcome == Outcome::Interrupted)
            measurement.stop(End::Interrupted);
        const End end = measurement.endReason();
        const bool whole = recorder.errorString().isEmpty();

        const HeightStatistics statistics = measurement.statistics();
        const auto number = [](double value) { return QString::number(value, 'f', 6); };
        report.set(QStringLiteral("count"), statistics.count);
        report.set(QStringLiteral("missed"), statistics.missed);
        if (statistics.count > 0) {
            report.line(QStringLiteral("count = %1").arg(statistics.count));
            report.line(QStringLiteral("missed = %1").arg(statistics.missed));
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
        switch (end) {
        case End::Interrupted:
            return session.fail(Outcome::Interrupted, report, QStringLiteral("measure") + kept);
        case End::LineLost:
        case End::Unanswered:
        case End::RequestFailed:
            return report.finish(Exit::Communication,
                                 QStringLiteral("measure: %1%2%3")
                                     .arg(Wording::outcome(measurement.endCause()),
                                          end == End::Unanswered
                                              ? QStringLiteral(" (%1 requests in a row)").arg(measurement.missedInARow())
                                              : QString(),
                                          kept));
        case End::Stopped:
        case End::Elapsed:
        case End::RecorderFailed:
            break;
        }
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
