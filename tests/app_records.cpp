// The records browser over more runs than it holds: a file of several pages
// written by the real store, paged through as the table scrolls while
// another station adds runs, the last day's filter, and the CSV export of
// every run found, finished and cancelled.
#include "app_support.h"

#include "recordpages.h"
#include "recordsbrowser.h"
#include "recordsearch.h"
#include "recordstore.h"
#include "runcsv.h"
#include "stationwording.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QJsonObject>
#include <QLabel>
#include <QProgressBar>
#include <QRunnable>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QThreadPool>

namespace {

// More pages than the browser holds, the last one part-full.
constexpr int kRuns = RunPageModel::kPageSize * (RunPageModel::kCachedPages + 2) + 37;
constexpr int kMinutesApart = 20;
constexpr int kExportMs = 60000;

QDateTime firstStart()
{
    return QDateTime(QDate::currentDate().addDays(-10), QTime(8, 0));
}

// Runs as a station writes them: a header, a step for every other run
// with what it measured, and an end; some fail on a limit.
bool writeRuns(RecordStore &store, int first, int count, const QDateTime &start)
{
    for (int i = first; i < first + count; ++i) {
        Station::RunHeader header;
        header.serial = QStringLiteral("S-%1").arg(i);
        header.station = QStringLiteral("bench-1");
        header.operatorName = QStringLiteral("tester");
        header.port = QStringLiteral("/dev/ttyUSB%1").arg(i % 4);
        header.recipeName = QStringLiteral("bench check");
        header.recipeHash = QStringLiteral("ab12");
        header.programVersion = QStringLiteral("test");
        header.revisionBefore = QStringLiteral("ZETRA 2.%1").arg(i % 3);
        header.started = start.addSecs(qint64(i - first) * kMinutesApart * 60);
        qint64 id = 0;
        if (!store.beginRun(header, id))
            return false;
        const bool fails = i % 3 == 0;
        const double mean = fails ? 5.2 : 5.0;
        const Station::Cause cause = fails ? Station::Cause::limit(QStringLiteral("mean"), mean, 4.95, 5.05)
                                           : Station::Cause();
        if (i % 2 == 0) {
            Station::StepRecord step;
            step.index = 0;
            step.kind = QStringLiteral("measure");
            step.outcome = fails ? Station::Outcome::Fail : Station::Outcome::Pass;
            step.started = header.started.addSecs(1);
            step.ended = header.started.addSecs(3);
            step.cause = cause;
            step.measured = {{QStringLiteral("mean"), QJsonObject{{QStringLiteral("value"), mean},
                                                                  {QStringLiteral("low"), 4.95},
                                                                  {QStringLiteral("high"), 5.05}}},
                             {QStringLiteral("missed"), QJsonObject{{QStringLiteral("value"), i % 5}}}};
            if (!store.recordStep(id, step))
                return false;
        }
        if (!store.finishRun(id, fails ? Station::Outcome::Fail : Station::Outcome::Pass,
                             fails ? QStringLiteral("measure") : QString(), cause, QStringLiteral("ZETRA 2.4")))
            return false;
    }
    return true;
}

QVector<qint64> ids(const QVector<Station::RunRecord> &runs)
{
    QVector<qint64> found;
    for (const Station::RunRecord &run : runs)
        found.append(run.id);
    return found;
}

// The export as the browser wrote it when it held every run in memory:
// one line per measured value, the run's columns repeated on each.
QString wholeListCsv(const QVector<Station::RunRecord> &runs)
{
    QString text = Station::runCsvColumns()
                   + QStringLiteral(";step_index;step;step_outcome;step_reason;step_cause;quantity;value;low;high\n");
    auto number = [](const QJsonValue &value) {
        return value.isDouble() ? QString::number(value.toDouble(), 'g', 10) : QString();
    };
    for (const Station::RunRecord &run : runs) {
        const QStringList head = Station::runCsvFields(run, StationWording::cause(run.cause));
        QVector<QStringList> tails;
        for (const Station::StepRecord &step : run.steps) {
            const QStringList stepFields{QString::number(step.index), step.kind, Station::outcomeName(step.outcome),
                                         StationWording::cause(step.cause), step.cause.codeName()};
            if (step.measured.isEmpty())
                tails.append(stepFields + QStringList{QString(), QString(), QString(), QString()});
            for (auto it = step.measured.begin(); it != step.measured.end(); ++it) {
                const QJsonObject value = it.value().toObject();
                tails.append(stepFields + QStringList{it.key(), number(value.value(QLatin1String("value"))),
                                                      number(value.value(QLatin1String("low"))),
                                                      number(value.value(QLatin1String("high")))});
            }
        }
        if (tails.isEmpty())
            tails.append(QStringList{QString(), QString(), QString(), QString(), QString(), QString(), QString(),
                                     QString(), QString()});
        for (const QStringList &tail : qAsConst(tails))
            text += Station::csvLine(head + tail);
    }
    return text;
}

QString statusText(const RecordsBrowser &browser)
{
    return widget<QLabel>(browser, "recordStatus")->text();
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("(not there)");
}

} // namespace

