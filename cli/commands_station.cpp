// station: one recipe on several units at once, each on its own port, with
// a record of every unit. The core is in station/; this is its front end.
#include "command.h"

#include "linetrace.h"
#include "linewording.h"
#include "productionstation.h"
#include "recipewording.h"
#include "recordstore.h"
#include "report.h"
#include "runjson.h"
#include "wording.h"
#include "serialtop.h"
#include "stopsignals.h"
#include "unitrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QUrl>

#include <cstdio>

using Station::Outcome;
using Station::UnitRunner;

namespace {

QJsonObject unitJson(const Station::RunRecord &run, const QJsonObject &line, const QString &recordError)
{
    QJsonObject object = RunJson::run(run);
    object.insert(QStringLiteral("line"), line);
    // The run went on unrecorded from where the store failed.
    if (!recordError.isEmpty())
        object.insert(QStringLiteral("record"), RunJson::cause(Station::Cause::records(recordError)));
    return object;
}

// --trace for many units: each frame's line as zetra-cli traces one port,
// with the port in front; each unit's counters once it ends.
class UnitTraces
{
public:
    UnitTraces(LineTrace &format, bool toStderr, QFile *file)
        : format(format), toStderr(toStderr), file(file)
    {
    }

    bool enabled() const { return toStderr || file; }

    void write(const QString &text)
    {
        const QByteArray bytes = text.toUtf8();
        if (toStderr) {
            std::fputs(bytes.constData(), stderr);
            std::fflush(stderr);
        }
        if (file)
            file->write(bytes);
    }

    void frames(const QString &port, const QVector<LineFrame> &frames)
    {
        if (!enabled())
            return;
        QString text;
        for (const LineFrame &frame : frames)
            text += port + QLatin1Char('\t') + format.line(frame) + QLatin1Char('\n');
        write(text);
    }

private:
    LineTrace &format;
    bool toStderr;
    QFile *file;
};

QString unitLine(const Station::RunRecord &run)
{
    const double seconds = run.header.started.msecsTo(run.ended) / 1000.0;
    QString text = QStringLiteral("%1\t%2\t%3\t%4 s").arg(run.header.port, run.header.serial,
                                                          Station::outcomeName(run.outcome))
                       .arg(seconds, 0, 'f', 1);
    if (run.outcome != Outcome::Pass)
        text += QStringLiteral("\t%1: %2").arg(run.failedStep, Wording::cause(run.cause));
    return text;
}

} // namespace

