// zetra-cli records end to end: the real program reads a record file that
// the store wrote, or that a station killed part-way left behind.
#include "clirun.h"
#include "recordstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <signal.h>
#include <sys/types.h>

using Station::Outcome;

namespace {

#define EXPECT_CODE(run, code) QVERIFY2((run).exitCode == (code), qPrintable((run).describe()))

const QDateTime kMarch = QDateTime(QDate(2024, 3, 14), QTime(9, 0), Qt::UTC);

Station::Cause noAnswer()
{
    RequestOutcome unanswered = RequestOutcome::failed(RequestOutcome::Failure::NoAnswer);
    unanswered.function = 3;
    unanswered.address = 70;
    return Station::Cause::fromRequest(unanswered);
}

qint64 addRun(RecordStore &store, const QString &serial, const QDateTime &started, Outcome outcome,
              const Station::Cause &cause = {})
{
    Station::RunHeader header;
    header.serial = serial;
    header.station = QStringLiteral("bench-1");
    header.operatorName = QStringLiteral("anna");
    header.port = QStringLiteral("/dev/ttyUSB0");
    header.recipeName = QStringLiteral("end-of-line");
    header.recipeHash = QStringLiteral("ab12");
    header.programVersion = QStringLiteral("1.0");
    header.revisionBefore = QStringLiteral("ZETRA 2.2");
    header.started = started;
    qint64 id = 0;
    if (!store.beginRun(header, id))
        return 0;
    store.recordParameters(id, false, {{QStringLiteral("fmcw-band"), 250}, {QStringLiteral("smooth-coef"), 0.25}});
    Station::StepRecord measure;
    measure.index = 0;
    measure.kind = QStringLiteral("measure");
    measure.outcome = outcome == Outcome::Fail ? Outcome::Fail : Outcome::Pass;
    measure.started = started.addSecs(10);
    measure.ended = started.addSecs(15);
    measure.cause = cause;
    measure.measured = {{QStringLiteral("mean"), QJsonObject{{QStringLiteral("value"), 4.9375}, {QStringLiteral("low"), 4.95},
                                                             {QStringLiteral("high"), 5.05}}}};
    store.recordStep(id, measure);
    store.recordParameters(id, true, {{QStringLiteral("fmcw-band"), 260}, {QStringLiteral("smooth-coef"), 0.25}});
    store.finishRun(id, outcome, outcome == Outcome::Pass ? QString() : QStringLiteral("measure"), cause,
                    QStringLiteral("ZETRA 2.3"));
    return id;
}

QStringList serials(const QJsonObject &result)
{
    QStringList found;
    for (const QJsonValue &run : result.value(QLatin1String("runs")).toArray())
        found << run.toObject().value(QLatin1String("serial")).toString();
    return found;
}

} // namespace

class RecordsCliTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        path = dir.filePath(QStringLiteral("records.sqlite"));
        QString error;
        auto store = RecordStore::open(path, error);
        QVERIFY2(store, qPrintable(error));
        QVERIFY(addRun(*store, QStringLiteral("0417"), kMarch, Outcome::Pass));
        QVERIFY(addRun(*store, QStringLiteral("0418"), kMarch.addDays(1), Outcome::Fail,
                       Station::Cause::text(QStringLiteral("mean 4.9375; below 4.95"))));
        QVERIFY(addRun(*store, QStringLiteral("0417"), kMarch.addDays(30), Outcome::Fail,
                       Station::Cause::limit(QStringLiteral("mean"), 4.9375, 4.95, 5.05)));
        QVERIFY(addRun(*store, QStringLiteral("0419"), kMarch.addDays(2), Outcome::Error,
                       noAnswer()));
    }

    void runsAreListedNewestFirstAndFiltered()
    {
        CliRun run = runCli({QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--json")});
        EXPECT_CODE(run, 0);
        QCOMPARE(serials(run.json()), (QStringList{"0417", "0419", "0418", "0417"}));
        QCOMPARE(run.json().value(QLatin1String("ok")).toBool(), true);

        run = runCli({QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--outcome"),
                      QStringLiteral("fail"), QStringLiteral("--json")});
        EXPECT_CODE(run, 0);
        QCOMPARE(serials(run.json()), (QStringList{"0417", "0418"}));

        // A day counts from its own midnight; a moment is taken as written.
        run = runCli({QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--since"),
                      QStringLiteral("2024-03-15T09:00:00Z"), QStringLiteral("--json")});
        EXPECT_CODE(run, 0);
        QCOMPARE(serials(run.json()), (QStringList{"0417", "0419", "0418"}));
        run = runCli({QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--since"),
                      QStringLiteral("2024-04-01")});
        EXPECT_CODE(run, 0);
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);   // the header and the one run
        QVERIFY2(lines.at(1).contains(QLatin1String("0417")) && lines.at(1).contains(QLatin1String("fail"))
                     && lines.at(1).contains(QLatin1String("measure: mean 4.9375 outside [4.95, 5.05]")),
                 qPrintable(run.out));
    }

    // Each run and step that did not pass carries its cause as facts beside
    // the English reason, and --cause lists the runs of one cause alone.
    void causesAreFactsAndFilterRuns()
    {
        CliRun run = runCli({QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--json")});
        EXPECT_CODE(run, 0);
        const QJsonArray runs = run.json().value(QLatin1String("runs")).toArray();
        QCOMPARE(runs.size(), 4);
        const QJsonObject limit = runs.at(0).toObject();
        QCOMPARE(limit.value(QLatin1String("cause")).toObject(),
                 (QJsonObject{{"code", "limit"}, {"quantity", "mean"}, {"value", 4.9375}, {"low", 4.95}, {"high", 5.05}}));
        QCOMPARE(limit.value(QLatin1String("reason")).toString(), QStringLiteral("mean 4.9375 outside [4.95, 5.05]"));
        const QJsonObject step = limit.value(QLatin1String("steps")).toArray().at(0).toObject();
        QCOMPARE(step.value(QLatin1String("cause")).toObject().value(QLatin1String("code")).toString(), QStringLiteral("limit"));
        QCOMPARE(step.value(QLatin1String("seconds")).toDouble(), 5.0);
        const QJsonObject unanswered = runs.at(1).toObject();
        QCOMPARE(unanswered.value(QLatin1String("cause")).toObject(),
                 (QJsonObject{{"code", "no_answer"}, {"function", 3}, {"address", 70}}));
        QVERIFY2(unanswered.value(QLatin1String("reason")).toString().startsWith(QLatin1String("no answer from the device")),
                 qPrintable(unanswered.value(QLatin1String("reason")).toString()));
        // A pass has no cause, and says so with null, not an empty text.
        const QJsonObject passed = runs.at(3).toObject();
        QVERIFY(passed.value(QLatin1String("cause")).isNull());
        QVERIFY(passed.value(QLatin1String("reason")).isNull());

        const QVector<QPair<QString, QStringList>> filters{{QStringLiteral("limit"), {"0417"}},
                                                           {QStringLiteral("no_answer"), {"0419"}},
                                                           {QStringLiteral("text"), {"0418"}},
                                                           {QStringLiteral("refused"), {}}};
        for (const auto &filter : filters) {
            run = runCli({QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--cause"),
                          filter.first, QStringLiteral("--json")});
            EXPECT_CODE(run, 0);
            QCOMPARE(serials(run.json()), filter.second);
        }
        run = runCli({QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--cause"),
                      QStringLiteral("gremlins")});
        EXPECT_CODE(run, 1);
        QVERIFY2(run.err.contains(QLatin1String("no_answer")), qPrintable(run.err));
    }

    void oneUnitShowsItsWholeHistory()
    {
        CliRun run = runCli({QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--serial"),
                             QStringLiteral("0417"), QStringLiteral("--json")});
        EXPECT_CODE(run, 0);
        const QJsonArray runs = run.json().value(QLatin1String("runs")).toArray();
        QCOMPARE(runs.size(), 2);
        const QJsonObject latest = runs.at(0).toObject();
        QCOMPARE(latest.value(QLatin1String("outcome")).toString(), QStringLiteral("fail"));
        QCOMPARE(latest.value(QLatin1String("failed_step")).toString(), QStringLiteral("measure"));
        QCOMPARE(latest.value(QLatin1String("revision_before")).toString(), QStringLiteral("ZETRA 2.2"));
        QCOMPARE(latest.value(QLatin1String("revision_after")).toString(), QStringLiteral("ZETRA 2.3"));
        QCOMPARE(latest.value(QLatin1String("started")).toString(), QStringLiteral("2024-04-13T09:00:00.000Z"));
        const QJsonObject step = latest.value(QLatin1String("steps")).toArray().at(0).toObject();
        QCOMPARE(step.value(QLatin1String("step")).toString(), QStringLiteral("measure"));
        const QJsonObject mean = step.value(QLatin1String("measured")).toObject().value(QLatin1String("mean")).toObject();
        QCOMPARE(mean.value(QLatin1String("value")).toDouble(), 4.9375);
        QCOMPARE(mean.value(QLatin1String("low")).toDouble(), 4.95);
        QCOMPARE(mean.value(QLatin1String("high")).toDouble(), 5.05);
        QCOMPARE(latest.value(QLatin1String("parameters_before")).toObject().value(QLatin1String("fmcw-band")).toDouble(), 250.0);
        QCOMPARE(latest.value(QLatin1String("parameters_after")).toObject().value(QLatin1String("fmcw-band")).toDouble(), 260.0);

        run = runCli({QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--serial"),
                      QStringLiteral("0417")});
        EXPECT_CODE(run, 0);
        QVERIFY2(run.out.contains(QLatin1String("mean 4.9375 [4.95, 5.05]")), qPrintable(run.out));
        QVERIFY2(run.out.contains(QRegularExpression(QStringLiteral("fmcw-band +250 +-> +260 +\\*"))), qPrintable(run.out));
        QVERIFY2(run.out.contains(QRegularExpression(QStringLiteral("smooth-coef +0.25 +-> +0.25\\n"))), qPrintable(run.out));
        QCOMPARE(run.out.count(QRegularExpression(QStringLiteral("^run \\d+ "), QRegularExpression::MultilineOption)), 2);
    }

    void csvHasALineARun()
    {
        const QString csv = dir.filePath(QStringLiteral("runs.csv"));
        const CliRun run = runCli({QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--csv"), csv});
        EXPECT_CODE(run, 0);
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines.at(0).startsWith(QLatin1String("run;started;ended;serial;")));
        // A ';' in a field is quoted, so the columns still line up.
        QVERIFY2(lines.at(3).endsWith(QLatin1String(";fail;measure;\"mean 4.9375; below 4.95\";text")), qPrintable(lines.at(3)));
        QVERIFY(lines.at(0).endsWith(QLatin1String(";failed_step;reason;cause")));
        QVERIFY2(lines.at(1).endsWith(QLatin1String(";fail;measure;mean 4.9375 outside [4.95, 5.05];limit")), qPrintable(lines.at(1)));
    }

    // Listings are read and written a page at a time. With pages of seven
    // runs and many runs started at the same moment, every page boundary
    // falls among ties; the streamed JSON, CSV and listing must equal what
    // one page holding every run gives, in the same order, each run once.
    void aListingReadInPagesEqualsItReadAtOnce()
    {
        const QString many = dir.filePath(QStringLiteral("many.sqlite"));
        QString error;
        auto store = RecordStore::open(many, error);
        QVERIFY2(store, qPrintable(error));
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("SEED %u", seed);
        QRandomGenerator random(seed);
        struct Written { QDateTime started; qint64 id; };
        QVector<Written> written;
        const Outcome outcomes[] = {Outcome::Pass, Outcome::Pass, Outcome::Fail, Outcome::Error};
        for (int i = 0; i < 150; ++i) {
            const QDateTime started = kMarch.addSecs(60 * random.bounded(30));
            const Outcome outcome = outcomes[random.bounded(4)];
            const Station::Cause cause = outcome == Outcome::Fail ? Station::Cause::limit(QStringLiteral("mean"), 4.9375, 4.95, 5.05)
                                         : outcome == Outcome::Error ? noAnswer()
                                                                     : Station::Cause();
            const qint64 id = addRun(*store, QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0')), started, outcome, cause);
            QVERIFY(id);
            written.append({started, id});
        }
        std::sort(written.begin(), written.end(), [](const Written &a, const Written &b) {
            return a.started != b.started ? a.started > b.started : a.id > b.id;
        });
        QVector<qint64> newestFirst;
        for (const Written &run : written)
            newestFirst << run.id;

        QProcessEnvironment paged = QProcessEnvironment::systemEnvironment();
        paged.insert(QStringLiteral("ZETRA_RECORDS_PAGE"), QStringLiteral("7"));
        const auto both = [&](const QStringList &arguments, CliRun &atOnce, CliRun &inPages) {
            atOnce = runCli(arguments);
            inPages = runCli(arguments, paged);
        };
        CliRun atOnce, inPages;
        for (const QStringList &filter : {QStringList(), QStringList{QStringLiteral("--outcome"), QStringLiteral("fail")}}) {
            const QStringList arguments = QStringList{QStringLiteral("--json"), QStringLiteral("records"),
                                                      QStringLiteral("--records"), many} + filter;
            both(arguments, atOnce, inPages);
            EXPECT_CODE(atOnce, 0);
            EXPECT_CODE(inPages, 0);
            QJsonParseError parsed;
            const QJsonObject whole = QJsonDocument::fromJson(inPages.out.toUtf8(), &parsed).object();
            QVERIFY2(parsed.error == QJsonParseError::NoError, qPrintable(parsed.errorString()));
            QCOMPARE(whole, atOnce.json());
            QVector<qint64> ids;
            for (const QJsonValue &run : whole.value(QLatin1String("runs")).toArray()) {
                ids << qint64(run.toObject().value(QLatin1String("id")).toDouble());
                QCOMPARE(run.toObject().value(QLatin1String("steps")).toArray().size(), 1);
            }
            if (filter.isEmpty())
                QCOMPARE(ids, newestFirst);
            else
                QVERIFY(ids.size() > 10 && ids.size() < 150);
        }

        const QString csvAtOnce = dir.filePath(QStringLiteral("at-once.csv"));
        const QString csvInPages = dir.filePath(QStringLiteral("in-pages.csv"));
        atOnce = runCli({QStringLiteral("records"), QStringLiteral("--records"), many, QStringLiteral("--csv"), csvAtOnce});
        inPages = runCli({QStringLiteral("records"), QStringLiteral("--records"), many, QStringLiteral("--csv"), csvInPages},
                         paged);
        EXPECT_CODE(atOnce, 0);
        EXPECT_CODE(inPages, 0);
        // The plain listing, and the CSV written beside it.
        QCOMPARE(inPages.out, atOnce.out);
        QCOMPARE(inPages.out.count(QLatin1Char('\n')), 151);
        QFile a(csvAtOnce), b(csvInPages);
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        const QByteArray csv = b.readAll();
        QCOMPARE(csv, a.readAll());
        QCOMPARE(csv.count('\n'), 151);
    }

    void aKilledStationReadsAsInterrupted()
    {
        const QString killed = dir.filePath(QStringLiteral("killed.sqlite"));
        QProcess writer;
        writer.start(QStringLiteral(ZETRA_RECORDS_WRITER_PATH),
                     {killed, QStringLiteral("--steps"), QStringLiteral("3"), QStringLiteral("--hold")});
        QVERIFY(writer.waitForStarted(30000));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += writer.readAllStandardOutput()).contains("held "), 60000);
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished(30000));

        const CliRun run = runCli({QStringLiteral("records"), QStringLiteral("--records"), killed, QStringLiteral("--json")});
        EXPECT_CODE(run, 0);
        const QJsonArray runs = run.json().value(QLatin1String("runs")).toArray();
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.at(0).toObject().value(QLatin1String("outcome")).toString(), QStringLiteral("interrupted"));
        QCOMPARE(runs.at(0).toObject().value(QLatin1String("steps")).toArray().size(), 3);
    }

    void theDefaultFileIsInTheUsersDataFolder()
    {
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
        // None yet: not an error, a station that has not run.
        CliRun run = runCli({QStringLiteral("records"), QStringLiteral("--json")}, environment);
        EXPECT_CODE(run, 0);
        QCOMPARE(run.json().value(QLatin1String("runs")).toArray().size(), 0);
        const QString expected = home.filePath(QStringLiteral("ZETRA/records.sqlite"));
        QCOMPARE(run.json().value(QLatin1String("records")).toString(), expected);
        QVERIFY(!QFile::exists(expected));
        QVERIFY(QDir().mkpath(QFileInfo(expected).absolutePath()));
        QVERIFY(QFile::copy(path, expected));
        run = runCli({QStringLiteral("records"), QStringLiteral("--json")}, environment);
        EXPECT_CODE(run, 0);
        QCOMPARE(run.json().value(QLatin1String("runs")).toArray().size(), 4);
    }

    void badInputIsRefusedWithExitOne()
    {
        const QString later = dir.filePath(QStringLiteral("later.sqlite"));
        {
            QString error;
            auto store = RecordStore::open(later, error);
            QVERIFY2(store, qPrintable(error));
        }
        {
            // Stamped as by a later version of the program.
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("later"));
            db.setDatabaseName(later);
            QVERIFY(db.open());
            QSqlQuery stamp(db);
            QVERIFY(stamp.exec(QStringLiteral("UPDATE schema_version SET version = 99")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("later"));
        const QList<QStringList> cases{
            {QStringLiteral("records"), QStringLiteral("--records"), dir.filePath(QStringLiteral("missing.sqlite"))},
            {QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--outcome"), QStringLiteral("passed")},
            {QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--since"), QStringLiteral("last March")},
            {QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--port"), QStringLiteral("/dev/null")},
            {QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("extra")},
            {QStringLiteral("records"), QStringLiteral("--records"), dir.path()},
            {QStringLiteral("records"), QStringLiteral("--records"), later},
            {QStringLiteral("records"), QStringLiteral("--records"), path, QStringLiteral("--csv"),
             dir.filePath(QStringLiteral("no/such/folder.csv"))},
            // The store's filters mean nothing to a command on the line.
            {QStringLiteral("get"), QStringLiteral("fmcw-band"), QStringLiteral("--port"), QStringLiteral("/dev/null"),
             QStringLiteral("--since"), QStringLiteral("2024-01-01")},
        };
        for (const QStringList &arguments : cases) {
            const CliRun run = runCli(arguments + QStringList{QStringLiteral("--json")});
            QVERIFY2(run.exitCode == 1, qPrintable(arguments.join(' ') + QStringLiteral(" -> ") + QString::number(run.exitCode)));
            QCOMPARE(run.json().value(QLatin1String("ok")).toBool(true), false);
            QVERIFY2(!run.json().value(QLatin1String("error")).toString().isEmpty(), qPrintable(run.out));
        }
    }

private:
    QTemporaryDir dir;
    QString path;
};

QTEST_GUILESS_MAIN(RecordsCliTest)
#include "records_cli_test.moc"
