// The recording indicator on the measurement tab: while readings go to a
// file it says so, with the rows written and the time since the start.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QTimer>

namespace {

constexpr int kIndicatorRefreshMs = 500;

} // namespace

void MainWindow::setupRecordingIndicator()
{
    recordingRefresh = new QTimer(this);
    recordingRefresh->setInterval(kIndicatorRefreshMs);
    connect(recordingRefresh, &QTimer::timeout, this, &MainWindow::refreshRecordingIndicator);
    // Every end of a recording releases the button.
    connect(ui->pushButton_recordHeight, &QAbstractButton::toggled, this, &MainWindow::refreshRecordingIndicator);
    ui->label_recording->hide();
}

void MainWindow::showRecordingStarted()
{
    recordingClock.start();
    recordingRefresh->start();
    refreshRecordingIndicator();
}

void MainWindow::refreshRecordingIndicator()
{
    // The button is released first as a recording ends, the file closed after.
    const HeightRecorder &recorder = measurement->recording();
    if (!recorder.isRecording() || !ui->pushButton_recordHeight->isChecked()) {
        recordingRefresh->stop();
        ui->label_recording->hide();
        return;
    }
    const qint64 seconds = recordingClock.isValid() ? recordingClock.elapsed() / 1000 : 0;
    ui->label_recording->setText(tr("● Запись: %1 строк, %2:%3")
                                     .arg(recorder.rowCount())
                                     .arg(seconds / 60, 2, 10, QLatin1Char('0'))
                                     .arg(seconds % 60, 2, 10, QLatin1Char('0')));
    ui->label_recording->setToolTip(recorder.fileName());
    ui->label_recording->show();
}
