#pragma once

#include "productionstation.h"
#include "recipe.h"
#include "runrecord.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

class RecordStore;

Q_DECLARE_METATYPE(Station::RunRecord)
Q_DECLARE_METATYPE(Station::StepRecord)

// One place of the station view: which tile, which port, which unit.
struct StationPlace
{
    int tile = 0;
    QString port;
    QString serial;
};

// The station core for the window, in a thread of its own: a unit's end
// joins its device thread and every step is written to the records, and the
// window must wait on neither. Each start is a ProductionStation of its own,
// so one place can start while others run. Reports copies of the records,
// never the runners themselves.
class StationWorker : public QObject
{
    Q_OBJECT
public:
    StationWorker(const QString &recordsLocation, const Station::StationSetup &setup);
    ~StationWorker() override;

    // Both run in the worker's thread; call them queued.
    void run(const Station::Recipe &recipe, const QVector<StationPlace> &places);
    void stop();

signals:
    // The records cannot be opened: nothing was started.
    void refused(const QString &error);
    void unitIdentified(int tile, const Station::RunRecord &record);
    void stepFinished(int tile, const Station::StepRecord &step);
    // Progress within the step under way, 0 to 100, where the device tells it.
    void stepProgress(int tile, int percent);
    void unitFinished(int tile, const Station::RunRecord &record);
    void recordFailed(int tile, const QString &error);
    // Where the runs go, told as the store opens and as each unit ends: with
    // a server away, why, and the station's file that keeps them meanwhile.
    void recordsKept(const QString &serverAway, const QString &stationFile, int waiting);
    // No unit is running any more.
    void idle();

private:
    void tellWhereRecordsGo();

    QString location;
    Station::StationSetup setup;
    std::unique_ptr<RecordStore> store;
    QVector<Station::ProductionStation *> batches;
};
