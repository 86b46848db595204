// Programming tab: choosing the firmware image, starting the update, and the
// closing lines of an update attempt in the programming log.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "firmwareoutcome.h"
#include "serialtop.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {

const QColor kLogWhite(255, 255, 255, 255);
const QColor kLogRed(255, 0, 0, 255);

} // namespace

void MainWindow::on_pushButton_open_file_image_clicked()
{
    firmwareFileDialog->setNameFilter(tr("Файлы прошивки (*.bin *.ldr)"));
    const QString current = ui->lineEdit_file_name->text();
    const QFileInfo info(current);
    if (!current.isEmpty() && info.exists())
        firmwareFileDialog->setDirectory(info.absolutePath());
    if (firmwareFileDialog->exec() == QDialog::Accepted) {
        const QStringList files = firmwareFileDialog->selectedFiles();
        if (!files.isEmpty())
            ui->lineEdit_file_name->setText(files.first());
    }
}

void MainWindow::on_pushButton_firmware_update_clicked()
{
    serialTop->firmwareUpdate(ui->lineEdit_file_name->text());
}

void MainWindow::_firmwareUpdateFinished(bool success)
{
    updateSucceeded = success;
}

// After the erase began, a failed update leaves the unit without complete
// firmware: whatever stopped it, the user must know and how to recover.
void MainWindow::warnOfIncompleteFirmware(const FirmwareOutcome &outcome)
{
    if (outcome.ok() || !outcome.eraseBegan)
        return;
    const QString warning = tr("Устройство осталось без полной прошивки: подключитесь заново и повторите обновление ПО");
    _appendLogUpdater(warning, true, kLogRed);
    _appendLog(warning);
}

void MainWindow::on_BusyChanged(bool state)
{
    if (state) {
        ui->progressBar_staus_updater->setValue(0);
        updateSucceeded = false;
        updateClock.start();
        return;
    }
    // The device object reports the outcome just before it drops the busy
    // state, so updateSucceeded already describes this attempt.
    const qint64 ms = updateClock.isValid() ? updateClock.elapsed() : 0;
    _appendLogUpdater(updateSucceeded ? tr("Обновление ПО завершено") : tr("Обновление ПО прервано"), true, kLogWhite);
    _appendLogUpdater(tr("Время выполнения %1 мин %2 сек").arg(ms / 60000).arg((ms / 1000) % 60), true, kLogWhite);
}
