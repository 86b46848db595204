// Measurement tab: the 100 ms distance requests, the height label, the
// running height curve of up to 300 readings with its statistics, and the
// recording of every reading to a CSV file.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "serialtop.h"

#include <QDateTime>

#include <numeric>

#include "axisstyle.h"

#include <qcustomplot.h>

namespace {

constexpr int kTickCount = 9;
constexpr int kSubTickCount = 4;

void useFixedSubTicks(QCPAxis *axis)
{
    useFixedSubTicks(axis, kTickCount, kSubTickCount);
}

void styleBaseAxis(QCPAxis *axis)
{
    axis->setVisible(true);
    axis->setTickLabels(false);
    useFixedSubTicks(axis);
    axis->setRange(0, 10);
    axis->grid()->setPen(QPen(Qt::gray, 0, Qt::SolidLine));
    axis->grid()->setSubGridVisible(true);
}

void styleIndexAxis(QCPAxis *axis)
{
    axis->setPadding(10);
    axis->setRange(0, MainWindow::kHeightPointLimit, Qt::AlignLeft);
    axis->setVisible(true);
    useFixedSubTicks(axis);
}

void styleHeightAxis(QCPAxis *axis, double position, double size, const QColor &color, const QString &label)
{
    axis->setPadding(10);
    axis->setRange(position, size, Qt::AlignLeft);
    useFixedSubTicks(axis);
    axis->setVisible(true);
    paintAxis(axis, color);
    axis->setLabel(label);
    axis->setLabelPadding(2);
}

} // namespace

void MainWindow::on_toolButton_start_meas_clicked(bool checked)
{
    // Released, the button's toggled signal has stopped the run already.
    if (checked)
        measurement->start();
}

// However a run ended, the button is released; a recording that ran with it
// ends naming why: a lost line by its own words, not as the measurement
// that stopped with it.
void MainWindow::measurementEnded(MeasurementSession::End why, const RequestOutcome &cause)
{
    QString reason = tr("измерение остановлено");
    if (why == MeasurementSession::End::LineLost)
        reason = cause.failure == RequestOutcome::Failure::PortLost ? SerialTop::describe(cause)
                                                                     : tr("нет связи с устройством");
    stopRecording(reason);
    // setChecked emits no click, so no request is sent from here.
    ui->toolButton_start_meas->setChecked(false);
}

void MainWindow::_checkDistance(double value)
{
    ui->label_distace->setText(tr("Высота: %1 (м)").arg(QString::number(value, 'f', 4)));
    showHeightCurve();
}

// The readings the measurement keeps are the curve: up to kHeightPointLimit,
// then it starts again from the left.
void MainWindow::showHeightCurve()
{
    const QVector<double> &values = measurement->readings();
    QVector<double> keys(values.size());
    std::iota(keys.begin(), keys.end(), 0.0);
    if (heightGraph)
        heightGraph->setData(keys, values, true);
    ui->widget_plotter->replot();
    showHeightStatistics();
}

// Count, mean, sample standard deviation, minimum and maximum of the
// readings on the curve.
void MainWindow::showHeightStatistics()
{
    const HeightStatistics statistics = measurement->statistics();
    if (statistics.count == 0) {
        ui->label_heightStats->setText(tr("Точек: 0"));
        return;
    }
    auto metres = [](double v) { return QString::number(v, 'f', 4); };
    ui->label_heightStats->setText(tr("Точек: %1   среднее: %2 м   СКО: %3 м   мин: %4 м   макс: %5 м")
                                       .arg(statistics.count)
                                       .arg(metres(statistics.mean), metres(statistics.deviation),
                                            metres(statistics.low), metres(statistics.high)));
}

void MainWindow::on_pushButton_restartHeight_clicked()
{
    measurement->clearReadings();
    showHeightCurve();
}

void MainWindow::on_pushButton_recordHeight_clicked(bool checked)
{
    if (!checked) {
        stopRecording(tr("остановлена пользователем"));
        return;
    }
    // Without a connection there is nothing to measure, so nothing to record.
    if (!deviceConnected) {
        ui->pushButton_recordHeight->setChecked(false);
        _appendLog(tr("Запись не начата: устройство не подключено"));
        return;
    }
    const QString suggested = QStringLiteral("height-%1.csv")
                                  .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = chooseFile(FileKind::Recording, true, tr("Запись измерений"), tr("CSV (*.csv)"), suggested);
    if (path.isEmpty()) {
        ui->pushButton_recordHeight->setChecked(false);
        return;
    }
    if (!measurement->startRecording(path)) {
        ui->pushButton_recordHeight->setChecked(false);
        _appendLog(tr("Запись не начата: %1: %2").arg(path, measurement->recording().errorString()));
        return;
    }
    _appendLog(tr("Запись измерений в %1").arg(path));
    // A recording of a stopped measurement would stay empty.
    if (!ui->toolButton_start_meas->isChecked()) {
        ui->toolButton_start_meas->click();
        _appendLog(tr("Измерение запущено для записи"));
    }
    showRecordingStarted();
}

