// Station mode in the window: three simulated units (one passes, one fails
// its self-test, one loses its line) run from the station view's tiles, and
// the records browser and a unit's history find what they left.
#include "app_support.h"

#include "language.h"
#include "recordsbrowser.h"
#include "recordstore.h"
#include "stationview.h"
#include "stationwording.h"

#include <QAction>
#include <QCheckBox>
#include <QDateEdit>
#include <QInputDialog>
#include <QProgressBar>
#include <QComboBox>
#include <QCryptographicHash>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTableView>
#include <QTableWidget>

#include <algorithm>

namespace {

// No flash: the units' faults come from the simulator, not the image.
const char *const kRecipe = R"({"name": "bench check", "steps": [
    {"step": "parameters", "values": {"fmcw-band": 260, "smooth-coef": 0.5}},
    {"step": "save"},
    {"step": "selftest"},
    {"step": "measure", "seconds": 0.5, "mean": [0, 1000], "stddev": [0, 1000]},
    {"step": "verify"}]})";
constexpr int kRecipeSteps = 5;
constexpr int kRunMs = 90000;   // three units on two shared cores, the lost one timing out

QString text(const QWidget *parent, const char *name)
{
    return widget<QLabel>(*parent, name)->text();
}

int tableRows(const QWidget &browser)
{
    return widget<QTableView>(browser, "recordRuns")->model()->rowCount();
}

// A cell of the browser's runs as the table shows it.
QString runCell(const QWidget &browser, int row, int column)
{
    const QAbstractItemModel *runs = widget<QTableView>(browser, "recordRuns")->model();
    return runs->index(row, column).data().toString();
}

QString cellText(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

// The words in a text written in the other language's script, once the
// names that are no words of either (ports, serials, the form's own labels
// of the parameters) are taken out.
QStringList foreignWords(QString text, const QStringList &names, bool russian)
{
    for (const QString &name : names)
        text.remove(name);
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]+"));
    static const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]+"));
    QStringList found;
    auto match = (russian ? latin : cyrillic).globalMatch(text);
    while (match.hasNext())
        found << match.next().captured();
    return found;
}

} // namespace

class AppStation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void threeUnitsEndPassFailAndError();
    void everyEndIsWordedInTheWindowsLanguage_data();
    void everyEndIsWordedInTheWindowsLanguage();
    void aRefusedRecipeIsToldWhereInTheWindowsLanguage();
    void connectingShowsTheUnitsHistory();
    void recordsLocationIsChosenFromTheMenu();
    void aServerAwayIsToldAndHoldsNothing();

private:
    QTemporaryDir dir;
    QString records;
};

void AppStation::initTestCase()
{
    QVERIFY(dir.isValid());
    records = dir.filePath("records.sqlite");
    QSettings().setValue(QStringLiteral("records/location"), records);
}

