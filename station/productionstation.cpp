#include "productionstation.h"

#include "recordstore.h"
#include "unitrunner.h"

namespace Station {

PlaceClaims::Clash PlaceClaims::claim(const QString &port, const QString &serial)
{
    const bool portTaken = ports.contains(port);
    const bool serialTaken = serials.contains(serial);
    ports.insert(port);
    serials.insert(serial);
    if (portTaken)
        return Clash::Port;
    return serialTaken ? Clash::Serial : Clash::None;
}

ProductionStation::ProductionStation(const Recipe &recipe, const StationSetup &setup, RecordStore *store, QObject *parent)
    : QObject(parent)
    , ownRecipe(recipe)
    , setup(setup)
    , store(store)
{
}

UnitRunner *ProductionStation::addUnit(const QString &port, const QString &serial)
{
    const int index = runners.size();
    auto *runner = new UnitRunner(ownRecipe, port, serial, this);
    runners.append(runner);
    entries.append(Entry());
    connect(runner, &UnitRunner::identified, this, [this, index] { begin(index); });
    connect(runner, &UnitRunner::stepFinished, this, [this, index](const StepRecord &step) {
        Entry &entry = entries[index];
        if (store && entry.begun && !entry.storeFailed)
            storeResult(index, store->recordStep(entry.runId, step));
    });
    connect(runner, &UnitRunner::finished, this, [this, index, runner] {
        begin(index);
        Entry &entry = entries[index];
        const RunRecord &run = runner->record();
        if (store && entry.begun && !entry.storeFailed) {
            if (!run.parametersAfter.isEmpty())
                storeResult(index, store->recordParameters(entry.runId, true, run.parametersAfter));
            if (!entry.storeFailed)
                storeResult(index, store->finishRun(entry.runId, run.outcome, run.failedStep, run.cause,
                                                    run.revisionAfter, run.line));
        }
        emit unitFinished(runner);
        if (++finishedCount == runners.size())
            emit allFinished();
    });
    return runner;
}

void ProductionStation::begin(int index)
{
    Entry &entry = entries[index];
    if (entry.begun || !store)
        return;
    entry.begun = true;
    RunHeader header = runners.at(index)->record().header;
    header.station = setup.station;
    header.operatorName = setup.operatorName;
    header.programVersion = setup.programVersion;
    header.recipeName = ownRecipe.name;
    header.recipeHash = ownRecipe.hash;
    storeResult(index, store->beginRun(header, entry.runId));
    if (!entry.storeFailed && !runners.at(index)->record().parametersBefore.isEmpty())
        storeResult(index, store->recordParameters(entry.runId, false, runners.at(index)->record().parametersBefore));
}

void ProductionStation::storeResult(int index, bool ok)
{
    if (ok)
        return;
    entries[index].storeFailed = true;
    emit recordFailed(runners.at(index)->record().header.port, store->error());
}

void ProductionStation::start()
{
    for (UnitRunner *runner : qAsConst(runners))
        runner->start();
    if (runners.isEmpty())
        emit allFinished();
}

void ProductionStation::stop(const QString &by)
{
    for (UnitRunner *runner : qAsConst(runners))
        runner->stop(by);
}

bool ProductionStation::isFinished() const
{
    return finishedCount == runners.size();
}

} // namespace Station
