// Programming tab: choosing the firmware image, starting the update, and the
// closing lines of an update attempt in the programming log.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "firmwareoutcome.h"
#include "serialtop.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

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

// The update erases the unit's firmware before it writes the new one, so it
// asks first, naming the file, its size and the revision it replaces. A file
// that does not exist, or a unit not connected, goes straight to the device
// object, which says what is wrong.
void MainWindow::on_pushButton_firmware_update_clicked()
{
    const QString path = ui->lineEdit_file_name->text();
    const QFileInfo file(path);
    if (!file.isFile() || !ui->pushButton_connect_to_rs485->isChecked()) {
        serialTop->firmwareUpdate(path);
        return;
    }
    if (updateQuestionPending)
        return;
    updateQuestionPending = true;
    // The unit's revision first; a failed read still lets the user decide.
    auto *reading = new QObject(this);
    const quint64 ticket = serialTop->readParameters({}, true);
    connect(serialTop, &SerialTop::parametersRead, reading,
            [this, reading, ticket, path, size = file.size()](quint64 done, const ParameterReport &report) {
                if (done != ticket)
                    return;
                reading->deleteLater();
                askBeforeUpdate(path, size,
                                report.revisionRead ? report.revision
                                                    : tr("не прочитана (%1)").arg(SerialTop::describe(report.stop)));
            });
}

void MainWindow::askBeforeUpdate(const QString &path, qint64 size, const QString &revision)
{
    auto *question = new QMessageBox(
        QMessageBox::Warning, tr("Обновление ПО"),
        tr("Текущее ПО устройства будет стёрто и заменено.\n\nФайл: %1\nРазмер: %2 байт\nВерсия ПО устройства: %3\n\n"
           "Обновить ПО?")
            .arg(path, QLocale().toString(size), revision.isEmpty() ? tr("пустая") : revision),
        QMessageBox::NoButton, this);
    question->setObjectName(QStringLiteral("messageBox_confirmUpdate"));
    QPushButton *update = question->addButton(tr("Обновить ПО"), QMessageBox::AcceptRole);
    QPushButton *cancel = question->addButton(tr("Отмена"), QMessageBox::RejectRole);
    question->setDefaultButton(cancel);
    question->setEscapeButton(cancel);
    question->setAttribute(Qt::WA_DeleteOnClose);
    connect(question, &QMessageBox::finished, this, [this, question, update, path] {
        updateQuestionPending = false;
        if (question->clickedButton() == update)
            serialTop->firmwareUpdate(path);
    });
    question->open();
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
