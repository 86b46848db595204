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

} // namespace

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
            [this, context, path](bool ok, const QString &revision, const DeviceParameters::ParameterValues &values,
                                  const QString &error) {
                context->deleteLater();
                if (!ok) {
                    _appendLog(tr("Параметры не сохранены: %1").arg(error));
                    return;
                }
                QString why;
                if (DeviceParameters::writeBackup(path, revision, values, why))
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
            [this, context, path, backup](bool ok, const QString &, const DeviceParameters::ParameterValues &current,
                                          const QString &readError) {
                context->deleteLater();
                if (!ok) {
                    _appendLog(tr("Параметры не загружены: %1").arg(readError));
                    return;
                }
                // Opened, not run: the window keeps serving the device while
                // the user reads the list.
                auto *dialog = new ParameterChangesDialog(path, backup, current, parameterNames(), this);
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                connect(dialog, &QDialog::accepted, this, [this, backup] {
                    if (!transferAllowed())
                        return;
                    _appendLog(tr("Запись параметров из файла..."));
                    auto *writing = new QObject(this);
                    const int count = backup.values.size();
                    connect(transfer, &ParameterTransfer::writeFinished, writing,
                            [this, writing, count](const QStringList &problems) {
                                writing->deleteLater();
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