int runStation(const StationInvocation &invocation, LineTrace &trace)
{
    const QString command = QStringLiteral("station");
    auto refuse = [&](const QString &error) {
        Report report(command, invocation.json);
        return report.finish(Exit::BadInput, QStringLiteral("station: %1").arg(error));
    };
    if (invocation.arguments.size() != 1)
        return refuse(QStringLiteral("give exactly one RECIPE file (zetra-cli --help shows the usage)"));
    if (invocation.ports.isEmpty())
        return refuse(QStringLiteral("give at least one --port PORT --serial SERIAL"));
    if (invocation.serials.size() != invocation.ports.size())
        return refuse(QStringLiteral("%1 ports but %2 serial numbers: give one --serial per --port, in the same order")
                          .arg(invocation.ports.size())
                          .arg(invocation.serials.size()));
    Station::PlaceClaims claims;
    for (int i = 0; i < invocation.ports.size(); ++i) {
        const QString port = invocation.ports.at(i);
        const QString serial = invocation.serials.at(i).trimmed();
        if (port.isEmpty() || serial.isEmpty())
            return refuse(QStringLiteral("an empty --port or --serial"));
        switch (claims.claim(port, serial)) {
        case Station::PlaceClaims::Clash::Port:
            return refuse(QStringLiteral("port %1 given twice").arg(port));
        case Station::PlaceClaims::Clash::Serial:
            return refuse(QStringLiteral("serial %1 given twice").arg(serial));
        case Station::PlaceClaims::Clash::None:
            break;
        }
    }

    Station::Recipe recipe;
    QString error;
    if (!Wording::readRecipe(invocation.arguments.first(), recipe, error))
        return refuse(error);

    QFile traceFile;
    if (!invocation.traceFile.isEmpty()) {
        if (!checkOutputFile(invocation.traceFile, error))
            return refuse(QStringLiteral("--trace-file: %1").arg(error));
        traceFile.setFileName(invocation.traceFile);
        if (!traceFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return refuse(QStringLiteral("cannot write the trace file %1: %2").arg(invocation.traceFile, traceFile.errorString()));
    }

    // The store is opened before any byte is sent: a station that cannot
    // record does not run.
    QString location = invocation.records;
    if (location.isEmpty()) {
        location = RecordStore::defaultLocation();
        QDir().mkpath(QFileInfo(location).absolutePath());
    }
    // A server's address is shown without its password.
    const QString shownLocation = RecordStore::isServer(location)
                                      ? QUrl(location).toDisplayString(QUrl::RemovePassword)
                                      : location;
    const std::unique_ptr<RecordStore> store = RecordStore::open(location, error);
    if (!store)
        return refuse(QStringLiteral("cannot open the records %1: %2").arg(shownLocation, error));
    // A server that is away does not stop the station: its runs wait in
    // this station's file, and the operator is told so.
    if (!store->notice().isEmpty())
        Report::message(store->notice());

    Station::StationSetup setup;
    setup.station = invocation.station;
    setup.operatorName = invocation.operatorName;
    setup.programVersion = QCoreApplication::applicationVersion();
    Station::ProductionStation station(recipe, setup, store.get());
    UnitTraces traces(trace, invocation.trace, traceFile.isOpen() ? &traceFile : nullptr);
    QVector<LineCounters> counters(invocation.ports.size());
    for (int i = 0; i < invocation.ports.size(); ++i) {
        UnitRunner *unit = station.addUnit(invocation.ports.at(i), invocation.serials.at(i).trimmed());
        const QString port = invocation.ports.at(i);
        QObject::connect(unit->device(), &SerialTop::lineFrames, &station,
                         [&traces, port](const QVector<LineFrame> &frames) { traces.frames(port, frames); });
        QObject::connect(unit->device(), &SerialTop::lineCounters, &station,
                         [&counters, i](const LineCounters &latest) { counters[i] = latest; });
    }

    Report report(command, invocation.json);
    QJsonArray units;
    QVector<QJsonObject> unitObjects(invocation.ports.size());
    QVector<QString> recordErrors(invocation.ports.size());
    QObject::connect(&station, &Station::ProductionStation::recordFailed, &station,
                     [&](const QString &port, const QString &why) {
                         const int index = invocation.ports.indexOf(port);
                         if (index >= 0 && recordErrors.at(index).isEmpty())
                             recordErrors[index] = why;
                         Report::message(QStringLiteral("%1: the record in %2 stops here: %3").arg(port, shownLocation, why));
                     });
    QObject::connect(&station, &Station::ProductionStation::unitFinished, &station, [&](UnitRunner *unit) {
        const int index = station.units().indexOf(unit);
        const Station::RunRecord &run = unit->record();
        if (traces.enabled())
            traces.write(QStringLiteral("%1\t%2\n").arg(run.header.port, LineWording::describeCounters(counters.at(index))));
        unitObjects[index] = unitJson(run, LineTrace::countersJson(counters.at(index)), recordErrors.at(index));
        if (!invocation.json) {
            std::printf("%s\n", unitLine(run).toUtf8().constData());
            std::fflush(stdout);
        }
    });

    StopSignals stops;
    int stopSignal = 0;
    QObject::connect(&stops, &StopSignals::stopRequested, &station, [&](int signalNumber) {
        if (stopSignal)
            return;
        stopSignal = signalNumber;
        Report::message(QStringLiteral("stopping every unit before its next request..."));
        station.stop(Station::Cause::kBySignal);
    });
    QEventLoop loop;
    QObject::connect(&station, &Station::ProductionStation::allFinished, &loop, &QEventLoop::quit,
                     Qt::QueuedConnection);
    station.start();
    if (!station.isFinished())
        loop.exec();
    if (traceFile.isOpen() && (!traceFile.flush() || traceFile.error() != QFileDevice::NoError))
        Report::message(QStringLiteral("the trace file %1 is incomplete: %2").arg(traceFile.fileName(), traceFile.errorString()));

    int counts[5] = {};
    for (UnitRunner *unit : station.units())
        ++counts[int(unit->record().outcome)];
    for (const QJsonObject &object : qAsConst(unitObjects))
        units.append(object);
    report.set(QStringLiteral("recipe"), recipe.name);
    report.set(QStringLiteral("recipe_hash"), recipe.hash);
    report.set(QStringLiteral("records"), shownLocation);
    if (!store->notice().isEmpty())
        Report::message(store->notice());
    report.set(QStringLiteral("units"), units);
    report.line(QStringLiteral("%1 units: %2 pass, %3 fail, %4 error, %5 interrupted")
                    .arg(station.units().size())
                    .arg(counts[int(Outcome::Pass)])
                    .arg(counts[int(Outcome::Fail)])
                    .arg(counts[int(Outcome::Error)])
                    .arg(counts[int(Outcome::Interrupted)]));
    if (stopSignal)
        return report.finish(Exit::interrupted(stopSignal), QStringLiteral("station: interrupted"));
    if (counts[int(Outcome::Error)] > 0)
        return report.finish(Exit::Communication, QStringLiteral("station: %1 of %2 units ended in error")
                                                      .arg(counts[int(Outcome::Error)])
                                                      .arg(station.units().size()));
    if (counts[int(Outcome::Fail)] > 0)
        return report.finish(Exit::Verdict, QStringLiteral("station: %1 of %2 units failed")
                                                .arg(counts[int(Outcome::Fail)])
                                                .arg(station.units().size()));
    return report.finish(Exit::Done);
}
