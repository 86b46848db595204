// What the window keeps between runs (QSettings), the port list that follows
// adapters being plugged in and out, and the orderly ends: closing during a
// firmware update, and SIGINT or SIGTERM.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "serialtop.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSettings>
#include <QTimer>

#include <cstdio>

namespace {

const QString kPortKey = QStringLiteral("connection/port");
const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kRxBytesKey = QStringLiteral("log/receivedBytes");
const QString kTxBytesKey = QStringLiteral("log/sentBytes");
const QString kRawTypeKey = QStringLiteral("telemetry/rawDataType");
const QString kAutoscaleKey = QStringLiteral("telemetry/autoscale");

// Dialogs opened from dialogs; a bound so a dialog that refuses to close
// cannot hold the stop up.
constexpr int kMaxNestedDialogs = 8;

} // namespace

QString MainWindow::rememberedFolder(FileKind kind) const
{
    const QString folder = QSettings().value(folderKey(kind)).toString();
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QDir::currentPath();
}

void MainWindow::rememberFolder(FileKind kind, const QString &folder)
{
    QSettings().setValue(folderKey(kind), folder);
}

QString MainWindow::folderKey(FileKind kind)
{
    switch (kind) {
    case FileKind::Image: return QStringLiteral("folders/images");
    case FileKind::Backup: return QStringLiteral("folders/backups");
    case FileKind::Recording: return QStringLiteral("folders/recordings");
    case FileKind::Log: return QStringLiteral("folders/logs");
    case FileKind::Recipe: return QStringLiteral("folders/recipes");
    case FileKind::Records: return QStringLiteral("folders/records");
    }
    return QString();
}

MainWindow::FileChooser MainWindow::dialogFileChooser()
{
    return [this](const FileRequest &request) {
        if (request.forSaving)
            return QFileDialog::getSaveFileName(this, request.caption, QDir(request.folder).filePath(request.suggestedName),
                                                request.filter);
        return QFileDialog::getOpenFileName(this, request.caption, request.folder, request.filter);
    };
}

// Runs once the wiring is made, so the device object learns the restored
// byte-dump choices like any other change of the check boxes.
void MainWindow::restoreSettings()
{
    QSettings settings;
    const QString port = settings.value(kPortKey).toString();
    if (!port.isEmpty())
        selectPort(port);
    restoreGeometry(settings.value(kGeometryKey).toByteArray());
    // In the default mode the boxes are hidden and the dumps stay off.
    if (mode != UiMode::Default) {
        ui->checkBox_LogRxByte_rs485->setChecked(settings.value(kRxBytesKey, false).toBool());
        ui->checkBox_LogTxByte_rs485->setChecked(settings.value(kTxBytesKey, false).toBool());
    }
    const int rawType = settings.value(kRawTypeKey, 0).toInt();
    if (rawType >= 0 && rawType < ui->comboBox_typeRawData->count())
        ui->comboBox_typeRawData->setCurrentIndex(rawType);
    ui->checkBox_rawAutoscale->setChecked(settings.value(kAutoscaleKey, false).toBool());
    firmwareFileDialog->setDirectory(rememberedFolder(FileKind::Image));
}

void MainWindow::saveSettings()
{
    QSettings settings;
    settings.setValue(kGeometryKey, saveGeometry());
    if (mode != UiMode::Default) {
        settings.setValue(kRxBytesKey, ui->checkBox_LogRxByte_rs485->isChecked());
        settings.setValue(kTxBytesKey, ui->checkBox_LogTxByte_rs485->isChecked());
    }
    settings.setValue(kRawTypeKey, ui->comboBox_typeRawData->currentIndex());
    settings.setValue(kAutoscaleKey, ui->checkBox_rawAutoscale->isChecked());
    settings.sync();
}

void MainWindow::rememberPort(const QString &name)
{
    if (!name.isEmpty())
        QSettings().setValue(kPortKey, name);
}

