// The records at a plant's size, on an SQLite file and on a PostgreSQL server:
// one unit's history (records_serial_ms), every run exported
// (records_export_runs_per_s, records_export_peak_mb), and a station's file
// sent to the server (sync_runs_per_s). Each figure prints per engine
// (<name>_sqlite, <name>_postgres) and the worse of the two as <name>.
#include "recordsbenchdata.h"

#include "postgresserver.h"
#include "recordstore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

void reportFigure(const char *name, double value, const char *unit);

namespace {

constexpr int kSeed = 1;
// Raised whenever zetra-records-fill writes other rows: a kept store of an
// older format is filled anew.
constexpr int kFillFormat = 1;
constexpr int kSyncRuns = 10000;

QString dataFolder()
{
    const QString chosen = qEnvironmentVariable("ZETRA_BENCH_DATA");
    return chosen.isEmpty() ? QStringLiteral(ZETRA_BENCH_DATA_DEFAULT) : chosen;
}

void reportEach(const QByteArray &name, const QString &engine, double value, const char *unit)
{
    reportFigure((name + '_' + engine.toLatin1()).constData(), value, unit);
}

// The worse engine's figure under the plain name, once both have one.
void reportWorse(const QByteArray &name, const QMap<QString, double> &byEngine, bool higherIsBetter, const char *unit)
{
    if (byEngine.size() < int(std::size(kRecordEngines)))
        return;
    const QList<double> values = byEngine.values();
    reportFigure(name.constData(),
                 higherIsBetter ? *std::min_element(values.begin(), values.end())
                                : *std::max_element(values.begin(), values.end()),
                 unit);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

struct Child
{
    bool ok = false;          // ran to exit 0 within its time
    double seconds = 0;       // wall time, start to exit
    double peakMb = 0;        // the process's own peak resident size
    QByteArray errorOutput;
};

// One program, its wall time and its own peak memory (wait4's ru_maxrss is
// the child's alone). Output goes to stdoutPath; the environment is the
// bench's with `environment` over it.
struct ChildLimits
{
    int seconds = 3600;         // killed after, and failed
    qint64 memoryMb = 0;        // address space the child may take; 0: no limit
    bool ownStderr = false;     // its stderr goes to the bench's (progress), not kept
};

Child runChild(const QString &program, const QStringList &arguments, const QString &stdoutPath,
               const QMap<QString, QString> &environment = {}, const ChildLimits &limits = {})
{
    const int timeoutSeconds = limits.seconds;
    Child child;
    QTemporaryDir scratch;
    const QByteArray errPath = QFile::encodeName(scratch.filePath(QStringLiteral("stderr")));
    const QByteArray outPath = QFile::encodeName(stdoutPath);
    std::vector<QByteArray> argStore{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        argStore.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : argStore)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    QMap<QString, QString> merged;
    for (char **entry = environ; *entry; ++entry) {
        const QString text = QString::fromLocal8Bit(*entry);
        merged.insert(text.section(QLatin1Char('='), 0, 0), text.section(QLatin1Char('='), 1));
    }
    for (auto it = environment.begin(); it != environment.end(); ++it)
        merged.insert(it.key(), it.value());
    std::vector<QByteArray> envStore;
    for (auto it = merged.begin(); it != merged.end(); ++it)
        envStore.push_back((it.key() + QLatin1Char('=') + it.value()).toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &entry : envStore)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    QElapsedTimer clock;
    clock.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0)
            ::_exit(127);
        ::dup2(out, 1);
        if (!limits.ownStderr)
            ::dup2(err, 2);
        if (limits.memoryMb > 0) {
            const rlimit memory{rlim_t(limits.memoryMb) << 20, rlim_t(limits.memoryMb) << 20};
            ::setrlimit(RLIMIT_AS, &memory);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (pid < 0)
        return child;
    // A watchdog: a child past its time is killed, and fails.
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::atomic<bool> killed{false};
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!ended.wait_for(lock, std::chrono::seconds(timeoutSeconds), [&] { return done; })) {
            killed = true;
            ::kill(pid, SIGKILL);
        }
    });
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    child.seconds = clock.nsecsElapsed() / 1e9;
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    ended.notify_one();
    watchdog.join();
    child.peakMb = usage.ru_maxrss / 1024.0;
    child.ok = !killed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    QFile err(QFile::decodeName(errPath));
    if (err.open(QIODevice::ReadOnly))
        child.errorOutput = err.readAll();
    if (killed)
        child.errorOutput += "killed after " + QByteArray::number(timeoutSeconds) + " s";
    return child;
}

