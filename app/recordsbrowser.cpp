#include "recordsbrowser.h"

#include "recordsearch.h"
#include "recordstore.h"
#include "runcsv.h"
#include "stationwording.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString localTime(const QDateTime &time)
{
    return time.isValid() ? QLocale().toString(time.toLocalTime(), QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

} // namespace

QString RecordsBrowser::defaultRecordsLocation()
{
    const QString chosen = QSettings().value(QStringLiteral("records/location")).toString();
    return chosen.isEmpty() ? RecordStore::defaultLocation() : chosen;
}

RecordsBrowser::RecordsBrowser(const QString &recordsLocation, QWidget *parent)
    : QDialog(parent)
    , location(recordsLocation)
{
    setObjectName(QStringLiteral("recordsBrowser"));
    setWindowTitle(tr("Журнал изделий"));
    auto *layout = new QVBoxLayout(this);

    auto *filters = new QHBoxLayout;
    filters->addWidget(new QLabel(tr("Серийный №"), this));
    serial = new QLineEdit(this);
    serial->setObjectName(QStringLiteral("recordSerial"));
    serial->setPlaceholderText(tr("все изделия"));
    serial->setClearButtonEnabled(true);
    filters->addWidget(serial);
    filters->addWidget(new QLabel(tr("Итог"), this));
    outcome = new QComboBox(this);
    outcome->setObjectName(QStringLiteral("recordOutcome"));
    outcome->addItem(tr("любой"), QString());
    for (Station::Outcome each : {Station::Outcome::Pass, Station::Outcome::Fail, Station::Outcome::Error,
                                  Station::Outcome::Interrupted, Station::Outcome::Running})
        outcome->addItem(StationWording::outcomeText(each), Station::outcomeName(each));
    filters->addWidget(outcome);
    fromSet = new QCheckBox(tr("с"), this);
    fromSet->setObjectName(QStringLiteral("recordFromSet"));
    filters->addWidget(fromSet);
    from = new QDateEdit(QDate::currentDate().addDays(-7), this);
    from->setObjectName(QStringLiteral("recordFrom"));
    from->setCalendarPopup(true);
    filters->addWidget(from);
    toSet = new QCheckBox(tr("по"), this);
    toSet->setObjectName(QStringLiteral("recordToSet"));
    filters->addWidget(toSet);
    to = new QDateEdit(QDate::currentDate(), this);
    to->setObjectName(QStringLiteral("recordTo"));
    to->setCalendarPopup(true);
    filters->addWidget(to);
    auto *find = new QPushButton(tr("Найти"), this);
    find->setObjectName(QStringLiteral("recordSearch"));
    filters->addWidget(find);
    filters->addStretch();
    auto *exportButton = new QPushButton(tr("Экспорт в CSV…"), this);
    exportButton->setObjectName(QStringLiteral("recordExport"));
    filters->addWidget(exportButton);
    layout->addLayout(filters);

    auto *split = new QSplitter(Qt::Vertical, this);
    runTable = new QTableWidget(0, 9, split);
    runTable->setObjectName(QStringLiteral("recordRuns"));
    runTable->setHorizontalHeaderLabels({tr("Начало"), tr("Серийный №"), tr("Итог"), tr("Почему"), tr("Станция"),
                                         tr("Порт"), tr("Рецепт"), tr("Прошивка до"), tr("Прошивка после")});
    runTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    runTable->setSelectionMode(QAbstractItemView::SingleSelection);
    runTable->verticalHeader()->hide();
    runTable->horizontalHeader()->setStretchLastSection(true);
    stepTable = new QTableWidget(0, 5, split);
    stepTable->setObjectName(QStringLiteral("recordSteps"));
    stepTable->setHorizontalHeaderLabels({tr("Шаг"), tr("Итог"), tr("Значения и пределы"), tr("Причина"), tr("Длительность, с")});
    stepTable->verticalHeader()->hide();
    stepTable->horizontalHeader()->setStretchLastSection(true);
    split->addWidget(runTable);
    split->addWidget(stepTable);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    layout->addWidget(split, 1);

    status = new QLabel(this);
    status->setObjectName(QStringLiteral("recordStatus"));
    status->setWordWrap(true);
    layout->addWidget(status);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(serial, &QLineEdit::returnPressed, this, &RecordsBrowser::search);
    connect(find, &QPushButton::clicked, this, &RecordsBrowser::search);
    connect(outcome, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &RecordsBrowser::search);
    connect(fromSet, &QCheckBox::toggled, this, &RecordsBrowser::search);
    connect(toSet, &QCheckBox::toggled, this, &RecordsBrowser::search);
    connect(from, &QDateEdit::dateChanged, this, [this] {
        if (fromSet->isChecked())
            search();
    });
    connect(to, &QDateEdit::dateChanged, this, [this] {
        if (toSet->isChecked())
            search();
    });
    connect(runTable, &QTableWidget::currentCellChanged, this, [this](int row) { showSteps(row); });
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString path = chooseSave ? chooseSave(QStringLiteral("records.csv")) : QString();
        if (path.isEmpty())
            return;
        QString error;
        if (exportCsv(path, error))
            status->setText(tr("Записей выгружено: %1 → %2").arg(runs.size()).arg(path));
        else
            status->setText(tr("Не удалось записать %1: %2").arg(path, error));
    });
    resize(1000, 600);
}

