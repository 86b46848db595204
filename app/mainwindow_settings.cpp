// Settings and debug tabs: each set button sends its widget's value as it
// stands; reports come back straight into the widgets (see initConnections).
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "serialtop.h"

#include <QComboBox>
#include <QLayout>
#include <QScrollArea>
#include <QVBoxLayout>

// The settings and debug pages place their boxes at fixed positions sized
// for a small font. With a larger system font the boxes would clip their
// contents (the modulation buttons vanish entirely), so each box grows to
// what its layout needs, and the box to the right of the configuration box
// moves along; nothing shrinks below its designed size.
void MainWindow::fitFixedPages()
{
    // Size hints are final only once the style has polished the widgets.
    ensurePolished();
    // A combo box capped below its longest item cuts that item's text.
    for (QComboBox *box : ui->tabWidget->findChildren<QComboBox *>())
        box->setMaximumWidth(qMax(box->maximumWidth(), box->sizeHint().width()));
    // A box's own hints add its frame and title to what its layout needs.
    auto grow = [](QWidget *box) {
        box->resize(box->size().expandedTo(QSize(box->sizeHint().width(), box->minimumSizeHint().height())));
    };
    grow(ui->groupBox_3);
    grow(ui->widget);
    const int right = ui->groupBox_3->geometry().right() + 6;
    if (ui->widget->x() < right)
        ui->widget->move(right, ui->widget->y());

    // The debug box needs more height than its page offers at a large font.
    // Squeezed rows would cut their texts, so the page scrolls instead; the
    // box keeps its designed place and takes the size its rows ask for.
    QWidget *debugBox = ui->groupBox_4;
    debugBox->setMinimumSize(debugBox->size().expandedTo(debugBox->minimumSizeHint()));
    auto *content = new QWidget;
    auto *placement = new QVBoxLayout(content);
    placement->setContentsMargins(debugBox->x(), debugBox->y(), 0, 0);
    placement->addWidget(debugBox, 0, Qt::AlignLeft | Qt::AlignTop);
    placement->addStretch();
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    // The page's height is what the window leaves it, not what its rows ask.
    scroll->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    // The tab's own background shows through, as on the other pages.
    scroll->viewport()->setAutoFillBackground(false);
    auto *page = new QVBoxLayout(ui->tab_debug);
    page->setContentsMargins(0, 0, 0, 0);
    page->addWidget(scroll);
}

// A list left without a current item (the device reported a value it does
// not hold) gives index -1, which would reach the device as 65535: refuse it.
void MainWindow::_changeProtType()
{
    const int type = ui->comboBox_ProtTypeList->currentIndex();
    if (type < 0) {
        _appendLog(tr("Тип протокола не выбран в списке: в устройство ничего не записано"));
        return;
    }
    serialTop->setProtType(type);
}

void MainWindow::_changeFmcwBand()
{
    serialTop->setFmcwBandGHz(ui->spinBox_FmcwBand->value());
}

void MainWindow::_changeFreqRed()
{
    const int step = ui->comboBox_ReductionTxPowerList->currentIndex();
    if (step < 0) {
        _appendLog(tr("Снижение мощности не выбрано в списке: в устройство ничего не записано"));
        return;
    }
    serialTop->setFreqRed(step);
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
