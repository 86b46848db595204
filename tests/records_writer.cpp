// A station's writing, without a station: runs of steps into a record store,
// for the tests that run several writers at once or kill one part-way.
//   records_writer DB --runs N --steps K [--tag T] [--hold]
//                  [--local FILE] [--retry-ms MS] [--pause-ms MS] [--gated]
// Each run records its parameters before, K steps of three measurements,
// its parameters after, and ends as pass; "began RUN_ID" on stdout as each
// begins, "ended RUN_ID sent S waiting W" as it ends (the store's counts),
// and "notice TEXT" whenever the store's notice changes. --hold: one run,
// its K steps, then "held RUN_ID" on stdout and a wait for the kill.
// --local and --retry-ms: the store's options for a server; --pause-ms: a
// pause after each step; --gated: a line on stdin before each run begins
// and again before it ends. Exits 1 on a store error.
#include "recordstore.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

QJsonObject measuredAt(int run, int step)
{
    const double mean = 5.0 + 0.001 * run + 0.0001 * step;
    return {{QStringLiteral("mean"), QJsonObject{{QStringLiteral("value"), mean}, {QStringLiteral("low"), 4.95},
                                                 {QStringLiteral("high"), 5.05}}},
            {QStringLiteral("stddev"), QJsonObject{{QStringLiteral("value"), 0.01}, {QStringLiteral("high"), 0.02}}},
            {QStringLiteral("missed"), QJsonObject{{QStringLiteral("value"), step % 3}}}};
}

int fail(const RecordStore &store)
{
    std::fprintf(stderr, "records_writer: %s\n", qPrintable(store.error()));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: records_writer DB --runs N --steps K [--tag T] [--hold]\n");
        return 2;
    }
    const auto option = [&arguments](const char *name, const QString &fallback) {
        const int at = arguments.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : fallback;
    };
    const int runs = option("--runs", QStringLiteral("1")).toInt();
    const int steps = option("--steps", QStringLiteral("3")).toInt();
    const QString tag = option("--tag", QStringLiteral("w"));
    const bool hold = arguments.contains(QStringLiteral("--hold"));

    const int pauseMs = option("--pause-ms", QStringLiteral("0")).toInt();
    const bool gated = arguments.contains(QStringLiteral("--gated"));
    RecordStore::Options options;
    options.localFile = option("--local", QString());
    options.retryMs = option("--retry-ms", QString::number(options.retryMs)).toInt();
    const auto gate = [gated] {
        std::string line;
        return !gated || bool(std::getline(std::cin, line));
    };

    QString error;
    const std::unique_ptr<RecordStore> store = RecordStore::open(arguments.at(1), options, error);
    if (!store) {
        std::fprintf(stderr, "records_writer: %s\n", qPrintable(error));
        return 1;
    }
    QString notice;
    const auto tellNotice = [&store, &notice] {
        if (store->notice() == notice)
            return;
        notice = store->notice();
        std::printf("notice %s\n", qPrintable(notice));
        std::fflush(stdout);
    };
    tellNotice();
    for (int run = 0; run < (hold ? 1 : runs); ++run) {
        if (!gate())
            return 0;
        Station::RunHeader header;
        header.serial = QStringLiteral("%1-%2").arg(tag).arg(run);
        header.station = tag;
        header.operatorName = QStringLiteral("writer");
        header.port = QStringLiteral("/dev/null");
        header.recipeName = QStringLiteral("load");
        header.recipeHash = QStringLiteral("00");
        header.programVersion = QStringLiteral("test");
        header.revisionBefore = QStringLiteral("r1");
        header.started = QDateTime::currentDateTimeUtc();
        qint64 runId = 0;
        if (!store->beginRun(header, runId))
            return fail(*store);
        std::printf("began %lld\n", static_cast<long long>(runId));
        std::fflush(stdout);
        if (!store->recordParameters(runId, false, {{QStringLiteral("fmcw-band"), 250}, {QStringLiteral("smooth-coef"), 0.25}}))
            return fail(*store);
        for (int step = 0; step < steps; ++step) {
            Station::StepRecord record;
            record.index = step;
            record.kind = QStringLiteral("measure");
            record.started = QDateTime::currentDateTimeUtc();
            record.ended = record.started.addMSecs(1);
            record.measured = measuredAt(run, step);
            if (!store->recordStep(runId, record))
                return fail(*store);
            if (pauseMs > 0)
                QThread::msleep(pauseMs);
        }
        if (hold) {
            std::printf("held %lld\n", static_cast<long long>(runId));
            std::fflush(stdout);
            for (;;)
                QThread::sleep(60);
        }
        if (!gate())
            return 0;
        if (!store->recordParameters(runId, true, {{QStringLiteral("fmcw-band"), 260}, {QStringLiteral("smooth-coef"), 0.5}})
            || !store->finishRun(runId, Station::Outcome::Pass, QString(), Station::Cause(), QStringLiteral("r2")))
            return fail(*store);
        std::printf("ended %lld sent %d waiting %d\n", static_cast<long long>(runId), store->runsSent(),
                    store->runsWaiting());
        std::fflush(stdout);
        tellNotice();
    }
    return 0;
}
