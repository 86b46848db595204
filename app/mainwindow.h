#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QVector>

#include <functional>

#include "deviceparameters.h"
#include "measurementsession.h"
#include "uimode.h"

class QCloseEvent;
class QAbstractSpinBox;
class QComboBox;
class QMenu;
class QMessageBox;
class QPoint;
class QTextEdit;
class QCPAxis;
class QLabel;
class QLineEdit;
class RecordsBrowser;
class StationView;
class LineFrameModel;
class LineMonitorWindow;
struct LineCounters;
class QCPGraph;
class QFileDialog;
class DeviceThread;
class QAbstractSpinBox;
class QTimer;
class SerialTop;
class ParameterTransfer;
struct ParameterReport;
struct FirmwareOutcome;
class StopSignals;
class graph_plotter;
class Ui_MainWindow;

// The configurator's one window. Its sources follow its concerns:
// mainwindow.cpp (wiring, mode, connection panel, logs) and one file per tab
// (mainwindow_measurement.cpp, mainwindow_settings.cpp,
// mainwindow_telemetry.cpp, mainwindow_programming.cpp), with the menu bar
// and log files in mainwindow_menus.cpp, remembered settings, the port list
// refresh and orderly ends in mainwindow_session.cpp, the parameter backup in
// mainwindow_backup.cpp, the recording indicator in mainwindow_recording.cpp,
// and Station mode with the records browser in mainwindow_station.cpp.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    static constexpr int kHeightPointLimit = 300;
    // Oldest lines of either log drop beyond this many.
    static constexpr int kLogLineLimit = 10000;
    static constexpr int kPortRefreshMs = 2000;

    // What a file is for: each kind remembers the folder last used for it.
    enum class FileKind { Image, Backup, Recording, Log, Recipe, Records };
    struct FileRequest
    {
        FileKind kind;
        bool forSaving;
        QString caption;
        QString filter;
        QString suggestedName;
        QString folder;   // where to start: the folder last used for the kind
    };
    // Asks the user for a file; an empty result means cancelled. Tests put
    // their own in place of the file dialog.
    using FileChooser = std::function<QString(const FileRequest &request)>;
    void setFileChooser(FileChooser chooser) { fileChooser = std::move(chooser); }

    // Reads the mode from info.txt in the current working directory.
    static UiMode readUiMode();
    UiMode uiMode() const { return mode; }

    // Launch options: select a port by name (added to the list if the system
    // does not list it) and press the connect button as the user would.
    void selectPort(const QString &name);
    void pressConnect();

    // The line monitor's window, opened by its menu entry; null until then.
    LineMonitorWindow *lineMonitor() const;
    // Every frame the monitor keeps, shown or not.
    const LineFrameModel *lineFrameStore() const { return lineFrames; }
    void showLineMonitor();

    // Station mode's view; null in the other modes (mainwindow_station.cpp).
    StationView *stationView() const { return station; }
    // "Журнал изделий", opened on one unit's history when serial is given.
    RecordsBrowser *showRecords(const QString &serial = QString());
    // Asks where the records are kept: a file or a server address.
    void chooseRecordsLocation();

    // The device object, for launch options and tests; null after shutdown.
    SerialTop *device() const { return serialTop; }

    // Stops the device thread and joins it. Runs from the destructor; safe to
    // call more than once.
    void shutdownDevice();

    // SIGINT or SIGTERM: closes without asking, after a running firmware
    // update has stopped between blocks.
    void closeOnStopRequest();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    // Connection panel and logs (mainwindow.cpp)
    void on_toolButton_scan_port_rs485_clicked();
    void on_pushButton_connect_to_rs485_clicked(bool checked);
    void _connectedChange(bool state);
    void _appendLog(QString s);
    void _appendLogUpdater(QString s, bool new_line, QColor color);

    // Measurement tab (mainwindow_measurement.cpp)
    void on_toolButton_start_meas_clicked(bool checked);
    void _checkDistance(double value);
    void _selectionChanged();

    // Telemetry tab (mainwindow_telemetry.cpp)
    void on_pushButton_readRaw_clicked();
    void on_pushButton_clicked();
    void on_rcvRawData(float x, float y);
    void on_rcvRawDataSize(int size);
    void on_rcvRawIsRead();

    // Programming tab (mainwindow_programming.cpp)
    void on_pushButton_open_file_image_clicked();
    void on_pushButton_firmware_update_clicked();
    void on_BusyChanged(bool state);
    void _firmwareUpdateFinished(bool success);
    void warnOfIncompleteFirmware(const FirmwareOutcome &outcome);

    // Beyond the form: recording and statistics (mainwindow_measurement.cpp)
    void on_pushButton_recordHeight_clicked(bool checked);
    void on_pushButton_restartHeight_clicked();