Child runCli(const QStringList &arguments, const QString &stdoutPath, const QMap<QString, QString> &environment,
             const ChildLimits &limits = {})
{
    return runChild(QStringLiteral(ZETRA_CLI_PATH), arguments, stdoutPath, environment, limits);
}

bool fill(qint64 runs, const QString &location, const QStringList &extra = {})
{
    QTemporaryDir scratch;
    const Child filled = runChild(QStringLiteral(ZETRA_RECORDS_FILL_PATH),
                                  QStringList{"--runs", QString::number(runs), "--seed", QString::number(kSeed)} + extra
                                      << location,
                                  scratch.filePath(QStringLiteral("out")), {}, ChildLimits{6 * 3600, 0, true});
    if (!filled.ok)
        std::fprintf(stderr, "zetra-records-fill %s failed: %s\n", qPrintable(location), filled.errorOutput.constData());
    return filled.ok;
}

// A connection of the bench's own to a store, to look into it.
class Peek
{
public:
    explicit Peek(const QString &location) : name(QStringLiteral("bench-peek-%1").arg(++count))
    {
        if (RecordStore::isServer(location)) {
            const QUrl url(location);
            db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(url.host());
            db.setPort(url.port(5432));
            db.setUserName(url.userName());
            db.setDatabaseName(url.path().mid(1));
        } else {
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(location);
        }
        if (!db.open())
            std::fprintf(stderr, "%s: %s\n", qPrintable(location), qPrintable(db.lastError().text()));
    }
    ~Peek()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
    QVariant value(const QString &statement)
    {
        QSqlQuery query(db);
        if (!query.exec(statement) || !query.next()) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(statement), qPrintable(query.lastError().text()));
            return QVariant();
        }
        return query.value(0);
    }

private:
    static inline int count = 0;
    QString name;
    QSqlDatabase db;
};

// The one server of the bench, on the cluster kept in the data folder.
PostgresServer *benchServer(QString &error)
{
    static std::unique_ptr<PostgresServer> server;
    static QString failed;
    if (server || !failed.isEmpty()) {
        error = failed;
        return server.get();
    }
    if (PostgresServer::binaries().isEmpty()) {
        failed = error = QStringLiteral("no PostgreSQL installed");
        return nullptr;
    }
    auto made = std::make_unique<PostgresServer>();
    // A long fill writes gigabytes: fewer checkpoints meanwhile.
    made->setSettings({QStringLiteral("max_wal_size=4GB")});
    const QString folder = QDir(dataFolder()).filePath(QStringLiteral("postgres-cluster"));
    if (!made->initKept(folder, error) || !made->start(error)) {
        failed = error;
        return nullptr;
    }
    server = std::move(made);
    return server.get();
}

