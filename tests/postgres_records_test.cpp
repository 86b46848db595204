// Records shared through a real PostgreSQL server that the test starts
// itself: the schema built on an empty database, two stations writing at
// once, and a server stopped mid-run and started again with every run
// arriving exactly once, through the store and through zetra-cli.
#include "clirun.h"
#include "postgresserver.h"
#include "recordschema.h"
#include "recordstore.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
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

    void cleanupTestCase() { server.stop(); }
};

QTEST_GUILESS_MAIN(PostgresRecordsTest)
#include "postgres_records_test.moc"
