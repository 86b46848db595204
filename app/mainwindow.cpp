// Main window: construction, user-interface mode, the wiring between form,
// window, device object and plot, the connection panel, the two logs and the
// orderly stop of the device thread.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "devicethread.h"
#include "graph_plotter.h"
#include "linesettings.h"
#include "parametertransfer.h"
#include "serialtop.h"
#include "stopsignals.h"

#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QScrollBar>
#include <QSerialPortInfo>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <cstdio>

// The form's icons live in a static library; make sure they are registered
// even when nothing else references the resource object file.
static void initAppResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

const char *const kModeFileName = "info.txt";

// Property of a log that keeps to its newest line.
const char *const kFollowsEnd = "followsEnd";

// The port box's designed width, kept for short names.
constexpr int kPortBoxMinWidth = 75;

QString logStamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral(": ");
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    initAppResources();
    ui->setupUi(this);
    fitFixedPages();
    fitConnectButton();

    mode = readUiMode();
    applyUiMode(mode);
    setupStationMode();
    setupUnitHistory();
    createMenus();
    // The logs record what happened; typing into them would end up in a
    // saved log as if it had.
    ui->textEdit_log->setReadOnly(true);
    ui->textEdit_log_apdater->setReadOnly(true);
    // Hours of byte dumps must not grow the logs without bound.
    ui->textEdit_log->document()->setMaximumBlockCount(kLogLineLimit);
    ui->textEdit_log_apdater->document()->setMaximumBlockCount(kLogLineLimit);
    followNewestLine(ui->textEdit_log);
    followNewestLine(ui->textEdit_log_apdater);
    setupRecordingIndicator();

    deviceThread = new DeviceThread();
    serialTop = deviceThread->device();
    // The curve wraps at its limit, and its statistics with it.
    measurement = new MeasurementSession(serialTop, this);
    measurement->setReadingLimit(kHeightPointLimit);
    showHeightStatistics();
    transfer = new ParameterTransfer(serialTop, this);
    fileChooser = dialogFileChooser();

    firmwareFileDialog = new QFileDialog(this);
    firmwareFileDialog->setFileMode(QFileDialog::ExistingFile);

    fillPortList();

    setupHeightPlot();

    rawPlot = new graph_plotter();
    rawPlot->setPlot(ui->widget_plotRaw);
    rawPlot->SetVisibleGraph(0, true);
    rawPlot->SetVisibleGraph(1, true);

    ui->comboBox_typeRawData->insertItem(0, tr("Данные АЦП-I"));
    ui->comboBox_typeRawData->insertItem(1, tr("Данные АЦП-Q"));
    ui->comboBox_typeRawData->insertItem(2, tr("Данные АЦП-IQ"));
    ui->comboBox_typeRawData->insertItem(3, tr("Спектр"));
    ui->comboBox_typeRawData->insertItem(4, tr("Интегратор"));

    // Everything is wired before the thread starts, so no report of the
    // device object can be emitted before its receiver is connected.
    initConnections();
    initLineMonitor();
    // Now, so that a report finds its fields from the start, and queued once
    // more, ahead of every report of the device object yet after whoever
    // made the window has added fields of its own.
    linkTableFields();
    QMetaObject::invokeMethod(this, [this] { linkTableFields(); }, Qt::QueuedConnection);
    restoreSettings();
    deviceThread->start();

    ui->tabWidget->setCurrentIndex(0);

    portRefreshTimer = new QTimer(this);
    portRefreshTimer->setInterval(kPortRefreshMs);
    connect(portRefreshTimer, &QTimer::timeout, this, &MainWindow::refreshPortList);
    portRefreshTimer->start();

    stopSignals = new StopSignals(this);
    connect(stopSignals, &StopSignals::stopRequested, this, &MainWindow::closeOnStopRequest);
}

MainWindow::~MainWindow()
{
    shutdownDevice();
    delete rawPlot;
    delete ui;
}

UiMode MainWindow::readUiMode()
{
    QFile file(QString::fromLatin1(kModeFileName));
    if (!file.open(QIODevice::ReadOnly))
        return UiMode::Default;
    return uiModeFromFile(file);
}