void dropDatabase(PostgresServer &server, const QString &database)
{
    const QString connection = QStringLiteral("bench-drop");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(server.port());
        db.setUserName(QStringLiteral("zetra"));
        db.setDatabaseName(QStringLiteral("postgres"));
        if (db.open()) {
            QSqlQuery drop(db);
            if (!drop.exec(QStringLiteral("DROP DATABASE IF EXISTS \"%1\"").arg(database)))
                std::fprintf(stderr, "dropping %s: %s\n", qPrintable(database), qPrintable(drop.lastError().text()));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
}

QString keyName(qint64 runs)
{
    return QStringLiteral("records_%1_s%2_f%3").arg(runs).arg(kSeed).arg(kFillFormat);
}

// The marker beside a store that says its fill ended, and how long it took.
QString markerPath(const QString &key)
{
    return QDir(dataFolder()).filePath(key + QStringLiteral(".filled"));
}

double filledSeconds(const QString &key)
{
    QFile marker(markerPath(key));
    return marker.open(QIODevice::ReadOnly) ? marker.readAll().trimmed().toDouble() : -1;
}

void markFilled(const QString &key, double seconds)
{
    QFile marker(markerPath(key));
    if (marker.open(QIODevice::WriteOnly))
        marker.write(QByteArray::number(seconds, 'f', 1) + '\n');
}

FilledRecords sqliteRecords(qint64 runs)
{
    const QString key = QStringLiteral("sqlite_") + keyName(runs);
    const QString path = QDir(dataFolder()).filePath(key + QStringLiteral(".sqlite"));
    if (filledSeconds(key) < 0) {
        for (const QString &part : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(path + part);
        QDir(path + QStringLiteral(".owners")).removeRecursively();
        QDir().mkpath(dataFolder());
        std::fprintf(stderr, "filling %s with %lld runs\n", qPrintable(path), runs);
        QElapsedTimer clock;
        clock.start();
        if (!fill(runs, path))
            return {};
        markFilled(key, clock.nsecsElapsed() / 1e9);
    }
    return {QStringLiteral("sqlite"), path, runs};
}

FilledRecords postgresRecords(qint64 runs)
{
    QString error;
    PostgresServer *server = benchServer(error);
    if (!server) {
        std::fprintf(stderr, "no PostgreSQL server for the records bench: %s\n", qPrintable(error));
        return {};
    }
    const QString key = keyName(runs);
    const QString location = server->url(key);
    const QString marker = QStringLiteral("postgres_") + key;
    const bool there = Peek(server->url(QStringLiteral("postgres")))
                           .value(QStringLiteral("SELECT COUNT(*) FROM pg_database WHERE datname = '%1'").arg(key))
                           .toInt() == 1;
    if (filledSeconds(marker) < 0 || !there) {
        // A database a fill left half-made goes first.
        dropDatabase(*server, key);
        if (!server->createDatabase(key, error)) {
            std::fprintf(stderr, "cannot create database %s: %s\n", qPrintable(key), qPrintable(error));
            return {};
        }
        std::fprintf(stderr, "filling %s with %lld runs\n", qPrintable(location), runs);
        QElapsedTimer clock;
        clock.start();
        if (!fill(runs, location))
            return {};
        markFilled(marker, clock.nsecsElapsed() / 1e9);
    }
    return {QStringLiteral("postgres"), location, runs};
}

// Each engine's store once per bench: the first figure that asks fills it.
QMap<QString, FilledRecords> &filled()
{
    static QMap<QString, FilledRecords> stores;
    return stores;
}

// The serial of a unit in the middle of the year.
QString serialInMiddle(const FilledRecords &store)
{
    Peek peek(store.location);
    return peek.value(QStringLiteral("SELECT serial FROM runs WHERE id = %1").arg(qMax<qint64>(1, store.runs / 2))).toString();
}

// Only the filled stores that could be had.
QVector<FilledRecords> everyFilled()
{
    QVector<FilledRecords> stores;
    for (const char *engine : kRecordEngines) {
        const FilledRecords store = filledRecords(QLatin1String(engine));
        if (!store.location.isEmpty())
            stores << store;
    }
    return stores;
}

// zetra-cli records with a server reads the station's own file too (and
// sends what waits in it): each bench's is an empty one of its own.
QMap<QString, QString> stationHome(const QTemporaryDir &home)
{
    return {{QStringLiteral("XDG_DATA_HOME"), home.path()}};
}

} // namespace

qint64 benchRecordRuns()
{
    bool ok = false;
    const qint64 runs = qEnvironmentVariable("ZETRA_BENCH_RUNS").toLongLong(&ok);
    return ok && runs > 0 ? runs : 1000000;
}

FilledRecords filledRecords(const QString &engine)
{
    if (!filled().contains(engine)) {
        const qint64 runs = benchRecordRuns();
        const FilledRecords store = engine == QLatin1String("sqlite") ? sqliteRecords(runs) : postgresRecords(runs);
        filled().insert(engine, store);
        if (!store.location.isEmpty()) {
            // What the store is: how long its fill took, how big it is.
            reportEach("records_fill_s", engine, filledSeconds(engine + QLatin1Char('_') + keyName(runs)), "s");
            double bytes = 0;
            if (engine == QLatin1String("sqlite"))
                bytes = QFileInfo(store.location).size();
            else
                bytes = Peek(store.location).value(QStringLiteral("SELECT pg_database_size(current_database())")).toDouble();
            reportEach("records_db_mb", engine, bytes / 1e6, "MB");
        }
    }
    return filled().value(engine);
}

// One unit's history: the command line's whole process, and the store's
// own query in this process.
void recordsSerial()
{
    QMap<QString, double> cli, store;
    for (const FilledRecords &filledStore : everyFilled()) {
        const QString serial = serialInMiddle(filledStore);
        QTemporaryDir home;
        const QStringList arguments{"records", "--serial", serial, "--records", filledStore.location};
        // The first is not counted: it makes the station's own file, and
        // brings the store into the page cache as a plant's busy one is.
        runCli(arguments, QStringLiteral("/dev/null"), stationHome(home));
        std::vector<double> seconds;
        for (int i = 0; i < 5; ++i) {
            const Child child = runCli(arguments, QStringLiteral("/dev/null"), stationHome(home));
            if (!child.ok) {
                std::fprintf(stderr, "records --serial failed: %s\n", child.errorOutput.constData());
                return;
            }
            seconds.push_back(child.seconds);
        }
        cli.insert(filledStore.engine, median(seconds) * 1000);
        reportEach("records_serial_ms", filledStore.engine, cli.value(filledStore.engine), "ms");

        seconds.clear();
        int found = 0;
        for (int i = 0; i < 5; ++i) {
            RecordStore::Options options;
            options.localFile = home.filePath(QStringLiteral("in-process.sqlite"));
            Station::RecordFilter filter;
            filter.serial = serial;
            QElapsedTimer clock;
            clock.start();
            QString error;
            const std::unique_ptr<RecordStore> opened = RecordStore::open(filledStore.location, options, error);
            if (!opened) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(filledStore.location), qPrintable(error));
                return;
            }
            found = opened->runs(filter).size();
            seconds.push_back(clock.nsecsElapsed() / 1e9);
        }
        if (found == 0)
            std::fprintf(stderr, "records_serial: no run of %s\n", qPrintable(serial));
        store.insert(filledStore.engine, median(seconds) * 1000);
        reportEach("records_serial_store_ms", filledStore.engine, store.value(filledStore.engine), "ms");
    }
    reportWorse("records_serial_ms", cli, false, "ms");
    reportWorse("records_serial_store_ms", store, false, "ms");
}