// While disconnected the list follows the system's ports; the entry in use
// (picked, typed, or given on the command line) stays whether listed or not.
void MainWindow::refreshPortList()
{
    QComboBox *ports = ui->comboBox_list_port_rs485;
    if (ui->pushButton_connect_to_rs485->isChecked() || ports->view()->isVisible())
        return;
    QStringList wanted;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        wanted << info.portName();
    const QString current = ports->currentText();
    if (!current.isEmpty() && !wanted.contains(current))
        wanted << current;
    QStringList present;
    for (int i = 0; i < ports->count(); ++i)
        present << ports->itemText(i);
    if (present == wanted)
        return;
    QLineEdit *edit = ports->lineEdit();
    const int cursor = edit ? edit->cursorPosition() : 0;
    ports->clear();
    ports->addItems(wanted);
    ports->setCurrentIndex(current.isEmpty() ? 0 : wanted.indexOf(current));
    if (edit)
        edit->setCursorPosition(cursor);
}

// --- Orderly ends ----------------------------------------------------------

void MainWindow::setUpdateRunning(bool running)
{
    updateRunning = running;
    if (running) {
        // Distance requests would queue between the firmware blocks.
        measurement->stop();
    }
    // Everything that sends requests, and the choice of the image being
    // written, wait for the update to end; the programming log, its file name
    // and the byte-dump boxes stay usable.
    for (QWidget *page : {ui->tab_measurement, ui->tab_rerulation, ui->tab_telem, ui->tab_debug})
        page->setEnabled(!running);
    for (QWidget *control : std::initializer_list<QWidget *>{
             ui->pushButton_connect_to_rs485, ui->toolButton_scan_port_rs485, ui->comboBox_list_port_rs485,
             ui->pushButton_get_firmware_revision, ui->pushButton_firmware_update, ui->pushButton_open_file_image})
        control->setEnabled(!running);
    for (const char *name : {"action_saveParameters", "action_loadParameters", "action_connect", "action_scanPorts",
                             "action_startMeasurement", "action_record", "action_restartHeight"})
        if (QAction *action = findChild<QAction *>(QString::fromLatin1(name)))
            action->setEnabled(!running);

    if (!running && closeWhenUpdateEnds) {
        std::fprintf(stderr, "Firmware update interrupted; closing\n");
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (updateRunning) {
        // The window goes only once the update has stopped between blocks.
        event->ignore();
        if (!closeWhenUpdateEnds)
            askBeforeClosingDuringUpdate();
        return;
    }
    if (closeQuestion)
        closeQuestion->close();
    stopRecording(tr("программа закрывается"));
    saveSettings();
    shutdownDevice();
    event->accept();
}

void MainWindow::askBeforeClosingDuringUpdate()
{
    if (closeQuestion) {
        closeQuestion->raise();
        return;
    }
    // Opened, not run, so that the update's reports keep arriving meanwhile.
    closeQuestion = new QMessageBox(QMessageBox::Warning, tr("Обновление ПО"),
                                    tr("Идёт обновление ПО. Если прервать его, устройство может остаться без "
                                       "рабочего ПО.\nПрервать обновление и закрыть программу?"),
                                    QMessageBox::Yes | QMessageBox::No, this);
    closeQuestion->setObjectName(QStringLiteral("messageBox_closeDuringUpdate"));
    closeQuestion->button(QMessageBox::Yes)->setText(tr("Прервать и закрыть"));
    closeQuestion->button(QMessageBox::No)->setText(tr("Продолжить обновление"));
    closeQuestion->setDefaultButton(QMessageBox::No);
    closeQuestion->setAttribute(Qt::WA_DeleteOnClose);
    connect(closeQuestion, &QMessageBox::finished, this, [this](int result) {
        if (result == QMessageBox::Yes)
            interruptUpdateAndClose();
    });
    closeQuestion->open();
}

void MainWindow::interruptUpdateAndClose()
{
    closeWhenUpdateEnds = true;
    if (!updateRunning) {
        close();
        return;
    }
    _appendLogUpdater(tr("Остановка обновления ПО перед закрытием программы..."), true, QColor(255, 255, 255, 255));
    serialTop->abortFirmwareUpdate();
}

void MainWindow::closeOnStopRequest()
{
    // A dialog waiting for the user (a file dialog, say) is cancelled first,
    // so that nothing resumes against a device object already stopped.
    for (int nested = 0; nested < kMaxNestedDialogs && QApplication::activeModalWidget(); ++nested)
        QApplication::activeModalWidget()->close();
    if (closeQuestion)
        closeQuestion->close();
    interruptUpdateAndClose();
}