void MainWindow::applyUiMode(UiMode uiMode)
{
    switch (uiMode) {
    case UiMode::Elevated:
        break;
    case UiMode::Assemblage:
        ui->tabWidget->removeTab(4);
        ui->comboBox_ProtTypeList->setMaxCount(3);
        break;
    case UiMode::Default:
        // Indices count after each removal: measurement, telemetry, debug.
        ui->tabWidget->removeTab(0);
        ui->tabWidget->removeTab(1);
        ui->tabWidget->removeTab(2);
        ui->comboBox_ProtTypeList->setMaxCount(3);
        ui->groupBox_TypeModulation->hide();
        ui->pushButton_start_diagnostics->hide();
        ui->checkBox_LogRxByte_rs485->hide();
        ui->checkBox_LogTxByte_rs485->hide();
        break;
    case UiMode::Station:
        // The station's work is the view; the form stays, unseen, for the
        // code that keeps it up to date.
        ui->tabWidget->removeTab(4);
        break;
    }
}

void MainWindow::fillPortList()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (int i = 0; i < ports.size(); ++i)
        ui->comboBox_list_port_rs485->insertItem(i, ports.at(i).portName());
}

// Every connection between form, window, device object and telemetry plot,
// in one place and numbered. Qt calls the slots of one signal in the order
// they were connected, so where one signal reaches several slots (a
// distance the plot, then the recorder; busyChanged the buttons, then a
// close that waited for the update) they run in the order they stand here;
// keep a new one in its place.
void MainWindow::initConnections()
{
    SerialTop *top = serialTop;
    Ui_MainWindow *f = ui;

    // 1: the device thread's start runs SerialTop::init (DeviceThread).
    // 2: the measurement's ticks ask for the distance (MeasurementSession).
    connect(f->checkBox_LogRxByte_rs485, SIGNAL(stateChanged(int)), top, SLOT(setLogRxByteEn(int)));          // 3
    connect(f->checkBox_LogTxByte_rs485, SIGNAL(stateChanged(int)), top, SLOT(setLogTxByteEn(int)));          // 4
    connect(f->pushButton_get_firmware_revision, SIGNAL(clicked()), top, SLOT(getFirmwareRevision()));       // 5
    connect(f->pushButton_start_diagnostics, SIGNAL(clicked()), top, SLOT(startDiagnostics()));              // 6
    connect(top, SIGNAL(appendLog(QString)), this, SLOT(_appendLog(QString)));                                // 7
    connect(top, SIGNAL(appendLogUpdater(QString,bool,QColor)), this,
            SLOT(_appendLogUpdater(QString,bool,QColor)));                                                    // 8
    connect(top, SIGNAL(connectedChanged(bool)), this, SLOT(_connectedChange(bool)));                         // 9
    connect(top, SIGNAL(progressChanged(int)), f->progressBar_staus_updater, SLOT(setValue(int)));           // 10
    connect(top, SIGNAL(busyChanged(bool)), this, SLOT(on_BusyChanged(bool)));                                // 11
    connect(f->radioButton_FMCWmode, &QRadioButton::clicked, top, &SerialTop::setFMCW_mode);                  // 12
    connect(f->radioButton_CWmode, &QRadioButton::clicked, top, &SerialTop::setCW_mode);                      // 13
    // 14 to 17, 20 to 25 and 27 to 55, the fields of the eleven parameters
    // and their buttons: linked through the parameter table instead
    // (linkTableFields). Every value read reaches its fields as one report.
    connect(top, &SerialTop::parameterReported, this, &MainWindow::showParameter);
    connect(top, &SerialTop::parametersWritten, this, &MainWindow::reportFieldWrite);
    connect(f->pushButton_saveSettings, &QPushButton::clicked, top, &SerialTop::saveSettings);                // 18
    connect(f->pushButton_saveSettingsDbg, &QPushButton::clicked, top, &SerialTop::saveSettings);             // 19
    connect(measurement, &MeasurementSession::reading, this, &MainWindow::_checkDistance);                    // 26
    connect(top, &SerialTop::rcvRawData, this, &MainWindow::on_rcvRawData);                                   // 56
    connect(top, &SerialTop::rcvRawDataSize, this, &MainWindow::on_rcvRawDataSize);                           // 57
    connect(top, &SerialTop::RawIsRead, this, &MainWindow::on_rcvRawIsRead);                                  // 58
    connect(f->checkBox_rawAutoscale, SIGNAL(toggled(bool)), rawPlot, SLOT(setAutoscaleEn(bool)));            // 59

    // Beyond the numbered ones: the outcome of a firmware update, which arrives just
    // before busyChanged(false) and decides the closing line of the log.
    connect(top, &SerialTop::firmwareUpdateFinished, this, &MainWindow::_firmwareUpdateFinished);
    connect(top, &SerialTop::firmwareUpdateEnded, this, &MainWindow::warnOfIncompleteFirmware);
    // After on_BusyChanged, so an update's closing lines are written before
    // a close that waited for them.
    connect(top, &SerialTop::busyChanged, this, &MainWindow::setUpdateRunning);
    // Recording follows the readings and ends with the measurement, which
    // ends with the connection; a failed row ends the recording alone.
    connect(measurement, &MeasurementSession::finished, this, &MainWindow::measurementEnded);
    connect(measurement, &MeasurementSession::recordingFailed, this, [this] { stopRecording(QString()); });
    // However the button comes to be released, the measurement stops.
    connect(f->toolButton_start_meas, &QAbstractButton::toggled, this, [this](bool measuring) {
        if (!measuring)
            measurement->stop();
    });
    connect(f->comboBox_list_port_rs485, &QComboBox::currentTextChanged, this, &MainWindow::fitPortBox);
    connect(f->pushButton_connect_to_rs485, &QAbstractButton::clicked, this, [this](bool connecting) {
        if (connecting)
            rememberPort(ui->comboBox_list_port_rs485->currentText());
    });
    connect(firmwareFileDialog, &QFileDialog::fileSelected, this,
            [this](const QString &file) { rememberFolder(FileKind::Image, QFileInfo(file).absolutePath()); });
}