private:
    // Settings and debug fields (mainwindow_settings.cpp): a reported value
    // is shown, and flagged when the field (a number box or a list) cannot
    // show it exactly; ✓ on a flagged field asks before writing what the
    // field shows, and then says what was written and what reads back.
    void showReported(QAbstractSpinBox *box, double value);
    void showReportedChoice(QComboBox *list, int value);
    void writeField(QWidget *field);
    void writeConfirmed(QWidget *field);
    void setFieldFlag(QWidget *field, const QString &deviceText);
    // The parameter's name in the window's language, and its key.
    QString fieldName(const QWidget *field) const;
    // What a field shows, and the value it stands for: a list's index is
    // the device's code.
    static QString fieldText(const QWidget *field);
    static double fieldValue(const QWidget *field);

    void fitFixedPages();
    void applyUiMode(UiMode uiMode);
    void fillPortList();
    void fitPortBox();
    void fitConnectButton();
    void initConnections();
    void setupHeightPlot();
    void showHeightCurve();
    void showHeightStatistics();
    void measurementEnded(MeasurementSession::End why, const RequestOutcome &cause);
    void stopRecording(const QString &why);
    // Recording indicator (mainwindow_recording.cpp)
    void setupRecordingIndicator();
    void showRecordingStarted();
    void refreshRecordingIndicator();
    void setUpdateRunning(bool running);
    void askBeforeUpdate(const QString &path, qint64 size, const QString &revision);

    void followNewestLine(QTextEdit *log);
    static void showNewestLine(QTextEdit *log);
    void createMenus();
    void createLanguageMenu(QMenu *menu);
    void saveLog(QTextEdit *log);
    void clearLog(QTextEdit *log);
    void showLogMenu(QTextEdit *log, const QPoint &position);
    void refreshPortList();
    void saveParameters();
    void loadParameters();
    QString chooseFile(FileKind kind, bool forSaving, const QString &caption, const QString &filter,
                       const QString &suggestedName = QString());
    static QString folderKey(FileKind kind);
    FileChooser dialogFileChooser();
    QString rememberedFolder(FileKind kind) const;
    void rememberFolder(FileKind kind, const QString &folder);
    void restoreSettings();
    void saveSettings();
    void rememberPort(const QString &name);
    void askBeforeClosingDuringUpdate();
    void interruptUpdateAndClose();

    static QStringList unconfirmedValues(const ParameterReport &report);
    // Fields linked through the parameter table (mainwindow_parameterfields.cpp)
    void linkTableFields();
    static const DeviceParameters::Parameter *parameterOf(const QWidget *field);
    QVector<const DeviceParameters::Parameter *> linkedParameters() const;
    QWidget *nearestField(const QWidget *button, const DeviceParameters::Parameter *parameter) const;
    void readTableFields(const QStringList &first = QStringList());
    void showParameter(const DeviceParameters::ParameterValue &reported);
    void reportFieldWrite(quint64 ticket, const ParameterReport &report);
    // Line monitor and the status bar's counters (mainwindow_linemonitor.cpp)
    void initLineMonitor();
    void showLineCounters(const LineCounters &counters);

    bool transferAllowed();
    void writeBackupFile(const QString &path);
    void confirmRestore(const QString &path);

    // Station mode and a unit's history (mainwindow_station.cpp)
    void setupStationMode();
    void setupUnitHistory();
    void noteUnitHistory();

    Ui_MainWindow *ui = nullptr;
    UiMode mode = UiMode::Default;
    SerialTop *serialTop = nullptr;
    DeviceThread *deviceThread = nullptr;
    // Each parameter's fields: several where two tabs show it.
    QHash<const DeviceParameters::Parameter *, QVector<QPointer<QWidget>>> tableFields;
    QSet<const QObject *> linkedToTable;
    QSet<quint64> fieldTickets;   // writes of ✓ whose outcome the log tells
    // The measurement tab's runs, their readings (the curve) and recording.
    MeasurementSession *measurement = nullptr;
    QFileDialog *firmwareFileDialog = nullptr;
    QElapsedTimer updateClock;
    bool updateSucceeded = false;
    graph_plotter *rawPlot = nullptr;

    QPointer<QCPGraph> heightGraph;
    QCPAxis *heightAxis = nullptr;
    QColor heightColor;
    QString heightLabel;

    QTimer *recordingRefresh = nullptr;
    QElapsedTimer recordingClock;
    FileChooser fileChooser;
    QTimer *portRefreshTimer = nullptr;
    StopSignals *stopSignals = nullptr;
    ParameterTransfer *transfer = nullptr;
    QPointer<QMessageBox> closeQuestion;
    bool updateRunning = false;
    bool closeWhenUpdateEnds = false;

    LineFrameModel *lineFrames = nullptr;
    QPointer<LineMonitorWindow> lineMonitorWindow;
    QLabel *lineStatus = nullptr;
    bool deviceConnected = false;
    QSize designedMinimumSize;
    bool updateQuestionPending = false;
    // Fields showing something other than the device's value: what the
    // device holds, and what the field showed when flagged.
    struct FieldFlag
    {
        QString held;
        QString shown;
    };
    QHash<QWidget *, FieldFlag> flaggedFields;

    StationView *station = nullptr;
    QPointer<RecordsBrowser> recordsBrowser;
    QLineEdit *unitSerial = nullptr;
};