class AppRecords : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pagesShowEveryRunOnceInOrderWhileRunsArrive();
    void theLastDayIsTheStoresFilter();
    void exportWritesEveryRunFoundAsTheWholeListDid();
    void aCancelledExportLeavesTheFileAsItWas();

private:
    std::unique_ptr<RecordStore> open();

    QTemporaryDir dir;
    QString records;
    int written = 0;
};

std::unique_ptr<RecordStore> AppRecords::open()
{
    QString error;
    std::unique_ptr<RecordStore> store = RecordStore::open(records, error);
    if (!store)
        qWarning("%s", qPrintable(error));
    return store;
}

void AppRecords::initTestCase()
{
    QVERIFY(dir.isValid());
    records = dir.filePath(QStringLiteral("records.sqlite"));
    const std::unique_ptr<RecordStore> store = open();
    QVERIFY(store);
    QVERIFY2(writeRuns(*store, 0, kRuns, firstStart()), qPrintable(store->error()));
    written = kRuns;
}

// The first page shows, then the count; scrolling reads each page as it
// comes into view, and every run found shows once, in the store's order,
// although another station adds newer runs meanwhile.
void AppRecords::pagesShowEveryRunOnceInOrderWhileRunsArrive()
{
    const std::unique_ptr<RecordStore> other = open();
    QVERIFY(other);
    const QVector<Station::RunRecord> expected = other->runs(Station::RecordFilter());
    QCOMPARE(expected.size(), written);

    RecordsBrowser browser(records);
    browser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browser));
    QSignalSpy firstPage(&browser, &RecordsBrowser::firstPageShown);
    browser.search();
    QVERIFY(browser.isSearching());
    QCOMPARE(statusText(browser), QStringLiteral("Поиск в журнале изделий…"));
    QTRY_COMPARE(firstPage.count(), 1);
    QTRY_VERIFY(!browser.isSearching());
    QCOMPARE(statusText(browser), QStringLiteral("Найдено записей: %1").arg(expected.size()));
    auto *table = widget<QTableView>(browser, "recordRuns");
    const RunPageModel *pages = browser.pages();
    // The count is known; the rows come as the table scrolls.
    QCOMPARE(pages->count(), qint64(expected.size()));
    QCOMPARE(table->model()->rowCount(), int(RunPageModel::kPageSize));
    QCOMPARE(pages->cachedPages(), 1);
    QCOMPARE(table->model()->index(0, 1).data().toString(), expected.first().header.serial);

    // Newer runs from another station, which would push every page down.
    QVERIFY2(writeRuns(*other, written, 25, QDateTime::currentDateTime().addSecs(60)), qPrintable(other->error()));
    written += 25;

    QVector<qint64> seen;
    for (int row = 0; row < table->model()->rowCount(); ++row) {
        // At the last row shown, scrolling down brings the next page's rows.
        if (row + 1 == table->model()->rowCount() && row + 1 < expected.size()) {
            table->scrollToBottom();
            QTRY_VERIFY(table->model()->rowCount() > row + 1);
        }
        if (!pages->run(row)) {
            table->scrollTo(table->model()->index(row, 0), QAbstractItemView::PositionAtTop);
            QTRY_VERIFY2(pages->run(row), qPrintable(QString::number(row)));
        }
        seen.append(pages->run(row)->id);
        QVERIFY(pages->cachedPages() <= RunPageModel::kCachedPages);
    }
    QCOMPARE(seen, ids(expected));
    QCOMPARE(table->model()->rowCount(), expected.size());

    // The last page's run with its steps; the first page, dropped on the
    // way, reads as a placeholder and comes back when asked for.
    const int last = expected.size() - 1;
    const int withStep = expected.at(last).steps.isEmpty() ? last - 1 : last;
    table->setCurrentIndex(table->model()->index(withStep, 0));
    const auto *steps = widget<QTableWidget>(browser, "recordSteps");
    QCOMPARE(steps->rowCount(), expected.at(withStep).steps.size());
    QVERIFY(steps->rowCount() > 0);
    QVERIFY(!pages->run(0));
    QCOMPARE(table->model()->index(0, 0).data().toString(), RunPageModel::kPlaceholder);
    QTRY_VERIFY(pages->run(0));
    QCOMPARE(pages->run(0)->id, expected.first().id);
    QTRY_COMPARE(table->model()->index(0, 1).data().toString(), expected.first().header.serial);

    // A new search sees the runs added.
    browser.search();
    QTRY_VERIFY(!browser.isSearching());
    QCOMPARE(pages->count(), qint64(written));
    QCOMPARE(pages->run(0)->header.serial, QStringLiteral("S-%1").arg(written - 1));
}

