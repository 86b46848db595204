// Station mode, the records browser, and the history of the unit at hand.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "recordsbrowser.h"
#include "recordsearch.h"
#include "stationview.h"
#include "stationwording.h"

#include <QFutureWatcher>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void MainWindow::setupStationMode()
{
    if (mode != UiMode::Station)
        return;
    station = new StationView(RecordsBrowser::defaultRecordsLocation(), this);
    station->setRecipeChooser([this] {
        return chooseFile(FileKind::Recipe, false, tr("Рецепт"), tr("Рецепты (*.json);;Все файлы (*)"));
    });
    // The form stays alive, unseen: every part of the window that keeps it
    // up to date goes on working without asking which mode it is in.
    QWidget *form = takeCentralWidget();
    form->setParent(this);
    form->hide();
    setCentralWidget(station);
}

// A serial number beside the port: what the engineer types there finds the
// unit's history, in the browser and, on connecting, in the log.
void MainWindow::setupUnitHistory()
{
    auto *grid = qobject_cast<QGridLayout *>(ui->groupBox_connect_to_rs485->layout());
    auto *label = new QLabel(tr("Серийный №"), ui->groupBox_connect_to_rs485);
    unitSerial = new QLineEdit(ui->groupBox_connect_to_rs485);
    unitSerial->setObjectName(QStringLiteral("lineEdit_unitSerial"));
    unitSerial->setPlaceholderText(tr("для истории изделия"));
    auto *history = new QPushButton(tr("История"), ui->groupBox_connect_to_rs485);
    history->setObjectName(QStringLiteral("pushButton_unitHistory"));
    const int row = grid->rowCount();
    grid->addWidget(label, row, 0);
    grid->addWidget(unitSerial, row, 1, 1, 3);
    grid->addWidget(history, row, 5);
    connect(history, &QPushButton::clicked, this, [this] { showRecords(unitSerial->text()); });
    connect(unitSerial, &QLineEdit::returnPressed, this, [this] { showRecords(unitSerial->text()); });
}

// On connecting: one line on the unit's last run, so the engineer sees at
// once what it left the factory with; the browser holds the rest. Looked up
// away from the window thread, which a server that is away would hold.
void MainWindow::noteUnitHistory()
{
    const QString serial = unitSerial ? unitSerial->text().trimmed() : QString();
    if (serial.isEmpty())
        return;
    Station::RecordFilter filter;
    filter.serial = serial;
    auto *watcher = new QFutureWatcher<RecordsFound>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, serial] {
        watcher->deleteLater();
        const RecordsFound found = watcher->result();
        if (!found.opened) {
            _appendLog(tr("История изделия %1 недоступна: %2").arg(serial, found.error));
            return;
        }
        if (found.runs.isEmpty()) {
            _appendLog(tr("Изделие %1: в журнале изделий записей нет").arg(serial));
            return;
        }
        const Station::RunRecord &last = found.runs.first();
        QString text = tr("Изделие %1: записей в журнале %2, последняя %3 — %4, прошивка %5")
                           .arg(serial)
                           .arg(found.runs.size())
                           .arg(QLocale().toString(last.header.started.toLocalTime(), QLocale::ShortFormat),
                                StationWording::outcomeText(last.outcome),
                                last.revisionAfter.isEmpty() ? last.header.revisionBefore : last.revisionAfter);
        const QString why = StationWording::whyNotPassed(last);
        if (!why.isEmpty())
            text += QStringLiteral(" (%1)").arg(why);
        _appendLog(text);
    });
    watcher->setFuture(searchRecords(RecordsBrowser::defaultRecordsLocation(), filter));
}

RecordsBrowser *MainWindow::showRecords(const QString &serial)
{
    if (!recordsBrowser) {
        recordsBrowser = new RecordsBrowser(RecordsBrowser::defaultRecordsLocation(), this);
        recordsBrowser->setAttribute(Qt::WA_DeleteOnClose);
        recordsBrowser->setSaveChooser([this](const QString &suggested) {
            return chooseFile(FileKind::Records, true, tr("Экспорт журнала изделий"), tr("CSV (*.csv)"), suggested);
        });
    }
    recordsBrowser->showUnit(serial);
    recordsBrowser->show();
    recordsBrowser->raise();
    recordsBrowser->activateWindow();
    return recordsBrowser;
}
