// Check commands: selftest, measure, raw.
#include "command.h"

#include "devicesession.h"
#include "deviceparameters.h"
#include "report.h"
#include "serialtop.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QSaveFile>
#include <QTimer>

#include <cmath>

using DeviceParameters::shortestText;
using Outcome = DeviceSession::Outcome;

namespace {

constexpr int kSelfTestTimeoutMs = 20000;
constexpr int kMeasurePeriodMs = 100;       // 10 Hz, as the window measures
constexpr double kMaxMeasureSeconds = 86400;
// After the last tick, the answers still queued: a skipped tick never
// answers, so the wait ends by time rather than by count.
constexpr int kMeasureDrainMs = 2500;
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
        ticks = qMax(1, int(std::lround(value * 1000 / kMeasurePeriodMs)));
        csv = invocation.csv;
        return csv.isEmpty() || checkOutputFile(csv, error);
    }

    int run(DeviceSession &session, Report &report) override
    {
        struct Row
        {
            double seconds;
            float distance;
            QString period;
        };
        QVector<Row> rows;
        int periods = 0;
        SerialTop *top = session.device();
        QObject context;
        QElapsedTimer clock;
        QObject::connect(top, &SerialTop::checkDistance, &context, [&](float distance) {
            rows.append({clock.nsecsElapsed() / 1e9, distance, QString()});
        });
        // The period read follows its distance read in the ring.
        QObject::connect(top, &SerialTop::checkPeriodMeas, &context, [&](float period) {
            ++periods;
            if (!rows.isEmpty() && rows.last().period.isEmpty())
                rows.last().period = shortestText(period);
        });

        int sent = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, &context, [&] {
            top->getDistance();
            if (++sent == ticks)
                tick.stop();
        });
        clock.start();
        top->getDistance();
        if (++sent < ticks)
            tick.start(kMeasurePeriodMs);
        Outcome outcome = session.waitFor([&] { return sent == ticks; }, 0);
        if (outcome == Outcome::Done) {
            outcome = session.waitFor([&] { return periods >= sent; }, kMeasureDrainMs);
            if (outcome == Outcome::TimedOut)
                outcome = Outcome::Done;
        }
        tick.stop();
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("measure"));
        if (rows.isEmpty())
            return report.finish(Exit::Communication, QStringLiteral("measure: no distance came back"));

        double sum = 0;
        double low = rows.first().distance;
        double high = low;
        for (const Row &row : rows) {
            sum += row.distance;
            low = qMin<double>(low, row.distance);
            high = qMax<double>(high, row.distance);
        }
        const double mean = sum / rows.size();
        double squares = 0;
        for (const Row &row : rows)
            squares += (row.distance - mean) * (row.distance - mean);
        const double deviation = rows.size() > 1 ? std::sqrt(squares / (rows.size() - 1)) : 0.0;

        if (!csv.isEmpty()) {
            QStringList lines{QStringLiteral("time_s;distance_m;period")};
            for (const Row &row : rows)
                lines << QStringLiteral("%1;%2;%3").arg(QString::number(row.seconds, 'f', 3),
                                                        shortestText(row.distance), row.period);
            QString error;
            if (!writeCsv(csv, lines, error))
                return report.finish(Exit::BadInput, error);
            report.set(QStringLiteral("csv"), csv);
        }
        const auto number = [](double value) { return QString::number(value, 'f', 6); };
        report.line(QStringLiteral("count = %1").arg(rows.size()));
        report.line(QStringLiteral("mean = %1").arg(number(mean)));
        report.line(QStringLiteral("stddev = %1").arg(number(deviation)));
        report.line(QStringLiteral("min = %1").arg(number(low)));
        report.line(QStringLiteral("max = %1").arg(number(high)));
        report.set(QStringLiteral("count"), rows.size());
        report.set(QStringLiteral("mean"), mean);
        report.set(QStringLiteral("stddev"), deviation);
        report.set(QStringLiteral("min"), low);
        report.set(QStringLiteral("max"), high);
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