void AppStation::threeUnitsEndPassFailAndError()
{
    ScopedWorkDir work;
    QVERIFY(work.writeFile("info.txt", "ZETRA|Station\n"));
    QVERIFY(work.writeFile("recipe.json", kRecipe));
    SimProcess good({"--erase-ms", "0"});
    SimProcess faulty({"--erase-ms", "0", "--selftest-fail"});
    // Answers the connect, the read-out and the first steps, then is gone.
    SimProcess vanishing({"--erase-ms", "0", "--vanish-after", "20"});
    QVERIFY(good.isRunning() && faulty.isRunning() && vanishing.isRunning());

    MainWindow w;
    QCOMPARE(w.uiMode(), UiMode::Station);
    StationView *view = w.stationView();
    QVERIFY(view);
    QCOMPARE(w.centralWidget(), static_cast<QWidget *>(view));
    QString exported;
    w.setFileChooser([&](const MainWindow::FileRequest &request) {
        if (request.kind == MainWindow::FileKind::Recipe)
            return work.filePath("recipe.json");
        exported = work.filePath(request.suggestedName);
        return exported;
    });
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // The recipe from its file, named and with its hash.
    QTest::mouseClick(widget<QPushButton>(*view, "chooseRecipe"), Qt::LeftButton);
    QCOMPARE(text(view, "recipeName"), QStringLiteral("bench check"));
    const QString hash = QString::fromLatin1(QCryptographicHash::hash(kRecipe, QCryptographicHash::Sha256).toHex());
    QVERIFY2(text(view, "recipeHash").contains(hash.left(16)), qPrintable(text(view, "recipeHash")));

    view->setPlaceCount(3);
    QVERIFY(view->tile(2)->isVisible());
    QVERIFY(!view->tile(3)->isVisible());
    const QStringList ports{good.portName(), faulty.portName(), vanishing.portName()};
    const QStringList serials{"S-PASS", "S-FAIL", "S-LOST"};
    for (int i = 0; i < 3; ++i)
        view->tile(i)->portBox()->setCurrentText(ports.at(i));
    // As a scanner types: the code, then Enter, which moves on to the next place.
    view->tile(0)->serialField()->setFocus();
    for (int i = 0; i < 3; ++i) {
        QTRY_VERIFY(view->tile(i)->serialField()->hasFocus());
        QTest::keyClicks(QApplication::focusWidget(), serials.at(i));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
    QTRY_VERIFY(view->tile(0)->startButton()->isEnabled());

    // A port in two places: nothing starts, and the place is named.
    view->tile(2)->portBox()->setCurrentText(good.portName());
    QTest::mouseClick(widget<QPushButton>(*view, "startAll"), Qt::LeftButton);
    QVERIFY(!view->isRunning());
    QCOMPARE(text(view, "stationMessage"), QStringLiteral("Место 3: порт %1 уже занят.").arg(good.portName()));
    view->tile(2)->portBox()->setCurrentText(vanishing.portName());

    QueuedSpy idle(view, &StationView::idle);
    QTest::mouseClick(widget<QPushButton>(*view, "startAll"), Qt::LeftButton);
    QVERIFY(view->isRunning());
    QVERIFY(widget<QPushButton>(*view, "stop")->isEnabled());
    QVERIFY(!view->tile(0)->startButton()->isEnabled());
    QVERIFY(idle.wait(kRunMs) || !idle.isEmpty());
    QVERIFY(!view->isRunning());

    StationTile *passed = view->tile(0);
    StationTile *failed = view->tile(1);
    StationTile *lost = view->tile(2);
    QCOMPARE(passed->outcome(), Station::Outcome::Pass);
    QCOMPARE(text(passed, "outcome"), QStringLiteral("ГОДЕН"));
    QCOMPARE(text(passed, "unit"), QStringLiteral("Изделие S-PASS"));
    QCOMPARE(widget<QProgressBar>(*passed, "progress")->value(), 100);
    QVERIFY(text(passed, "detail").isEmpty());
    QCOMPARE(failed->outcome(), Station::Outcome::Fail);
    QCOMPARE(text(failed, "outcome"), QStringLiteral("БРАК"));
    // The step and the value against its limits.
    QCOMPARE(text(failed, "detail"), QStringLiteral("самопроверка: неисправен"));
    QCOMPARE(lost->outcome(), Station::Outcome::Error);
    QCOMPARE(text(lost, "outcome"), QStringLiteral("ОШИБКА"));
    QVERIFY2(text(lost, "detail").contains(QStringLiteral(": ")) && text(lost, "detail").size() > 20,
             qPrintable(text(lost, "detail")));
    // Each place is free for its next unit.
    for (int i = 0; i < 3; ++i)
        QVERIFY(view->tile(i)->serialField()->text().isEmpty());

    // What the records keep, read as any program would.
    QString error;
    const std::unique_ptr<RecordStore> store = RecordStore::open(records, error);
    QVERIFY2(store, qPrintable(error));
    const QVector<Station::RunRecord> runs = store->runs(Station::RecordFilter());
    QCOMPARE(runs.size(), 3);
    QHash<QString, Station::RunRecord> bySerial;
    for (const Station::RunRecord &run : runs)
        bySerial.insert(run.header.serial, run);
    QCOMPARE(bySerial.value("S-PASS").outcome, Station::Outcome::Pass);
    QCOMPARE(bySerial.value("S-PASS").steps.size(), kRecipeSteps);
    QCOMPARE(bySerial.value("S-PASS").header.recipeHash, hash);
    QCOMPARE(bySerial.value("S-PASS").header.port, good.portName());
    QCOMPARE(bySerial.value("S-FAIL").outcome, Station::Outcome::Fail);
    QCOMPARE(bySerial.value("S-FAIL").failedStep, QStringLiteral("selftest"));
    QCOMPARE(bySerial.value("S-LOST").outcome, Station::Outcome::Error);
    QCOMPARE(StationWording::cause(bySerial.value("S-LOST").cause), lost->findChild<QLabel *>("detail")->text().section(": ", 1));

    // The records browser, from the menu as in every mode.
    QAction *open = w.findChild<QAction *>("action_records");
    QVERIFY(open);
    open->trigger();
    QTRY_VERIFY(w.findChild<RecordsBrowser *>());
    RecordsBrowser *browser = w.findChild<RecordsBrowser *>();
    // Each search is read away from the window and shown when it comes.
    QTRY_VERIFY(!browser->isSearching());
    QCOMPARE(tableRows(*browser), 3);
    auto *outcome = widget<QComboBox>(*browser, "recordOutcome");
    outcome->setCurrentIndex(outcome->findData(QStringLiteral("error")));
    QVERIFY(browser->isSearching());
    QTRY_VERIFY(!browser->isSearching());
    QCOMPARE(tableRows(*browser), 1);
    QCOMPARE(runCell(*browser, 0, 1), QStringLiteral("S-LOST"));
    outcome->setCurrentIndex(0);
    auto *serial = widget<QLineEdit>(*browser, "recordSerial");
    serial->setText(QStringLiteral("S-FAIL"));
    QTest::keyClick(serial, Qt::Key_Return);
    QTRY_VERIFY(!browser->isSearching());
    QCOMPARE(tableRows(*browser), 1);
    const QTableWidget *steps = widget<QTableWidget>(*browser, "recordSteps");
    QCOMPARE(steps->rowCount(), 3);   // parameters, save, and the self-test that failed
    QCOMPARE(cellText(steps, 2, 1), QStringLiteral("БРАК"));
    QCOMPARE(cellText(steps, 2, 2), QStringLiteral("самопроверка: неисправен"));
    QCOMPARE(cellText(steps, 2, 3), QStringLiteral("неисправен"));
    // A day before any run: nothing; from today: the run again.
    widget<QDateEdit>(*browser, "recordTo")->setDate(QDate::currentDate().addDays(-1));
    widget<QCheckBox>(*browser, "recordToSet")->setChecked(true);
    QTRY_VERIFY(!browser->isSearching());
    QCOMPARE(tableRows(*browser), 0);
    widget<QCheckBox>(*browser, "recordToSet")->setChecked(false);
    widget<QDateEdit>(*browser, "recordFrom")->setDate(QDate::currentDate());
    widget<QCheckBox>(*browser, "recordFromSet")->setChecked(true);
    QTRY_VERIFY(!browser->isSearching());
    QCOMPARE(tableRows(*browser), 1);

    // Exported: the run with each value against its limits.
    QTest::mouseClick(widget<QPushButton>(*browser, "recordExport"), Qt::LeftButton);
    QVERIFY(browser->isExporting());
    QTRY_VERIFY(!browser->isExporting());
    QFile csv(exported);
    QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(exported));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(lines.first().startsWith("run;started;ended;serial;"));
    QVERIFY(lines.first().endsWith("step_index;step;step_outcome;step_reason;step_cause;quantity;value;low;high"));
    QVERIFY(lines.size() >= 4);
    for (const QString &line : lines.mid(1))
        QVERIFY2(line.contains(";S-FAIL;"), qPrintable(line));
    QVERIFY2(lines.last().endsWith(";2;selftest;fail;неисправен;device_fault;healthy;0;1;1"), qPrintable(lines.last()));
}