// Every run out of the store, in each of the listing's forms: runs per
// second of the process's wall time, and its own peak memory.
void recordsExport()
{
    // A listing that reads every run into memory first must not take the
    // machine down with it: it is stopped past these, and fails.
    ChildLimits limits;
    if (qEnvironmentVariableIsSet("ZETRA_BENCH_EXPORT_TIMEOUT_S"))
        limits.seconds = qEnvironmentVariableIntValue("ZETRA_BENCH_EXPORT_TIMEOUT_S");
    limits.memoryMb = qEnvironmentVariableIsSet("ZETRA_BENCH_EXPORT_MEMORY_MB")
                          ? qEnvironmentVariableIntValue("ZETRA_BENCH_EXPORT_MEMORY_MB")
                          : 8192;
    struct Form
    {
        const char *name;
        QStringList arguments;
        bool csv;
    };
    const Form forms[] = {{"json", {"--json", "records"}, false}, {"csv", {"records"}, true}, {"list", {"records"}, false}};
    QMap<QString, double> rateWorst, peakWorst;
    for (const FilledRecords &store : everyFilled()) {
        double worstRate = -1, worstPeak = 0;
        for (const Form &form : forms) {
            QTemporaryDir scratch;
            QStringList arguments = form.arguments;
            arguments << "--records" << store.location;
            if (form.csv)
                arguments << "--csv" << scratch.filePath(QStringLiteral("runs.csv"));
            const Child child = runCli(arguments, QStringLiteral("/dev/null"), stationHome(scratch), limits);
            if (!child.ok) {
                std::fprintf(stderr, "records export (%s, %s) failed after %.0f s, peak %.0f MB: %s\n", form.name,
                             qPrintable(store.engine), child.seconds, child.peakMb, child.errorOutput.constData());
                // Unfinished: no rate, and the memory it had taken by then
                // is a floor of its peak.
                worstRate = 0;
                worstPeak = qMax(worstPeak, child.peakMb);
                continue;
            }
            const double rate = store.runs / child.seconds;
            const QByteArray prefix = QByteArray("records_export_") + form.name;
            reportEach(prefix + "_runs_per_s", store.engine, rate, "runs/s");
            reportEach(prefix + "_peak_mb", store.engine, child.peakMb, "MB");
            worstRate = worstRate < 0 ? rate : qMin(worstRate, rate);
            worstPeak = qMax(worstPeak, child.peakMb);
        }
        reportEach("records_export_runs_per_s", store.engine, worstRate, "runs/s");
        reportEach("records_export_peak_mb", store.engine, worstPeak, "MB");
        rateWorst.insert(store.engine, worstRate);
        peakWorst.insert(store.engine, worstPeak);
    }
    reportWorse("records_export_runs_per_s", rateWorst, true, "runs/s");
    reportWorse("records_export_peak_mb", peakWorst, false, "MB");
}

