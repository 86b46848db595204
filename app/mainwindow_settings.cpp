// Settings and debug tabs: each set button sends its widget's value as it
// stands; reports come back straight into the widgets (see initConnections).
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "serialtop.h"

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