void AppStation::everyEndIsWordedInTheWindowsLanguage_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("ru") << QStringLiteral("ru");
    QTest::newRow("en") << QStringLiteral("en");
}

// Eight units end every way a unit can (pass; a missed limit, a self-test
// fault and a value not read back as written; no answer, a refusal and a
// lost port; stopped by the operator). Each tile, the browser and its CSV
// say why in the window's language alone, and the records keep the cause
// as a code a program can count.
void AppStation::everyEndIsWordedInTheWindowsLanguage()
{
    QFETCH(QString, language);
    const bool russian = language == QLatin1String("ru");
    QString problem;
    QVERIFY2(Language::apply(language, &problem), qPrintable(problem));
    const auto back = qScopeGuard([] { Language::apply(QStringLiteral("ru")); });
    QTemporaryDir data;
    QVERIFY(data.isValid());
    const QString ownRecords = data.filePath(QStringLiteral("records.sqlite"));
    QSettings().setValue(QStringLiteral("records/location"), ownRecords);
    const auto restore = qScopeGuard([this] { QSettings().setValue(QStringLiteral("records/location"), records); });

    ScopedWorkDir work;
    QVERIFY(work.writeFile("info.txt", "ZETRA|Station\n"));
    QVERIFY(work.writeFile("recipe.json", R"({"name": "bench check", "steps": [
        {"step": "parameters", "values": {"fmcw-band": 260}},
        {"step": "save"},
        {"step": "selftest"},
        {"step": "measure", "seconds": 0.5, "mean": [0, 30], "stddev": [0, 1000]},
        {"step": "verify"}]})"));
    const QString band = QString::number(DeviceParameters::find(QStringLiteral("fmcw-band"))->holding);
    struct Place
    {
        const char *serial;
        QStringList options;
        Station::Outcome outcome;
        Station::Cause::Code cause;
    };
    using Code = Station::Cause::Code;
    using Outcome = Station::Outcome;
    const QVector<Place> places{
        {"S-PASS", {}, Outcome::Pass, Code::None},
        {"S-LIMIT", {"--distance", "50"}, Outcome::Fail, Code::Limit},
        {"S-SELF", {"--selftest-fail"}, Outcome::Fail, Code::DeviceFault},
        {"S-WRITE", {"--ignore-write", band}, Outcome::Fail, Code::NotReadBack},
        {"S-SILENT", {"--silent-after", "12"}, Outcome::Error, Code::NoAnswer},
        {"S-REFUSE", {"--missing-register", band}, Outcome::Error, Code::Refused},
        {"S-LOST", {"--vanish-after", "20"}, Outcome::Error, Code::PortLost},
        {"S-STOP", {}, Outcome::Interrupted, Code::Interrupted},
    };
    std::vector<std::unique_ptr<SimProcess>> sims;
    QStringList names;
    for (const Place &place : places) {
        sims.push_back(std::make_unique<SimProcess>(QStringList{"--erase-ms", "0"} + place.options));
        QVERIFY(sims.back()->isRunning());
        names << sims.back()->portName() << QString::fromLatin1(place.serial);
    }
    for (const DeviceParameters::Parameter &parameter : DeviceParameters::all())
        names << DeviceParameters::label(parameter);
    names << QStringLiteral("ZSIM");

    MainWindow w;
    StationView *view = w.stationView();
    QVERIFY(view);
    QString exported;
    w.setFileChooser([&](const MainWindow::FileRequest &request) {
        if (request.kind == MainWindow::FileKind::Recipe)
            return work.filePath("recipe.json");
        exported = work.filePath(request.suggestedName);
        return exported;
    });
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(widget<QPushButton>(*view, "chooseRecipe"), Qt::LeftButton);
    view->setPlaceCount(places.size());
    for (int i = 0; i < places.size(); ++i) {
        view->tile(i)->portBox()->setCurrentText(sims.at(i)->portName());
        if (i + 1 < places.size())
            view->tile(i)->serialField()->setText(QString::fromLatin1(places.at(i).serial));
    }
    QTRY_VERIFY(view->tile(0)->startButton()->isEnabled());
    QueuedSpy idle(view, &StationView::idle);
    QTest::mouseClick(widget<QPushButton>(*view, "startAll"), Qt::LeftButton);
    QVERIFY(idle.wait(kRunMs) || !idle.isEmpty());
    // The last place alone, stopped by the operator as it connects.
    idle.clear();
    view->tile(places.size() - 1)->serialField()->setText(QStringLiteral("S-STOP"));
    QTRY_VERIFY(view->tile(places.size() - 1)->startButton()->isEnabled());
    QTest::mouseClick(view->tile(places.size() - 1)->startButton(), Qt::LeftButton);
    QVERIFY(view->isRunning());
    QTest::mouseClick(widget<QPushButton>(*view, "stop"), Qt::LeftButton);
    QVERIFY(idle.wait(kRunMs) || !idle.isEmpty());

    // Each tile: its outcome, where it stopped and why, every text in the
    // window's language.
    const QString parameterLabel = DeviceParameters::label(*DeviceParameters::find(QStringLiteral("fmcw-band")));
    const QStringList expectedDetail = russian
        ? QStringList{QString(),
                      QStringLiteral("измерение: среднее = 50 вне допуска (0 … 30)"),
                      QStringLiteral("самопроверка: неисправен"),
                      QStringLiteral("запись параметров: %1: записано 260, прочитано 250").arg(parameterLabel),
                      QStringLiteral("Нет ответа от устройства"),
                      QStringLiteral("запись параметров: %1: Устройство отклонило запрос").arg(parameterLabel),
                      QStringLiteral("адаптер отключён или порт закрыт"),
                      QStringLiteral("подключение: остановлено оператором")}
        : QStringList{QString(),
                      QStringLiteral("measurement: mean = 50 outside the limits (0 … 30)"),
                      QStringLiteral("self-test: faulty"),
                      QStringLiteral("parameters: %1: wrote 260, read back 250").arg(parameterLabel),
                      QStringLiteral("No answer from the device"),
                      QStringLiteral("parameters: %1: The device refused the request").arg(parameterLabel),
                      QStringLiteral("the adapter was unplugged or the port closed"),
                      QStringLiteral("connecting: stopped by the operator")};
    for (int i = 0; i < places.size(); ++i) {
        const StationTile *tile = view->tile(i);
        const QString serial = QString::fromLatin1(places.at(i).serial);
        QCOMPARE(tile->outcome(), places.at(i).outcome);
        const QString outcome = text(tile, "outcome");
        const QString step = text(tile, "step");
        const QString detail = text(tile, "detail");
        QCOMPARE(outcome, StationWording::outcomeText(places.at(i).outcome));
        QCOMPARE(text(tile, "unit"), (russian ? QStringLiteral("Изделие %1") : QStringLiteral("Unit %1")).arg(serial));
        if (places.at(i).outcome == Outcome::Pass) {
            QCOMPARE(step, russian ? QStringLiteral("Все шаги пройдены") : QStringLiteral("Every step passed"));
            QVERIFY(detail.isEmpty());
        } else {
            // Where it stopped, never an earlier unit's "every step passed".
            QVERIFY2(step.startsWith(russian ? QStringLiteral("Остановлен на шаге: ") : QStringLiteral("Stopped at step: ")),
                     qPrintable(step));
            QVERIFY2(detail.contains(expectedDetail.at(i)), qPrintable(serial + ": " + detail));
        }
        for (const QString &shown : {outcome, step, detail, text(tile, "unit")})
            QVERIFY2(foreignWords(shown, names, russian).isEmpty(),
                     qPrintable(serial + ": " + shown + " holds " + foreignWords(shown, names, russian).join(' ')));
    }

    // The records keep the cause as a code with its facts.
    QString error;
    const std::unique_ptr<RecordStore> store = RecordStore::open(ownRecords, error);
    QVERIFY2(store, qPrintable(error));
    const QVector<Station::RunRecord> runs = store->runs(Station::RecordFilter());
    QCOMPARE(runs.size(), places.size());
    for (const Station::RunRecord &run : runs) {
        const auto place = std::find_if(places.begin(), places.end(), [&](const Place &entry) {
            return run.header.serial == QLatin1String(entry.serial);
        });
        QVERIFY(place != places.end());
        QCOMPARE(run.outcome, place->outcome);
        QVERIFY2(run.cause.code == place->cause, qPrintable(run.header.serial + ": " + run.cause.codeName()));
        if (run.header.serial == QLatin1String("S-WRITE")) {
            QCOMPARE(run.cause.text("parameter"), QStringLiteral("fmcw-band"));
            QCOMPARE(run.cause.number("written"), 260.0);
            QCOMPARE(run.cause.number("read"), 250.0);
        }
        if (run.header.serial == QLatin1String("S-LIMIT")) {
            QCOMPARE(run.cause.text("quantity"), QStringLiteral("mean"));
            QCOMPARE(run.cause.number("high"), 30.0);
        }
        if (run.header.serial == QLatin1String("S-REFUSE"))
            QCOMPARE(run.cause.number("exception"), 2.0);
    }

    // The browser: every run's outcome and why, and each step's, in the
    // window's language.
    widget<QAction>(w, "action_records")->trigger();
    QTRY_VERIFY(w.findChild<RecordsBrowser *>());
    RecordsBrowser *browser = w.findChild<RecordsBrowser *>();
    QTRY_VERIFY(!browser->isSearching());
    auto *runTable = widget<QTableView>(*browser, "recordRuns");
    const QTableWidget *stepTable = widget<QTableWidget>(*browser, "recordSteps");
    QCOMPARE(tableRows(*browser), places.size());
    int limitRow = -1;
    for (int row = 0; row < tableRows(*browser); ++row) {
        runTable->setCurrentIndex(runTable->model()->index(row, 0));
        QStringList shown{runCell(*browser, row, 2), runCell(*browser, row, 3)};
        for (int step = 0; step < stepTable->rowCount(); ++step)
            for (int column = 0; column < 4; ++column)
                shown << cellText(stepTable, step, column);
        for (const QString &cell : qAsConst(shown))
            QVERIFY2(foreignWords(cell, names, russian).isEmpty(),
                     qPrintable(runCell(*browser, row, 1) + ": " + cell));
        if (runCell(*browser, row, 1) == QLatin1String("S-LIMIT"))
            limitRow = row;
    }
    QVERIFY(limitRow >= 0);
    QVERIFY2(runCell(*browser, limitRow, 3).contains(expectedDetail.at(1)), qPrintable(runCell(*browser, limitRow, 3)));

    // Its CSV: the reasons in the window's language, the causes by code.
    QTest::mouseClick(widget<QPushButton>(*browser, "recordExport"), Qt::LeftButton);
    QVERIFY(browser->isExporting());
    QTRY_VERIFY(!browser->isExporting());
    QFile csv(exported);
    QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(exported));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    const QStringList columns = lines.first().split(';');
    const int reasonColumn = columns.indexOf(QStringLiteral("reason"));
    const int causeColumn = columns.indexOf(QStringLiteral("cause"));
    const int stepReasonColumn = columns.indexOf(QStringLiteral("step_reason"));
    QVERIFY(reasonColumn > 0 && causeColumn > 0 && stepReasonColumn > 0);
    QSet<QString> codes;
    for (const QString &line : lines.mid(1)) {
        // No field of these runs holds a ';' or a quote.
        const QStringList fields = line.split(';');
        QCOMPARE(fields.size(), columns.size());
        codes.insert(fields.at(causeColumn));
        for (const int column : {reasonColumn, stepReasonColumn})
            QVERIFY2(foreignWords(fields.at(column), names, russian).isEmpty(), qPrintable(line));
    }
    QCOMPARE(codes, (QSet<QString>{QString(), "limit", "device_fault", "not_read_back", "no_answer", "refused",
                                   "port_lost", "interrupted"}));
}