// "по" a day: the runs started before the next midnight, as the store
// selects them, counted and paged alike.
void AppRecords::theLastDayIsTheStoresFilter()
{
    const QDate lastDay = firstStart().date().addDays(4);
    Station::RecordFilter filter;
    filter.until = QDateTime(lastDay.addDays(1), QTime(0, 0));
    const std::unique_ptr<RecordStore> store = open();
    QVERIFY(store);
    const QVector<Station::RunRecord> expected = store->runs(filter);
    QVERIFY(expected.size() > RunPageModel::kPageSize && expected.size() < written);

    RecordsBrowser browser(records);
    browser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browser));
    widget<QDateEdit>(browser, "recordTo")->setDate(lastDay);
    widget<QCheckBox>(browser, "recordToSet")->setChecked(true);
    QVERIFY(browser.isSearching());
    QTRY_VERIFY(!browser.isSearching());
    QCOMPARE(statusText(browser), QStringLiteral("Найдено записей: %1").arg(expected.size()));
    const RunPageModel *pages = browser.pages();
    QCOMPARE(pages->count(), qint64(expected.size()));
    QCOMPARE(ids(browser.shownRuns()), ids(expected.mid(0, RunPageModel::kPageSize)));
    for (const Station::RunRecord &run : browser.shownRuns())
        QVERIFY2(run.header.started.date() <= lastDay, qPrintable(run.header.started.toString()));
}

// Every run found goes to the file, not only the pages held, line for line
// as the export that held the whole list wrote it.
void AppRecords::exportWritesEveryRunFoundAsTheWholeListDid()
{
    const std::unique_ptr<RecordStore> store = open();
    QVERIFY(store);
    const QVector<Station::RunRecord> expected = store->runs(Station::RecordFilter());
    QCOMPARE(expected.size(), written);
    const QString path = dir.filePath(QStringLiteral("all.csv"));

    RecordsBrowser browser(records);
    browser.setSaveChooser([&](const QString &) { return path; });
    browser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browser));
    browser.search();
    QTRY_VERIFY(!browser.isSearching());
    QVERIFY(browser.shownRuns().size() < expected.size());
    QSignalSpy finished(&browser, &RecordsBrowser::exportFinished);
    QTest::mouseClick(widget<QPushButton>(browser, "recordExport"), Qt::LeftButton);
    QVERIFY(browser.isExporting());
    QVERIFY(widget<QProgressBar>(browser, "recordExportProgress")->isVisible());
    QVERIFY(widget<QPushButton>(browser, "recordExportCancel")->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!browser.isExporting(), kExportMs);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toBool(), true);
    QCOMPARE(statusText(browser), QStringLiteral("Записей выгружено: %1 → %2").arg(expected.size()).arg(path));
    QVERIFY(!widget<QProgressBar>(browser, "recordExportProgress")->isVisible());

    const QStringList lines = readFile(path).split('\n');
    const QStringList wanted = wholeListCsv(expected).split('\n');
    QCOMPARE(lines.size(), wanted.size());
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(lines.at(i), wanted.at(i));
}

// Cancelled: the file that was there stays, and nothing is left beside it.
void AppRecords::aCancelledExportLeavesTheFileAsItWas()
{
    ScopedWorkDir work;
    const QByteArray before = "run;started\n1;earlier\n";
    QVERIFY(work.writeFile("kept.csv", before));
    const QString path = work.filePath("kept.csv");

    RecordsBrowser browser(records);
    browser.setSaveChooser([&](const QString &) { return path; });
    browser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browser));
    browser.search();
    QTRY_VERIFY(!browser.isSearching());
    QSignalSpy finished(&browser, &RecordsBrowser::exportFinished);
    // The export waits for a thread of its pool until the cancel is in, so
    // it cannot have finished before, however fast the machine.
    QThreadPool *pool = recordsExportPool();
    QSemaphore running;
    QSemaphore release;
    for (int i = 0; i < pool->maxThreadCount(); ++i)
        pool->start(QRunnable::create([&] {
            running.release();
            release.acquire();
        }));
    QVERIFY(running.tryAcquire(pool->maxThreadCount(), kExportMs));
    QTest::mouseClick(widget<QPushButton>(browser, "recordExport"), Qt::LeftButton);
    QVERIFY(browser.isExporting());
    QTest::mouseClick(widget<QPushButton>(browser, "recordExportCancel"), Qt::LeftButton);
    release.release(pool->maxThreadCount());
    QTRY_VERIFY_WITH_TIMEOUT(!browser.isExporting(), kExportMs);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toBool(), false);
    QCOMPARE(statusText(browser), QStringLiteral("Выгрузка отменена: %1 не изменён").arg(path));
    QCOMPARE(readFile(path).toUtf8(), before);
    QCOMPARE(QDir(work.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.csv")});
}

QTEST_MAIN(AppRecords)
#include "app_records.moc"