void MainWindow::shutdownDevice()
{
    if (!deviceThread)
        return;
    measurement->stop();
    // Reports still on their way must not reach a window being torn down,
    // nor drive a parameter transfer on into a device object that is gone.
    delete transfer;
    transfer = nullptr;
    disconnect(serialTop, nullptr, this, nullptr);
    disconnect(serialTop, nullptr, measurement, nullptr);
    if (deviceThread->stop())
        delete deviceThread;
    else
        std::fprintf(stderr, "Device thread did not stop within %lu ms\n", DeviceThread::kShutdownWaitMs);
    deviceThread = nullptr;
    serialTop = nullptr;
}

void MainWindow::selectPort(const QString &name)
{
    QComboBox *ports = ui->comboBox_list_port_rs485;
    int index = ports->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) {
        ports->addItem(name);
        index = ports->count() - 1;
    }
    ports->setCurrentIndex(index);
}

// A port's whole path is shown (a by-id name runs to sixty characters or
// more): the box grows with its text, and the window with the box.
void MainWindow::fitPortBox()
{
    QComboBox *ports = ui->comboBox_list_port_rs485;
    QStyleOptionComboBox option;
    option.initFrom(ports);
    option.editable = true;
    const QFontMetrics metrics = ports->fontMetrics();
    // Room for the text and the edit's cursor and margins.
    const QSize text(metrics.horizontalAdvance(ports->currentText()) + 2 * metrics.horizontalAdvance(QLatin1Char('M')),
                     metrics.height());
    const int needed = ports->style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, ports).width();
    ports->setMinimumWidth(qMax(kPortBoxMinWidth, needed));
    // The window's own minimum is set, so its layout's does not apply by
    // itself: a box wider than the window left would cover its neighbours.
    // Once the layouts have taken the box's new width.
    if (!designedMinimumSize.isValid())
        designedMinimumSize = minimumSize();
    QTimer::singleShot(0, this, [this] { setMinimumSize(designedMinimumSize.expandedTo(layout()->minimumSize())); });
}

