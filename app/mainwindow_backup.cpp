// Parameter backup: "Сохранить параметры…" reads the revision and every
// parameter into a backup file; "Загрузить параметры…" shows what a backup
// would change, writes it after confirmation and reads every value back.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "deviceparameters.h"
#include "parameterchangesdialog.h"
#include "parametertransfer.h"
#include "serialtop.h"

#include <QDateTime>
#include <QMessageBox>
#include <QPushButton>

namespace {

const char *const kBackupFilter = QT_TRANSLATE_NOOP("MainWindow", "Параметры (*.json)");

// Why a read-out is not whole: the request that stopped it, or else the
// first parameter the device refused.
QString readFailure(const ParameterReport &report)
{
    if (!report.stop.ok())
        return SerialTop::describe(report.stop);
    if (!report.failed.isEmpty())
        return SerialTop::describe(report.failed.first().outcome);
    return SerialTop::describe(RequestOutcome::failed(RequestOutcome::Failure::NoAnswer));
}

} // namespace

// One line per value the write-out could not confirm: read back as another
// value, failed, or never tried after the failure.
QStringList MainWindow::unconfirmedValues(const ParameterReport &report)
{
    using DeviceParameters::formatValue;
    QStringList problems;
    for (const ParameterReport::Failed &failed : report.failed) {
        const DeviceParameters::Parameter &parameter = *failed.parameter;
        const QString name = QLatin1String(parameter.name);
        if (failed.outcome.failure == RequestOutcome::Failure::NotConfirmed)
            problems << tr("%1: записано %2, прочитано %3")
                            .arg(name, formatValue(parameter, failed.outcome.written),
                                 formatValue(parameter, failed.outcome.readBack));
        else
            problems << tr("%1: не подтверждён (%2)").arg(name, SerialTop::describe(failed.outcome));
    }
    for (const DeviceParameters::Parameter *parameter : report.notAttempted)
        problems << tr("%1: не подтверждён (%2)").arg(QLatin1String(parameter->name), SerialTop::describe(report.stop));
    return problems;
}

// Both actions need the device; without a connection they say so at once
// instead of sending requests into a closed port.
bool MainWindow::transferAllowed()
{
    if (!transfer)
        return false; // the device object has stopped
    if (!ui->pushButton_connect_to_rs485->isChecked()) {
        _appendLog(tr("Устройство не подключенно!"));
        return false;
    }
    if (transfer->isBusy() || updateRunning) {
        _appendLog(tr("Устройство занято, обмен параметрами отложите"));
        return false;
    }
    return true;
}

void MainWindow::saveParameters()
{
    if (!transferAllowed())
        return;
    const QString suggested = QStringLiteral("parameters-%1.json")
                                  .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = chooseFile(FileKind::Backup, true, tr("Сохранить параметры"), tr(kBackupFilter), suggested);
    if (path.isEmpty())
        return;
    writeBackupFile(path);
}

void MainWindow::writeBackupFile(const QString &path)
{
    _appendLog(tr("Чтение параметров..."));
    auto *context = new QObject(this);
    connect(transfer, &ParameterTransfer::readFinished, context,
            [this, context, path](const ParameterReport &report) {
                context->deleteLater();
                if (!report.complete()) {
                    _appendLog(tr("Параметры не сохранены: %1").arg(readFailure(report)));
                    return;
                }
                QString why;
                if (DeviceParameters::writeBackup(path, report.revision, report.done, why))
                    _appendLog(tr("Параметры сохранены в %1").arg(path));
                else
                    _appendLog(tr("Параметры не сохранены: %1").arg(why));
            });
    transfer->readAll();
}

void MainWindow::loadParameters()
{
    if (!transferAllowed())
        return;
    const QString path = chooseFile(FileKind::Backup, false, tr("Загрузить параметры"), tr(kBackupFilter));
    if (path.isEmpty())
        return;
    confirmRestore(path);
}

void MainWindow::confirmRestore(const QString &path)
{
    DeviceParameters::Backup backup;
    QString error;
    if (!DeviceParameters::readBackup(path, backup, error)) {
        // Refused before anything is sent.
        const QString text = tr("Файл параметров отклонён: %1").arg(error);
        _appendLog(text);
        auto *box = new QMessageBox(QMessageBox::Warning, tr("Загрузка параметров"), text, QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("messageBox_refusedBackup"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }

    _appendLog(tr("Чтение параметров..."));
    auto *context = new QObject(this);
    connect(transfer, &ParameterTransfer::readFinished, context,
            [this, context, path, backup](const ParameterReport &report) {
                context->deleteLater();
                if (!report.complete()) {
                    _appendLog(tr("Параметры не загружены: %1").arg(readFailure(report)));
                    return;
                }
                const DeviceParameters::ParameterValues &current = report.done;
                // Opened, not run: the window keeps serving the device while
                // the user reads the list.
                auto *dialog = new ParameterChangesDialog(path, backup, current, this);
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                connect(dialog, &QDialog::accepted, this, [this, backup] {
                    if (!transferAllowed())
                        return;
                    _appendLog(tr("Запись параметров из файла..."));
                    auto *writing = new QObject(this);
                    const int count = backup.values.size();
                    connect(transfer, &ParameterTransfer::writeFinished, writing,
                            [this, writing, count](const ParameterReport &report) {
                                writing->deleteLater();
                                const QStringList problems = unconfirmedValues(report);
                                for (const QString &problem : problems)
                                    _appendLog(tr("Не подтверждено: %1").arg(problem));
                                if (problems.isEmpty())
                                    _appendLog(tr("Параметры записаны и проверены: %1").arg(count));
                                else
                                    _appendLog(tr("Параметры записаны с ошибками: не подтверждено %1 из %2")
                                                   .arg(problems.size())
                                                   .arg(count));
                                ParameterChangesDialog::showOutcome(this, count, problems, [this] {
                                    if (serialTop)
                                        serialTop->saveSettings();
                                });
                            });
                    transfer->writeAndVerify(backup.values);
                });
                dialog->open();
            });
    transfer->readAll();
}