// A recipe with a mistake is refused before any unit is touched, and the
// view says what is wrong and where (the step as counted in the file, its
// kind, the key) in the window's language, not in the command line's.
void AppStation::aRefusedRecipeIsToldWhereInTheWindowsLanguage()
{
    ScopedWorkDir work;
    QVERIFY(work.writeFile("info.txt", "ZETRA|Station\n"));
    QVERIFY(work.writeFile("limits.json", R"({"name": "limits", "steps": [
        {"step": "save"},
        {"step": "measure", "seconds": 1, "mean": [5.1, 4.9], "stddev": [0, 1]}]})"));
    QVERIFY(work.writeFile("key.json", R"({"name": "key", "steps": [{"step": "selftest", "repeat": 2}]})"));
    MainWindow w;
    StationView *view = w.stationView();
    QVERIFY(view);
    QString chosen;
    w.setFileChooser([&](const MainWindow::FileRequest &) { return work.filePath(chosen); });
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto refusal = [&](const QString &file) {
        chosen = file;
        QTest::mouseClick(widget<QPushButton>(*view, "chooseRecipe"), Qt::LeftButton);
        return text(view, "stationMessage");
    };

    const QString noRecipe = text(view, "recipeName");
    const QLocale locale;
    QString said = refusal("limits.json");
    QCOMPARE(said, QStringLiteral("Рецепт %1 не принят: шаг 2 (измерение), «mean»: нижняя граница %2 выше верхней %3")
                       .arg(work.filePath("limits.json"), locale.toString(5.1), locale.toString(4.9)));
    QCOMPARE(text(view, "recipeName"), noRecipe);
    said = refusal("key.json");
    QCOMPARE(said, QStringLiteral("Рецепт %1 не принят: шаг 1 (самопроверка): неизвестный ключ «repeat» (допустимы: step)")
                       .arg(work.filePath("key.json")));

    QString problem;
    QVERIFY2(Language::apply(QStringLiteral("en"), &problem), qPrintable(problem));
    const auto russianAgain = qScopeGuard([] { Language::apply(QStringLiteral("ru")); });
    auto hasCyrillic = [](const QString &text) {
        return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x0400 && c.unicode() <= 0x04ff; });
    };
    said = refusal("limits.json");
    QVERIFY2(!hasCyrillic(said), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("step 2 (measurement), \"mean\": ")) && said.contains(QStringLiteral("5.1"))
                 && said.contains(QStringLiteral("4.9")),
             qPrintable(said));
    said = refusal("key.json");
    QVERIFY2(!hasCyrillic(said), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("step 1 (")) && said.contains(QStringLiteral("\"repeat\"")), qPrintable(said));
}

