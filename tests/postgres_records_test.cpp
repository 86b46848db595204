// Records shared through a real PostgreSQL server that the test starts
// itself: the schema built on an empty database, two stations writing at
// once, a server stopped mid-run and started again with every run
// arriving exactly once, through the store and through zetra-cli, a sync
// killed mid-batch and started again, and a station's file pruned of what
// the server holds.
#include "clirun.h"
#include "postgresserver.h"
#include "recordschema.h"
#include "recordstore.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

using Station::Outcome;

namespace {

// A plain connection to one of the server's databases, or to a station's
// file, to count what is really there.
class Raw
{
public:
    Raw(const QString &driver, const QString &database, int port = 0)
        : name(QStringLiteral("raw-%1").arg(++count))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
        db.setDatabaseName(database);
        if (port) {
            db.setHostName(QStringLiteral("127.0.0.1"));
            db.setPort(port);
            db.setUserName(QStringLiteral("zetra"));
        }
        opened = db.open();
        if (!opened)
            qWarning("%s: %s", qPrintable(database), qPrintable(db.lastError().text()));
    }
    ~Raw()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    QVariant value(const QString &statement)
    {
        QSqlQuery query(QSqlDatabase::database(name, false));
        if (!query.exec(statement) || !query.next()) {
            qWarning("%s: %s", qPrintable(statement), qPrintable(query.lastError().text()));
            return QVariant();
        }
        return query.value(0);
    }
    qint64 number(const QString &statement) { return value(statement).toLongLong(); }
    bool exec(const QString &statement)
    {
        QSqlQuery query(QSqlDatabase::database(name, false));
        if (query.exec(statement))
            return true;
        qWarning("%s: %s", qPrintable(statement), qPrintable(query.lastError().text()));
        return false;
    }
    // Every row, its values joined, sorted: the same facts read the same
    // from the file and from the server, whatever each engine's types.
    QStringList rows(const QString &statement)
    {
        QStringList found;
        QSqlQuery query(QSqlDatabase::database(name, false));
        if (!query.exec(statement)) {
            qWarning("%s: %s", qPrintable(statement), qPrintable(query.lastError().text()));
            return found;
        }
        while (query.next()) {
            QStringList values;
            for (int column = 0; column < query.record().count(); ++column) {
                const QVariant value = query.value(column);
                if (value.isNull())
                    values << QStringLiteral("NULL");
                else if (value.userType() == QMetaType::Double)
                    values << QString::number(value.toDouble(), 'g', 17);
                else
                    values << value.toString();
            }
            found << values.join(QLatin1Char('|'));
        }
        found.sort();
        return found;
    }
    // Rows in each table of the records.
    QList<qint64> counts()
    {
        QList<qint64> found;
        for (const char *table : {"runs", "steps", "measurements", "parameters"})
            found << number(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table)));
        return found;
    }
    bool opened = false;

private:
    static int count;
    QString name;
};
int Raw::count = 0;

// records_writer, a station's writing without a station, read line by line.
struct Writer
{
    QProcess process;
    QStringList lines;

    bool start(const QStringList &arguments)
    {
        process.start(QStringLiteral(ZETRA_RECORDS_WRITER_PATH), arguments);
        return process.waitForStarted(30000);
    }
    // The next line starting with prefix (lines before it are kept too).
    QString waitFor(const QString &prefix)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 60000) {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine()).trimmed();
                lines << line;
                if (line.startsWith(prefix))
                    return line;
            }
            if (process.state() != QProcess::Running && !process.bytesAvailable())
                return QString();
            process.waitForReadyRead(1000);
        }
        return QString();
    }
    void go() { process.write("go\n"); }
    bool finish()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(60000))
            return false;
        for (const QByteArray &line : process.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                lines << QString::fromUtf8(line);
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    QString errors() { return QString::fromUtf8(process.readAllStandardError()); }
};

// "ended ID sent S waiting W" -> W (or S).
int field(const QString &line, const char *name)
{
    const QStringList words = line.split(QLatin1Char(' '));
    const int at = words.indexOf(QLatin1String(name));
    return at >= 0 && at + 1 < words.size() ? words.at(at + 1).toInt() : -1;
}

Station::RunHeader header(const QString &serial)
{
    Station::RunHeader run;
    run.serial = serial;
    run.station = QStringLiteral("bench-3");
    run.operatorName = QStringLiteral("Ирина");
    run.port = QStringLiteral("/dev/ttyUSB2");
    run.recipeName = QStringLiteral("end-of-line");
    run.recipeHash = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    run.programVersion = QStringLiteral("1.0");
    run.revisionBefore = QStringLiteral("ZETRA 2.3 (build 17)");
    run.started = QDateTime(QDate(2024, 3, 5), QTime(8, 0, 0, 125), Qt::UTC);
    return run;
}

