#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QVector>

class QCPAxis;
class QCPGraph;
class QFileDialog;
class QThread;
class QTimer;
class SerialTop;
class graph_plotter;
class Ui_MainWindow;

// User-interface mode chosen once at start-up from the first line of info.txt.
enum class UiMode { Elevated, Assemblage, Default };

// The configurator's one window. Its sources follow its concerns:
// mainwindow.cpp (wiring, mode, connection panel, logs) and one file per tab
// (mainwindow_measurement.cpp, mainwindow_settings.cpp,
// mainwindow_telemetry.cpp, mainwindow_programming.cpp).
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    static constexpr int kHeightPointLimit = 300;
    static constexpr int kMeasPeriodMs = 100;

    // Reads the mode from info.txt in the current working directory.
    static UiMode readUiMode();
    UiMode uiMode() const { return mode; }

    // Launch options: select a port by name (added to the list if the system
    // does not list it) and press the connect button as the user would.
    void selectPort(const QString &name);
    void pressConnect();

    // The device object, for launch options and tests; null after shutdown.
    SerialTop *device() const { return serialTop; }

    // Stops the device thread and joins it. Runs from the destructor; safe to
    // call more than once.
    void shutdownDevice();

private slots:
    // Connection panel and logs (mainwindow.cpp)
    void on_toolButton_scan_port_rs485_clicked();
    void on_pushButton_connect_to_rs485_clicked(bool checked);
    void _connectedChange(bool state);
    void _appendLog(QString s);
    void _appendLogUpdater(QString s, bool new_line, QColor color);

    // Measurement tab (mainwindow_measurement.cpp)
    void on_toolButton_start_meas_clicked(bool checked);
    void _readDistance();
    void _checkDistance(float value);
    void _selectionChanged();

    // Settings and debug tabs (mainwindow_settings.cpp)
    void _changeProtType();
    void _changeFmcwBand();
    void _changeFreqRed();
    void _changeSizeLockData();
    void _changeDetThCoefMax();
    void _changeDetThCoefMin();
    void _changeDetThCoefDC();
    void _changeDetSmthCoef();
    void _changeDetMtiCoef();
    void _changeTrsSmthCoef();
    void _changeAdrMb();
    void _changeAdrMbDbg();

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

private:
    void fitFixedPages();
    void applyUiMode(UiMode uiMode);
    void fillPortList();
    void initConnections();
    void setupHeightPlot();
    void appendHeightPoint(int graph, float value);

    Ui_MainWindow *ui = nullptr;
    UiMode mode = UiMode::Default;
    SerialTop *serialTop = nullptr;
    QThread *serialThread = nullptr;
    QTimer *measTimer = nullptr;
    QFileDialog *firmwareFileDialog = nullptr;
    QElapsedTimer updateClock;
    bool updateSucceeded = false;
    graph_plotter *rawPlot = nullptr;

    QPointer<QCPGraph> heightGraph;
    QCPAxis *heightAxis = nullptr;
    QColor heightColor;
    QString heightLabel;
    QVector<double> heightKeys;
    QVector<double> heightValues;
};