// The normal window: the serial typed before connecting finds the unit's
// last run in the log, and the history button its runs in the browser.
void AppStation::connectingShowsTheUnitsHistory()
{
    ScopedWorkDir work;
    QVERIFY(work.writeFile("info.txt", "ZETRA|Elevated\n"));
    SimProcess sim;
    QVERIFY(sim.isRunning());
    MainWindow w;
    QVERIFY(!w.stationView());
    auto *serial = widget<QLineEdit>(w, "lineEdit_unitSerial");
    serial->setText(QStringLiteral("S-FAIL"));
    QVERIFY(connectTo(w, sim.portName()));
    QTRY_VERIFY2(mainLog(w).contains(QStringLiteral("Изделие S-FAIL: записей в журнале 1")), qPrintable(mainLog(w)));
    QVERIFY(mainLog(w).contains(QStringLiteral("БРАК")));
    QVERIFY2(mainLog(w).contains(QStringLiteral("(самопроверка: неисправен)")), qPrintable(mainLog(w)));

    QTest::mouseClick(widget<QPushButton>(w, "pushButton_unitHistory"), Qt::LeftButton);
    RecordsBrowser *browser = w.findChild<RecordsBrowser *>();
    QVERIFY(browser && browser->isVisible());
    QTRY_VERIFY(!browser->isSearching());
    QCOMPARE(browser->shownRuns().size(), 1);
    QCOMPARE(browser->shownRuns().first().header.serial, QStringLiteral("S-FAIL"));

    // A unit the records never saw says so on the next connect.
    QueuedSpy changes(w.device(), &SerialTop::connectedChanged);
    QTest::mouseClick(widget<QPushButton>(w, "pushButton_connect_to_rs485"), Qt::LeftButton);
    QVERIFY(changes.wait(kDeviceWaitMs) || !changes.isEmpty());
    QCOMPARE(changes.first().first().toBool(), false);
    serial->setText(QStringLiteral("S-NEW"));
    QVERIFY(connectTo(w, sim.portName()));
    QTRY_VERIFY2(mainLog(w).contains(QStringLiteral("Изделие S-NEW: в журнале изделий записей нет")), qPrintable(mainLog(w)));
}