// A station's file of runs that wait for the server, sent by
// `zetra-cli records --sync` to an empty database.
void syncRuns()
{
    QString error;
    PostgresServer *server = benchServer(error);
    if (!server) {
        std::fprintf(stderr, "sync: no PostgreSQL server: %s\n", qPrintable(error));
        return;
    }
    const qint64 runs = qMin<qint64>(kSyncRuns, benchRecordRuns());
    const QString database = QStringLiteral("sync_bench");
    dropDatabase(*server, database);
    if (!server->createDatabase(database, error)) {
        std::fprintf(stderr, "sync: %s\n", qPrintable(error));
        return;
    }
    const QString url = server->url(database);
    QTemporaryDir home;
    // Where zetra-cli takes the station's own file: the user's data folder.
    const QString stationFile = home.filePath(QStringLiteral("ZETRA/records.sqlite"));
    QDir().mkpath(QFileInfo(stationFile).absolutePath());
    if (!fill(runs, stationFile, {"--sync-target", url}))
        return;
    const QString output = home.filePath(QStringLiteral("sync.json"));
    const Child child = runCli({"--json", "records", "--records", url, "--sync"}, output, stationHome(home));
    QFile file(output);
    const QJsonObject answer =
        file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    const qint64 sent = answer.value(QLatin1String("sent")).toVariant().toLongLong();
    if (!child.ok)
        std::fprintf(stderr, "records --sync failed: %s\n", child.errorOutput.constData());
    const qint64 held = Peek(url).value(QStringLiteral("SELECT COUNT(*) FROM runs")).toLongLong();
    std::fprintf(stderr, "sync: %lld runs sent in %.1f s; the server holds %lld of %lld: %s\n", sent, child.seconds,
                 held, runs, held == runs ? "all" : "NOT ALL");
    reportFigure("sync_runs_per_s", sent / child.seconds, "runs/s");
    reportFigure("sync_server_holds_all", held == runs ? 1 : 0, "bool");
    dropDatabase(*server, database);
}