// What a run is, by its UUID, wherever it is kept: its columns, steps,
// measurements and parameters, leaving out only where it is bound and
// whether it was sent.
const char *const kRunFacts[] = {
    "SELECT run_uuid, serial, station, operator_name, port, recipe_name, recipe_hash, program_version,"
    " revision_before, revision_after, started, ended, outcome, failed_step, reason, cause_code, cause FROM runs",
    "SELECT r.run_uuid, s.step_index, s.kind, s.outcome, s.started, s.ended, s.reason, s.cause_code, s.cause"
    " FROM steps s JOIN runs r ON r.id = s.run_id",
    "SELECT r.run_uuid, m.step_index, m.name, m.value, m.low, m.high, m.detail"
    " FROM measurements m JOIN runs r ON r.id = m.run_id",
    "SELECT r.run_uuid, p.phase, p.name, p.value FROM parameters p JOIN runs r ON r.id = p.run_id",
};

// "zetra-cli: sent N of M runs" -> N, else -1.
int sentSoFar(const QString &line)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '));
    const int at = words.indexOf(QStringLiteral("sent"));
    return at >= 0 && at + 3 < words.size() && words.at(at + 2) == QLatin1String("of") ? words.at(at + 1).toInt() : -1;
}

// One ended run, written through the store, started at the given moment.
bool writeRun(RecordStore &store, const QString &serial, const QDateTime &started, int steps)
{
    Station::RunHeader run = header(serial);
    run.started = started;
    qint64 id = 0;
    if (!store.beginRun(run, id) || !store.recordParameters(id, false, {{QStringLiteral("fmcw-band"), 250}}))
        return false;
    for (int index = 0; index < steps; ++index) {
        Station::StepRecord step;
        step.index = index;
        step.kind = QStringLiteral("measure");
        step.started = started.addSecs(index);
        step.ended = step.started.addMSecs(500);
        step.measured = {{QStringLiteral("mean"), QJsonObject{{QStringLiteral("value"), 5.0 + index * 1e-4},
                                                             {QStringLiteral("low"), 4.95},
                                                             {QStringLiteral("high"), 5.05}}}};
        if (!store.recordStep(id, step))
            return false;
    }
    return store.recordParameters(id, true, {{QStringLiteral("fmcw-band"), 260}})
           && store.finishRun(id, Outcome::Pass, QString(), Station::Cause(), QStringLiteral("ZETRA 2.4"));
}

} // namespace

class PostgresRecordsTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    PostgresServer server;
    int databases = 0;

    // A new empty database on the running server, by its address.
    QString freshDatabase()
    {
        const QString name = QStringLiteral("records%1").arg(++databases);
        QString error;
        if (!server.createDatabase(name, error))
            qWarning("creating %s: %s", qPrintable(name), qPrintable(error));
        return name;
    }
    QString local(const QString &name) const { return dir.filePath(name + QStringLiteral(".sqlite")); }
    bool restartServer()
    {
        QString error;
        const bool ok = server.isRunning() || server.start(error);
        if (!ok)
            qWarning("%s", qPrintable(error));
        return ok;
    }

