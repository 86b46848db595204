// The record store on real SQLite files: what a run leaves reads back whole,
// an older file is brought up to date, several writers lose nothing, and a
// writer killed part-way leaves an interrupted run with what it finished.
#include "recordstore.h"
#include "recordschema.h"
#include "simprocess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QElapsedTimer>
#include <QSet>
#include <QTest>

#include <csignal>
#include <sys/types.h>
#include <signal.h>

using Station::Outcome;

namespace {

// A plain connection to a store's file, beside the store: to build an older
// file, spoil a table, or count rows the store's own reading might hide.
class RawDb
{
public:
    explicit RawDb(const QString &path)
        : name(QStringLiteral("raw-%1").arg(++count))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
        opened = db.open();
    }
    ~RawDb()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    bool exec(const QString &statement)
    {
        QSqlQuery query(QSqlDatabase::database(name, false));
        if (!query.exec(statement)) {
            qWarning("%s: %s", qPrintable(statement), qPrintable(query.lastError().text()));
            return false;
        }
        return true;
    }
    QVariant value(const QString &statement)
    {
        QSqlQuery query(QSqlDatabase::database(name, false));
        if (!query.exec(statement) || !query.next())
            return QVariant();
        return query.value(0);
    }
    bool opened = false;

private:
    static int count;
    QString name;
};
int RawDb::count = 0;

Station::RunHeader header(const QString &serial, const QDateTime &started)
{
    Station::RunHeader run;
    run.serial = serial;
    run.station = QStringLiteral("bench-2");
    run.operatorName = QStringLiteral("Ирина");
    run.port = QStringLiteral("/dev/ttyUSB3");
    run.recipeName = QStringLiteral("end-of-line");
    run.recipeHash = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    run.programVersion = QStringLiteral("1.0");
    run.revisionBefore = QStringLiteral("ZETRA 2.3 (build 17)");
    run.started = started;
    return run;
}

Station::StepRecord step(int index, const QString &kind, const QDateTime &started, Outcome outcome,
                         const QJsonObject &measured = {}, const Station::Cause &cause = {})
{
    Station::StepRecord record;
    record.index = index;
    record.kind = kind;
    record.outcome = outcome;
    record.started = started;
    record.ended = started.addMSecs(1250);
    record.measured = measured;
    record.cause = cause;
    return record;
}

const Station::Cause kMeanBelow = Station::Cause::limit(QStringLiteral("mean"), 4.9375, 4.95, 5.05);

const QDateTime kMorning = QDateTime(QDate(2024, 3, 5), QTime(8, 0, 0, 125), Qt::UTC);

struct Writer
{
    QProcess process;
    bool start(const QStringList &arguments)
    {
        process.start(QStringLiteral(ZETRA_RECORDS_WRITER_PATH), arguments);
        return process.waitForStarted(30000);
    }
    // The writer's stdout up to and including a line starting with prefix.
    QString waitFor(const QString &prefix)
    {
        QString seen;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 60000) {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine()).trimmed();
                if (line.startsWith(prefix))
                    return line;
            }
            if (process.state() != QProcess::Running)
                return QString();
            process.waitForReadyRead(1000);
        }
        return QString();
    }
    void kill()
    {
        ::kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished(30000);
    }
};

} // namespace

class RecordsStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(dir.isValid()); }

    void aRunReadsBackAsItWasRecorded()
    {
        QString error;
        auto store = RecordStore::open(dir.filePath(QStringLiteral("r.sqlite")), error);
        QVERIFY2(store, qPrintable(error));
        qint64 id = 0;
        QVERIFY2(store->beginRun(header(QStringLiteral("0417"), kMorning), id), qPrintable(store->error()));
        QVERIFY(store->recordParameters(id, false, {{QStringLiteral("fmcw-band"), 250},
                                                    {QStringLiteral("smooth-coef"), 0.1 + 0.2}}));
        const QJsonObject measured{
            {QStringLiteral("mean"), QJsonObject{{QStringLiteral("value"), 4.9375}, {QStringLiteral("low"), 4.95},
                                                 {QStringLiteral("high"), 5.05}}},
            {QStringLiteral("missed"), QJsonObject{{QStringLiteral("value"), 0}}},
            // Not a number with limits: kept whole.
            {QStringLiteral("mismatch"), QJsonObject{{QStringLiteral("fmcw-band"),
                                                      QJsonArray{260, 250}}}},
            {QStringLiteral("healthy"), false}};
        const QVector<Station::StepRecord> steps{
            step(0, QStringLiteral("parameters"), kMorning.addSecs(1), Outcome::Pass),
            step(1, QStringLiteral("measure"), kMorning.addSecs(3), Outcome::Fail, measured, kMeanBelow)};
        for (const Station::StepRecord &record : steps)
            QVERIFY2(store->recordStep(id, record), qPrintable(store->error()));
        QVERIFY(store->recordParameters(id, true, {{QStringLiteral("fmcw-band"), 260},
                                                   {QStringLiteral("smooth-coef"), 3.4028235e+38}}));
        const QDateTime beforeEnd = QDateTime::currentDateTimeUtc().addMSecs(-1);
        QVERIFY(store->finishRun(id, Outcome::Fail, QStringLiteral("measure"), kMeanBelow,
                                 QStringLiteral("ZETRA 2.4 (build 3)")));
        store.reset();

        // Read by another store, as the next program would.
        store = RecordStore::open(dir.filePath(QStringLiteral("r.sqlite")), error);
        QVERIFY2(store, qPrintable(error));
        const QVector<Station::RunRecord> runs = store->runs({});
        QVERIFY2(store->error().isEmpty(), qPrintable(store->error()));
        QCOMPARE(runs.size(), 1);
        const Station::RunRecord &run = runs.first();
        const Station::RunHeader expected = header(QStringLiteral("0417"), kMorning);
        QCOMPARE(run.id, id);
        QCOMPARE(run.header.serial, expected.serial);
        QCOMPARE(run.header.station, expected.station);
        QCOMPARE(run.header.operatorName, expected.operatorName);
        QCOMPARE(run.header.port, expected.port);
        QCOMPARE(run.header.recipeName, expected.recipeName);
        QCOMPARE(run.header.recipeHash, expected.recipeHash);
        QCOMPARE(run.header.programVersion, expected.programVersion);
        QCOMPARE(run.header.revisionBefore, expected.revisionBefore);
        QCOMPARE(run.header.started, kMorning);
        QVERIFY(run.ended >= beforeEnd && run.ended <= QDateTime::currentDateTimeUtc());
        QCOMPARE(run.outcome, Outcome::Fail);
        QCOMPARE(run.failedStep, QStringLiteral("measure"));
        QCOMPARE(run.cause, kMeanBelow);
        QCOMPARE(run.revisionAfter, QStringLiteral("ZETRA 2.4 (build 3)"));
        QCOMPARE(run.steps.size(), 2);
        for (int i = 0; i < steps.size(); ++i) {
            QCOMPARE(run.steps.at(i).index, steps.at(i).index);
            QCOMPARE(run.steps.at(i).kind, steps.at(i).kind);
            QCOMPARE(run.steps.at(i).outcome, steps.at(i).outcome);
            QCOMPARE(run.steps.at(i).started, steps.at(i).started);
            QCOMPARE(run.steps.at(i).ended, steps.at(i).ended);
            QCOMPARE(run.steps.at(i).cause, steps.at(i).cause);
            QCOMPARE(run.steps.at(i).measured, steps.at(i).measured);
        }
        const QMap<QString, double> before{{QStringLiteral("fmcw-band"), 250}, {QStringLiteral("smooth-coef"), 0.1 + 0.2}};
        const QMap<QString, double> after{{QStringLiteral("fmcw-band"), 260},
                                          {QStringLiteral("smooth-coef"), 3.4028235e+38}};
        QCOMPARE(run.parametersBefore, before);   // exact: doubles are not rounded on the way
        QCOMPARE(run.parametersAfter, after);
    }

    void runsAreFoundByUnitDateAndOutcomeNewestFirst()
    {
        QString error;
        auto store = RecordStore::open(dir.filePath(QStringLiteral("f.sqlite")), error);
        QVERIFY2(store, qPrintable(error));
        struct Made
        {
            QString serial;
            int day;
            Outcome outcome;
        };
        // Written out of date order: the listing sorts by start, not by id.
        const QVector<Made> made{{QStringLiteral("0417"), 10, Outcome::Pass},
                                 {QStringLiteral("0418"), 3, Outcome::Fail},
                                 {QStringLiteral("0417"), 1, Outcome::Error},
                                 {QStringLiteral("0417"), 20, Outcome::Fail},
                                 {QStringLiteral("04170"), 15, Outcome::Pass}};
        for (const Made &run : made) {
            qint64 id = 0;
            QVERIFY(store->beginRun(header(run.serial, kMorning.addDays(run.day)), id));
            QVERIFY(store->finishRun(id, run.outcome, QString(), Station::Cause(), QString()));
        }
        const auto days = [](const QVector<Station::RunRecord> &runs) {
            QList<int> found;
            for (const Station::RunRecord &run : runs)
                found << int(kMorning.daysTo(run.header.started));
            return found;
        };
        QCOMPARE(days(store->runs({})), (QList<int>{20, 15, 10, 3, 1}));
        Station::RecordFilter unit;
        unit.serial = QStringLiteral("0417");
        QCOMPARE(days(store->runs(unit)), (QList<int>{20, 10, 1}));
        unit.since = kMorning.addDays(10);   // from that moment on, inclusive
        QCOMPARE(days(store->runs(unit)), (QList<int>{20, 10}));
        Station::RecordFilter failed;
        failed.byOutcome = true;
        failed.outcome = Outcome::Fail;
        QCOMPARE(days(store->runs(failed)), (QList<int>{20, 3}));
        Station::RecordFilter newest;
        newest.limit = 2;
        QCOMPARE(days(store->runs(newest)), (QList<int>{20, 15}));
    }

    void aWriteThatCannotStandIsRefused()
    {
        QString error;
        auto store = RecordStore::open(dir.filePath(QStringLiteral("w.sqlite")), error);
        QVERIFY2(store, qPrintable(error));
        qint64 id = 0;
        QVERIFY(store->beginRun(header(QStringLiteral("1"), kMorning), id));
        QVERIFY(store->recordStep(id, step(0, QStringLiteral("save"), kMorning, Outcome::Pass)));
        // The same step twice would be two truths.
        QVERIFY(!store->recordStep(id, step(0, QStringLiteral("save"), kMorning, Outcome::Fail)));
        QVERIFY(!store->error().isEmpty());
        QVERIFY(!store->finishRun(id, Outcome::Running, QString(), Station::Cause(), QString()));
        QVERIFY(!store->recordStep(id + 1, step(0, QStringLiteral("save"), kMorning, Outcome::Pass)));
        QVERIFY(store->finishRun(id, Outcome::Pass, QString(), Station::Cause(), QString()));
        // An ended run takes nothing more, and does not end twice.
        QVERIFY(!store->recordStep(id, step(1, QStringLiteral("verify"), kMorning, Outcome::Pass)));
        QVERIFY(!store->recordParameters(id, true, {{QStringLiteral("fmcw-band"), 1}}));
        QVERIFY(!store->finishRun(id, Outcome::Fail, QString(), Station::Cause(), QString()));
        const QVector<Station::RunRecord> runs = store->runs({});
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.first().outcome, Outcome::Pass);
        QCOMPARE(runs.first().steps.size(), 1);
        QCOMPARE(runs.first().steps.first().outcome, Outcome::Pass);
        QVERIFY(runs.first().parametersAfter.isEmpty());
    }

    // A step whose measurements cannot be written leaves no step row either.
    void aStepIsWrittenWholeOrNotAtAll()
    {
        const QString path = dir.filePath(QStringLiteral("a.sqlite"));
        QString error;
        auto store = RecordStore::open(path, error);
        QVERIFY2(store, qPrintable(error));
        qint64 id = 0;
        QVERIFY(store->beginRun(header(QStringLiteral("2"), kMorning), id));
        QVERIFY(store->recordStep(id, step(0, QStringLiteral("save"), kMorning, Outcome::Pass)));
        RawDb raw(path);
        QVERIFY(raw.opened);
        QVERIFY(raw.exec(QStringLiteral("ALTER TABLE measurements RENAME TO measurements_gone")));
        const QJsonObject measured{{QStringLiteral("mean"), QJsonObject{{QStringLiteral("value"), 5.0}}}};
        QVERIFY(!store->recordStep(id, step(1, QStringLiteral("measure"), kMorning, Outcome::Pass, measured)));
        QVERIFY2(store->error().contains(QLatin1String("measure")), qPrintable(store->error()));
        QCOMPARE(raw.value(QStringLiteral("SELECT COUNT(*) FROM steps")).toInt(), 1);
        QVERIFY(raw.exec(QStringLiteral("ALTER TABLE measurements_gone RENAME TO measurements")));
        // The store is still usable, and the step can be written once it can stand.
        QVERIFY2(store->recordStep(id, step(1, QStringLiteral("measure"), kMorning, Outcome::Pass, measured)),
                 qPrintable(store->error()));
        QCOMPARE(store->runs({}).first().steps.size(), 2);
    }

    void anOlderFileIsBroughtUpToDate()
    {
        const QString path = dir.filePath(QStringLiteral("v1.sqlite"));
        {
            // The first layout, as its program left it: one finished run and
            // one whose program died after its first step.
            RawDb raw(path);
            QVERIFY(raw.opened);
            const QStringList statements{
                QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"),
                QStringLiteral("INSERT INTO schema_version (version) VALUES (1)"),
                QStringLiteral("CREATE TABLE runs (id INTEGER PRIMARY KEY, serial TEXT NOT NULL, station TEXT NOT NULL,"
                               " operator_name TEXT NOT NULL, port TEXT NOT NULL, recipe_name TEXT NOT NULL,"
                               " recipe_hash TEXT NOT NULL, program_version TEXT NOT NULL, revision_before TEXT NOT NULL,"
                               " revision_after TEXT, started TEXT NOT NULL, ended TEXT, outcome TEXT NOT NULL,"
                               " failed_step TEXT, reason TEXT)"),
                QStringLiteral("CREATE TABLE steps (run_id BIGINT NOT NULL REFERENCES runs (id), step_index INTEGER NOT NULL,"
                               " kind TEXT NOT NULL, outcome TEXT NOT NULL, started TEXT, ended TEXT, reason TEXT,"
                               " PRIMARY KEY (run_id, step_index))"),
                QStringLiteral("CREATE TABLE measurements (run_id BIGINT NOT NULL, step_index INTEGER NOT NULL,"
                               " name TEXT NOT NULL, value DOUBLE PRECISION, low DOUBLE PRECISION, high DOUBLE PRECISION,"
                               " PRIMARY KEY (run_id, step_index, name),"
                               " FOREIGN KEY (run_id, step_index) REFERENCES steps (run_id, step_index))"),
                QStringLiteral("CREATE TABLE parameters (run_id BIGINT NOT NULL REFERENCES runs (id), phase TEXT NOT NULL,"
                               " name TEXT NOT NULL, value DOUBLE PRECISION NOT NULL, PRIMARY KEY (run_id, phase, name))"),
                QStringLiteral("INSERT INTO runs VALUES (1, '0417', 'bench-1', 'anna', '/dev/ttyUSB0', 'end-of-line', 'ab',"
                               " '0.9', 'ZETRA 2.2', 'ZETRA 2.3', '2023-03-14T09:00:00.000Z', '2023-03-14T09:01:00.000Z',"
                               " 'pass', '', '')"),
                QStringLiteral("INSERT INTO steps VALUES (1, 0, 'measure', 'pass', '2023-03-14T09:00:10.000Z',"
                               " '2023-03-14T09:00:15.500Z', '')"),
                QStringLiteral("INSERT INTO measurements VALUES (1, 0, 'mean', 5.01, 4.95, 5.05)"),
                QStringLiteral("INSERT INTO parameters VALUES (1, 'after', 'fmcw-band', 260)"),
                QStringLiteral("INSERT INTO runs VALUES (2, '0418', 'bench-1', 'anna', '/dev/ttyUSB1', 'end-of-line', 'ab',"
                               " '0.9', 'ZETRA 2.2', NULL, '2023-03-14T09:05:00.000Z', NULL, 'running', NULL, NULL)"),
                QStringLiteral("INSERT INTO steps VALUES (2, 0, 'flash', 'pass', '2023-03-14T09:05:01.000Z',"
                               " '2023-03-14T09:05:40.000Z', '')"),
                // A failure as the first layout worded it: a sentence.
                QStringLiteral("INSERT INTO runs VALUES (3, '0419', 'bench-1', 'anna', '/dev/ttyUSB2', 'end-of-line', 'ab',"
                               " '0.9', 'ZETRA 2.2', 'ZETRA 2.2', '2023-03-14T08:00:00.000Z', '2023-03-14T08:01:00.000Z',"
                               " 'fail', 'selftest', 'the device reports a fault')"),
                QStringLiteral("INSERT INTO steps VALUES (3, 0, 'selftest', 'fail', '2023-03-14T08:00:10.000Z',"
                               " '2023-03-14T08:00:15.500Z', 'the device reports a fault')")};
            for (const QString &statement : statements)
                QVERIFY(raw.exec(statement));
        }
        QString error;
        auto store = RecordStore::open(path, error);
        QVERIFY2(store, qPrintable(error));
        {
            RawDb raw(path);
            QCOMPARE(raw.value(QStringLiteral("SELECT version FROM schema_version")).toInt(), RecordSchema::latestVersion());
            QCOMPARE(raw.value(QStringLiteral("SELECT COUNT(*) FROM schema_version")).toInt(), 1);
            // Runs from before the server: bound for none, so no sync sends them.
            QCOMPARE(raw.value(QStringLiteral("SELECT COUNT(*) FROM runs WHERE sync_target IS NULL AND synced = 0")).toInt(), 3);
        }
        QVector<Station::RunRecord> runs = store->runs({});
        QVERIFY2(store->error().isEmpty(), qPrintable(store->error()));
        QCOMPARE(runs.size(), 3);
        const Station::RunRecord &old = runs.at(1);
        QCOMPARE(old.header.serial, QStringLiteral("0417"));
        QCOMPARE(old.outcome, Outcome::Pass);
        QCOMPARE(old.revisionAfter, QStringLiteral("ZETRA 2.3"));
        QCOMPARE(old.steps.size(), 1);
        const QJsonObject mean{{QStringLiteral("value"), 5.01}, {QStringLiteral("low"), 4.95}, {QStringLiteral("high"), 5.05}};
        QCOMPARE(old.steps.first().measured, (QJsonObject{{QStringLiteral("mean"), mean}}));
        QCOMPARE(old.parametersAfter.value(QStringLiteral("fmcw-band")), 260.0);
        // No program of the first layout writes the file any more: its
        // unfinished run is over, with the step it finished.
        const Station::RunRecord &dead = runs.at(0);
        QCOMPARE(dead.outcome, Outcome::Interrupted);
        QCOMPARE(dead.steps.size(), 1);
        QCOMPARE(dead.ended, QDateTime(QDate(2023, 3, 14), QTime(9, 5, 40), Qt::UTC));
        QCOMPARE(dead.cause.code, Station::Cause::Code::Abandoned);
        // An old sentence is kept whole, as a cause of code "text", and is
        // found by that code.
        const Station::RunRecord &worded = runs.at(2);
        QCOMPARE(worded.cause, Station::Cause::text(QStringLiteral("the device reports a fault")));
        QCOMPARE(worded.steps.first().cause, worded.cause);
        QVERIFY(old.cause.isNone());
        QVERIFY(old.steps.first().cause.isNone());
        Station::RecordFilter byCause;
        byCause.causeCode = QStringLiteral("text");
        QCOMPARE(store->runs(byCause).size(), 1);
        byCause.causeCode = QStringLiteral("abandoned");
        QCOMPARE(store->runs(byCause).size(), 1);

        // And it takes runs of the new layout.
        qint64 id = 0;
        QVERIFY2(store->beginRun(header(QStringLiteral("0417"), kMorning), id), qPrintable(store->error()));
        QVERIFY(id > 2);
        QVERIFY(store->recordStep(id, step(0, QStringLiteral("selftest"), kMorning, Outcome::Fail,
                                           {{QStringLiteral("healthy"), false}})));
        Station::RecordFilter unit;
        unit.serial = QStringLiteral("0417");
        runs = store->runs(unit);
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs.first().steps.first().measured.value(QStringLiteral("healthy")), QJsonValue(false));
    }

    void aFileThisProgramCannotKeepIsRefused()
    {
        // Written by a later program: left as it is.
        const QString later = dir.filePath(QStringLiteral("later.sqlite"));
        {
            RawDb raw(later);
            QVERIFY(raw.exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)")));
            QVERIFY(raw.exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (99)")));
        }
        QString error;
        QVERIFY(!RecordStore::open(later, error));
        QVERIFY2(error.contains(QLatin1String("later version")), qPrintable(error));
        {
            RawDb raw(later);
            QCOMPARE(raw.value(QStringLiteral("SELECT version FROM schema_version")).toInt(), 99);
            QCOMPARE(raw.value(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name = 'runs'")).toInt(), 0);
        }
        // Not a database at all, and a folder.
        const QString garbage = dir.filePath(QStringLiteral("garbage.sqlite"));
        QFile file(garbage);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, 'x'));
        file.close();
        error.clear();
        QVERIFY(!RecordStore::open(garbage, error));
        QVERIFY2(error.contains(garbage), qPrintable(error));
        error.clear();
        QVERIFY(!RecordStore::open(dir.path(), error));
        QVERIFY(!error.isEmpty());
    }

    // Within one process: a store that goes without finishing its run gives
    // it up; one that is still open keeps it.
    void aRunIsInterruptedOnlyOnceItsOwnerIsGone()
    {
        const QString path = dir.filePath(QStringLiteral("o.sqlite"));
        QString error;
        auto owner = RecordStore::open(path, error);
        QVERIFY2(owner, qPrintable(error));
        qint64 id = 0;
        QVERIFY(owner->beginRun(header(QStringLiteral("7"), kMorning), id));
        QVERIFY(owner->recordStep(id, step(0, QStringLiteral("save"), kMorning, Outcome::Pass)));
        auto reader = RecordStore::open(path, error);
        QVERIFY2(reader, qPrintable(error));
        QCOMPARE(reader->runs({}).first().outcome, Outcome::Running);
        QVERIFY(owner->recordStep(id, step(1, QStringLiteral("selftest"), kMorning, Outcome::Pass)));
        owner.reset();
        reader.reset();
        reader = RecordStore::open(path, error);
        QVERIFY2(reader, qPrintable(error));
        const Station::RunRecord run = reader->runs({}).first();
        QCOMPARE(run.outcome, Outcome::Interrupted);
        QCOMPARE(run.steps.size(), 2);
        QCOMPARE(QDir(path + QStringLiteral(".owners")).entryList(QDir::Files).size(), 0);
    }

    void concurrentStationsLoseNothing()
    {
        const QString path = dir.filePath(QStringLiteral("c.sqlite"));
        const int runs = 25;
        const int steps = 6;
        // Both start on a file that does not exist yet, so they also race to create the tables.
        Writer first;
        Writer second;
        QVERIFY(first.start({path, QStringLiteral("--runs"), QString::number(runs), QStringLiteral("--steps"),
                             QString::number(steps), QStringLiteral("--tag"), QStringLiteral("a")}));
        QVERIFY(second.start({path, QStringLiteral("--runs"), QString::number(runs), QStringLiteral("--steps"),
                              QString::number(steps), QStringLiteral("--tag"), QStringLiteral("b")}));
        // A third writer in this process, on a thread of its own connection.
        QString threadError;
        int threadRuns = 0;
        QThread *thread = QThread::create([&] {
            QString error;
            auto store = RecordStore::open(path, error);
            if (!store) {
                threadError = error;
                return;
            }
            for (int run = 0; run < runs; ++run) {
                qint64 id = 0;
                if (!store->beginRun(header(QStringLiteral("t-%1").arg(run), QDateTime::currentDateTimeUtc()), id)) {
                    threadError = store->error();
                    return;
                }
                for (int index = 0; index < steps; ++index)
                    if (!store->recordStep(id, step(index, QStringLiteral("measure"), kMorning, Outcome::Pass,
                                                    {{QStringLiteral("mean"), QJsonObject{{QStringLiteral("value"), index}}}}))) {
                        threadError = store->error();
                        return;
                    }
                if (!store->finishRun(id, Outcome::Pass, QString(), Station::Cause(), QString())) {
                    threadError = store->error();
                    return;
                }
                ++threadRuns;
            }
        });
        thread->start();
        for (Writer *writer : {&first, &second}) {
            QVERIFY(writer->process.waitForFinished(240000));
            QVERIFY2(writer->process.exitStatus() == QProcess::NormalExit && writer->process.exitCode() == 0,
                     writer->process.readAllStandardError().constData());
        }
        QVERIFY(thread->wait(240000));
        delete thread;
        QVERIFY2(threadError.isEmpty(), qPrintable(threadError));
        QCOMPARE(threadRuns, runs);

        QString error;
        auto store = RecordStore::open(path, error);
        QVERIFY2(store, qPrintable(error));
        const QVector<Station::RunRecord> all = store->runs({});
        QCOMPARE(all.size(), 3 * runs);
        QSet<QString> serials;
        for (const Station::RunRecord &run : all) {
            serials.insert(run.header.serial);
            QCOMPARE(run.outcome, Outcome::Pass);
            QCOMPARE(run.steps.size(), steps);
            for (const Station::StepRecord &recorded : run.steps)
                QVERIFY(recorded.measured.contains(QStringLiteral("mean")));
            if (!run.header.serial.startsWith(QLatin1String("t-"))) {
                QCOMPARE(run.parametersBefore.size(), 2);
                QCOMPARE(run.parametersAfter.value(QStringLiteral("fmcw-band")), 260.0);
                QCOMPARE(run.steps.last().measured.size(), 3);
            }
        }
        QCOMPARE(serials.size(), 3 * runs);
    }

    void aKilledStationLeavesAnInterruptedRunWithItsFinishedSteps()
    {
        const QString path = dir.filePath(QStringLiteral("k.sqlite"));
        Writer writer;
        QVERIFY(writer.start({path, QStringLiteral("--steps"), QStringLiteral("2"), QStringLiteral("--hold")}));
        const QString held = writer.waitFor(QStringLiteral("held "));
        QVERIFY2(!held.isEmpty(), writer.process.readAllStandardError().constData());
        const qint64 id = held.mid(5).toLongLong();

        // While the station lives, its run is its own.
        QString error;
        auto store = RecordStore::open(path, error);
        QVERIFY2(store, qPrintable(error));
        QCOMPARE(store->runs({}).first().outcome, Outcome::Running);
        store.reset();

        writer.kill();
        store = RecordStore::open(path, error);
        QVERIFY2(store, qPrintable(error));
        const QVector<Station::RunRecord> runs = store->runs({});
        QCOMPARE(runs.size(), 1);
        const Station::RunRecord &run = runs.first();
        QCOMPARE(run.id, id);
        QCOMPARE(run.outcome, Outcome::Interrupted);
        QCOMPARE(run.steps.size(), 2);
        QCOMPARE(run.ended, run.steps.last().ended);
        QCOMPARE(run.parametersBefore.size(), 2);
        QVERIFY(run.parametersAfter.isEmpty());
        QVERIFY(run.revisionAfter.isEmpty());
        // The dead station's lock is cleared away.
        QCOMPARE(QDir(path + QStringLiteral(".owners")).entryList(QDir::Files).size(), 0);
    }

    // Killed at a moment drawn at random, most likely inside a step's
    // transaction: every step the record shows is whole.
    void aStationKilledAtAnyMomentLeavesNothingHalfWritten()
    {
        QRandomGenerator random(quint32(SimProcess::runSeed()));
        for (int round = 0; round < 3; ++round) {
            const QString path = dir.filePath(QStringLiteral("m%1.sqlite").arg(round));
            Writer writer;
            QVERIFY(writer.start({path, QStringLiteral("--steps"), QStringLiteral("1000000")}));
            QVERIFY(!writer.waitFor(QStringLiteral("began ")).isEmpty());
            QTest::qWait(random.bounded(20, 400));
            writer.kill();

            QString error;
            auto store = RecordStore::open(path, error);
            QVERIFY2(store, qPrintable(error));
            const QVector<Station::RunRecord> runs = store->runs({});
            QCOMPARE(runs.size(), 1);
            QCOMPARE(runs.first().outcome, Outcome::Interrupted);
            const QVector<Station::StepRecord> &steps = runs.first().steps;
            qInfo("round %d: killed after %d steps", round, int(steps.size()));
            for (int index = 0; index < steps.size(); ++index) {
                QCOMPARE(steps.at(index).index, index);
                QCOMPARE(steps.at(index).measured.size(), 3);
                QVERIFY(steps.at(index).ended.isValid());
            }
            if (!steps.isEmpty())
                QCOMPARE(runs.first().ended, steps.last().ended);
        }
    }

private:
    QTemporaryDir dir;
};

QTEST_GUILESS_MAIN(RecordsStoreTest)
#include "records_store_test.moc"
