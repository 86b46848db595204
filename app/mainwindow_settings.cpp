// Settings and debug tabs: each set button sends its widget's value as it
// stands; reports come back straight into the widgets (see initConnections).
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "serialtop.h"

#include <QLayout>

// The settings and debug pages place their boxes at fixed positions sized
// for a small font. With a larger system font the boxes would clip their
// contents (the modulation buttons vanish entirely), so each box grows to
// what its layout needs, and the box to the right of the configuration box
// moves along; nothing shrinks below its designed size.
void MainWindow::fitFixedPages()
{
    auto grow = [](QWidget *box, bool height) {
        const QLayout *layout = box->layout();
        if (!layout)
            return;
        const QSize wanted(layout->sizeHint().width(), height ? layout->totalMinimumSize().height() : 0);
        box->resize(box->size().expandedTo(wanted));
    };
    grow(ui->groupBox_3, true);
    grow(ui->widget, true);
    // The debug box keeps its height: its rows share what the page offers.
    grow(ui->groupBox_4, false);
    const int right = ui->groupBox_3->geometry().right() + 6;
    if (ui->widget->x() < right)
        ui->widget->move(right, ui->widget->y());
}

void MainWindow::_changeProtType()
{
    serialTop->setProtType(ui->comboBox_ProtTypeList->currentIndex());
}

void MainWindow::_changeFmcwBand()
{
    serialTop->setFmcwBandGHz(ui->spinBox_FmcwBand->value());
}

void MainWindow::_changeFreqRed()
{
    serialTop->setFreqRed(ui->comboBox_ReductionTxPowerList->currentIndex());
}

void MainWindow::_changeSizeLockData()
{
    serialTop->setSizeLockData(ui->spinBox_SizeLockData->value());
}

void MainWindow::_changeDetThCoefMax()
{
    serialTop->setDetThCoefMax(float(ui->doubleSpinBox_DetThCoefMax->value()));
}

void MainWindow::_changeDetThCoefMin()
{
    serialTop->setDetThCoefMin(float(ui->doubleSpinBox_DetThCoefMin->value()));
}

void MainWindow::_changeDetThCoefDC()
{
    serialTop->setDetThCoefDC(float(ui->doubleSpinBox_DetThCoefDC->value()));
}

void MainWindow::_changeDetSmthCoef()
{
    serialTop->setDetSmthCoef(float(ui->doubleSpinBox_DetSmthCoef->value()));
}

void MainWindow::_changeDetMtiCoef()
{
    serialTop->setDetMtiCoef(float(ui->doubleSpinBox_DetMtiCoef->value()));
}

void MainWindow::_changeTrsSmthCoef()
{
    serialTop->setTrsSmthCoef(float(ui->doubleSpinBox_TrsSmthCoef->value()));
}

void MainWindow::_changeAdrMb()
{
    serialTop->setAdrMb(ui->spinBox_mbAdr->value());
}

void MainWindow::_changeAdrMbDbg()
{
    serialTop->setAdrMb(ui->spinBox_AdrMbDbg->value());
}