private slots:
    void initTestCase()
    {
        if (PostgresServer::binaries().isEmpty()) {
            // scripts/setup installs them; the suite must not pass without.
            if (qEnvironmentVariableIsSet("ZETRA_REQUIRE_POSTGRES"))
                QFAIL("no PostgreSQL binaries in /usr/lib/postgresql/*/bin, and ZETRA_REQUIRE_POSTGRES is set");
            QSKIP("no PostgreSQL binaries in /usr/lib/postgresql/*/bin (Debian package postgresql)");
        }
        QVERIFY2(QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")),
                 "Qt's PostgreSQL driver is missing (libqt5sql5-psql / libqt6sql6-psql)");
        QVERIFY(dir.isValid());
        QString error;
        QElapsedTimer timer;
        timer.start();
        QVERIFY2(server.init(error), qPrintable(error));
        QVERIFY2(server.start(error), qPrintable(error));
        qInfo("PostgreSQL cluster made and started on port %d in %lld ms", server.port(), timer.elapsed());
    }

    void init() { QVERIFY(restartServer()); }

    void theSchemaIsBuiltOnAnEmptyDatabaseAndARunReadsBackWhole()
    {
        const QString database = freshDatabase();
        RecordStore::Options options;
        options.localFile = local(QStringLiteral("schema"));
        QString error;
        auto store = RecordStore::open(server.url(database), options, error);
        QVERIFY2(store, qPrintable(error));
        QVERIFY2(store->notice().isEmpty(), qPrintable(store->notice()));

        qint64 id = 0;
        QVERIFY2(store->beginRun(header(QStringLiteral("0417")), id), qPrintable(store->error()));
        QVERIFY(store->recordParameters(id, false, {{QStringLiteral("fmcw-band"), 250}, {QStringLiteral("smooth-coef"), 0.1 + 0.2}}));
        Station::StepRecord step;
        step.index = 0;
        step.kind = QStringLiteral("measure");
        step.outcome = Outcome::Fail;
        step.started = header(QString()).started.addSecs(3);
        step.ended = step.started.addMSecs(1250);
        step.cause = Station::Cause::limit(QStringLiteral("mean"), 4.9375, 4.95, 5.05);
        step.measured = {{QStringLiteral("mean"), QJsonObject{{QStringLiteral("value"), 4.9375},
                                                             {QStringLiteral("low"), 4.95},
                                                             {QStringLiteral("high"), 5.05}}},
                         {QStringLiteral("mismatch"), QJsonObject{{QStringLiteral("fmcw-band"), QJsonArray{260, 250}}}}};
        QVERIFY2(store->recordStep(id, step), qPrintable(store->error()));
        QVERIFY(store->recordParameters(id, true, {{QStringLiteral("fmcw-band"), 260}}));
        // Not on the server until it ends: no station reads a run half-sent.
        {
            Raw raw(QStringLiteral("QPSQL"), database, server.port());
            QVERIFY(raw.opened);
            QCOMPARE(raw.number(QStringLiteral("SELECT version FROM schema_version")), qint64(RecordSchema::latestVersion()));
            QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM runs")), 0);
        }
        QVERIFY(store->finishRun(id, Outcome::Fail, QStringLiteral("measure"), step.cause, QStringLiteral("ZETRA 2.4")));
        QCOMPARE(store->runsSent(), 1);
        QCOMPARE(store->runsWaiting(), 0);
        QVERIFY(store->notice().isEmpty());
        store.reset();

        // Another station, with a file of its own, reads it from the server.
        options.localFile = local(QStringLiteral("schema-reader"));
        store = RecordStore::open(server.url(database), options, error);
        QVERIFY2(store, qPrintable(error));
        const QVector<Station::RunRecord> runs = store->runs({});
        QVERIFY2(store->error().isEmpty(), qPrintable(store->error()));
        QCOMPARE(runs.size(), 1);
        const Station::RunRecord &run = runs.first();
        QCOMPARE(run.header.serial, QStringLiteral("0417"));
        QCOMPARE(run.header.operatorName, QStringLiteral("Ирина"));
        QCOMPARE(run.header.started, header(QString()).started);
        QCOMPARE(run.outcome, Outcome::Fail);
        QCOMPARE(run.cause, step.cause);
        QCOMPARE(run.revisionAfter, QStringLiteral("ZETRA 2.4"));
        QCOMPARE(run.steps.size(), 1);
        QCOMPARE(run.steps.first().measured, step.measured);
        QCOMPARE(run.steps.first().ended, step.ended);
        QCOMPARE(run.parametersBefore.value(QStringLiteral("smooth-coef")), 0.1 + 0.2);
        QCOMPARE(run.parametersAfter.value(QStringLiteral("fmcw-band")), 260.0);

        // The same run under the same UUID in the station's file and on the server.
        Raw raw(QStringLiteral("QPSQL"), database, server.port());
        Raw file(QStringLiteral("QSQLITE"), local(QStringLiteral("schema")));
        QVERIFY(!raw.value(QStringLiteral("SELECT run_uuid FROM runs")).toString().isEmpty());
        QCOMPARE(raw.value(QStringLiteral("SELECT run_uuid FROM runs")), file.value(QStringLiteral("SELECT run_uuid FROM runs")));
        QCOMPARE(file.number(QStringLiteral("SELECT synced FROM runs")), 1);
    }

    void twoStationsWritingAtOnceLoseNothing()
    {
        // Both build the schema on the empty database at the same moment too.
        const QString database = freshDatabase();
        const int runs = 12;
        const int steps = 4;
        Writer writers[2];
        const QStringList tags{QStringLiteral("A"), QStringLiteral("B")};
        for (int i = 0; i < 2; ++i)
            QVERIFY(writers[i].start({server.url(database), QStringLiteral("--local"), local(QStringLiteral("two-") + tags[i]),
                                      QStringLiteral("--runs"), QString::number(runs), QStringLiteral("--steps"),
                                      QString::number(steps), QStringLiteral("--tag"), tags[i]}));
        for (Writer &writer : writers)
            QVERIFY2(writer.finish(), qPrintable(writer.errors()));

        Raw raw(QStringLiteral("QPSQL"), database, server.port());
        QVERIFY(raw.opened);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM runs")), 2 * runs);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(DISTINCT run_uuid) FROM runs")), 2 * runs);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM runs WHERE station = 'A' AND outcome = 'pass'")), runs);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM runs WHERE station = 'B' AND outcome = 'pass'")), runs);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM steps")), 2 * runs * steps);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM measurements")), 2 * runs * steps * 3);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM parameters")), 2 * runs * 4);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM schema_version")), 1);
        for (const QString &tag : tags) {
            Raw file(QStringLiteral("QSQLITE"), local(QStringLiteral("two-") + tag));
            QCOMPARE(file.number(QStringLiteral("SELECT COUNT(*) FROM runs WHERE synced = 1")), runs);
        }
    }

    void aServerStoppedMidRunLosesNothingAndDuplicatesNothing()
    {
        const QString database = freshDatabase();
        Writer writer;
        // Gated: a line before each run begins and before it ends; the
        // server is tried again at every run's end.
        QVERIFY(writer.start({server.url(database), QStringLiteral("--local"), local(QStringLiteral("stopped")),
                              QStringLiteral("--runs"), QStringLiteral("8"), QStringLiteral("--steps"),
                              QStringLiteral("3"), QStringLiteral("--retry-ms"), QStringLiteral("0"),
                              QStringLiteral("--gated")}));
        const auto oneRun = [&writer]() {
            writer.go();
            if (writer.waitFor(QStringLiteral("began")).isEmpty())
                return QString();
            writer.go();
            return writer.waitFor(QStringLiteral("ended"));
        };
        for (int run = 0; run < 2; ++run)
            QCOMPARE(field(oneRun(), "waiting"), 0);

        // Stopped between a run's steps and its end.
        writer.go();
        QVERIFY(!writer.waitFor(QStringLiteral("began")).isEmpty());
        QVERIFY(server.stop());
        writer.go();
        const QString cut = writer.waitFor(QStringLiteral("ended"));
        QCOMPARE(field(cut, "waiting"), 1);
        QVERIFY2(writer.waitFor(QStringLiteral("notice")).contains(QLatin1String("cannot be reached")),
                 qPrintable(writer.lines.join('\n')));
        QCOMPARE(field(oneRun(), "waiting"), 2);
        QCOMPARE(field(oneRun(), "waiting"), 3);

        QElapsedTimer timer;
        timer.start();
        QVERIFY(restartServer());
        const qint64 startMs = timer.restart();
        // The next run's end sends its own and the three that waited.
        const QString back = oneRun();
        const qint64 sendMs = timer.elapsed();
        QCOMPARE(field(back, "waiting"), 0);
        QCOMPARE(field(back, "sent"), 6);
        QCOMPARE(field(oneRun(), "sent"), 7);
        QVERIFY2(writer.finish(), qPrintable(writer.errors()));

        Raw raw(QStringLiteral("QPSQL"), database, server.port());
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM runs")), 7);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(DISTINCT run_uuid) FROM runs")), 7);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM steps")), 7 * 3);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM runs WHERE outcome = 'pass' AND ended IS NOT NULL")), 7);
        Raw file(QStringLiteral("QSQLITE"), local(QStringLiteral("stopped")));
        QCOMPARE(file.number(QStringLiteral("SELECT COUNT(*) FROM runs WHERE synced = 0")), 0);
        qInfo("server stopped mid-run: 3 runs kept in the station's file, none lost; server back in %lld ms; "
              "the next run's end sent its own and the 3 that waited in %lld ms; server holds 7 runs, 7 UUIDs",
              startMs, sendMs);
    }

    void runsKeptWhileTheServerWasAwayGoAtTheNextOpenOrWithSync()
    {
        const QString database = freshDatabase();
        const QString url = server.url(database);
        // The schema first, so that the runs below are made with the server away.
        QString error;
        RecordStore::Options options;
        options.localFile = local(QStringLiteral("scratch"));
        QVERIFY2(RecordStore::open(url, options, error), qPrintable(error));
        QVERIFY(server.stop());

        // zetra-cli's station file is the one in the user's data folder.
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString stationFile = home.filePath(QStringLiteral("ZETRA/records.sqlite"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path());

        Writer away;
        QVERIFY(away.start({url, QStringLiteral("--local"), stationFile, QStringLiteral("--runs"), QStringLiteral("3"),
                            QStringLiteral("--steps"), QStringLiteral("2")}));
        QVERIFY2(away.finish(), qPrintable(away.errors()));
        const QStringList ended = away.lines.filter(QStringLiteral("ended"));
        QVERIFY2(ended.size() == 3 && field(ended.last(), "waiting") == 3, qPrintable(away.lines.join('\n')));
        QCOMPARE(away.lines.filter(QStringLiteral("notice")).size(), 1);

        const QStringList sync{QStringLiteral("records"), QStringLiteral("--records"), url, QStringLiteral("--sync"),
                               QStringLiteral("--json")};
        CliRun result = runCli(sync, environment);
        EXPECT_EXIT(result, sync, 2);
        QVERIFY2(result.err.contains(QLatin1String("cannot be reached")), qPrintable(result.describe()));
        QCOMPARE(result.json().value(QLatin1String("waiting")).toInt(), 3);

        QVERIFY(restartServer());
        result = runCli(sync, environment);
        EXPECT_EXIT(result, sync, 0);
        QCOMPARE(result.json().value(QLatin1String("sent")).toInt(), 3);
        QCOMPARE(result.json().value(QLatin1String("waiting")).toInt(), 0);
        // Sent once: a second sync, or the next station's open, finds nothing.
        result = runCli(sync, environment);
        EXPECT_EXIT(result, sync, 0);
        QCOMPARE(result.json().value(QLatin1String("sent")).toInt(), 0);
        options.localFile = stationFile;
        auto store = RecordStore::open(url, options, error);
        QVERIFY2(store, qPrintable(error));
        QCOMPARE(store->runsSent(), 0);

        const QStringList list{QStringLiteral("records"), QStringLiteral("--records"), url, QStringLiteral("--json")};
        result = runCli(list, environment);
        EXPECT_EXIT(result, list, 0);
        QCOMPARE(result.json().value(QLatin1String("runs")).toArray().size(), 3);
        Raw raw(QStringLiteral("QPSQL"), database, server.port());
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(DISTINCT run_uuid) FROM runs")), 3);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM runs")), 3);

        // A file has nothing to send.
        const QStringList fileSync{QStringLiteral("records"), QStringLiteral("--records"), stationFile,
                                   QStringLiteral("--sync")};
        result = runCli(fileSync, environment);
        EXPECT_EXIT(result, fileSync, 1);
    }

    void aSyncKilledMidBatchSendsTheRestAndNothingTwice()
    {
        const QString database = freshDatabase();
        const QString url = server.url(database);
        QString error;
        RecordStore::Options options;
        options.localFile = local(QStringLiteral("killed-scratch"));
        QVERIFY2(RecordStore::open(url, options, error), qPrintable(error));
        QVERIFY(server.stop());

        // A few hundred runs wait in the station's file, in batches small
        // enough that a kill at any moment lands in the middle of them.
        const int runs = 240;
        const int batch = 7;
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString stationFile = home.filePath(QStringLiteral("ZETRA/records.sqlite"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
        environment.insert(QStringLiteral("ZETRA_SYNC_BATCH"), QString::number(batch));
        Writer away;
        QVERIFY(away.start({url, QStringLiteral("--local"), stationFile, QStringLiteral("--runs"),
                            QString::number(runs), QStringLiteral("--steps"), QStringLiteral("3")}));
        QVERIFY2(away.finish(), qPrintable(away.errors()));
        QVERIFY(restartServer());

        // The kill comes after a drawn number of batches, and a drawn part
        // of one batch's time after that.
        const quint32 seed = qEnvironmentVariableIsSet("ZETRA_TEST_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("ZETRA_TEST_SEED"))
                                 : QRandomGenerator::global()->generate();
        qInfo("seed %u (ZETRA_TEST_SEED=%u repeats this draw)", seed, seed);
        QRandomGenerator random(seed);
        const int batches = (runs + batch - 1) / batch;
        const int afterBatches = random.bounded(1, batches - 2);
        const double partOfBatch = random.generateDouble();

        const QStringList sync{QStringLiteral("records"), QStringLiteral("--records"), url, QStringLiteral("--sync"),
                               QStringLiteral("--json")};
        QProcess killed;
        killed.setProcessEnvironment(environment);
        killed.start(QString::fromUtf8(ZETRA_CLI_PATH), sync);
        QVERIFY(killed.waitForStarted(30000));
        killed.setReadChannel(QProcess::StandardError);
        QElapsedTimer timer;
        QStringList progress;
        while (progress.size() < afterBatches && killed.state() == QProcess::Running) {
            if (!killed.canReadLine() && !killed.waitForReadyRead(30000))
                break;
            while (killed.canReadLine() && progress.size() < afterBatches) {
                progress << QString::fromUtf8(killed.readLine()).trimmed();
                if (progress.size() == 1)
                    timer.start();
            }
        }
        QVERIFY2(progress.size() == afterBatches, qPrintable(progress.join('\n')));
        const qint64 batchMs = progress.size() > 1 ? timer.elapsed() / (progress.size() - 1) : 5;
        const qint64 waitMs = qint64(partOfBatch * batchMs);
        QElapsedTimer part;
        part.start();
        while (part.elapsed() < waitMs && killed.state() == QProcess::Running)
            killed.waitForReadyRead(int(waitMs - part.elapsed()) + 1);
        killed.kill();
        QVERIFY(killed.waitForFinished(30000));
        QCOMPARE(sentSoFar(progress.last()), afterBatches * batch);

        Raw raw(QStringLiteral("QPSQL"), database, server.port());
        const qint64 onServer = raw.number(QStringLiteral("SELECT COUNT(*) FROM runs"));
        qint64 marked = 0;
        {
            Raw file(QStringLiteral("QSQLITE"), stationFile);
            marked = file.number(QStringLiteral("SELECT COUNT(*) FROM runs WHERE synced = 1"));
        }
        qInfo("killed after %d batches and %lld of a batch's %lld ms: the server held %lld runs, the file marked %lld",
              afterBatches, waitMs, batchMs, onServer, marked);
        // Part-way, in whole batches; never marked sent before the server has it.
        QVERIFY2(onServer >= afterBatches * batch && onServer < runs, qPrintable(QString::number(onServer)));
        QCOMPARE(onServer % batch, 0);
        QVERIFY(marked <= onServer);
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM steps")), onServer * 3);

        // Started again: the rest goes, and what the server took before the
        // kill (marked sent or not) is not taken twice.
        CliRun again = runCli(sync, environment);
        EXPECT_EXIT(again, sync, 0);
        QCOMPARE(again.json().value(QLatin1String("sent")).toInt(), runs - onServer);
        QCOMPARE(again.json().value(QLatin1String("waiting")).toInt(), 0);
        QVERIFY2(again.err.contains(QStringLiteral("sent %1 of %1 runs").arg(runs - marked)), qPrintable(again.err));
        QVERIFY(!again.out.contains(QLatin1String("sent ")) || again.out.contains(QLatin1String("\"sent\"")));

        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM runs")), qint64(runs));
        QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(DISTINCT run_uuid) FROM runs")), qint64(runs));
        Raw file(QStringLiteral("QSQLITE"), stationFile);
        QCOMPARE(file.number(QStringLiteral("SELECT COUNT(*) FROM runs WHERE synced = 0")), 0);
        for (const char *facts : kRunFacts) {
            const QStringList there = raw.rows(QLatin1String(facts));
            QVERIFY(!there.isEmpty());
            QCOMPARE(there, file.rows(QLatin1String(facts)));
        }
    }

    void pruneRemovesFromTheStationsFileOnlyWhatTheServerHolds()
    {
        const QString database = freshDatabase();
        const QString url = server.url(database);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString stationFile = home.filePath(QStringLiteral("ZETRA/records.sqlite"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
        // Confirmed and removed two at a time.
        environment.insert(QStringLiteral("ZETRA_SYNC_BATCH"), QStringLiteral("2"));

        const QDateTime old(QDate(2024, 3, 5), QTime(8, 0), Qt::UTC);
        const QDateTime newer(QDate(2024, 7, 1), QTime(8, 0), Qt::UTC);
        const QString before = QStringLiteral("2024-06-01T00:00:00Z");
        const int gone = 5;
        const int steps = 30;
        QString error;
        RecordStore::Options options;
        options.localFile = stationFile;
        {
            auto store = RecordStore::open(url, options, error);
            QVERIFY2(store, qPrintable(error));
            for (int i = 0; i < gone; ++i)
                QVERIFY2(writeRun(*store, QStringLiteral("gone-%1").arg(i), old.addSecs(60 * i), steps),
                         qPrintable(store->error()));
            for (const QString &serial : {QStringLiteral("unsent"), QStringLiteral("deleted")})
                QVERIFY2(writeRun(*store, serial, old, steps), qPrintable(store->error()));
            QVERIFY2(writeRun(*store, QStringLiteral("newer"), newer, steps), qPrintable(store->error()));
            QCOMPARE(store->runsSent(), gone + 3);
            // Kept in the file alone: bound for no server.
            auto file = RecordStore::open(stationFile, error);
            QVERIFY2(file, qPrintable(error));
            QVERIFY2(writeRun(*file, QStringLiteral("file-only"), old, steps), qPrintable(file->error()));
        }
        {
            // Its mark lost after the server took it: unsent, as far as the file knows.
            Raw file(QStringLiteral("QSQLITE"), stationFile);
            QVERIFY(file.exec(QStringLiteral("UPDATE runs SET synced = 0 WHERE serial = 'unsent'")));
        }
        Raw raw(QStringLiteral("QPSQL"), database, server.port());
        {
            // Taken off the server behind the station's back.
            const QString uuid = raw.value(QStringLiteral("SELECT run_uuid FROM runs WHERE serial = 'deleted'")).toString();
            QVERIFY(!uuid.isEmpty());
            for (const char *table : {"measurements", "steps", "parameters"})
                QVERIFY(raw.exec(QStringLiteral("DELETE FROM %1 WHERE run_id = (SELECT id FROM runs WHERE serial = 'deleted')")
                                     .arg(QLatin1String(table))));
            QVERIFY(raw.exec(QStringLiteral("DELETE FROM runs WHERE serial = 'deleted'")));
            QCOMPARE(raw.number(QStringLiteral("SELECT COUNT(*) FROM runs WHERE run_uuid = '%1'").arg(uuid)), 0);
        }
        const QList<qint64> serverBefore = raw.counts();
        QCOMPARE(serverBefore.first(), qint64(gone + 2));

        const auto fileSerials = [&stationFile] {
            Raw file(QStringLiteral("QSQLITE"), stationFile);
            return file.rows(QStringLiteral("SELECT serial FROM runs"));
        };
        const QStringList all = fileSerials();
        QCOMPARE(all.size(), gone + 4);

        // A plain file has no server to vouch for its runs; a server away
        // confirms nothing; the date is required.
        const QStringList onFile{QStringLiteral("records"), QStringLiteral("--records"), stationFile,
                                 QStringLiteral("--prune"), QStringLiteral("--before"), before};
        CliRun result = runCli(onFile, environment);
        EXPECT_EXIT(result, onFile, 1);
        QVERIFY2(result.err.contains(QLatin1String("server")), qPrintable(result.describe()));
        const QStringList noDate{QStringLiteral("records"), QStringLiteral("--records"), url, QStringLiteral("--prune")};
        result = runCli(noDate, environment);
        EXPECT_EXIT(result, noDate, 1);
        const QStringList prune{QStringLiteral("records"), QStringLiteral("--records"), url, QStringLiteral("--prune"),
                                QStringLiteral("--before"), before, QStringLiteral("--json")};
        QVERIFY(server.stop());
        result = runCli(prune, environment);
        EXPECT_EXIT(result, prune, 2);
        QVERIFY2(result.err.contains(QLatin1String("cannot be reached")), qPrintable(result.describe()));
        QCOMPARE(result.json().value(QLatin1String("removed")).toInt(), 0);
        QCOMPARE(fileSerials(), all);
        QVERIFY(restartServer());

        result = runCli(prune, environment);
        EXPECT_EXIT(result, prune, 0);
        QCOMPARE(result.json().value(QLatin1String("removed")).toInt(), gone);
        QCOMPARE(result.json().value(QLatin1String("kept")).toInt(), 3);
        QCOMPARE(fileSerials(), (QStringList{QStringLiteral("deleted"), QStringLiteral("file-only"),
                                             QStringLiteral("newer"), QStringLiteral("unsent")}));
        {
            // With their steps, measurements and parameters; the space given back.
            Raw file(QStringLiteral("QSQLITE"), stationFile);
            QCOMPARE(file.counts(), (QList<qint64>{4, 4 * steps, 4 * steps, 4 * 2}));
            QCOMPARE(file.number(QStringLiteral("PRAGMA freelist_count")), 0);
        }
        Raw after(QStringLiteral("QPSQL"), database, server.port());
        QCOMPARE(after.counts(), serverBefore);

        // Again, in words: nothing more goes, the same three stay.
        const QStringList plain = prune.mid(0, prune.size() - 1);
        result = runCli(plain, environment);
        EXPECT_EXIT(result, plain, 0);
        QVERIFY2(result.out.contains(QLatin1String("0 runs removed")), qPrintable(result.describe()));
        QVERIFY2(result.out.contains(QLatin1String("3 runs started before")), qPrintable(result.describe()));
    }

    // The same runs give the same report from the server as from the station's
    // file they were sent from: yield, Pareto, each quantity's σ, Cp, Cpk,
    // histogram and trend, and each port's line, carried with each run.
    void theServersReportEqualsTheStationFilesAfterTheRunsAreSent()
    {
        const QString url = server.url(freshDatabase());
        RecordStore::Options options;
        options.localFile = local(QStringLiteral("report"));
        QString error;
        auto store = RecordStore::open(url, options, error);
        QVERIFY2(store, qPrintable(error));
        const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-2);
        // Six units, two days; R6 fails then passes; one fails its self-test.
        const struct { const char *serial; int minutes; double mean; const char *failed; } runs[] = {
            {"R1", 0, 5.01, ""}, {"R2", 5, 4.98, ""}, {"R3", 10, 5.07, "measure"}, {"R4", 1500, 5.0, ""},
            {"R5", 1505, 0, "selftest"}, {"R6", 1510, 5.09, "measure"}, {"R6", 1520, 5.02, ""}};
        int index = 0;
        for (const auto &planned : runs) {
            Station::RunHeader run = header(QString::fromLatin1(planned.serial));
            run.started = start.addSecs(60 * planned.minutes);
            run.station = index < 3 ? QStringLiteral("bench-1") : QStringLiteral("bench-2");
            run.port = QStringLiteral("/dev/ttyUSB%1").arg(index % 2);
            qint64 id = 0;
            QVERIFY2(store->beginRun(run, id), qPrintable(store->error()));
            const QString failed = QString::fromLatin1(planned.failed);
            Station::StepRecord step;
            step.kind = failed == QLatin1String("selftest") ? QStringLiteral("selftest") : QStringLiteral("measure");
            step.started = run.started;
            step.ended = run.started.addSecs(1);
            if (step.kind == QLatin1String("measure"))
                step.measured = {{QStringLiteral("mean"), QJsonObject{{QStringLiteral("value"), planned.mean},
                                                                     {QStringLiteral("low"), 4.95},
                                                                     {QStringLiteral("high"), 5.05}}},
                                 {QStringLiteral("missed"), QJsonObject{{QStringLiteral("value"), index % 3},
                                                                       {QStringLiteral("high"), 2}}}};
            Station::Cause cause;
            if (!failed.isEmpty())
                cause = step.kind == QLatin1String("selftest") ? Station::Cause::deviceFault(QStringLiteral("selftest"))
                                                                : Station::Cause::text(QStringLiteral("limit missed"));
            step.outcome = failed.isEmpty() ? Outcome::Pass : Outcome::Fail;
            step.cause = cause;
            QVERIFY2(store->recordStep(id, step), qPrintable(store->error()));
            LineCounters line;
            line.requests = 100 + index;
            line.answers = 97 + index;
            line.timeOuts = index % 3;
            line.badCrc = index % 2;
            line.late = 1;
            QVERIFY2(store->finishRun(id, failed.isEmpty() ? Outcome::Pass : Outcome::Fail, failed, cause,
                                      QStringLiteral("ZETRA 2.4"), line),
                     qPrintable(store->error()));
            ++index;
        }
        QCOMPARE(store->runsWaiting(), 0);

        Station::QualityReport fromServer;
        QVERIFY2(store->qualityReport(Station::RecordFilter(), fromServer), qPrintable(store->error()));
        auto file = RecordStore::open(options.localFile, error);
        QVERIFY2(file, qPrintable(error));
        Station::QualityReport fromFile;
        QVERIFY2(file->qualityReport(Station::RecordFilter(), fromFile), qPrintable(file->error()));
        QCOMPARE(fromServer.runs, 7);
        QCOMPARE(fromServer.yield.total.units, 6);
        QCOMPARE(fromServer.yield.total.firstPass, 3);
        QCOMPARE(fromServer.yield.total.finalPass, 4);
        QCOMPARE(fromServer.yield.byDay.size(), 2);
        QCOMPARE(fromServer.pareto.size(), 2);
        QCOMPARE(fromServer.measurements.size(), 2);
        QCOMPARE(fromServer.line.size(), 4);
        const Station::Capability &mean = fromServer.measurements.at(0);
        QCOMPARE(mean.name, QStringLiteral("mean"));
        QCOMPARE(mean.n, 6);
        QCOMPARE(mean.trend.size(), 6);
        QCOMPARE(mean.trend.constLast().value, 5.02);
        double binned = 0;
        for (double count : mean.histogram)
            binned += count;
        QCOMPARE(binned, 6.0);

        const auto sameCounts = [](const Station::YieldCount &a, const Station::YieldCount &b) {
            return a.key == b.key && a.units == b.units && a.firstPass == b.firstPass && a.finalPass == b.finalPass;
        };
        QCOMPARE(fromFile.runs, fromServer.runs);
        QVERIFY(sameCounts(fromFile.yield.total, fromServer.yield.total));
        QCOMPARE(fromFile.yield.byDay.size(), fromServer.yield.byDay.size());
        for (int i = 0; i < fromFile.yield.byDay.size(); ++i)
            QVERIFY(sameCounts(fromFile.yield.byDay.at(i), fromServer.yield.byDay.at(i)));
        QCOMPARE(fromFile.yield.byStation.size(), fromServer.yield.byStation.size());
        for (int i = 0; i < fromFile.yield.byStation.size(); ++i)
            QVERIFY(sameCounts(fromFile.yield.byStation.at(i), fromServer.yield.byStation.at(i)));
        QCOMPARE(fromFile.pareto.size(), fromServer.pareto.size());
        for (int i = 0; i < fromFile.pareto.size(); ++i) {
            QCOMPARE(fromFile.pareto.at(i).step, fromServer.pareto.at(i).step);
            QCOMPARE(fromFile.pareto.at(i).cause, fromServer.pareto.at(i).cause);
            QCOMPARE(fromFile.pareto.at(i).count, fromServer.pareto.at(i).count);
        }
        QCOMPARE(fromFile.measurements.size(), fromServer.measurements.size());
        for (int i = 0; i < fromFile.measurements.size(); ++i) {
            const Station::Capability &a = fromFile.measurements.at(i);
            const Station::Capability &b = fromServer.measurements.at(i);
            QCOMPARE(a.name, b.name);
            QCOMPARE(a.n, b.n);
            QVERIFY(qAbs(a.mean - b.mean) < 1e-12 && qAbs(a.stddev - b.stddev) < 1e-12);
            QCOMPARE(a.cp.has_value(), b.cp.has_value());
            QCOMPARE(a.cpk.has_value(), b.cpk.has_value());
            QCOMPARE(a.outside, b.outside);
            QCOMPARE(a.histogram, b.histogram);
            QCOMPARE(a.trend.size(), b.trend.size());
        }
        QCOMPARE(fromFile.line.size(), fromServer.line.size());
        for (int i = 0; i < fromFile.line.size(); ++i) {
            QCOMPARE(fromFile.line.at(i).requests, fromServer.line.at(i).requests);
            QCOMPARE(fromFile.line.at(i).timeOuts, fromServer.line.at(i).timeOuts);
            QCOMPARE(fromFile.line.at(i).badCrc, fromServer.line.at(i).badCrc);
            QCOMPARE(fromFile.line.at(i).late, fromServer.line.at(i).late);
        }
    }

    void cleanupTestCase() { server.stop(); }
};

QTEST_GUILESS_MAIN(PostgresRecordsTest)
#include "postgres_records_test.moc"
