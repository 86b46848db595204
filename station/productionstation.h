#pragma once

#include "recipe.h"
#include "runrecord.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>

class RecordStore;

namespace Station {

class UnitRunner;

// Who runs the station and with what, as every record of it says.
struct StationSetup
{
    QString station;
    QString operatorName;
    QString programVersion;
};

// The ports and serial numbers of the places that run or are about to. A
// port or a serial number in two places at once is refused before any unit
// starts: two runs on one line would garble both, and two records would
// claim one unit.
class PlaceClaims
{
public:
    // What a place repeats of another's; the port is looked at first.
    enum class Clash { None, Port, Serial };

    // Claims the place's port and serial number, and tells which of them
    // another place had claimed already.
    Clash claim(const QString &port, const QString &serial);

private:
    QSet<QString> ports;
    QSet<QString> serials;
};

// Runs one recipe on several units at once, each on its own port and
// device thread, and writes each unit's run to the record store as it goes:
// the run when the unit is identified, then each step, then the end. A unit
// that fails or drops out ends alone; the others go on. Lives in one thread
// (the store's) and never blocks it.
class ProductionStation : public QObject
{
    Q_OBJECT
public:
    // store may be null: nothing is recorded.
    ProductionStation(const Recipe &recipe, const StationSetup &setup, RecordStore *store, QObject *parent = nullptr);

    UnitRunner *addUnit(const QString &port, const QString &serial);
    const QVector<UnitRunner *> &units() const { return runners; }
    const Recipe &recipe() const { return ownRecipe; }

    void start();
    // Every unit stops before its next request and ends interrupted; by
    // says who stopped it (Cause::kByOperator, Cause::kBySignal).
    void stop(const QString &by = Cause::kByOperator);
    bool isFinished() const;

signals:
    void unitFinished(Station::UnitRunner *unit);
    void allFinished();
    // The store failed; the run goes on unrecorded from there for that unit.
    void recordFailed(const QString &port, const QString &error);

private:
    struct Entry
    {
        qint64 runId = 0;
        bool begun = false;
        bool storeFailed = false;
    };
    void begin(int index);
    void storeResult(int index, bool ok);

    Recipe ownRecipe;
    StationSetup setup;
    RecordStore *store;
    QVector<UnitRunner *> runners;
    QVector<Entry> entries;
    int finishedCount = 0;
};

} // namespace Station