// The window's choice of where records go, a file or a shared server, is the
// one the station view and the records browser then use.
void AppStation::recordsLocationIsChosenFromTheMenu()
{
    ScopedWorkDir work;
    QVERIFY(work.writeFile("info.txt", "ZETRA|Elevated\n"));
    MainWindow w;
    const QString server = QStringLiteral("postgresql://station@records.example/zetra");
    QTimer::singleShot(0, &w, [&w, server] {
        auto *dialog = w.findChild<QInputDialog *>(QStringLiteral("recordsLocationDialog"));
        QVERIFY(dialog);
        dialog->setTextValue(server);
        dialog->accept();
    });
    widget<QAction>(w, "action_recordsLocation")->trigger();
    QCOMPARE(RecordsBrowser::defaultRecordsLocation(), server);
    QVERIFY2(mainLog(w).contains(QStringLiteral("Записи изделий: ") + server), qPrintable(mainLog(w)));

    // Empty: back to the file in the user's data folder.
    QTimer::singleShot(0, &w, [&w] {
        auto *dialog = w.findChild<QInputDialog *>(QStringLiteral("recordsLocationDialog"));
        QVERIFY(dialog);
        dialog->setTextValue(QString());
        dialog->accept();
    });
    widget<QAction>(w, "action_recordsLocation")->trigger();
    QCOMPARE(RecordsBrowser::defaultRecordsLocation(), RecordStore::defaultLocation());
    QSettings().setValue(QStringLiteral("records/location"), records);
}

