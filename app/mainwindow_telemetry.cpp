// Telemetry tab: one raw data read-out of the chosen type, plotted on the
// raw plot (interleaved I/Q split over two curves), measured and saved.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "graph_plotter.h"
#include "serialtop.h"

#include <cmath>

namespace {

// Item index of "Данные АЦП-IQ": samples alternate between Q and I.
constexpr int kRawTypeInterleavedIq = 2;

} // namespace

void MainWindow::on_pushButton_readRaw_clicked()
{
    const int type = ui->comboBox_typeRawData->currentIndex();
    rawPlot->clearGraphs();
    serialTop->getDataRaw(type);
}

void MainWindow::on_rcvRawDataSize(int size)
{
    if (ui->comboBox_typeRawData->currentIndex() == kRawTypeInterleavedIq)
        size /= 2;
    if (ui->checkBox_rawAutoscale->checkState() != Qt::Unchecked)
        rawPlot->setXRange(size);
}

void MainWindow::on_rcvRawData(float x, float y)
{
    // The type is read per sample: a change during a read-out applies to the
    // samples that arrive after it.
    if (ui->comboBox_typeRawData->currentIndex() == kRawTypeInterleavedIq) {
        const int k = int(x);
        const int graph = (k % 2 == 1) ? 0 : 1;
        rawPlot->addPoint(graph, std::floor(double(x) / 2.0), double(y));
    } else {
        rawPlot->addPoint(0, double(x), double(y));
    }
}

void MainWindow::on_rcvRawIsRead()
{
    rawPlot->GraphReplot(0);
    // An empty read-out has no peak-to-peak value to show.
    const float peakToPeak = rawPlot->peakToPeak(0);
    const QString value = std::isnan(peakToPeak) ? QString() : QString::number(double(peakToPeak), 'f', 0);
    ui->label_p2pGraph->setText(tr("P-P = %1").arg(value));
}

void MainWindow::on_pushButton_clicked()
{
    // Saving an empty curve would overwrite the last good capture with nothing.
    if (rawPlot->graphKeys(0).isEmpty()) {
        _appendLog(tr("Нет данных для сохранения: прежние файлы не изменены"));
        return;
    }
    if (rawPlot->on_saveGraphToFile(0))
        _appendLog(tr("Данные сохранены"));
    else
        _appendLog(tr("Ошибка сохранения данных: %1").arg(rawPlot->fileError()));
}