void RecordsBrowser::showUnit(const QString &unit)
{
    {
        const QSignalBlocker quietOutcome(outcome);
        const QSignalBlocker quietFrom(fromSet);
        const QSignalBlocker quietTo(toSet);
        outcome->setCurrentIndex(0);
        fromSet->setChecked(false);
        toSet->setChecked(false);
    }
    serial->setText(unit.trimmed());
    search();
}

struct RecordsBrowser::Found
{
    RecordsFound records;
    QDateTime until; // runs started from then on are left out; invalid: none
};

void RecordsBrowser::search()
{
    Station::RecordFilter filter;
    filter.serial = serial->text().trimmed();
    if (fromSet->isChecked())
        filter.since = QDateTime(from->date(), QTime(0, 0));
    const QString wanted = outcome->currentData().toString();
    if (!wanted.isEmpty())
        filter.byOutcome = Station::outcomeFromName(wanted, filter.outcome);
    const QDateTime until = toSet->isChecked() ? QDateTime(to->date().addDays(1), QTime(0, 0)) : QDateTime();
    // What the last search showed is not what this one asks for.
    runs.clear();
    runTable->setRowCount(0);
    showSteps(-1);
    searching = true;
    status->setText(tr("Поиск в журнале изделий…"));
    const int search = ++searches;
    auto *watcher = new QFutureWatcher<RecordsFound>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, search, until] {
        watcher->deleteLater();
        if (search != searches)
            return; // a newer search is on its way
        searching = false;
        showRuns({watcher->result(), until});
    });
    watcher->setFuture(searchRecords(location, filter));
}

void RecordsBrowser::showRuns(const Found &found)
{
    if (!found.records.opened) {
        status->setText(tr("Журнал изделий не открывается (%1): %2").arg(location, found.records.error));
    } else {
        for (const Station::RunRecord &run : found.records.runs)
            if (!found.until.isValid() || run.header.started < found.until)
                runs.append(run);
        QString text = tr("Найдено записей: %1").arg(runs.size());
        if (!found.records.error.isEmpty())
            text += QStringLiteral(". ") + tr("Ошибка чтения: %1").arg(found.records.error);
        if (!found.records.serverAway.isEmpty())
            text += QStringLiteral(". ")
                    + tr("Сервер записей недоступен (%1): показаны записи этой станции из %2")
                          .arg(found.records.serverAway, found.records.stationFile);
        status->setText(text);
    }
    runTable->setRowCount(runs.size());
    for (int row = 0; row < runs.size(); ++row) {
        const Station::RunRecord &run = runs.at(row);
        auto *outcomeCell = cell(StationWording::outcomeText(run.outcome));
        outcomeCell->setData(Qt::UserRole, Station::outcomeName(run.outcome));
        const QStringList texts{localTime(run.header.started), run.header.serial, QString(),
                                StationWording::whyNotPassed(run), run.header.station, run.header.port,
                                run.header.recipeName, run.header.revisionBefore, run.revisionAfter};
        for (int column = 0; column < texts.size(); ++column)
            runTable->setItem(row, column, column == 2 ? outcomeCell : cell(texts.at(column)));
        runTable->item(row, 3)->setToolTip(StationWording::causeDetail(run.cause));
    }
    runTable->resizeColumnsToContents();
    if (!runs.isEmpty())
        runTable->setCurrentCell(0, 0);
}

void RecordsBrowser::showSteps(int row)
{
    stepTable->setRowCount(0);
    if (row < 0 || row >= runs.size())
        return;
    const QVector<Station::StepRecord> &steps = runs.at(row).steps;
    stepTable->setRowCount(steps.size());
    for (int i = 0; i < steps.size(); ++i) {
        const Station::StepRecord &step = steps.at(i);
        const QString seconds = step.started.isValid() && step.ended.isValid()
                                    ? QLocale().toString(step.started.msecsTo(step.ended) / 1000.0, 'f', 1)
                                    : QString();
        const QStringList texts{QStringLiteral("%1. %2").arg(step.index + 1).arg(StationWording::stepName(step.kind)),
                                StationWording::outcomeText(step.outcome),
                                StationWording::measuredText(step.measured, false),
                                StationWording::cause(step.cause), seconds};
        for (int column = 0; column < texts.size(); ++column)
            stepTable->setItem(i, column, cell(texts.at(column)));
        // The system's own text behind the cause, for whoever wants it.
        stepTable->item(i, 3)->setToolTip(StationWording::causeDetail(step.cause));
    }
    stepTable->resizeColumnsToContents();
}

// One line per value a step measured (a step that measured nothing, and a
// run without steps, still get theirs), the run repeated on each, so a
// spreadsheet can filter on any column.
bool RecordsBrowser::exportCsv(const QString &path, QString &error) const
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
            tails.append(QStringList{QString(), QString(), QString(), QString(), QString(), QString(), QString(), QString(),
                                     QString()});
        for (const QStringList &tail : qAsConst(tails))
            text += Station::csvLine(head + tail);
    }
    return Station::writeCsvFile(path, text, error);
}