// The connect button's caption changes with the connection; sized for the
// longer of its captions in the window's language, it keeps the connection
// box, and everything in it, in place.
void MainWindow::fitConnectButton()
{
    QPushButton *button = ui->pushButton_connect_to_rs485;
    const QString shown = button->text();
    int width = 0;
    for (const QString &caption : {tr("Подключить"), tr("Отключить")}) {
        button->setText(caption);
        width = qMax(width, button->sizeHint().width());
    }
    button->setText(shown);
    button->setMinimumWidth(width);
}

void MainWindow::pressConnect()
{
    if (!ui->pushButton_connect_to_rs485->isChecked())
        ui->pushButton_connect_to_rs485->click();
}

// --- Connection panel ----------------------------------------------------

void MainWindow::on_toolButton_scan_port_rs485_clicked()
{
    ui->comboBox_list_port_rs485->clear();
    fillPortList();
}

void MainWindow::on_pushButton_connect_to_rs485_clicked(bool checked)
{
    if (checked) {
        // The combo box is editable: a typed name is used as it stands.
        serialTop->connectToDevice(ui->comboBox_list_port_rs485->currentText(), Line::kBaudRate);
        ui->pushButton_connect_to_rs485->setText(tr("Отключить"));
    } else {
        serialTop->disconnectFromPort();
        ui->pushButton_connect_to_rs485->setText(tr("Подключить"));
    }
}

void MainWindow::_connectedChange(bool state)
{
    const bool connectedNow = state && !deviceConnected;
    deviceConnected = state;
    if (connectedNow) {
        noteUnitHistory();
        // Another unit, or the same one changed meanwhile: its own curve and
        // statistics, and its own values in every field.
        on_pushButton_restartHeight_clicked();
        // In the order "read all" keeps, the address last: its arrival says
        // every field has been read.
        readTableFields(ui->pushButton_getAllSettings->property("readOrder").toStringList());
    }
    if (state)
        return;
    // The measurement stops with the connection, and its button says so.
    measurement->stop(MeasurementSession::End::LineLost);
    ui->pushButton_connect_to_rs485->setChecked(false);
    ui->pushButton_connect_to_rs485->setText(tr("Подключить"));
}

// --- Logs ----------------------------------------------------------------

// Both logs take their text as plain text: a message that happens to look
// like markup (a file name with '<', say) is shown exactly as sent.
void MainWindow::_appendLog(QString s)
{
    QTextEdit *log = ui->textEdit_log;
    QTextCursor end(log->document());
    end.movePosition(QTextCursor::End);
    if (!log->document()->isEmpty())
        end.insertBlock();
    end.insertText(logStamp() + s);
    showNewestLine(log);
}

void MainWindow::_appendLogUpdater(QString s, bool new_line, QColor color)
{
    QTextEdit *log = ui->textEdit_log_apdater;
    QTextCharFormat format = log->currentCharFormat();
    format.setBackground(color);
    log->setCurrentCharFormat(format);
    if (new_line) {
        QTextCursor end(log->document());
        end.movePosition(QTextCursor::End);
        if (!log->document()->isEmpty())
            end.insertBlock(log->textCursor().blockFormat(), format);
        end.insertText(logStamp() + s, format);
    } else {
        // Continues the line at the user's cursor, which follows the end of
        // the log unless the user placed it elsewhere.
        QTextCursor at = log->textCursor();
        at.insertText(s, format);
        log->setTextCursor(at);
    }
    // A failed update's warning is its last line: it must not wait below
    // the visible part for the user to scroll to it.
    showNewestLine(log);
}

// Qt lays a text document out in steps, so the scroll bar's range still
// grows after a line is added: the log keeps to its end while it does, until
// the user moves the bar himself; the next line brings the end back.
void MainWindow::followNewestLine(QTextEdit *log)
{
    QScrollBar *bar = log->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, log, [log, bar] {
        if (log->property(kFollowsEnd).toBool())
            bar->setValue(bar->maximum());
    });
    // Emitted for the user's moves only, before the bar takes the new position.
    connect(bar, &QAbstractSlider::actionTriggered, log,
            [log, bar] { log->setProperty(kFollowsEnd, bar->sliderPosition() >= bar->maximum()); });
}

void MainWindow::showNewestLine(QTextEdit *log)
{
    log->setProperty(kFollowsEnd, true);
    log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
}
