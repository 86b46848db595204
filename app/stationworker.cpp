#include "stationworker.h"

#include "recordstore.h"
#include "serialtop.h"
#include "unitrunner.h"

#include <QDir>
#include <QFileInfo>

StationWorker::StationWorker(const QString &recordsLocation, const Station::StationSetup &setup)
    : location(recordsLocation)
    , setup(setup)
{
    qRegisterMetaType<Station::RunRecord>();
    qRegisterMetaType<Station::StepRecord>();
}

// The batches go first: their units still write to the store as they end.
StationWorker::~StationWorker()
{
    qDeleteAll(batches);
    batches.clear();
}

void StationWorker::run(const Station::Recipe &recipe, const QVector<StationPlace> &places)
{
    // Opened in this thread, which is the only one that uses it; a station
    // that cannot record does not run.
    if (!store) {
        QString error;
        if (!RecordStore::isServer(location))
            QDir().mkpath(QFileInfo(location).absolutePath());
        store = RecordStore::open(location, error);
        if (!store) {
            emit refused(error);
            if (batches.isEmpty())
                emit idle();
            return;
        }
        tellWhereRecordsGo();
    }
    auto *batch = new Station::ProductionStation(recipe, setup, store.get(), this);
    batches.append(batch);
    QVector<int> tiles;
    for (const StationPlace &place : places) {
        const int tile = place.tile;
        tiles.append(tile);
        Station::UnitRunner *unit = batch->addUnit(place.port, place.serial);
        connect(unit, &Station::UnitRunner::identified, this,
                [this, unit, tile] { emit unitIdentified(tile, unit->record()); });
        connect(unit, &Station::UnitRunner::stepFinished, this,
                [this, tile](const Station::StepRecord &step) { emit stepFinished(tile, step); });
        connect(unit->device(), &SerialTop::progressChanged, this,
                [this, tile](int percent) { emit stepProgress(tile, percent); });
    }
    connect(batch, &Station::ProductionStation::unitFinished, this, [this, tiles, batch](Station::UnitRunner *unit) {
        emit unitFinished(tiles.at(batch->units().indexOf(unit)), unit->record());
        tellWhereRecordsGo();
    });
    connect(batch, &Station::ProductionStation::recordFailed, this,
            [this, tiles, batch](const QString &port, const QString &error) {
                for (int i = 0; i < batch->units().size(); ++i)
                    if (batch->units().at(i)->record().header.port == port)
                        emit recordFailed(tiles.at(i), error);
            });
    // Removed once the finish that ended it has been handled everywhere.
    connect(batch, &Station::ProductionStation::allFinished, this, [this, batch] {
        batches.removeOne(batch);
        batch->deleteLater();
        if (batches.isEmpty())
            emit idle();
    }, Qt::QueuedConnection);
    batch->start();
}

void StationWorker::tellWhereRecordsGo()
{
    emit recordsKept(store->serverAway(), store->stationFile(), store->runsWaiting());
}

void StationWorker::stop()
{
    for (Station::ProductionStation *batch : qAsConst(batches))
        batch->stop();
}
