#include "recordsbrowser.h"

#include "recordpages.h"
#include "recordsearch.h"
#include "recordstore.h"
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
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

constexpr int kExportProgressMs = 100;

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
    exportButton = new QPushButton(tr("Экспорт в CSV…"), this);
    exportButton->setObjectName(QStringLiteral("recordExport"));
    filters->addWidget(exportButton);
    layout->addLayout(filters);

    auto *split = new QSplitter(Qt::Vertical, this);
    model = new RunPageModel({tr("Начало"), tr("Серийный №"), tr("Итог"), tr("Почему"), tr("Станция"), tr("Порт"),
                              tr("Рецепт"), tr("Прошивка до"), tr("Прошивка после")},
                             this);
    runTable = new QTableView(split);
    runTable->setObjectName(QStringLiteral("recordRuns"));
    runTable->setModel(model);
    runTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    runTable->setSelectionMode(QAbstractItemView::SingleSelection);
    runTable->setWordWrap(false);
    runTable->verticalHeader()->hide();
    // Rows of one height: the view places a million of them without asking each.
    runTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    runTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    // Columns sized from the first page alone: sizing reads every row it
    // looks at, and the rows past it are not read yet.
    runTable->horizontalHeader()->setResizeContentsPrecision(RunPageModel::kPageSize);
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

    auto *statusLine = new QHBoxLayout;
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("recordStatus"));
    status->setWordWrap(true);
    statusLine->addWidget(status, 1);
    exportBar = new QProgressBar(this);
    exportBar->setObjectName(QStringLiteral("recordExportProgress"));
    exportBar->hide();
    statusLine->addWidget(exportBar);
    exportCancel = new QPushButton(tr("Отмена"), this);
    exportCancel->setObjectName(QStringLiteral("recordExportCancel"));
    exportCancel->hide();
    statusLine->addWidget(exportCancel);
    layout->addLayout(statusLine);
    exportTimer = new QTimer(this);
    exportTimer->setInterval(kExportProgressMs);
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
    connect(runTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { showSteps(current.isValid() ? current.row() : -1); });
    connect(model, &RunPageModel::opened, this,
            [this](bool ok, const QString &error, const QString &away, const QString &file) {
                if (!ok) {
                    searching = false;
                    status->setText(tr("Журнал изделий не открывается (%1): %2").arg(location, error));
                    return;
                }
                serverAway = away;
                stationFile = file;
            });
    connect(model, &RunPageModel::firstPageArrived, this, [this] {
        runTable->resizeColumnsToContents();
        if (model->rowCount() > 0)
            runTable->setCurrentIndex(model->index(0, 0));
        emit firstPageShown();
    });
    connect(model, &RunPageModel::counted, this, &RecordsBrowser::showCount);
    connect(model, &RunPageModel::readFailed, this, [this](const QString &error) {
        readError = error;
        if (searching)
            showCount(model->rowCount());
        else
            status->setText(tr("Ошибка чтения: %1").arg(error));
    });
    // The selected run's steps once its page is back.
    connect(model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &first, const QModelIndex &last) {
        const int row = runTable->currentIndex().row();
        if (row != stepsRow && row >= first.row() && row <= last.row())
            showSteps(row);
    });
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString path = chooseSave ? chooseSave(QStringLiteral("records.csv")) : QString();
        if (!path.isEmpty())
            exportCsv(path);
    });
    connect(exportCancel, &QPushButton::clicked, this, &RecordsBrowser::cancelExport);
    connect(exportTimer, &QTimer::timeout, this, &RecordsBrowser::showExportProgress);
    resize(1000, 600);
}

RecordsBrowser::~RecordsBrowser()
{
    // The export's thread holds its own share of the progress; it stops at
    // its next run and leaves the file as it was.
    if (exportState)
        exportState->cancel = true;
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

void RecordsBrowser::search()
{
    Station::RecordFilter filter;
    filter.serial = serial->text().trimmed();
    if (fromSet->isChecked())
        filter.since = QDateTime(from->date(), QTime(0, 0));
    if (toSet->isChecked())
        filter.until = QDateTime(to->date().addDays(1), QTime(0, 0));
    const QString wanted = outcome->currentData().toString();
    if (!wanted.isEmpty())
        filter.byOutcome = Station::outcomeFromName(wanted, filter.outcome);
    // What the last search showed is not what this one asks for.
    showSteps(-1);
    searching = true;
    readError.clear();
    serverAway.clear();
    stationFile.clear();
    status->setText(tr("Поиск в журнале изделий…"));
    model->search(location, filter);
}

QVector<Station::RunRecord> RecordsBrowser::shownRuns() const
{
    return model->cachedRuns();
}

void RecordsBrowser::showCount(qint64 count)
{
    searching = false;
    QString text = tr("Найдено записей: %1").arg(count);
    if (!readError.isEmpty())
        text += QStringLiteral(". ") + tr("Ошибка чтения: %1").arg(readError);
    if (!serverAway.isEmpty())
        text += QStringLiteral(". ")
                + tr("Сервер записей недоступен (%1): показаны записи этой станции из %2").arg(serverAway, stationFile);
    status->setText(text);
}

void RecordsBrowser::showSteps(int row)
{
    stepTable->setRowCount(0);
    const Station::RunRecord *run = row >= 0 ? model->run(row) : nullptr;
    stepsRow = run ? row : -1;
    if (!run)
        return;
    const QVector<Station::StepRecord> &steps = run->steps;
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

void RecordsBrowser::exportCsv(const QString &path)
{
    if (exportState)
        return;
    auto progress = std::make_shared<RecordsExportProgress>();
    exportState = progress;
    exportPath = path;
    exportButton->setEnabled(false);
    exportBar->setRange(0, 0);
    exportBar->show();
    exportCancel->show();
    status->setText(tr("Выгрузка в %1…").arg(path));
    exportTimer->start();
    auto *watcher = new QFutureWatcher<RecordsExported>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, progress] {
        watcher->deleteLater();
        const RecordsExported done = watcher->result();
        if (exportState == progress)
            exportState.reset();
        exportTimer->stop();
        exportBar->hide();
        exportCancel->hide();
        exportButton->setEnabled(true);
        if (done.written) {
            status->setText(tr("Записей выгружено: %1 → %2").arg(done.runs).arg(exportPath));
        } else if (done.cancelled) {
            status->setText(tr("Выгрузка отменена: %1 не изменён").arg(exportPath));
        } else {
            status->setText(tr("Не удалось записать %1: %2").arg(exportPath, done.error));
        }
        emit exportFinished(done.written);
    });
    // The search's snapshot, so the file holds the runs the table pages through.
    watcher->setFuture(exportRecords(location, model->filter(), path, progress));
}

void RecordsBrowser::cancelExport()
{
    if (exportState)
        exportState->cancel = true;
}

void RecordsBrowser::showExportProgress()
{
    if (!exportState)
        return;
    const qint64 total = exportState->total;
    if (total < 0)
        return;
    const qint64 written = exportState->written;
    // The bar counts in per mille: a million runs do not fit its int everywhere.
    exportBar->setRange(0, 1000);
    exportBar->setValue(total > 0 ? int(written * 1000 / total) : 1000);
    status->setText(tr("Выгружено %1 из %2").arg(written).arg(total));
}