// The shared server away: the station view says where the runs are kept
// instead, and the records browser opens at once, reads away from the
// window, and shows the station's own runs saying why.
void AppStation::aServerAwayIsToldAndHoldsNothing()
{
    QTemporaryDir data;
    QVERIFY(data.isValid());
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    // Nothing listens on port 1: the server is away from the start.
    QSettings().setValue(QStringLiteral("records/location"), QStringLiteral("postgresql://station@127.0.0.1:1/zetra"));
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_DATA_HOME", dataHome);
        QSettings().setValue(QStringLiteral("records/location"), records);
    });
    ScopedWorkDir work;
    QVERIFY(work.writeFile("info.txt", "ZETRA|Station\n"));
    QVERIFY(work.writeFile("recipe.json", kRecipe));
    SimProcess sim({"--erase-ms", "0"});
    QVERIFY(sim.isRunning());

    MainWindow w;
    StationView *view = w.stationView();
    QVERIFY(view);
    w.setFileChooser([&](const MainWindow::FileRequest &) { return work.filePath("recipe.json"); });
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(widget<QPushButton>(*view, "chooseRecipe"), Qt::LeftButton);
    view->setPlaceCount(1);
    view->tile(0)->portBox()->setCurrentText(sim.portName());
    view->tile(0)->serialField()->setText(QStringLiteral("S-AWAY"));
    QTRY_VERIFY(view->tile(0)->startButton()->isEnabled());
    QueuedSpy idle(view, &StationView::idle);
    QTest::mouseClick(widget<QPushButton>(*view, "startAll"), Qt::LeftButton);
    QVERIFY(idle.wait(kRunMs) || !idle.isEmpty());
    QCOMPARE(view->tile(0)->outcome(), Station::Outcome::Pass);
    const QString said = text(view, "stationMessage");
    QVERIFY2(said.startsWith(QStringLiteral("Сервер записей недоступен (")), qPrintable(said));
    QVERIFY2(said.contains(data.path()), qPrintable(said));

    widget<QAction>(w, "action_records")->trigger();
    RecordsBrowser *browser = w.findChild<RecordsBrowser *>();
    QVERIFY(browser && browser->isVisible());
    QVERIFY(browser->isSearching());
    QCOMPARE(widget<QLabel>(*browser, "recordStatus")->text(), QStringLiteral("Поиск в журнале изделий…"));
    QTRY_VERIFY(!browser->isSearching());
    QCOMPARE(tableRows(*browser), 1);
    QCOMPARE(runCell(*browser, 0, 1), QStringLiteral("S-AWAY"));
    const QString status = widget<QLabel>(*browser, "recordStatus")->text();
    QVERIFY2(status.contains(QStringLiteral("Сервер записей недоступен")) && status.contains(data.path()),
             qPrintable(status));
}

QTEST_MAIN(AppStation)
#include "app_station.moc"