void MainWindow::stopRecording(const QString &why)
{
    ui->pushButton_recordHeight->setChecked(false);
    if (!measurement->isRecording())
        return;
    const bool whole = measurement->stopRecording();
    const HeightRecorder &recorder = measurement->recording();
    if (whole)
        _appendLog(tr("Запись остановлена (%1): %2 строк в %3").arg(why).arg(recorder.rowCount()).arg(recorder.fileName()));
    else
        _appendLog(tr("Запись прервана: %1 (%2 строк в %3)")
                       .arg(recorder.errorString())
                       .arg(recorder.rowCount())
                       .arg(recorder.fileName()));
}

void MainWindow::setupHeightPlot()
{
    QCustomPlot *plot = ui->widget_plotter;
    heightColor = QColor(0, 0, 0, 255);
    heightLabel = tr("Высота, м");

    for (QCPAxis *axis : {plot->xAxis, plot->xAxis2, plot->yAxis, plot->yAxis2})
        styleBaseAxis(axis);
    connect(plot->xAxis, SIGNAL(rangeChanged(QCPRange)), plot->xAxis2, SLOT(setRange(QCPRange)));
    connect(plot->yAxis, SIGNAL(rangeChanged(QCPRange)), plot->yAxis2, SLOT(setRange(QCPRange)));

    QCPAxis *indexAxis = plot->axisRect()->addAxis(QCPAxis::atBottom);
    styleIndexAxis(indexAxis);
    connect(indexAxis, SIGNAL(rangeChanged(QCPRange)), plot->xAxis, SLOT(setRange(QCPRange)));
    emit indexAxis->rangeChanged(indexAxis->range());

    heightAxis = plot->axisRect()->addAxis(QCPAxis::atLeft);
    styleHeightAxis(heightAxis, 0, 50, heightColor, heightLabel);

    heightGraph = plot->addGraph(indexAxis, heightAxis);
    heightGraph->setPen(QPen(heightColor, 1.5));
    heightGraph->setVisible(true);

    connect(heightAxis, SIGNAL(rangeChanged(QCPRange)), plot->yAxis, SLOT(setRange(QCPRange)));

    plot->axisRect()->setRangeDragAxes(nullptr, nullptr);
    plot->axisRect()->setRangeZoomAxes(nullptr, nullptr);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectPlottables | QCP::iSelectAxes);
    connect(plot, SIGNAL(selectionChangedByUser()), this, SLOT(_selectionChanged()));
}

void MainWindow::_selectionChanged()
{
    QCustomPlot *plot = ui->widget_plotter;
    QCPAxisRect *rect = plot->axisRect();
    QCPAxis *indexAxis = rect->axis(QCPAxis::atBottom, 1);
    for (QCPAxis *axis : {plot->xAxis, plot->xAxis2, plot->yAxis, plot->yAxis2, indexAxis})
        axis->setSelectedParts(QCPAxis::spNone);

    const QCPAxis::SelectableParts lineAndLabels = QCPAxis::spAxis | QCPAxis::spTickLabels;
    if (heightAxis->selectedParts() & lineAndLabels) {
        heightAxis->setSelectedParts(lineAndLabels);
        emit heightAxis->rangeChanged(heightAxis->range());
    }

    QCPGraph *graph = plot->graph(0);
    if (heightAxis->selectedParts().testFlag(QCPAxis::spAxis) || (graph && graph->selected())) {
        if (graph)
            graph->setSelection(QCPDataSelection(graph->data()->dataRange()));
        heightAxis->setSelectedParts(lineAndLabels);
        rect->setRangeDragAxes(nullptr, heightAxis);
        rect->setRangeDrag(Qt::Vertical);
        rect->setRangeZoomAxes(nullptr, heightAxis);
        rect->setRangeZoom(Qt::Vertical);
    } else {
        rect->setRangeDragAxes(nullptr, nullptr);
        rect->setRangeZoomAxes(nullptr, nullptr);
    }
}
